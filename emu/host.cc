#include "emu/host.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "emu/base/disk.h"
#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "emu/log/log.h"
#include "emu/pss/check.h"
#include "emu/pss/pss.h"
#include "emu/services/tlv.h"
#include "emu/state_lock.h"

// The host-process modules; each drops its in-memory state.
namespace emu::services::im {
void reset();
}
namespace emu::services::l3lif {
void reset();
}
namespace emu::rire::heartbeat {
void reset();
}
namespace emu::services::pdb {
void reset();
}
namespace emu::services::cmd {
void reset();
}
namespace emu::rire::oiflists {
void reset();
}
namespace emu::rire::bitmaps {
void reset();
}
namespace emu::rire::stats {
void reset();
}

namespace emu {
namespace {

std::filesystem::path g_state_dir;
pss::Sync g_sync = pss::Sync::kNone;

void reset_host_process() {
    services::im::reset();
    services::l3lif::reset();
    rire::heartbeat::reset();
    services::pdb::reset();
    services::cmd::reset();
    rire::oiflists::reset();
    rire::bitmaps::reset();
    rire::stats::reset();
}

std::filesystem::path fresh_temp_dir() {
    std::string name = (std::filesystem::temp_directory_path() / "rire-state-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr)
        throw HostError(HostError::kFailed, "cannot create a state directory under " + name);
    return name;
}

// State-directory lock: one process per directory, held until host_stop.
void lock_state() {
    const state_lock::Result lock = state_lock::acquire(g_state_dir);
    if (lock.ok)
        return;
    if (lock.error != 0)
        throw HostError(HostError::kFailed, "cannot lock " +
                                                (g_state_dir / state_lock::kFileName).string() +
                                                ": " + std::strerror(lock.error));
    throw HostError(HostError::kStateInUse,
                    "state " + g_state_dir.string() + " is in use by " +
                        (lock.holder != 0 ? "process " + std::to_string(lock.holder)
                                          : std::string("another process")));
}

void open_store(const HostOptions &options) {
    int rc = pss::open_store(g_state_dir, options.sync);
    if (rc == pss::kErrUnusable && options.move_damaged_store) {
        const std::string fault = pss::last_store_error();
        std::filesystem::path to;
        try {
            to = pss::check::move_aside(g_state_dir / "data.mdb");
        } catch (const std::filesystem::filesystem_error &e) {
            throw HostError(HostError::kStoreUnusable,
                            fault + "; moving it aside failed: " + e.code().message());
        }
        if (options.on_store_moved)
            options.on_store_moved(to, fault);
        rc = pss::open_store(g_state_dir, options.sync);
    }
    if (rc == pss::kErrUnusable)
        throw HostError(HostError::kStoreUnusable, pss::last_store_error());
    if (rc != 0)
        throw HostError(HostError::kFailed, "cannot open the PSS store in " + g_state_dir.string() +
                                                ": " + pss::last_store_error());
}

void open_state(const HostOptions &options) {
    open_store(options);
    if (!log::set_state_dir(g_state_dir))
        throw HostError(HostError::kFailed, "cannot open " + (g_state_dir / "events.log").string());
}

} // namespace

void host_start(const HostOptions &options) {
    host_stop();
    base::journal::clear();
    g_state_dir = options.state_dir.empty() ? fresh_temp_dir() : options.state_dir;
    g_sync = options.sync;
    try {
        lock_state();
        open_state(options);
    } catch (...) {
        host_stop();
        throw;
    }
}

void host_restart() {
    if (g_state_dir.empty())
        throw HostError(HostError::kFailed, "host_restart: the host is not running");
    pss::close_store();
    services::tlv::clear_read_extents();
    log::clear();
    base::disk::clear_failures();
    reset_host_process();
    base::faults::restart();
    open_state({.state_dir = g_state_dir, .sync = g_sync});
}

void host_stop() {
    pss::close_store();
    pss::set_walk_order({});
    services::tlv::clear_read_extents();
    log::reset();
    base::disk::clear_failures();
    reset_host_process();
    base::faults::reset();
    state_lock::release();
    g_state_dir.clear();
}

const std::filesystem::path &host_state_dir() {
    return g_state_dir;
}

} // namespace emu
