/* Recovery after a restart: walk "pending_di", then "hw_update", re-reserve
 * in the host's bitmaps every oiflist index a stored record still refers to
 * and the host has no oiflist for, and rebuild every stored hardware-update
 * request through the ordinary add path with persistence off, so nothing is
 * written back. Pending-DI records are only read for their indexes.
 *
 * Stored data is not trusted. An oif TLV yields at most as many entries as
 * its payload holds (the smaller of num_hold_di and len / 8), and a type byte
 * with no bitmap in rire_oiflist_index_bitmap reserves nothing; so a record
 * is never read past the bytes the store handed out. */
#include <string.h>

#include "plugin/host/pss.h"
#include "plugin/host/rire.h"
#include "plugin/host/tlv.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/pss/record_format.h"

namespace {

constexpr uint32_t kMaxReservableIndex = 65534;

/* One value's entry decode: where its TLV array starts, the oiflist type and
 * entry count from its header, and for hardware-update records the request
 * its DIs go back to. */
struct rire_orsk_pss_decode {
    const char *func;
    const uint8_t *tlv_array;
    uint8_t type;
    uint8_t num_hold_di;
    bool readd;
    uint32_t req_id;
};

void rire_orsk_pss_reserve_index(const char *func, uint8_t type, uint32_t oiflist_index) {
    void *bitmap = type <= RIRE_OIFLIST_TYPE_MAX ? rire_oiflist_index_bitmap[type] : nullptr;
    if (bitmap == nullptr) {
        RIRE_ERROR_AS(func, "%s: no index bitmap for oiflist type %d, index %d not reserved\n",
                      func, type, oiflist_index);
        return;
    }
    index_range_re_alloc_blk(bitmap, oiflist_index, 1);
    rire_pss_recovery_stats.num_index_realloc++;
}

void rire_orsk_pss_recover_entry(const rire_orsk_pss_decode &d, uint16_t di,
                                 uint32_t oiflist_index) {
    if (oiflist_index == 0 || di == 0) {
        RIRE_ERROR_AS(d.func, "%s: skipping index %d Di %d\n", d.func, oiflist_index, di);
        return;
    }
    if (rire_pi_check_oiflist_exists(d.type, oiflist_index) == 0) {
        if (oiflist_index > kMaxReservableIndex) {
            RIRE_ERROR_AS(d.func, "%s: recovered index is garbage %d for DI %d\n", d.func,
                          oiflist_index, di);
            return;
        }
        rire_orsk_pss_reserve_index(d.func, d.type, oiflist_index);
    }
    if (d.readd)
        rire_orsk_add_di_to_hw_update_req(d.req_id, d.type, di, oiflist_index, 1);
}

void rire_orsk_pss_recover_oif_tlv(const rire_orsk_pss_decode &d, const uint8_t *payload,
                                   uint16_t tlv_len) {
    const uint32_t in_payload = tlv_len / sizeof(rire_orsk_pss_hold_di);
    const uint32_t entries = d.num_hold_di < in_payload ? d.num_hold_di : in_payload;
    for (uint32_t i = 0; i < entries; i++) {
        rire_orsk_pss_hold_di entry;
        memcpy(&entry, payload + i * sizeof entry, sizeof entry);
        rire_orsk_pss_recover_entry(d, entry.di, entry.oiflist_index);
    }
    RIRE_TRACE_AS(d.func, "TLV type oif len:%d \n", tlv_len);
}

/* Walks the TLVs of one value; a TLV the utility cannot hand out ends the
 * walk. Always 1: a damaged value loses entries, never the record. */
uint32_t rire_orsk_pss_decode_entries(const rire_orsk_pss_decode &d) {
    uint32_t cursor = 0;
    for (uint32_t count = 0; count < tlv_array_get_num_tlvs(d.tlv_array, 0); count++) {
        uint16_t tlv_type = 0;
        uint16_t tlv_len = 0;
        void *payload = nullptr;
        if (tlv_array_get_next_tlv(d.tlv_array, &tlv_type, &tlv_len, &payload, 0, &cursor) != 0)
            break;
        if (tlv_type != RIRE_PLATFORM_PSS_TLV_OIF) {
            RIRE_ERROR_AS(d.func, "%s Invalid Oiflist TLV Type %d", d.func, tlv_type);
            continue;
        }
        rire_orsk_pss_recover_oif_tlv(d, static_cast<const uint8_t *>(payload), tlv_len);
    }
    return 1;
}

} // namespace

uint32_t rire_orsk_pss_get_hw_update_req_q_elem(const void *value, uint32_t req_id) {
    const auto *info = static_cast<const rire_orsk_hw_update_pss_info *>(value);
    return rire_orsk_pss_decode_entries(
        {__func__, info->tlv_array, info->req_type, info->num_hold_di, true, req_id});
}

uint32_t rire_orsk_pss_get_di_hold_q_elem(const void *value) {
    const auto *info = static_cast<const rire_orsk_pending_di_pss_info *>(value);
    return rire_orsk_pss_decode_entries(
        {__func__, info->tlv_array, info->type, info->num_hold_di, false, 0});
}

namespace {

/* One recovery pass: the service it walks, the words its messages use, how it
 * fetches a record (first or next) and what it does with one. */
struct rire_orsk_pss_pass {
    const char *func;
    uint32_t pss_type;
    const char *type_name; /* in the service trace, after RIRE_PLATFORM_PSS_TYPE_ */
    const char *db_name;   /* "Error restoring <db_name> DB" */
    const char *info_name; /* "No <info_name> info found" */
    uint32_t (*fetch)(uint32_t *handle, bool first, uint32_t *key, void **value);
    uint32_t (*restore)(const char *func, uint32_t key, const void *value);
    uint32_t rire_pss_recovery_stats_t::*restored;
};

uint32_t rire_orsk_pss_fetch_pending_di(uint32_t *handle, bool first, uint32_t *key, void **value) {
    return first ? rire_orsk_pss_get_first_pending_di_data(handle, key, value)
                 : rire_orsk_pss_get_next_pending_di_data(handle, key, value);
}

uint32_t rire_orsk_pss_fetch_hw_update(uint32_t *handle, bool first, uint32_t *key, void **value) {
    return first ? rire_orsk_pss_get_first_hw_update_data(handle, key, value)
                 : rire_orsk_pss_get_next_hw_update_data(handle, key, value);
}

/* The record's own index is taken as the key gives it, 0 to 65535. */
uint32_t rire_orsk_pss_restore_pending_di(const char *func, uint32_t oiflist_index,
                                          const void *value) {
    const auto *info = static_cast<const rire_orsk_pending_di_pss_info *>(value);
    RIRE_TRACE_AS(func,
                  "%s Recovered data pending DI oiflist_index %d type: %d state: %d "
                  "num_hold_di: %d\n",
                  func, oiflist_index, info->type, info->state, info->num_hold_di);
    if (rire_pi_check_oiflist_exists(info->type, oiflist_index) == 0)
        rire_orsk_pss_reserve_index(func, info->type, oiflist_index);
    return rire_orsk_pss_get_di_hold_q_elem(value);
}

uint32_t rire_orsk_pss_restore_hw_update(const char *func, uint32_t req_id, const void *value) {
    const auto *info = static_cast<const rire_orsk_hw_update_pss_info *>(value);
    RIRE_TRACE_AS(func, "%s Recovered data hw update req with id %d num_hold_di: %d\n", func,
                  req_id, info->num_hold_di);
    return rire_orsk_pss_get_hw_update_req_q_elem(value, req_id);
}

void rire_orsk_pss_recover_db(const rire_orsk_pss_pass &p) {
    uint32_t handle = 0;
    if (fu_pss_service_get(p.pss_type, &handle) != 0) {
        RIRE_ERROR_AS(p.func, "Error restoring %s DB\n", p.db_name);
        return;
    }
    RIRE_TRACE_AS(p.func, "(%s:)-RIRE_PLATFORM_PSS_TYPE_%s %d pss_service = %d\n", p.func,
                  p.type_name, p.pss_type, handle);
    /* One key word for the whole walk, zeroed once. A stored key shorter than
     * 4 bytes fills only its own bytes of it; the others keep what the key
     * before it left there (zero for the first record), so the request such a
     * key rebuilds depends on the order the store presents records in. */
    uint32_t key = 0;
    void *value = nullptr;
    if (p.fetch(&handle, true, &key, &value) == 0) {
        RIRE_TRACE_AS(p.func, "%s: No %s info found \n", p.func, p.info_name);
        return;
    }
    do {
        if (p.restore(p.func, key, value) != 0)
            rire_pss_recovery_stats.*p.restored += 1;
        else
            RIRE_ERROR_AS(p.func, "%s: Error in inserting back hold_q elem\n", p.func);
    } while (p.fetch(&handle, false, &key, &value) != 0);
}

} // namespace

void rire_orsk_pss_recover_pending_di_db(void) {
    rire_orsk_pss_recover_db({__func__, RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB, "PENDING_DI_DB",
                              "Pending DI", "pending DI", rire_orsk_pss_fetch_pending_di,
                              rire_orsk_pss_restore_pending_di,
                              &rire_pss_recovery_stats_t::num_pending_di_restored});
}

void rire_orsk_pss_recover_hw_update_db(void) {
    rire_orsk_pss_recover_db({__func__, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, "HW_UPDATE_DB",
                              "HW update req", "hw update req", rire_orsk_pss_fetch_hw_update,
                              rire_orsk_pss_restore_hw_update,
                              &rire_pss_recovery_stats_t::num_hw_update_req_restored});
}

int32_t rire_orsk_pss_recover(void) {
    rire_orsk_pss_recover_pending_di_db();
    rire_orsk_pss_recover_hw_update_db();
    return 0;
}
