/* What the plugin stores in PSS, byte for byte (little-endian throughout).
 *
 * "hw_update" (type 21): key = req_id (u32); value = 4 reserved zero bytes,
 *   req_type, num_hold_di, then a TLV array.
 * "pending_di" (type 20): key = oiflist index | 0x10000 for type 1, | 0x20000
 *   for any other type; value = type, state, num_hold_di, then a TLV array.
 * The array holds one oif TLV (type 1) when num_hold_di is nonzero: one
 *   8-byte rire_orsk_pss_hold_di per held DI, queue order (newest first).
 * A value is L = (tlv_size_get(8 * count) mod 65536) + 7 bytes.
 *
 * The encoders return 1 on success and 0 on failure (null argument, or the
 * TLV utility refusing the TLV); they call tlv_array_add_tlv. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin/include/rire_orsk_platform_api.h"

#define RIRE_PLATFORM_PSS_TLV_OIF 1u

/* A stored record describes at most this many held DIs (num_hold_di is one
 * byte); a longer hold queue is persisted by its newest entries. */
#define RIRE_ORSK_PSS_MAX_HOLD_DI 255u

#define RIRE_ORSK_PSS_KEY_TAG_TYPE1 0x10000u
#define RIRE_ORSK_PSS_KEY_TAG_OTHER 0x20000u

typedef struct rire_orsk_pss_hold_di {
    uint16_t di;
    uint16_t pad;
    uint32_t oiflist_index;
} rire_orsk_pss_hold_di;

typedef struct __attribute__((packed)) rire_orsk_hw_update_pss_info {
    uint32_t reserved;
    uint8_t req_type;
    uint8_t num_hold_di;
    uint8_t tlv_array[];
} rire_orsk_hw_update_pss_info;

typedef struct __attribute__((packed)) rire_orsk_pending_di_pss_info {
    uint8_t type;
    uint8_t state;
    uint8_t num_hold_di;
    uint8_t tlv_array[];
} rire_orsk_pending_di_pss_info;

static_assert(sizeof(rire_orsk_pss_hold_di) == 8);
static_assert(offsetof(rire_orsk_pss_hold_di, oiflist_index) == 4);
static_assert(offsetof(rire_orsk_hw_update_pss_info, req_type) == 4);
static_assert(offsetof(rire_orsk_hw_update_pss_info, num_hold_di) == 5);
static_assert(offsetof(rire_orsk_hw_update_pss_info, tlv_array) == 6);
static_assert(offsetof(rire_orsk_pending_di_pss_info, state) == 1);
static_assert(offsetof(rire_orsk_pending_di_pss_info, num_hold_di) == 2);
static_assert(offsetof(rire_orsk_pending_di_pss_info, tlv_array) == 3);

extern "C" {

/* Pending-DI key of an oiflist index: the tag keeps equal indexes of the two
 * types apart. */
uint32_t rire_orsk_pss_pending_di_key(uint8_t oiflist_type, uint32_t oiflist_index);

/* Value length L for a hold queue of `count` DIs; *tlv_len receives the oif
 * TLV's payload length. */
uint32_t rire_orsk_get_pending_di_pss_info_sz(uint32_t count, uint32_t *tlv_len);
uint32_t rire_orsk_get_hw_update_pss_info(const rire_orsk_hw_update_req *req,
                                          const uint32_t *tlv_len, uint8_t *value, uint32_t len);
uint32_t rire_orsk_get_pending_di_pss_info(const rire_orsk_di_req *di_req, const uint32_t *tlv_len,
                                           uint8_t *value, uint32_t len);
}
