// emu::base::Ring: the newest `capacity` records of an append-only log, kept in a
// fixed array of slots. Records are addressed by sequence number: the first
// record appended after clear() is 0, and size() is the number appended since
// then, so a reader's "seen up to" mark stays valid while records are added.
// Only [first(), size()) are still kept; indexing outside it is an error.
// Slots are added as records come, up to the capacity; then the oldest is
// overwritten in place, so a record type holding strings reuses their
// buffers and a full ring allocates nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace emu::base {

template <class T> class Ring {
  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T *;
        using reference = const T &;
        const_iterator(const Ring *ring, std::size_t seq) : ring_(ring), seq_(seq) {}
        const T &operator*() const { return (*ring_)[seq_]; }
        const T *operator->() const { return &(*ring_)[seq_]; }
        const_iterator &operator++() {
            ++seq_;
            return *this;
        }
        bool operator==(const const_iterator &o) const { return seq_ == o.seq_; }

      private:
        const Ring *ring_;
        std::size_t seq_;
    };

    explicit Ring(std::size_t capacity) : capacity_(capacity) {}

    // Records appended since clear(), kept or not: the next sequence number.
    std::size_t size() const { return next_; }
    // Sequence number of the oldest record kept.
    std::size_t first() const { return next_ - std::min(next_, capacity_); }
    bool empty() const { return first() == next_; }
    const T &operator[](std::size_t seq) const { return slots_[seq % capacity_]; }
    const T &back() const { return (*this)[next_ - 1]; }
    const_iterator begin() const { return {this, first()}; }
    const_iterator end() const { return {this, next_}; }

    // The slot of the next record, to be overwritten by the caller; null
    // (and nothing counted) when the capacity is 0.
    T *append() {
        if (capacity_ == 0)
            return nullptr;
        const std::size_t at = next_++ % capacity_;
        if (at == slots_.size())
            slots_.emplace_back();
        return &slots_[at];
    }
    // Keeps the newest records that fit, with their sequence numbers.
    void set_capacity(std::size_t capacity) {
        std::vector<T> slots(std::min(capacity, next_));
        for (std::size_t seq = next_ - std::min({next_, capacity_, capacity}); seq < next_; seq++)
            slots[seq % capacity] = std::move(slots_[seq % capacity_]);
        slots_ = std::move(slots);
        capacity_ = capacity;
    }
    void clear() { next_ = 0; }

  private:
    std::size_t capacity_;
    std::vector<T> slots_; // grows to capacity_ slots
    std::size_t next_ = 0;
};

} // namespace emu::base
