/* The host's TLV-array utility. The byte encoding belongs to the host; the
 * plugin relies on three properties: a zero-filled region is an empty array,
 * tlv_size_get(n) is what one TLV with an n-byte payload occupies, and an
 * empty array that receives one such TLV takes no more than that from its
 * start. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint32_t tlv_size_get(uint32_t payload_len);
/* Appends one TLV to the array at `array`; `size` is the length of the whole
 * buffer the array lies in. 0 on success. */
int tlv_array_add_tlv(void *array, uint32_t size, uint16_t type, uint16_t len, const void *payload,
                      int flags);
uint32_t tlv_array_get_num_tlvs(const void *array, int flags);
/* The TLV after *cursor (0 before the first); 0 on success. */
int tlv_array_get_next_tlv(const void *array, uint16_t *type, uint16_t *len, void **payload,
                           int flags, uint32_t *cursor);

#ifdef __cplusplus
}
#endif
