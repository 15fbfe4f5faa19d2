#include "emu/loader/requests.h"

namespace emu::loader::requests {

std::vector<Request> decode(const queue_hdr &queue, std::size_t limit) {
    std::vector<Request> all;
    for (auto *req = static_cast<const rire_orsk_hw_update_req *>(queue.head);
         req != nullptr && limit != 0; req = req->next, --limit) {
        Request r{req->req_id, req->req_type, {}, req->hold_q.count, req};
        for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(req->hold_q.head);
             e != nullptr && limit != 0; e = e->next, --limit)
            r.held.push_back({e->di, e->oiflist_index, e->ref_count, e});
        all.push_back(std::move(r));
    }
    return all;
}

} // namespace emu::loader::requests
