// Recovery from arbitrary stored bytes: the input format that the recovery
// fuzz target and the corpus replay test share, and the one recovery cycle
// both run per input.
//
// An input is a run of at most kMaxCommands commands, each a header byte and
// its operands:
//   header bit 7 set   declare a live oiflist: type (1 byte), index (u32 LE)
//   header bit 7 clear a stored record of "hw_update" (bit 0 set) or
//                      "pending_di" (bit 0 clear) with a key of
//                      kKeyLens[(header >> 1) & 7] bytes: the key, a value
//                      length (u16 LE), then that many value bytes
// A command cut short by the end of the input is dropped, except its value,
// which keeps the bytes that are there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "emu/loader/plugin.h"
#include "emu/loader/requests.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/bitmaps.h"
#include "emu/rire/oiflists.h"
#include "emu/rire/stats.h"
#include "emu/services/mts.h"

namespace rire_fuzz {

using emu::base::bytes::Bytes;

constexpr std::size_t kKeyLens[8] = {4, 4, 4, 4, 1, 2, 6, 8};
constexpr std::size_t kMaxCommands = 32;
constexpr uint8_t kDeclareOiflist = 0x80;
constexpr uint8_t kHwUpdateRecord = 0x01;

struct Record {
    uint32_t type; // PSS type of the database
    Bytes key;
    Bytes value;
};

struct Oiflist {
    uint32_t type;
    uint32_t index;
};

struct Input {
    std::vector<Record> records;
    std::vector<Oiflist> oiflists;
};

namespace detail {

// Reads little-endian integers and byte runs, failing once the input is short.
class Reader {
  public:
    Reader(const uint8_t *data, std::size_t size) : p_(data), end_(data + size) {}
    bool done() const { return p_ == end_; }
    bool take(std::size_t n, Bytes *out) {
        if (static_cast<std::size_t>(end_ - p_) < n)
            return false;
        out->assign(p_, p_ + n);
        p_ += n;
        return true;
    }
    bool uint(std::size_t n, uint32_t *out) {
        Bytes b;
        if (!take(n, &b))
            return false;
        *out = 0;
        for (std::size_t i = 0; i < n; i++)
            *out |= uint32_t{b[i]} << (8 * i);
        return true;
    }
    // Up to n bytes: what is left when the input is shorter.
    Bytes take_up_to(std::size_t n) {
        const std::size_t k = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - p_));
        Bytes out(p_, p_ + k);
        p_ += k;
        return out;
    }

  private:
    const uint8_t *p_;
    const uint8_t *end_;
};

inline std::string hex(const Bytes &b) {
    return emu::base::bytes::hex(b.data(), b.size(), 8);
}

} // namespace detail

inline Input parse(const uint8_t *data, std::size_t size) {
    Input in;
    detail::Reader r(data, size);
    for (std::size_t n = 0; n < kMaxCommands && !r.done(); n++) {
        uint32_t header;
        r.uint(1, &header);
        if (header & kDeclareOiflist) {
            Oiflist o;
            if (!r.uint(1, &o.type) || !r.uint(4, &o.index))
                break;
            in.oiflists.push_back(o);
            continue;
        }
        Record rec;
        rec.type = (header & kHwUpdateRecord) ? RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB
                                              : RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
        uint32_t value_len;
        if (!r.take(kKeyLens[(header >> 1) & 7], &rec.key) || !r.uint(2, &value_len))
            break;
        rec.value = r.take_up_to(value_len);
        in.records.push_back(std::move(rec));
    }
    return in;
}

namespace detail {

// Empties both databases and the host state that recovery fills in.
inline void clear_host() {
    for (uint32_t type :
         {RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB})
        for (const auto &[key, value] : emu::pss::records(type))
            emu::pss::delete_raw(type, key);
    emu::rire::oiflists::reset();
    emu::rire::bitmaps::reset();
    emu::rire::stats::reset();
    emu::log::clear();
}

// What recovery must leave whatever it read: nothing written to PSS; every
// stored record counted; every reservation counted by an allocator; every
// request with a distinct id and held DIs that are nonzero, with a nonzero
// index that is reservable or names a live oiflist. "" when all hold.
inline std::string check_recovered(const queue_hdr &queue, std::size_t pending_records,
                                   std::size_t hw_records) {
    if (emu::pss::pending_count() != 0)
        return "recovery queued PSS updates";
    const rire_pss_recovery_stats_t &st = rire_pss_recovery_stats;
    if (st.num_pending_di_restored != pending_records ||
        st.num_hw_update_req_restored != hw_records)
        return "restored counters do not match the stored records";
    if (st.num_index_realloc != emu::rire::bitmaps::allocator(1)->re_alloc_calls() +
                                    emu::rire::bitmaps::allocator(2)->re_alloc_calls())
        return "num_index_realloc does not match the allocators' calls";
    std::set<uint32_t> ids;
    for (const auto &r : emu::loader::requests::decode(queue)) {
        if (!ids.insert(r.req_id).second)
            return "request " + std::to_string(r.req_id) + " rebuilt twice";
        for (const auto &e : r.held) {
            const bool live = emu::rire::oiflists::exists(r.type, e.oiflist_index);
            if (e.di == 0 || e.oiflist_index == 0 || (e.oiflist_index > 65534 && !live))
                return "request " + std::to_string(r.req_id) + " holds DI " + std::to_string(e.di) +
                       " of index " + std::to_string(e.oiflist_index);
        }
        if (r.held.empty() || r.held.size() != r.count)
            return "request " + std::to_string(r.req_id) + " has a bad hold queue";
    }
    return "";
}

} // namespace detail

// One recovery as after a restart: plants the input into emptied databases,
// runs the plugin's recovery, checks it (detail::check_recovered), then
// completes every rebuilt request and flushes, which must empty the queue,
// free every block of the plugin's heap and delete each rebuilt request's
// record. "" or the broken invariant.
inline std::string recover_input(emu::loader::Plugin &plugin, const uint8_t *data,
                                 std::size_t size) {
    detail::clear_host();
    const Input in = parse(data, size);
    for (const Oiflist &o : in.oiflists)
        emu::rire::oiflists::declare(o.type, o.index);
    for (const Record &rec : in.records)
        emu::pss::put_raw(rec.type, rec.key, rec.value); // keys LMDB refuses are dropped
    const std::size_t pending = emu::pss::records(RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB).size();
    const std::size_t hw = emu::pss::records(RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB).size();

    const queue_hdr &queue = *plugin.hw_update_req_q();
    plugin.api()->pss_recover();
    std::string error = detail::check_recovered(queue, pending, hw);

    std::vector<uint32_t> ids;
    for (const auto &r : emu::loader::requests::decode(queue))
        ids.push_back(r.req_id);
    for (uint32_t id : ids) {
        mts_msg answer = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, id);
        plugin.api()->hw_update_done(&answer);
    }
    emu::pss::flush();
    if (!error.empty())
        return error;
    if (queue.head != nullptr)
        return "completion left requests queued";
    if (plugin.heap().live() != 0)
        return std::to_string(plugin.heap().live()) + " heap blocks live after completion";
    for (const auto &[key, value] : emu::pss::records(RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB)) {
        uint32_t id = 0;
        if (key.size() != sizeof id)
            continue;
        std::memcpy(&id, key.data(), sizeof id);
        if (std::find(ids.begin(), ids.end(), id) != ids.end())
            return "record " + detail::hex(key) + " of a completed request is still stored";
    }
    return "";
}

} // namespace rire_fuzz
