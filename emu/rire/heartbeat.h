// The host's heartbeat, which the plugin sends during long DF updates:
// rire_update_and_send_heartbeat(flags) records the call in the journal,
// sends one heartbeat, keeps its flags and returns 0. The fault row
// heartbeat.send.error (emu/base/faults.h) makes it send nothing and return the
// setting's code instead; the heartbeat counts as failed.
#pragma once

#include <cstdint>
#include <vector>

namespace emu::rire::heartbeat {

// Heartbeats sent since the last reset.
uint32_t count();
// Heartbeats that failed since the last reset.
uint32_t failed();
// The flags of each heartbeat sent, in the order they were sent.
const std::vector<int> &flags();
// Forgets every heartbeat, sent or failed.
void reset();

} // namespace emu::rire::heartbeat
