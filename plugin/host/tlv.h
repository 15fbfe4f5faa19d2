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

/* Used by the record encoders, to size a value before carving it from the
 * PSS arena: the bytes one TLV with an n-byte payload occupies. */
uint32_t tlv_size_get(uint32_t payload_len);
/* Called by the encoders, flags 0, on a zeroed block of the PSS arena.
 * Appends one TLV to the array at `array`; `size` is the length of the whole
 * buffer the array lies in. 0 on success; on any other result the encoder
 * logs it and gives the record up. */
int tlv_array_add_tlv(void *array, uint32_t size, uint16_t type, uint16_t len, const void *payload,
                      int flags);
/* Called by recovery, flags 0, on a value the store handed out, before each
 * fetch: the number of TLVs in the array. */
uint32_t tlv_array_get_num_tlvs(const void *array, int flags);
/* Called by recovery, flags 0, with a cursor it set to 0 for the value and
 * otherwise leaves to the utility: hands out the TLV after *cursor (its type,
 * payload length and payload address, which points into the array) and moves
 * the cursor past it. 0 on success; any other result ends the value's walk. */
int tlv_array_get_next_tlv(const void *array, uint16_t *type, uint16_t *len, void **payload,
                           int flags, uint32_t *cursor);

#ifdef __cplusplus
}
#endif
