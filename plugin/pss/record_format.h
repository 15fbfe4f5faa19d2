/* Encoding the records of both databases (layout: rire_orsk_pss_records.h).
 *
 * The encoders return 1 on success and 0 on failure (null argument, or the
 * TLV utility refusing the TLV, logged under the encoder's own name); they
 * call tlv_array_add_tlv. The size operation cannot fail. */
#pragma once

#include "plugin/include/rire_orsk_platform_api.h"
#include "plugin/include/rire_orsk_pss_records.h"

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
