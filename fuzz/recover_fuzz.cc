// libFuzzer target: recovery after a restart from arbitrary stored records.
// The host and the plugin start once; each input is planted into emptied
// databases, recovered, checked and completed (fuzz/plant.h). A broken
// invariant aborts, so libFuzzer keeps the input as a crash.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "emu/base/journal.h"
#include "emu/boot.h"
#include "emu/host.h"
#include "emu/log/log.h"
#include "fuzz/plant.h"

namespace {

// The booted host, as the switch starts it; lives for the whole run.
struct Host {
    std::unique_ptr<emu::loader::Plugin> plugin;

    Host() {
        emu::host_start({});
        // Per-input records would grow without bound: keep only what the
        // invariants read.
        emu::base::journal::set_enabled(false);
        emu::log::set_state_dir({});
        emu::log::set_console(nullptr);
        emu::Booted b = emu::host_up({{}, RIRE_PLUGIN_PATH});
        plugin = std::move(b.plugin);
        if (!plugin) {
            std::fprintf(stderr, "cannot boot the plugin: %s\n", b.error.c_str());
            std::abort();
        }
        if (b.open_status != 0) {
            std::fprintf(stderr, "pss_open_file failed\n");
            std::abort();
        }
    }
    ~Host() {
        const std::filesystem::path dir = emu::host_state_dir();
        emu::host_end(plugin);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Host host;
    const std::string error = rire_fuzz::recover_input(*host.plugin, data, size);
    if (!error.empty()) {
        std::fprintf(stderr, "recovery invariant broken: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
