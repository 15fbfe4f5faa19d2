// The emulated host process as a whole: starting it, killing and restarting
// it, stopping it. The host's services live in this library (emu::log,
// emu::queue, emu::mts, emu::tlv, emu::pss and the host-process modules);
// these calls move all of them together between the lifecycle states.
//
// A test or tool starts the host, loads the plugin (emu::Plugin), calls its
// init, hands it the PSS InitArg through pss_open_file and sets the PSS
// commit hook to the plugin's pss_buf_commit; to emulate a crash it destroys
// the Plugin, calls host_restart() and loads a fresh one.
#pragma once

#include <filesystem>

namespace emu {

struct HostOptions {
    // Holds the LMDB store and events.log; created if needed. Empty: a fresh
    // directory under the system's temporary directory.
    std::filesystem::path state_dir;
};

// Resets every service (including the fault table, log filters and the
// journal), then opens the store and the event log in the state directory.
// Throws std::runtime_error when the store cannot be opened.
void host_start(const HostOptions &options);
// Process death and restart: drops the in-memory state of every service
// (queued PSS updates, registrations, cursors, log records, host-process
// state), keeps what LMDB committed, and reopens the store and the event log.
// Log filters and debug switches are test configuration and survive; the
// fault table keeps the rows it keeps at a restart (emu/faults.h). Throws
// std::runtime_error as host_start does.
void host_restart();
// Closes the store and the event log and resets every service and the fault
// table.
void host_stop();
// The state directory in use; empty when the host is stopped.
const std::filesystem::path &host_state_dir();

} // namespace emu
