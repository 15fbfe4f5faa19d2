#include "emu/heartbeat.h"

#include "emu/journal.h"
#include "plugin/host/rire.h"

namespace emu::heartbeat {
namespace {
std::vector<int> g_flags; // one entry per heartbeat
} // namespace

uint32_t count() {
    return static_cast<uint32_t>(g_flags.size());
}

const std::vector<int> &flags() {
    return g_flags;
}

void reset() {
    g_flags.clear();
}

} // namespace emu::heartbeat

int rire_update_and_send_heartbeat(int flags) {
    emu::journal::record("rire_update_and_send_heartbeat", {flags});
    emu::heartbeat::g_flags.push_back(flags);
    return 0;
}
