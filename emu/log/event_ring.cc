#include "emu/log/event_ring.h"

#include <bit>
#include <cstring>

#include "emu/log/text.h"

namespace emu::log {

EventRing::EventRing(std::size_t capacity)
    : capacity_(capacity), index_mask_(std::bit_ceil(capacity / sizeof(Header)) - 1),
      bytes_(std::make_unique_for_overwrite<char[]>(capacity)),
      starts_(std::make_unique_for_overwrite<uint32_t[]>(index_mask_ + 1)) {}

EventRing::Header EventRing::header(std::size_t seq) const {
    Header h;
    std::memcpy(&h, bytes_.get() + start(seq), sizeof h);
    return h;
}

Event EventRing::operator[](std::size_t seq) const {
    const Header h = header(seq);
    return {h.level, h.len, h.uuid, {bytes_.get() + start(seq) + sizeof h, h.size}};
}

// Drops the oldest records while one starts in the bytes from end_ on that
// a record of `need` bytes at `at` takes or skips. The records lie in
// sequence order round the buffer from the oldest's start to end_, so the
// oldest is the first one those bytes reach.
void EventRing::drop_in_way(std::size_t at, std::size_t need) {
    const std::size_t span = at == end_ ? need : capacity_ - end_ + need;
    for (; !empty(); first_++) {
        const std::size_t from = start(first_);
        if ((from >= end_ ? from - end_ : from + capacity_ - end_) >= span)
            break;
    }
}

void EventRing::append(const Event &e) {
    const std::size_t need = footprint(e.text.size());
    if (need > capacity_) {
        first_ = ++next_;
        end_ = 0;
        return;
    }
    const std::size_t at = end_ + need <= capacity_ ? end_ : 0;
    drop_in_way(at, need);
    const Header h{e.level, e.len, e.uuid, static_cast<uint32_t>(e.text.size())};
    char *out = bytes_.get() + at;
    std::memcpy(out, &h, sizeof h);
    copy_text(out + sizeof h, e.text.data(), e.text.size());
    start(next_++) = static_cast<uint32_t>(at);
    end_ = at + need;
}

void EventRing::set_capacity(std::size_t capacity) {
    EventRing kept(capacity);
    std::size_t from = next_;
    for (std::size_t used = 0; from > first_; from--) {
        used += footprint(header(from - 1).size);
        if (used > capacity)
            break;
    }
    kept.first_ = kept.next_ = from;
    for (std::size_t seq = from; seq < next_; seq++)
        kept.append((*this)[seq]);
    *this = std::move(kept);
}

void EventRing::clear() {
    first_ = next_ = 0;
    end_ = 0;
}

} // namespace emu::log
