/* The records the plugin stores in PSS, byte for byte: the one description
 * that the plugin's encoders and decoders, and every reader outside the
 * plugin (rire-host's dump, the fuzzer, the tests), use. All integers are
 * little-endian, the platform's order; nothing is converted.
 *
 * "hw_update" (RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, 21)
 *   key    0  u32  req_id
 *   value  0  u32  reserved, zero, never read
 *          4  u8   req_type: the oiflist type of every DI the request holds
 *          5  u8   num_hold_di: held DIs described, at most 255
 *          6  ...  TLV array
 * "pending_di" (RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB, 20)
 *   key    0  u16  oiflist index
 *          2  u8   type tag: 1 for oiflist type 1, 2 for any other type
 *          3  u8   zero
 *   value  0  u8   type: low 8 bits of the record's oiflist_type
 *          1  u8   state: low 8 bits (1: pending hardware update)
 *          2  u8   num_hold_di
 *          3  ...  TLV array
 * The TLV array (its encoding is the host's TLV utility's) holds one oif TLV
 * (type RIRE_PLATFORM_PSS_TLV_OIF) when num_hold_di is nonzero, none
 * otherwise: num_hold_di rire_orsk_pss_hold_di entries, the hold queue's
 * first (newest) element first. A reader takes num_hold_di from the header,
 * never from the TLV length, and skips an entry whose DI or index is 0.
 *
 * Value length: L = (tlv_size_get(8 * count) mod 65536) + RIRE_ORSK_PSS_VALUE_SLACK
 * for both databases (see the slack below). Reference counts are not stored. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#define RIRE_PLATFORM_PSS_TLV_OIF 1u

/* Every key of both databases is 4 bytes: a u32 written as it lies. */
#define RIRE_ORSK_PSS_KEY_LEN 4u

/* num_hold_di is one byte: a stored record describes at most this many held
 * DIs, the newest ones of a longer hold queue. */
#define RIRE_ORSK_PSS_MAX_HOLD_DI 255u

/* The pending-DI key: the oiflist index in the low 16 bits (indexes lie below
 * 65535), a tag above it that keeps equal indexes of the two types apart. A
 * reader drops the tag. */
#define RIRE_ORSK_PSS_KEY_TAG_TYPE1  0x10000u
#define RIRE_ORSK_PSS_KEY_TAG_OTHER  0x20000u
#define RIRE_ORSK_PSS_KEY_INDEX_MASK 0xFFFFu

/* Added to the TLV size to make a value's length: the larger header (the
 * hardware-update value's 6 bytes) and one zero byte behind the TLV array,
 * where a reader of the array finds its end. A pending-DI value, whose header
 * is 3 bytes, carries 4 zero bytes behind its array. Both databases use the
 * same length so that one size operation serves both. */
#define RIRE_ORSK_PSS_VALUE_SLACK 7u

/* One held DI in the oif TLV's payload. */
typedef struct rire_orsk_pss_hold_di {
    uint16_t di;
    uint16_t pad; /* not significant, never read */
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

#ifdef __cplusplus
static_assert(sizeof(rire_orsk_pss_hold_di) == 8);
static_assert(offsetof(rire_orsk_pss_hold_di, di) == 0);
static_assert(offsetof(rire_orsk_pss_hold_di, oiflist_index) == 4);
static_assert(offsetof(rire_orsk_hw_update_pss_info, req_type) == 4);
static_assert(offsetof(rire_orsk_hw_update_pss_info, num_hold_di) == 5);
static_assert(offsetof(rire_orsk_hw_update_pss_info, tlv_array) == 6);
static_assert(offsetof(rire_orsk_pending_di_pss_info, type) == 0);
static_assert(offsetof(rire_orsk_pending_di_pss_info, state) == 1);
static_assert(offsetof(rire_orsk_pending_di_pss_info, num_hold_di) == 2);
static_assert(offsetof(rire_orsk_pending_di_pss_info, tlv_array) == 3);
#endif
