#include "emu/rire/bitmaps.h"

#include <array>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "plugin/host/rire.h"

namespace emu::rire::bitmaps {
namespace {
std::array<Allocator, RIRE_OIFLIST_TYPE_MAX> g_allocators; // type t at t - 1

// The oiflist type whose allocator a handle is; 0 for null, -1 for a handle
// that is none of ours.
int handle_type(const void *handle) {
    if (handle == nullptr)
        return 0;
    for (uint32_t type = 1; type <= RIRE_OIFLIST_TYPE_MAX; ++type) {
        if (handle == &g_allocators[type - 1])
            return static_cast<int>(type);
    }
    return -1;
}
} // namespace

std::optional<uint32_t> Allocator::allocate() {
    for (uint32_t index = kFirstHandedOut; index <= kLastHandedOut; ++index) {
        if (!used_.test(index)) {
            used_.set(index);
            return index;
        }
    }
    return std::nullopt;
}

bool Allocator::take(uint32_t index) {
    if (index >= kIndexCount || used_.test(index))
        return false;
    used_.set(index);
    return true;
}

bool Allocator::release(uint32_t index) {
    if (!is_allocated(index))
        return false;
    used_.reset(index);
    return true;
}

bool Allocator::is_allocated(uint32_t index) const {
    return index < kIndexCount && used_.test(index);
}

std::vector<uint32_t> Allocator::allocated() const {
    std::vector<uint32_t> indexes;
    for (uint32_t index = 0; index < kIndexCount; ++index) {
        if (used_.test(index))
            indexes.push_back(index);
    }
    return indexes;
}

int Allocator::re_alloc(uint32_t start, uint32_t count, int forced) {
    ++re_alloc_calls_;
    if (forced == kNoBitmap || forced == kOutOfRange)
        return forced;
    if (uint64_t{start} + count > kIndexCount)
        return kOutOfRange;
    int result = kOk;
    for (uint32_t index = start; index < start + count; ++index) {
        if (used_.test(index))
            result = kAlreadyAllocated;
        used_.set(index);
    }
    return forced == kOk ? result : forced;
}

void Allocator::clear() {
    used_.reset();
    re_alloc_calls_ = 0;
}

Allocator *allocator(uint32_t type) {
    if (type < 1 || type > RIRE_OIFLIST_TYPE_MAX)
        return nullptr;
    return &g_allocators[type - 1];
}

void reset() {
    rire_oiflist_index_bitmap[0] = nullptr;
    for (uint32_t type = 1; type <= RIRE_OIFLIST_TYPE_MAX; ++type) {
        g_allocators[type - 1].clear();
        rire_oiflist_index_bitmap[type] = &g_allocators[type - 1];
    }
}

} // namespace emu::rire::bitmaps

constinit void *rire_oiflist_index_bitmap[RIRE_OIFLIST_TYPE_MAX + 1] = {
    nullptr, &emu::rire::bitmaps::g_allocators[0], &emu::rire::bitmaps::g_allocators[1]};

int index_range_re_alloc_blk(void *bitmap, uint32_t start, uint32_t count) {
    const int type = emu::rire::bitmaps::handle_type(bitmap);
    emu::base::journal::record("index_range_re_alloc_blk", {type, start, count});
    if (type <= 0)
        return emu::rire::bitmaps::kNoBitmap;
    const auto forced = emu::base::faults::fires(emu::base::faults::Id::kIndexReallocError);
    return emu::rire::bitmaps::allocator(static_cast<uint32_t>(type))
        ->re_alloc(start, count, forced ? forced->code : emu::rire::bitmaps::kOk);
}
