// The host's oiflist index allocators: one per oiflist type (1 and 2), each a
// bitmap over the indexes 0..65535. rire_oiflist_index_bitmap holds their
// handles ({null, type 1, type 2}: type 0 has no bitmap); the plugin reserves
// indexes again after a restart through index_range_re_alloc_blk, which is
// recorded in the journal as (handle's type, start, count), the type being
// 0 for a null handle and -1 for a handle that is no allocator of this host.
//
// index_range_re_alloc_blk(handle, start, count) results, each with what the
// call did:
//   kOk                0  every index of [start, start + count) was free; all
//                         are allocated now
//   kNoBitmap          1  the handle is null or no allocator of this host;
//                         nothing marked
//   kOutOfRange        2  the block does not lie within 0..65535; nothing marked
//   kAlreadyAllocated  3  some index of the block was allocated already; the
//                         free ones are allocated all the same, so the whole
//                         block is allocated now
// No other result is returned. The fault row index.realloc.error
// (emu/base/faults.h) makes a call with a known handle report 1, 2 or 3 and do
// what that result says, whatever the bitmap holds. Every call with a known
// handle counts in that allocator's re_alloc_calls(), whatever its result.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <vector>

namespace emu::rire::bitmaps {

enum ReAllocResult : int {
    kOk = 0,
    kNoBitmap = 1,
    kOutOfRange = 2,
    kAlreadyAllocated = 3,
};

class Allocator {
  public:
    static constexpr uint32_t kIndexCount = 65536;
    // allocate() hands out 1..65534 only: 0 means "no oiflist" in the
    // plugin's stored records, and its recovery takes 65535 for garbage.
    static constexpr uint32_t kFirstHandedOut = 1;
    static constexpr uint32_t kLastHandedOut = 65534;

    // The lowest free index, now allocated; nullopt when none is free. An
    // index reserved by re_alloc is allocated, so it is never handed out.
    std::optional<uint32_t> allocate();
    // Allocates one given index, as the platform-independent layer does for
    // the oiflists it holds (emu/rire/oiflists.h); false when it lies outside
    // 0..65535 or is allocated already. Not a re_alloc call.
    bool take(uint32_t index);
    // Frees an index; false when it was not allocated or lies outside 0..65535.
    bool release(uint32_t index);
    bool is_allocated(uint32_t index) const;
    // Every allocated index, ascending.
    std::vector<uint32_t> allocated() const;
    // Marks [start, start + count) allocated; a ReAllocResult. `forced`, when
    // not kOk, is the result to report, and the call does what it says.
    int re_alloc(uint32_t start, uint32_t count, int forced = kOk);
    uint32_t re_alloc_calls() const { return re_alloc_calls_; }
    void clear();

  private:
    std::bitset<kIndexCount> used_;
    uint32_t re_alloc_calls_ = 0;
};

// The allocator of an oiflist type; null for a type without a bitmap.
Allocator *allocator(uint32_t type);
// Empties both allocators, zeroes their call counts and puts their handles
// back into rire_oiflist_index_bitmap (a test may have replaced one).
void reset();

} // namespace emu::rire::bitmaps
