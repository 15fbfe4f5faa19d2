/* Outstanding hardware-update requests and their DI hold queues.
 *
 * A request lives in hw_update_req_q from the first DI held under its message
 * id until the answer to that id arrives. Its hold_q lists the newest DI
 * first; a DI is held once per queue and counted up on repeat holds. Each DI
 * newly held is mirrored into the PSS hardware-update database. Lookups are
 * linear walks from the head of the queue. */
#include <stdlib.h>
#include <string.h>

#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

queue_hdr hw_update_req_q;

namespace {

/* Both comparisons read the second word of two request-shaped records: the
 * element's req_id and the wanted one in the key. */
int rire_orsk_req_id_match_for_removal(void *elem, void *key) {
    if (elem == nullptr || key == nullptr)
        return -1;
    const auto *req = static_cast<const rire_orsk_hw_update_req *>(elem);
    const auto *want = static_cast<const rire_orsk_hw_update_req *>(key);
    return req->req_id == want->req_id ? 0 : -1;
}

int rire_orsk_req_id_match_for_visit(void *elem, void *key) {
    return rire_orsk_req_id_match_for_removal(elem, key) == 0 ? 1 : 0;
}

rire_orsk_hw_update_req rire_orsk_req_key(uint32_t req_id) {
    rire_orsk_hw_update_req key;
    memset(&key, 0, sizeof key);
    key.req_id = req_id;
    return key;
}

rire_orsk_hw_update_req *rire_orsk_hw_update_req_q_find(uint32_t req_id) {
    rire_orsk_hw_update_req key = rire_orsk_req_key(req_id);
    return static_cast<rire_orsk_hw_update_req *>(
        queue_traverse(&hw_update_req_q, &key, rire_orsk_req_id_match_for_visit));
}

/* Creates a request and appends it; PSS sees it once it holds a DI. */
rire_orsk_hw_update_req *rire_orsk_hw_update_req_q_insert(uint32_t req_id, uint8_t req_type) {
    auto *req = static_cast<rire_orsk_hw_update_req *>(malloc(sizeof(rire_orsk_hw_update_req)));
    if (req == nullptr) {
        RIRE_ERROR("%s: Failed to alloc memory\n", __func__);
        return nullptr;
    }
    memset(req, 0, sizeof *req);
    req->req_id = req_id;
    req->req_type = req_type;
    enqueue_tail(&hw_update_req_q, req);
    RIRE_TRACE("%s: Inserted req_id:%d to pending hw_update\n", __func__, req_id);
    return req;
}

rire_orsk_di_hold_q_elem *rire_orsk_di_hold_q_find(queue_hdr *hold_q, uint16_t di) {
    auto *elem = static_cast<rire_orsk_di_hold_q_elem *>(hold_q->head);
    while (elem != nullptr && elem->di != di)
        elem = elem->next;
    return elem;
}

} // namespace

rire_orsk_hw_update_req *rire_orsk_hw_update_req_q_remove(uint32_t req_id) {
    rire_orsk_hw_update_req key = rire_orsk_req_key(req_id);
    return static_cast<rire_orsk_hw_update_req *>(
        search_and_dequeue_elem(&hw_update_req_q, &key, rire_orsk_req_id_match_for_removal));
}

uint32_t rire_orsk_add_di_to_hw_update_req(uint32_t req_id, uint8_t req_type, uint32_t di,
                                           uint32_t oiflist_index, uint32_t no_persist) {
    uint32_t is_new = 1;
    rire_orsk_hw_update_req *req = rire_orsk_hw_update_req_q_find(req_id);
    if (req == nullptr) {
        req = rire_orsk_hw_update_req_q_insert(req_id, req_type);
        if (req == nullptr) {
            RIRE_ERROR("%s:Failed to find pending hw_update req_id:%d\n", __func__, req_id);
            return 0;
        }
    }
    RIRE_TRACE("%s: Adding DI:%d to hold_q for hw_update Req:%d\n", __func__, di, req_id);
    rire_orsk_di_hold_q_enqueue(&req->hold_q, di, oiflist_index, &is_new);
    if (no_persist != 0 || is_new == 0)
        return 1;
    rire_orsk_pss_insert_hw_update_info(req);
    return 1;
}

/* DIs are 16-bit: a wider argument is held by its low 16 bits, so one DI
 * never occupies two elements of the same queue. */
rire_orsk_di_hold_q_elem *rire_orsk_di_hold_q_enqueue(queue_hdr *hold_q, uint32_t di,
                                                      uint32_t oiflist_index, uint32_t *is_new) {
    const uint16_t di16 = static_cast<uint16_t>(di);
    *is_new = 0;
    rire_orsk_di_hold_q_elem *elem = rire_orsk_di_hold_q_find(hold_q, di16);
    if (elem == nullptr) {
        elem = static_cast<rire_orsk_di_hold_q_elem *>(malloc(sizeof(rire_orsk_di_hold_q_elem)));
        if (elem == nullptr)
            return nullptr;
        memset(elem, 0, sizeof *elem);
        elem->di = di16;
        elem->oiflist_index = oiflist_index;
        enqueue_head(hold_q, elem);
        RIRE_TRACE("%s: Inserted DI:%d to the hold_q\n", __func__, di16);
        *is_new = 1;
    }
    elem->ref_count = static_cast<uint16_t>(elem->ref_count + 1);
    RIRE_TRACE("%s: DI:%d, ref_count:%d \n", __func__, di16, elem->ref_count);
    return elem;
}

rire_orsk_di_hold_q_elem *rire_orsk_di_hold_q_dequeue(queue_hdr *hold_q) {
    return static_cast<rire_orsk_di_hold_q_elem *>(dequeue_head(hold_q));
}

void rire_orsk_hw_update_req_q_update(uint32_t old_id, uint32_t new_id) {
    rire_orsk_hw_update_req *req = rire_orsk_hw_update_req_q_remove(old_id);
    if (req == nullptr)
        return;
    rire_orsk_pss_delete_hw_update_info(req);
    req->req_id = new_id;
    enqueue_tail(&hw_update_req_q, req);
    rire_orsk_pss_insert_hw_update_info(req);
    RIRE_TRACE("%s: Done with swapping req_id old_id:%d new_id:%d\n", __func__, old_id, new_id);
}
