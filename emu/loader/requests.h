// The plugin's outstanding hardware-update requests, decoded from its queue
// (hw_update_req_q): requests in queue order, each with its held DIs head
// first (the most recently held first), as the plugin walks them. The one
// reader of the queue's layout outside the plugin: dumps and expectations,
// the heap census, the recovery fuzzer and `rire-host explore` use it.
//
// The walk trusts nothing: it stops after `limit` elements in all, so a
// queue whose links loop (a fault of the plugin) still gives an answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugin/include/rire_orsk_records.h"

namespace emu::loader::requests {

struct Held {
    uint32_t di, oiflist_index, ref_count;
    const void *block; // the hold element
};

struct Request {
    uint32_t req_id;
    uint32_t type;
    std::vector<Held> held; // head of the hold queue first
    uint32_t count;         // the hold queue's own element count
    const void *block;      // the request record
};

inline constexpr std::size_t kNoLimit = 1u << 24;

std::vector<Request> decode(const queue_hdr &queue, std::size_t limit = kNoLimit);

} // namespace emu::loader::requests
