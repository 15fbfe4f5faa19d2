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
// parse() is the one reader of that encoding: the utility's calls below use
// it, and so does anything else that decodes stored bytes (rire-host's dumps
// and checks). It is pure: no fault table, no journal, no read extent, so a
// reader that is not the plugin consumes no fault and leaves no call behind.
//
// Bounded reads: the PSS read side registers the bytes it hands out as a read
// extent [begin, end), optionally with `slack` zero bytes of padding behind
// end. A reader whose array starts inside [begin, end + slack) reads nothing
// at or past `end`: a TLV whose header or payload crosses `end` is malformed
// (counting stops before it, tlv_array_get_next_tlv fails on it). An array
// outside every extent is read unbounded: the utility is given no length.
//
// Faults (emu/base/faults.h): tlv_array_add_tlv refused with kNoRoom, as a utility
// would whose array cannot take the TLV, from the k-th call on (the utility
// is not told which PSS service an array is for, so only its own calls are
// counted); tlv_array_get_next_tlv failed with kInjected on a well-formed
// TLV, one the count includes.
//
// Results: 0 for success, else one of the Error codes below. Every call is
// recorded in emu::base::journal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/host/tlv.h"

namespace emu::services::tlv {

constexpr uint8_t kMarker = 1;
constexpr uint32_t kHeaderSize = 5;

enum Error : int {
    kEnd = 1,       // no TLV after the cursor
    kMalformed = 2, // bad marker, or a TLV crossing the bound
    kNoRoom = 3,    // the new TLV does not fit in `size`
    kBadArg = 4,    // null array / output, or null payload with a nonzero length
    kInjected = 5,  // failed by the fault table
};

// One TLV of an array; offsets are from the array start.
struct Tlv {
    uint16_t type;
    uint16_t len;     // payload length
    uint32_t payload; // offset of the payload
    uint32_t next;    // offset of the TLV after this one
};

// Parses the TLV at offset `at` of `array`, reading no byte at or past
// `limit` bytes from the array start: 0 with *out filled, kEnd when the array
// ends there, kMalformed for a bad marker or a TLV that crosses `limit`.
int parse(const void *array, uint32_t at, uint64_t limit, Tlv *out);

// Registers (or replaces) the extent kept under `slot`; one slot per owner,
// e.g. the PSS service type whose value buffer it describes.
void set_read_extent(uint32_t slot, const void *begin, const void *end, std::size_t slack = 0);
void clear_read_extent(uint32_t slot);
void clear_read_extents();

} // namespace emu::services::tlv
