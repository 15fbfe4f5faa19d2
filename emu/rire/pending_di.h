// The host's per-oiflist pending-DI records (rire_orsk_di_req), which the
// host owns and the plugin reads when it persists or prints them. One record
// per (oiflist type, index), created on demand. The held DIs in a record's
// hold_q come from the plugin's malloc: dropping a record dequeues them
// through the plugin's rire_orsk_di_hold_q_dequeue and releases them to the
// plugin's heap ledger (emu/loader/plugin.h), as the host frees them. Records are
// process memory: host_down() drops them all.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "emu/loader/plugin.h"

namespace emu::rire::pending_di {

using Key = std::pair<uint32_t, uint32_t>; // oiflist type, index
using Records = std::map<Key, std::unique_ptr<rire_orsk_di_req>>;

// The record of (type, index), created with only its type and index set.
rire_orsk_di_req &get(uint32_t type, uint32_t index);
// The record, or null when there is none.
rire_orsk_di_req *find(uint32_t type, uint32_t index);
// Every record, by (type, index).
const Records &all();
// The hold queue of every record, whose elements the plugin allocated.
std::vector<const queue_hdr *> hold_queues();
// Releases the record's held DIs and forgets it; nothing when absent.
void drop(loader::Plugin &plugin, uint32_t type, uint32_t index);
void drop_all(loader::Plugin &plugin);

} // namespace emu::rire::pending_di
