#include "emu/rire/heartbeat.h"

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "plugin/host/rire.h"

namespace emu::rire::heartbeat {
namespace {
std::vector<int> g_flags; // one entry per heartbeat sent
uint32_t g_failed = 0;
} // namespace

uint32_t count() {
    return static_cast<uint32_t>(g_flags.size());
}

uint32_t failed() {
    return g_failed;
}

const std::vector<int> &flags() {
    return g_flags;
}

void reset() {
    g_flags.clear();
    g_failed = 0;
}

} // namespace emu::rire::heartbeat

int rire_update_and_send_heartbeat(int flags) {
    emu::base::journal::record("rire_update_and_send_heartbeat", {flags});
    if (const auto fault = emu::base::faults::fires(emu::base::faults::Id::kHeartbeatSendError)) {
        emu::rire::heartbeat::g_failed++;
        return fault->code;
    }
    emu::rire::heartbeat::g_flags.push_back(flags);
    return 0;
}
