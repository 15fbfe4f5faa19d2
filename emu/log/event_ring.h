// emu::log::EventRing: the newest event records that fit in a buffer of a
// fixed number of bytes. A record is stored once, packed: a header, then its
// text, then the next record; no record has a slot of its own size, so that
// records written one after another write consecutive bytes of a buffer
// small enough for the cache to hold. A record that does not fit before the
// buffer's end starts again at its beginning; the oldest records are dropped
// to make room for each new one.
//
// Records are addressed by sequence number: the first record appended after
// clear() is 0, and size() is the number appended since then, kept or not,
// so a reader's "seen up to" mark stays valid while records come and go.
// Only [first(), size()) are still kept; reading outside it is an error. An
// Event read back points into the buffer: it stays valid until the ring next
// changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace emu::log {

// One record as the host's sink received it.
struct Event {
    uint32_t level;        // the record's first four bytes
    uint32_t len;          // the length argument as passed
    uint32_t uuid;         // the event log's service uuid; 0 in the history
    std::string_view text; // the record's text up to its NUL, at most kTextMax bytes
};

class EventRing {
  public:
    // Bytes; a record takes its text's size and 16 more, rounded up to 4.
    explicit EventRing(std::size_t capacity);
    EventRing(EventRing &&) = default;
    EventRing &operator=(EventRing &&) = default;

    // Records appended since clear(), kept or not: the next sequence number.
    std::size_t size() const { return next_; }
    // Sequence number of the oldest record kept.
    std::size_t first() const { return first_; }
    bool empty() const { return first_ == next_; }
    Event operator[](std::size_t seq) const;
    Event back() const { return (*this)[next_ - 1]; }
    std::size_t capacity() const { return capacity_; }

    // Copies `e` in, dropping the oldest records that stand in its way; a
    // record larger than the capacity is counted and nothing is kept.
    void append(const Event &e);
    // Keeps the newest records that fit in `capacity` bytes, with their
    // sequence numbers.
    void set_capacity(std::size_t capacity);
    void clear();

  private:
    struct Header {
        uint32_t level, len, uuid, size;
    };
    static std::size_t footprint(std::size_t text_size) {
        return (sizeof(Header) + text_size + 3) & ~std::size_t{3};
    }
    uint32_t &start(std::size_t seq) const { return starts_[seq & index_mask_]; }
    Header header(std::size_t seq) const;
    void drop_in_way(std::size_t at, std::size_t need);

    std::size_t capacity_;
    // starts_ has a power of two of entries, at least one for each Header
    // the buffer holds: one for each record it can keep.
    std::size_t index_mask_;
    std::unique_ptr<char[]> bytes_;      // capacity_ bytes
    std::unique_ptr<uint32_t[]> starts_; // where record seq starts, at seq & index_mask_
    std::size_t first_ = 0, next_ = 0;
    std::size_t end_ = 0; // where the newest record ends
};

} // namespace emu::log
