#include "emu/host.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "emu/faults.h"
#include "emu/journal.h"
#include "emu/log.h"
#include "emu/pss.h"
#include "emu/tlv.h"

// The host-process modules; each drops its in-memory state.
namespace emu::im {
void reset();
}
namespace emu::l3lif {
void reset();
}
namespace emu::heartbeat {
void reset();
}
namespace emu::pdb {
void reset();
}
namespace emu::cmd {
void reset();
}
namespace emu::oiflists {
void reset();
}
namespace emu::bitmaps {
void reset();
}
namespace emu::stats {
void reset();
}

namespace emu {
namespace {

std::filesystem::path g_state_dir;

void reset_host_process() {
    im::reset();
    l3lif::reset();
    heartbeat::reset();
    pdb::reset();
    cmd::reset();
    oiflists::reset();
    bitmaps::reset();
    stats::reset();
}

std::filesystem::path fresh_temp_dir() {
    std::string name = (std::filesystem::temp_directory_path() / "rire-state-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("cannot create a state directory under " + name);
    return name;
}

void open_state() {
    if (const int rc = pss::open_store(g_state_dir); rc != 0)
        throw std::runtime_error("cannot open the PSS store in " + g_state_dir.string() + ": " +
                                 pss::last_store_error());
    if (!log::set_state_dir(g_state_dir))
        throw std::runtime_error("cannot open " + (g_state_dir / "events.log").string());
}

} // namespace

void host_start(const HostOptions &options) {
    host_stop();
    journal::clear();
    g_state_dir = options.state_dir.empty() ? fresh_temp_dir() : options.state_dir;
    open_state();
}

void host_restart() {
    if (g_state_dir.empty())
        throw std::runtime_error("host_restart: the host is not running");
    pss::close_store();
    tlv::clear_read_extents();
    log::clear();
    reset_host_process();
    faults::restart();
    open_state();
}

void host_stop() {
    pss::close_store();
    tlv::clear_read_extents();
    log::reset();
    reset_host_process();
    faults::reset();
    g_state_dir.clear();
}

const std::filesystem::path &host_state_dir() {
    return g_state_dir;
}

} // namespace emu
