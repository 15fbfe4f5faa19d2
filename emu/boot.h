// Bringing the emulated host up with the plugin inside, as the switch boots
// rire, and down as a process death. Every driver (rire-host, the test
// harness, the benchmark, the fuzzer, the crash test's child) goes through
// this pair.
//
// host_up, in this order: starts the host on the state directory when it is
// not running (emu/host.h; after host_down it is, and keeps its store); loads
// a fresh copy of the plugin (emu/loader/plugin.h); calls its init entry; hands it
// the MTS queue handle kQueueHandle through set_q_handle; points the PSS
// commit hook at its pss_buf_commit; registers the PSS services through its
// pss_open_file; and, when asked, calls pss_recover.
//
// host_down: the host's pending-DI records are dropped (emu/rire/pending_di.h),
// the plugin dies (what it holds reclaimed, the copy unloaded), and the host
// restarts: unflushed PSS updates are lost, LMDB keeps what was committed,
// the fault table keeps its restart rows (emu/base/faults.h). host_end: the same
// death with no restart; the host stops (emu/host.h host_stop).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "emu/loader/plugin.h"

namespace emu {

// The MTS queue handle the host hands to the plugin at every boot.
inline constexpr uint32_t kQueueHandle = 0x5a01;

struct BootOptions {
    std::filesystem::path state_dir; // empty: a fresh temporary directory
    std::string plugin_path;
    bool recover = false; // call pss_recover after pss_open_file
};

struct Booted {
    std::unique_ptr<loader::Plugin> plugin; // null when the boot failed
    int32_t open_status = 0;                // what pss_open_file returned
    std::string error;                      // why the boot failed
};

// A plugin that cannot be loaded or has no init entry leaves `plugin` null
// and says why in `error`. Throws HostError when the host cannot start
// (emu/host.h) or pss_open_file finds the store unusable; recovery does not
// run then.
Booted host_up(const BootOptions &options);
// Process death and restart; `plugin` is null afterwards.
void host_down(std::unique_ptr<loader::Plugin> &plugin);
// Process death, and the host stops; `plugin` is null afterwards.
void host_end(std::unique_ptr<loader::Plugin> &plugin);
// Where the plugin's live heap blocks are, the elements of the host's
// pending-DI records counted as the host's.
loader::Plugin::Census heap_census(const loader::Plugin &plugin);

} // namespace emu
