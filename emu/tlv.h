// The host's TLV-array utility behind plugin/host/tlv.h, with its byte encoding.
//
// Encoding (all integers little-endian). An array is a run of TLVs, each
//   offset 0  u8   marker, always 1
//          1  u16  type
//          3  u16  payload length n
//          5  n    payload
// so one TLV occupies tlv_size_get(n) = 5 + n bytes. A marker byte of 0 ends
// the array, which makes a zero-filled region an empty array; any other
// marker value is malformed. tlv_array_add_tlv appends after the last TLV and
// writes no terminator: the bytes behind the new TLV must already be zero.
// Cursors are byte offsets from the array start (0 = the first TLV).
//
// Bounded reads: the PSS read side registers the bytes it hands out as a read
// extent [begin, end), optionally with `slack` zero bytes of padding behind
// end. A reader whose array starts inside [begin, end + slack) reads nothing
// at or past `end`: a TLV whose header or payload crosses `end` is malformed
// (counting stops before it, tlv_array_get_next_tlv fails on it). An array
// outside every extent is read unbounded, as the real utility does.
//
// Faults (emu/faults.h): tlv_array_add_tlv refused with kNoRoom, as a utility
// would whose array cannot take the TLV, from the k-th call on (the utility
// is not told which PSS service an array is for, so only its own calls are
// counted); tlv_array_get_next_tlv failed with kInjected on a well-formed
// TLV, one the count includes.
//
// Results: 0 for success, else one of the Error codes below. Every call is
// recorded in emu::journal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/host/tlv.h"

namespace emu::tlv {

constexpr uint8_t kMarker = 1;
constexpr uint32_t kHeaderSize = 5;

enum Error : int {
    kEnd = 1,       // no TLV after the cursor
    kMalformed = 2, // bad marker, or a TLV crossing the bound
    kNoRoom = 3,    // the new TLV does not fit in `size`
    kBadArg = 4,    // null array / output, or null payload with a nonzero length
    kInjected = 5,  // failed by the fault table
};

// Registers (or replaces) the extent kept under `slot`; one slot per owner,
// e.g. the PSS service type whose value buffer it describes.
void set_read_extent(uint32_t slot, const void *begin, const void *end, std::size_t slack = 0);
void clear_read_extent(uint32_t slot);
void clear_read_extents();

} // namespace emu::tlv
