// The host's heartbeat, which the plugin sends during long DF updates:
// rire_update_and_send_heartbeat(flags) counts one heartbeat, keeps its flags,
// records the call in the journal and returns 0.
#pragma once

#include <cstdint>
#include <vector>

namespace emu::heartbeat {

// Heartbeats sent since the last reset.
uint32_t count();
// The flags of each heartbeat, in the order they were sent.
const std::vector<int> &flags();
// Forgets every heartbeat.
void reset();

} // namespace emu::heartbeat
