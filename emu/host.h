// The emulated host process as a whole: starting it, killing and restarting
// it, stopping it. The host's services live in this library (emu::base,
// emu::log, emu::pss, emu::services, emu::rire); these calls move all of them
// together between the lifecycle states. Booting the plugin inside the host
// is emu/boot.h's.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "emu/pss/pss.h"

namespace emu {

struct HostOptions {
    // Holds the LMDB store and events.log; created if needed. Empty: a fresh
    // directory under the system's temporary directory.
    std::filesystem::path state_dir;
    // A damaged store is renamed aside (never deleted, emu/pss/check.h) and
    // an empty one started; on_store_moved hears where it went and why.
    bool move_damaged_store = false;
    std::function<void(const std::filesystem::path &to, const std::string &fault)> on_store_moved =
        {};
    // How far each store commit goes (emu/pss/pss.h); the default loses nothing
    // when only the process dies. Kept across host_restart().
    pss::Sync sync = pss::Sync::kNone;
};

// Why the host did not start; what() is the message for the user.
class HostError : public std::runtime_error {
  public:
    enum Kind {
        kFailed,        // the state directory, store or event log cannot be opened
        kStateInUse,    // another process holds the state directory (emu/state_lock.h)
        kStoreUnusable, // the store is damaged; its file was left as it was
    };
    HostError(Kind kind, const std::string &what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// Resets every service (including the fault table, log filters and the
// journal), takes the state directory's lock for the life of the host, then
// checks and opens the store and opens the event log in the state directory.
// Throws HostError, the host left stopped.
void host_start(const HostOptions &options);
// Process death and restart: drops the in-memory state of every service
// (queued PSS updates, registrations, cursors, log records, host-process
// state), keeps what LMDB committed, and reopens the store and the event log.
// Log filters, debug switches and the PSS walk order are test configuration
// and survive; the fault table keeps the rows it keeps at a restart
// (emu/base/faults.h). The lock
// stays held. Throws HostError as host_start does (a damaged store is never
// moved aside here).
void host_restart();
// Closes the store and the event log, resets every service, the fault table
// and the PSS walk order, and releases the state directory.
void host_stop();
// The state directory in use; empty when the host is stopped.
const std::filesystem::path &host_state_dir();

} // namespace emu
