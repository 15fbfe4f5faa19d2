#include "plugin/pss/record_format.h"

#include <string.h>

#include "plugin/host/tlv.h"
#include "plugin/include/rire_orsk_log.h"

namespace {

/* The number of held DIs a record describes: the queue's count, capped at
 * what the one-byte num_hold_di can say. */
uint32_t rire_orsk_pss_stored_count(const queue_hdr *hold_q) {
    return hold_q->count < RIRE_ORSK_PSS_MAX_HOLD_DI ? hold_q->count : RIRE_ORSK_PSS_MAX_HOLD_DI;
}

/* Fills the oif TLV's entries from the hold queue, first element first; a
 * queue shorter than its count leaves the remaining entries zero, which a
 * reader skips. Returns how many entries came from the queue. */
uint32_t rire_orsk_pss_fill_entries(const queue_hdr *hold_q, uint32_t num_hold_di,
                                    rire_orsk_pss_hold_di *entries) {
    memset(entries, 0, num_hold_di * sizeof *entries);
    uint32_t i = 0;
    for (auto *elem = static_cast<const rire_orsk_di_hold_q_elem *>(hold_q->head);
         elem != nullptr && i < num_hold_di; elem = elem->next, i++) {
        entries[i].di = elem->di;
        entries[i].oiflist_index = elem->oiflist_index;
    }
    return i;
}

/* A refusal is logged under the encoder's name: `func` is the encoder. */
uint32_t rire_orsk_pss_add_oif_tlv(const char *func, uint8_t *array, uint32_t len, uint32_t tlv_len,
                                   const rire_orsk_pss_hold_di *entries) {
    if (tlv_array_add_tlv(array, len, RIRE_PLATFORM_PSS_TLV_OIF, static_cast<uint16_t>(tlv_len),
                          entries, 0) == 0)
        return 1;
    RIRE_ERROR_AS(func, "Error adding tlv type = %d size %d\n", RIRE_PLATFORM_PSS_TLV_OIF, tlv_len);
    return 0;
}

} // namespace

uint32_t rire_orsk_pss_pending_di_key(uint8_t oiflist_type, uint32_t oiflist_index) {
    return oiflist_index | (oiflist_type == RIRE_OIFLIST_TYPE_1 ? RIRE_ORSK_PSS_KEY_TAG_TYPE1
                                                                : RIRE_ORSK_PSS_KEY_TAG_OTHER);
}

uint32_t rire_orsk_get_pending_di_pss_info_sz(uint32_t count, uint32_t *tlv_len) {
    if (count > RIRE_ORSK_PSS_MAX_HOLD_DI)
        count = RIRE_ORSK_PSS_MAX_HOLD_DI;
    /* Both lengths are 16-bit counts in the TLV utility's terms. */
    *tlv_len = (sizeof(rire_orsk_pss_hold_di) * count) & 0xFFFF;
    return (tlv_size_get(*tlv_len) & 0xFFFF) + RIRE_ORSK_PSS_VALUE_SLACK;
}

uint32_t rire_orsk_get_hw_update_pss_info(const rire_orsk_hw_update_req *req,
                                          const uint32_t *tlv_len, uint8_t *value, uint32_t len) {
    if (req == nullptr || value == nullptr)
        return 0;
    auto *info = reinterpret_cast<rire_orsk_hw_update_pss_info *>(value);
    const uint32_t num_hold_di = rire_orsk_pss_stored_count(&req->hold_q);
    info->num_hold_di = static_cast<uint8_t>(num_hold_di);
    info->req_type = req->req_type;
    if (num_hold_di == 0)
        return 1;
    rire_orsk_pss_hold_di entries[RIRE_ORSK_PSS_MAX_HOLD_DI];
    const uint32_t filled = rire_orsk_pss_fill_entries(&req->hold_q, num_hold_di, entries);
    for (uint32_t i = 0; i < filled; i++)
        RIRE_TRACE("%s: pss'ed DI %d index %d\n", __func__, entries[i].di,
                   entries[i].oiflist_index);
    return rire_orsk_pss_add_oif_tlv(__func__, info->tlv_array, len, *tlv_len, entries);
}

uint32_t rire_orsk_get_pending_di_pss_info(const rire_orsk_di_req *di_req, const uint32_t *tlv_len,
                                           uint8_t *value, uint32_t len) {
    if (di_req == nullptr || value == nullptr)
        return 0;
    auto *info = reinterpret_cast<rire_orsk_pending_di_pss_info *>(value);
    const uint32_t num_hold_di = rire_orsk_pss_stored_count(&di_req->hold_q);
    info->type = static_cast<uint8_t>(di_req->oiflist_type);
    info->num_hold_di = static_cast<uint8_t>(num_hold_di);
    info->state = static_cast<uint8_t>(di_req->state);
    if (num_hold_di == 0)
        return 1;
    rire_orsk_pss_hold_di entries[RIRE_ORSK_PSS_MAX_HOLD_DI];
    rire_orsk_pss_fill_entries(&di_req->hold_q, num_hold_di, entries);
    return rire_orsk_pss_add_oif_tlv(__func__, info->tlv_array, len, *tlv_len, entries);
}
