// Recovery after a restart: what the two passes rebuild, reserve, count and
// log, how they survive refusals, failed fetches and damaged stored bytes, and
// that what the plugin writes comes back request by request.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "emu/bitmaps.h"
#include "emu/log.h"
#include "emu/oiflists.h"
#include "emu/stats.h"
#include "emu/tlv.h"
#include "fuzz/plant.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::bytes::Bytes;
using Strings = std::vector<std::string>;

constexpr uint32_t kPending = RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
constexpr uint32_t kHw = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
constexpr uint16_t kOifTlv = 1;
constexpr const char *kHwDecode = "rire_orsk_pss_get_hw_update_req_q_elem";
constexpr const char *kPendingDecode = "rire_orsk_pss_get_di_hold_q_elem";
constexpr const char *kHwPass = "rire_orsk_pss_recover_hw_update_db";
constexpr const char *kPendingPass = "rire_orsk_pss_recover_pending_di_db";

// --- Stored bytes, built by hand --------------------------------------------

struct Entry {
    uint16_t di;
    uint32_t index;
};

void put_le(Bytes *out, uint32_t v, size_t n) {
    for (size_t i = 0; i < n; i++)
        out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Held-DI entries; the two padding bytes carry garbage, which is never read.
Bytes entries(std::initializer_list<Entry> list) {
    Bytes out;
    for (const Entry &e : list) {
        put_le(&out, e.di, 2);
        put_le(&out, 0xBEEF, 2);
        put_le(&out, e.index, 4);
    }
    return out;
}

// One TLV in the host utility's encoding; `len` may lie about the payload.
Bytes tlv(uint16_t type, const Bytes &payload, int len = -1) {
    Bytes out{emu::tlv::kMarker};
    put_le(&out, type, 2);
    put_le(&out, len < 0 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(len), 2);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Values as the plugin lays them out, with the zero byte that ends the array;
// the hardware-update value's reserved word is garbage, never read.
Bytes hw_value(uint8_t type, uint8_t num_hold_di, const Bytes &tlvs) {
    Bytes out{0xDE, 0xAD, 0xBE, 0xEF, type, num_hold_di};
    out.insert(out.end(), tlvs.begin(), tlvs.end());
    out.push_back(0);
    return out;
}

Bytes pending_value(uint8_t type, uint8_t state, uint8_t num_hold_di, const Bytes &tlvs) {
    Bytes out{type, state, num_hold_di};
    out.insert(out.end(), tlvs.begin(), tlvs.end());
    out.push_back(0);
    return out;
}

Bytes hw_record(uint8_t type, std::initializer_list<Entry> list) {
    return hw_value(type, static_cast<uint8_t>(list.size()), tlv(kOifTlv, entries(list)));
}

Bytes pending_record(uint8_t type, std::initializer_list<Entry> list) {
    return pending_value(type, 1, static_cast<uint8_t>(list.size()), tlv(kOifTlv, entries(list)));
}

Bytes head(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// --- What recovery leaves ---------------------------------------------------

struct Held {
    uint16_t di;
    uint32_t index;
    uint16_t ref_count;
    bool operator==(const Held &) const = default;
};

struct Request {
    uint32_t id;
    uint8_t type;
    std::vector<Held> held; // head first
    bool operator==(const Request &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Request &r) {
    os << "{" << r.id << " type " << int{r.type} << ":";
    for (const Held &h : r.held)
        os << " " << h.di << "@" << h.index << "x" << h.ref_count;
    return os << "}";
}

std::vector<uint32_t> counters() {
    std::vector<uint32_t> words;
    for (const auto &c : emu::stats::named())
        words.push_back(c.value);
    return words;
}

// The recovery counters with the three the plugin owns set as given.
std::vector<uint32_t> counters_with(uint32_t realloc, uint32_t pending, uint32_t hw) {
    std::vector<uint32_t> words(emu::stats::kWordCount, 0);
    words[17] = realloc;
    words[20] = pending;
    words[21] = hw;
    return words;
}

// (type, start, count) of every reservation call since the journal was cleared.
std::vector<std::vector<int64_t>> reservations() {
    std::vector<std::vector<int64_t>> calls;
    for (const auto &c : emu::journal::calls())
        if (c.op == "index_range_re_alloc_blk")
            calls.push_back(c.args);
    return calls;
}

std::vector<std::vector<int64_t>> existence_queries() {
    std::vector<std::vector<int64_t>> calls;
    for (const auto &c : emu::journal::calls())
        if (c.op == "rire_pi_check_oiflist_exists")
            calls.push_back(c.args);
    return calls;
}

class Recovery : public PluginTest {
  protected:
    void plant(uint32_t type, const Bytes &key, const Bytes &value) {
        ASSERT_EQ(emu::pss::put_raw(type, key, value), 0);
    }

    // Runs recovery on what is stored, as the host does after a restart.
    void recover() {
        mark_log();
        emu::journal::clear();
        api().pss_recover();
    }

    std::vector<Request> requests() {
        std::vector<Request> out;
        for (auto *r = static_cast<const rire_orsk_hw_update_req *>(request_queue().head); r;
             r = r->next) {
            Request req{r->req_id, r->req_type, {}};
            for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(r->hold_q.head); e;
                 e = e->next)
                req.held.push_back({e->di, e->oiflist_index, e->ref_count});
            out.push_back(req);
        }
        return out;
    }

    // Error-level message texts since the mark.
    Strings errors() {
        Strings out;
        const auto &log = emu::log::event_log();
        const Strings texts = messages();
        for (size_t i = 0; i < texts.size(); i++)
            if (log[log_mark_ + i].level == RIRE_ORSK_LOG_LEVEL_ERROR)
                out.push_back(texts[i]);
        return out;
    }

    std::string end_of_walk(uint32_t type) {
        uint32_t h = 0;
        fu_pss_service_get(type, &h);
        char buf[128];
        std::snprintf(buf, sizeof buf, "ERROR - m2l failed for srv %x err %s", h,
                      syserr2str(emu::pss::kErrEndOfData));
        return buf;
    }
};

std::string text(const char *fmt, const char *func, uint32_t a, uint32_t b = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, func, a, b);
    return buf;
}

TEST_F(Recovery, BothDatabasesEmptyLeaveTwoTracesAndNoCounters) {
    restart_and_recover();
    EXPECT_EQ(messages(),
              (Strings{
                  "(rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 "
                  "pss_service = 276\n",
                  "In rire_orsk_pss_get_first_pending_di_data\n",
                  "ERROR - first key missing \n",
                  "rire_orsk_pss_recover_pending_di_db: No pending DI info found \n",
                  "(rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 "
                  "pss_service = 277\n",
                  "In rire_orsk_pss_get_first_hw_update_data\n",
                  "ERROR - first key missing \n",
                  "rire_orsk_pss_recover_hw_update_db: No hw update req info found \n",
              }));
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(counters(), counters_with(0, 0, 0));
    EXPECT_EQ(request_queue().count, 0u);
}

TEST_F(Recovery, EachRecordIsTracedAndItsEntriesDecoded) {
    plant(kPending, le32(0x10005), pending_record(1, {{100, 6}}));
    plant(kHw, le32(9), hw_record(2, {{200, 7}}));
    recover();
    EXPECT_EQ(
        messages(),
        (Strings{
            "(rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 "
            "pss_service = 276\n",
            "In rire_orsk_pss_get_first_pending_di_data\n",
            "rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 5 "
            "type: 1 state: 1 num_hold_di: 1\n",
            "TLV type oif len:8 \n",
            "In rire_orsk_pss_get_next_pending_di_data\n",
            end_of_walk(kPending),
            "(rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 "
            "pss_service = 277\n",
            "In rire_orsk_pss_get_first_hw_update_data\n",
            "rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 9 "
            "num_hold_di: 1\n",
            "rire_orsk_hw_update_req_q_insert: Inserted req_id:9 to pending hw_update\n",
            "rire_orsk_add_di_to_hw_update_req: Adding DI:200 to hold_q for hw_update Req:9\n",
            "rire_orsk_di_hold_q_enqueue: Inserted DI:200 to the hold_q\n",
            "rire_orsk_di_hold_q_enqueue: DI:200, ref_count:1 \n",
            "TLV type oif len:8 \n",
            "In rire_orsk_pss_get_next_hw_update_data\n",
            end_of_walk(kHw),
        }));
    EXPECT_EQ(requests(), (std::vector<Request>{{9, 2, {{200, 7, 1}}}}));
    // The pending record's own index, its entry's index, the request's entry's.
    EXPECT_EQ(reservations(), (std::vector<std::vector<int64_t>>{{1, 5, 1}, {1, 6, 1}, {2, 7, 1}}));
    EXPECT_EQ(counters(), counters_with(3, 1, 1));
}

TEST_F(Recovery, WritesNothingToPss) {
    link_update(7, 1, 12, 300);
    link_update(8, 2, 13, 301);
    emu::pss::flush();
    emu::journal::clear();
    restart_and_recover();
    ASSERT_EQ(queue_ids(), (std::vector<uint32_t>{7, 8}));
    EXPECT_TRUE(emu::pss::pending().empty());
    for (const auto &c : emu::journal::calls())
        EXPECT_TRUE(c.op != "fu_vdc_add_pss_data" && c.op != "fu_vdc_add_pss_key_to_delete")
            << c.op;
}

TEST_F(Recovery, RefusedLookupEndsOnlyItsOwnPass) {
    struct Case {
        uint32_t refused;
        std::string error;
        std::string silent;             // the refused pass's first fetch, never reached
        std::vector<uint32_t> reserved; // type-1 indexes reserved afterwards
        std::vector<uint32_t> ids;
        std::vector<uint32_t> counts; // realloc, pending restored, hw restored
    };
    const Case cases[] = {
        {kPending,
         "Error restoring Pending DI DB\n",
         "In rire_orsk_pss_get_first_pending_di_data\n",
         {12},
         {5},
         {1, 0, 1}},
        {kHw,
         "Error restoring HW update req DB\n",
         "In rire_orsk_pss_get_first_hw_update_data\n",
         {9},
         {},
         {1, 1, 0}},
    };
    plant(kPending, le32(0x10009), pending_value(1, 1, 0, {}));
    plant(kHw, le32(5), hw_record(1, {{100, 12}}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        faults::set(faults::Id::kPssLookupRefuse, {.target = c.refused});
        restart_and_recover();
        faults::reset();
        EXPECT_EQ(errors(), Strings{c.error});
        const Strings m = messages();
        EXPECT_EQ(std::count(m.begin(), m.end(), c.silent), 0);
        EXPECT_EQ(emu::bitmaps::allocator(1)->allocated(), c.reserved);
        EXPECT_EQ(queue_ids(), c.ids);
        EXPECT_EQ(counters(), counters_with(c.counts[0], c.counts[1], c.counts[2]));
    }
}

TEST_F(Recovery, FailedFetchEndsTheWalkLikeTheEndOfRecords) {
    struct Case {
        const char *name;
        uint32_t type;
        bool key; // the key fetch fails, else the value fetch
        uint32_t at;
        std::vector<uint32_t> ids;
        uint32_t pending_restored;
        uint32_t hw_restored;
    };
    const Case cases[] = {
        {"hw key at 2", kHw, true, 2, {1}, 2, 1},
        {"hw value at 3", kHw, false, 3, {1, 2}, 2, 2},
        {"hw key at 1", kHw, true, 1, {}, 2, 0},
        {"pending value at 1", kPending, false, 1, {1, 2, 3}, 0, 3},
        {"pending key at 2", kPending, true, 2, {1, 2, 3}, 1, 3},
    };
    for (uint32_t id : {1u, 2u, 3u})
        plant(kHw, le32(id), hw_record(1, {{static_cast<uint16_t>(100 + id), 10 + id}}));
    plant(kPending, le32(0x10021), pending_value(1, 1, 0, {}));
    plant(kPending, le32(0x10022), pending_value(1, 1, 0, {}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        faults::set(c.key ? faults::Id::kPssGetkeyFail : faults::Id::kPssGetvalueFail,
                    {.target = c.type, .count = c.at});
        restart_and_recover();
        faults::reset();
        EXPECT_EQ(queue_ids(), c.ids);
        EXPECT_EQ(counters()[20], c.pending_restored);
        EXPECT_EQ(counters()[21], c.hw_restored);
        const Strings m = messages();
        const bool walk_ended = std::find(m.begin(), m.end(), end_of_walk(c.type)) != m.end();
        EXPECT_FALSE(walk_ended) << "the cut walk never reaches the end of the records";
        EXPECT_TRUE(errors().empty());
    }
}

TEST_F(Recovery, PendingRecordIndexIsReservedAsTheKeyGivesIt) {
    struct Case {
        uint32_t key;
        bool live;
        std::vector<std::vector<int64_t>> calls;
    };
    const Case cases[] = {
        {0x10005, false, {{1, 5, 1}}},
        {0x20005, false, {{1, 5, 1}}},
        {0x10000, false, {{1, 0, 1}}},
        {0x1FFFF, false, {{1, 65535, 1}}},
        {0x10005, true, {}},
        {0x2FFFF, true, {}},
        {0xFFFF0007, false, {{1, 7, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        emu::oiflists::reset();
        emu::stats::reset();
        if (c.live)
            emu::oiflists::declare(1, c.key & 0xFFFF);
        plant(kPending, le32(c.key), pending_value(1, 1, 0, {}));
        recover();
        emu::pss::delete_raw(kPending, le32(c.key));
        EXPECT_EQ(reservations(), c.calls);
        EXPECT_EQ(existence_queries(),
                  (std::vector<std::vector<int64_t>>{{1, static_cast<int64_t>(c.key & 0xFFFF)}}));
        EXPECT_EQ(counters(), counters_with(c.calls.size(), 1, 0));
        EXPECT_TRUE(errors().empty());
    }
}

TEST_F(Recovery, EntryIndexRulesDecideReservationAndReAdding) {
    struct Case {
        uint32_t index;
        bool live;
        bool reserved;
        bool readded;
        bool garbage;
    };
    const Case cases[] = {
        {12, false, true, true, false},         {12, true, false, true, false},
        {65534, false, true, true, false},      {65535, false, false, false, true},
        {65535, true, false, true, false},      {70000, false, false, false, true},
        {0xFFFFFFFF, true, false, true, false},
    };
    for (const Case &c : cases) {
        for (uint32_t db : {kPending, kHw}) {
            SCOPED_TRACE(std::to_string(c.index) + (c.live ? " live" : "") +
                         (db == kHw ? " hw" : " pending"));
            emu::oiflists::reset();
            emu::stats::reset();
            // The pending record's own index names a live oiflist, so only
            // the entry can reserve.
            emu::oiflists::declare(1, 1);
            if (c.live)
                emu::oiflists::declare(1, c.index);
            const Bytes key = db == kHw ? le32(4) : le32(0x10001);
            plant(db, key,
                  db == kHw ? hw_record(1, {{100, c.index}}) : pending_record(1, {{100, c.index}}));
            recover();
            emu::pss::delete_raw(db, key);
            const char *decode = db == kHw ? kHwDecode : kPendingDecode;
            using Calls = std::vector<std::vector<int64_t>>;
            const Calls calls = c.reserved ? Calls{{1, c.index, 1}} : Calls{};
            EXPECT_EQ(reservations(), calls);
            EXPECT_EQ(counters()[17], c.reserved ? 1u : 0u);
            const Strings garbage = {
                text("%s: recovered index is garbage %d for DI %d\n", decode, c.index, 100)};
            EXPECT_EQ(errors(), c.garbage ? garbage : Strings{});
            const bool held = db == kHw && c.readded;
            const std::vector<Request> want = {{4, 1, {{100, c.index, 1}}}};
            EXPECT_EQ(requests(), held ? want : std::vector<Request>{});
            if (held)
                hw_done(4);
        }
    }
}

TEST_F(Recovery, EntryWithZeroDiOrIndexIsSkippedWithoutAskingTheHost) {
    plant(kHw, le32(3), hw_record(1, {{0, 12}, {100, 0}, {101, 13}, {0, 0}}));
    recover();
    EXPECT_EQ(errors(), (Strings{text("%s: skipping index %d Di %d\n", kHwDecode, 12, 0),
                                 text("%s: skipping index %d Di %d\n", kHwDecode, 0, 100),
                                 text("%s: skipping index %d Di %d\n", kHwDecode, 0, 0)}));
    EXPECT_EQ(existence_queries(), (std::vector<std::vector<int64_t>>{{1, 13}}));
    EXPECT_EQ(requests(), (std::vector<Request>{{3, 1, {{101, 13, 1}}}}));
    EXPECT_EQ(counters(), counters_with(1, 0, 1));
}

TEST_F(Recovery, SameIndexInRecordAndEntryIsReservedTwice) {
    plant(kPending, le32(0x10007), pending_record(1, {{50, 7}}));
    recover();
    EXPECT_EQ(reservations(), (std::vector<std::vector<int64_t>>{{1, 7, 1}, {1, 7, 1}}));
    EXPECT_EQ(emu::bitmaps::allocator(1)->re_alloc_calls(), 2u);
    EXPECT_EQ(counters(), counters_with(2, 1, 0));
}

TEST_F(Recovery, RecordWithNothingToReAddIsCountedButCreatesNoRequest) {
    plant(kHw, le32(1), hw_value(1, 0, {}));
    plant(kHw, le32(2), hw_record(1, {{0, 5}, {6, 0}}));
    plant(kHw, le32(3), hw_record(1, {{60, 70000}}));
    recover();
    EXPECT_EQ(request_queue().count, 0u);
    EXPECT_EQ(counters(), counters_with(0, 0, 3));
}

TEST_F(Recovery, TypeWithoutBitmapReservesNothing) {
    for (uint8_t type : {uint8_t{0}, uint8_t{7}}) {
        SCOPED_TRACE(int{type});
        emu::stats::reset();
        plant(kPending, le32(0x20005), pending_value(type, 1, 0, {}));
        plant(kHw, le32(8), hw_record(type, {{100, 12}}));
        recover();
        emu::pss::delete_raw(kPending, le32(0x20005));
        emu::pss::delete_raw(kHw, le32(8));
        EXPECT_EQ(errors(), (Strings{
                                text("%s: no index bitmap for oiflist type %d, index %d not "
                                     "reserved\n",
                                     kPendingPass, type, 5),
                                text("%s: no index bitmap for oiflist type %d, index %d not "
                                     "reserved\n",
                                     kHwDecode, type, 12),
                            }));
        EXPECT_TRUE(reservations().empty());
        EXPECT_EQ(counters(), counters_with(0, 1, 1));
        // The DI itself is still held against its request.
        EXPECT_EQ(requests(), (std::vector<Request>{{8, type, {{100, 12, 1}}}}));
        hw_done(8);
    }
}

TEST_F(Recovery, OtherTlvTypeIsSkippedAndTheOifTlvStillRead) {
    const Bytes two = entries({{11, 21}, {12, 22}});
    plant(kHw, le32(6), hw_value(1, 2, tlv(2, two) + tlv(kOifTlv, two) + tlv(0x101, {})));
    recover();
    EXPECT_EQ(errors(), (Strings{text("%s Invalid Oiflist TLV Type %d", kHwDecode, 2),
                                 text("%s Invalid Oiflist TLV Type %d", kHwDecode, 0x101)}));
    EXPECT_EQ(requests(), (std::vector<Request>{{6, 1, {{12, 22, 1}, {11, 21, 1}}}}));
    const Strings m = messages();
    EXPECT_EQ(std::count(m.begin(), m.end(), "TLV type oif len:16 \n"), 1);
}

TEST_F(Recovery, PendingRecordsAreReadForIndexesOnly) {
    plant(kPending, le32(0x10005), pending_record(1, {{100, 6}, {101, 8}}));
    plant(kPending, le32(0x20005), pending_record(2, {{102, 9}}));
    recover();
    EXPECT_EQ(request_queue().count, 0u);
    EXPECT_EQ(emu::bitmaps::allocator(1)->allocated(), (std::vector<uint32_t>{5, 6, 8}));
    EXPECT_EQ(emu::bitmaps::allocator(2)->allocated(), (std::vector<uint32_t>{5, 9}));
    EXPECT_EQ(counters(), counters_with(5, 2, 0));
    // The records stay stored.
    EXPECT_EQ(emu::pss::records(kPending).size(), 2u);
}

// --- Damaged stored bytes ----------------------------------------------------

TEST_F(Recovery, DamagedValuesNeverCrashAndYieldOnlyWhatTheyHold) {
    struct Case {
        const char *name;
        Bytes value;
        std::vector<Held> held; // of request 1
    };
    const Bytes three = entries({{31, 41}, {32, 42}, {33, 43}});
    const std::vector<Case> cases = {
        {"empty", {}, {}},
        {"1 byte", {1}, {}},
        {"reserved only", {1, 1, 1, 1}, {}},
        {"5 bytes", {0, 0, 0, 0, 1}, {}},
        {"header only, count 3", {0, 0, 0, 0, 1, 3}, {}},
        {"len beyond the value", hw_value(1, 3, tlv(kOifTlv, three, 80)), {}},
        {"len one beyond the value", hw_value(1, 3, tlv(kOifTlv, three, 26)), {}},
        {"cut payload", Bytes{0, 0, 0, 0, 1, 3} + head(tlv(kOifTlv, three), 20), {}},
        {"len not a multiple of 8",
         hw_value(1, 3, tlv(kOifTlv, three, 20)),
         {{32, 42, 1}, {31, 41, 1}}},
        {"count 255, 16-byte payload",
         hw_value(1, 255, tlv(kOifTlv, entries({{51, 61}, {52, 62}}))),
         {{52, 62, 1}, {51, 61, 1}}},
        {"count below the payload", hw_value(1, 1, tlv(kOifTlv, three)), {{31, 41, 1}}},
        {"count 0 with a payload", hw_value(1, 0, tlv(kOifTlv, three)), {}},
        {"bad marker", Bytes{0, 0, 0, 0, 1, 1, 7, 1, 0, 8, 0} + entries({{9, 9}}), {}},
        {"oif TLV twice", hw_value(1, 1, tlv(kOifTlv, three) + tlv(kOifTlv, three)), {{31, 41, 2}}},
        {"unknown types only", hw_value(1, 3, tlv(0, three) + tlv(0xFFFF, three)), {}},
        {"TLV header cut", Bytes{0, 0, 0, 0, 1, 1, 1, 1}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        emu::stats::reset();
        plant(kHw, le32(1), c.value);
        recover();
        EXPECT_EQ(counters()[21], 1u);
        const std::vector<Request> want = {{1, 1, c.held}};
        EXPECT_EQ(requests(), c.held.empty() ? std::vector<Request>{} : want);
        if (!c.held.empty())
            hw_done(1);
        emu::pss::delete_raw(kHw, le32(1));
    }
}

TEST_F(Recovery, ShortPendingValuesReadAsZeros) {
    for (const Bytes &value : {Bytes{}, Bytes{2}, Bytes{1, 1}, Bytes{1, 1, 9}}) {
        SCOPED_TRACE(value.size());
        emu::stats::reset();
        plant(kPending, le32(0x10004), value);
        recover();
        emu::pss::delete_raw(kPending, le32(0x10004));
        const uint32_t type = value.empty() ? 0 : value[0];
        // The record's own index only; a missing count is 0.
        EXPECT_EQ(counters(), counters_with(type == 0 ? 0 : 1, 1, 0));
    }
}

TEST_F(Recovery, KeysOfOtherLengthsAreRecoveredWithoutCrashing) {
    plant(kHw, {5, 0}, hw_record(1, {{100, 12}}));
    plant(kHw, {1, 2, 3, 4, 5, 6}, hw_record(1, {{101, 13}}));
    plant(kHw, {9}, hw_record(1, {{102, 14}}));
    plant(kPending, {4, 0, 1, 0, 7, 7, 7, 7}, pending_value(1, 1, 0, {}));
    recover();
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{9, 5, 0x04030201}));
    EXPECT_EQ(reservations(),
              (std::vector<std::vector<int64_t>>{{1, 4, 1}, {1, 14, 1}, {1, 12, 1}, {1, 13, 1}}));
}

// --- Round trip through what the plugin writes -------------------------------

TEST_F(Recovery, HeldDisComeBackNewestLastWithCountOneAndTheirIndexes) {
    link_update(7, 2, 31, 11);
    link_update(7, 2, 32, 11); // held twice: ref_count 2, index of the first hold
    link_update(7, 2, 33, 12);
    link_update(7, 2, 34, 13);
    ASSERT_EQ(requests(), (std::vector<Request>{{7, 2, {{13, 34, 1}, {12, 33, 1}, {11, 31, 2}}}}));
    emu::pss::flush();
    restart_and_recover();
    EXPECT_EQ(requests(), (std::vector<Request>{{7, 2, {{11, 31, 1}, {12, 33, 1}, {13, 34, 1}}}}));
    EXPECT_EQ(emu::bitmaps::allocator(2)->allocated(), (std::vector<uint32_t>{31, 33, 34}));
    EXPECT_EQ(counters(), counters_with(3, 0, 1));
}

TEST_F(Recovery, RequestsComeBackInKeyOrder) {
    for (uint32_t id : {300u, 5u, 70000u, 6u})
        link_update(id, 1, 12, 100);
    swap(6, 2);
    emu::pss::flush();
    restart_and_recover();
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{2, 5, 300, 70000}));
}

TEST_F(Recovery, UpdatesNotFlushedAreNotRecovered) {
    link_update(7, 1, 12, 100);
    emu::pss::flush();
    link_update(8, 1, 13, 101);
    link_update(7, 1, 14, 102);
    restart_and_recover();
    EXPECT_EQ(requests(), (std::vector<Request>{{7, 1, {{100, 12, 1}}}}));
}

// A host pending-DI record with the DIs it holds; the elements are the
// plugin's (malloc), freed with the record.
struct HostRecord {
    rire_orsk_di_req rec{};
    HostRecord() = default;
    HostRecord(const HostRecord &) = delete;
    ~HostRecord() {
        for (auto *e = static_cast<rire_orsk_di_hold_q_elem *>(rec.hold_q.head); e;) {
            auto *next = e->next;
            std::free(e);
            e = next;
        }
    }
};

// Random sequences of link updates, swaps, completions, pending-DI writes and
// flushes, from a fixed seed. After a flush and a restart every request comes
// back with its id, type and DIs (reversed, count 1, same index); every index
// that a record refers to is reserved again in its type's bitmap; completing
// the rebuilt requests and deleting the pending records empties both databases.
TEST_F(Recovery, RandomSequencesComeBackRequestByRequest) {
    std::mt19937 rng(20240501);
    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    // Looked up at each call: every restart loads a new copy of the plugin.
    auto enqueue = [this](queue_hdr *q, uint32_t di, uint32_t index) {
        uint32_t is_new;
        fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue")(q, di, index,
                                                                                  &is_new);
    };
    constexpr int kSequences = 30;
    uint32_t fresh_id = 1000;
    for (int seq = 0; seq < kSequences; seq++) {
        SCOPED_TRACE("sequence " + std::to_string(seq));
        ASSERT_TRUE(emu::pss::records(kHw).empty());
        ASSERT_TRUE(emu::pss::records(kPending).empty());
        std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<HostRecord>> host;
        const uint32_t index_span = pick(0, 1) ? 40 : 65534;
        const int steps = static_cast<int>(pick(1, 60));
        for (int step = 0; step < steps; step++) {
            const std::vector<uint32_t> ids = queue_ids();
            auto some_id = [&] { return ids.empty() ? pick(1, 9) : ids[pick(0, ids.size() - 1)]; };
            const uint32_t op = pick(0, 99);
            if (op < 55) {
                const uint32_t id = pick(0, 2) == 0 ? pick(1, 30) : some_id();
                const uint32_t di = pick(0, 15) == 0 ? (pick(0, 1) ? 0 : 0xFFFFFFFF) : pick(1, 20);
                link_update(id, pick(1, 2), pick(1, index_span), di);
            } else if (op < 65) {
                swap(some_id(), fresh_id++);
            } else if (op < 73) {
                hw_done(some_id());
            } else if (op < 90) {
                const auto key = std::make_pair(pick(1, 2), pick(1, index_span));
                auto &slot = host[key];
                if (slot && pick(0, 2) == 0) {
                    uint32_t index = key.second;
                    fn<decltype(&rire_orsk_pss_delete_pending_di_info)>(
                        "rire_orsk_pss_delete_pending_di_info")(key.first, &index);
                    host.erase(key);
                    continue;
                }
                if (!slot) {
                    slot = std::make_unique<HostRecord>();
                    slot->rec.oiflist_type = key.first;
                    slot->rec.oiflist_index = key.second;
                    slot->rec.state = 1;
                }
                for (uint32_t n = pick(0, 3); n > 0; n--)
                    enqueue(&slot->rec.hold_q, pick(1, 20), pick(1, index_span));
                fn<decltype(&rire_orsk_pss_insert_pending_di_info)>(
                    "rire_orsk_pss_insert_pending_di_info")(key.first, &slot->rec);
            } else {
                emu::pss::flush();
            }
        }
        emu::pss::flush();

        // What recovery must give back, from what the plugin and host held.
        std::vector<Request> expected = requests();
        std::sort(expected.begin(), expected.end(),
                  [](const Request &a, const Request &b) { return a.id < b.id; });
        std::map<uint32_t, std::set<uint32_t>> reserved;
        uint32_t reservation_calls = 0;
        for (Request &r : expected) {
            std::reverse(r.held.begin(), r.held.end());
            for (Held &h : r.held) {
                h.ref_count = 1;
                reserved[r.type].insert(h.index);
                reservation_calls++;
            }
        }
        for (const auto &[key, record] : host) {
            reserved[key.first].insert(key.second);
            reservation_calls++;
            for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(record->rec.hold_q.head);
                 e; e = e->next, reservation_calls++)
                reserved[key.first].insert(e->oiflist_index);
        }

        restart_and_recover();
        EXPECT_EQ(requests(), expected);
        for (uint32_t type : {1u, 2u}) {
            const auto got = emu::bitmaps::allocator(type)->allocated();
            EXPECT_EQ(std::set<uint32_t>(got.begin(), got.end()), reserved[type]) << type;
        }
        EXPECT_EQ(counters(), counters_with(reservation_calls, host.size(), expected.size()));
        EXPECT_TRUE(emu::pss::pending().empty());

        for (uint32_t id : queue_ids())
            hw_done(id);
        for (const auto &[key, record] : host) {
            uint32_t index = key.second;
            fn<decltype(&rire_orsk_pss_delete_pending_di_info)>(
                "rire_orsk_pss_delete_pending_di_info")(key.first, &index);
        }
        emu::pss::flush();
        EXPECT_TRUE(emu::pss::records(kHw).empty());
        EXPECT_TRUE(emu::pss::records(kPending).empty());
        if (HasFailure())
            return;
    }
}

// --- The fuzz corpus ---------------------------------------------------------

const std::filesystem::path kCorpus = std::filesystem::path(RIRE_SOURCE_DIR) / "fuzz" / "corpus";

Bytes read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every saved fuzz input recovers without breaking an invariant.
TEST_F(Recovery, FuzzCorpusReplays) {
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(kCorpus))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << kCorpus;
    for (const auto &path : files) {
        const Bytes input = read_file(path);
        EXPECT_EQ(rire_fuzz::recover_input(*plugin_, input.data(), input.size()), "")
            << path.filename();
    }
}

// Seeds of the corpus: records the plugin really writes, taken from the store,
// and hand-made damaged ones. The test checks that the committed corpus holds
// them; RIRE_WRITE_CORPUS=1 (re)writes them instead.
class SeedCorpus : public Recovery {
  protected:
    // The store's records as planting commands; the store is emptied after.
    Bytes take_store() {
        emu::pss::flush();
        Bytes input;
        for (uint32_t type : {kPending, kHw})
            for (const auto &[key, value] : emu::pss::records(type)) {
                input = input + rire_fuzz::encode_record(type, key, value);
                emu::pss::delete_raw(type, key);
            }
        for (uint32_t id : queue_ids())
            hw_done(id);
        emu::pss::flush();
        return input;
    }

    void write_pending(uint8_t type, uint32_t index, std::initializer_list<Entry> held) {
        HostRecord r;
        r.rec.oiflist_type = type;
        r.rec.oiflist_index = index;
        r.rec.state = 1;
        auto enqueue = fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue");
        for (const Entry &e : held) {
            uint32_t is_new;
            enqueue(&r.rec.hold_q, e.di, e.index, &is_new);
        }
        fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
            type, &r.rec);
        emu::pss::flush();
    }

    std::map<std::string, Bytes> seeds() {
        std::map<std::string, Bytes> out;
        link_update(258, 2, 31, 11);
        link_update(258, 2, 32, 12);
        link_update(258, 2, 33, 13);
        out["real-hw-three-dis"] = take_store();

        write_pending(1, 5, {{100, 6}, {101, 7}});
        write_pending(2, 5, {});
        out["real-pending-both-types"] = take_store();

        // Flushed as it grows: each write takes the whole record from the arena.
        for (uint32_t di = 1; di <= 300; di++)
            if (link_update(9, 1, di, di), di % 10 == 0)
                emu::pss::flush();
        out["real-hw-full-record"] = take_store();

        link_update(7, 1, 65534, 100);
        link_update(8, 2, 12, 101);
        link_update(8, 2, 12, 101);
        swap(7, 70000);
        write_pending(1, 12, {{102, 13}});
        out["real-mixed"] = take_store() + rire_fuzz::encode_oiflist(2, 12);

        using rire_fuzz::encode_record;
        const Bytes three = entries({{31, 41}, {32, 42}, {33, 43}});
        out["bad-short-values"] = encode_record(kHw, le32(1), {}) +
                                  encode_record(kHw, le32(2), {0, 0, 0, 0, 1}) +
                                  encode_record(kPending, le32(0x10003), {1, 1});
        out["bad-tlv-len-lies"] = encode_record(kHw, le32(4), hw_value(1, 3, tlv(1, three, 80))) +
                                  encode_record(kHw, le32(5), hw_value(1, 3, tlv(1, three, 20)));
        out["bad-count-255"] =
            encode_record(kHw, le32(6), hw_value(1, 255, tlv(1, entries({{51, 61}, {52, 62}}))));
        out["bad-tlv-types"] =
            encode_record(kHw, le32(7), hw_value(1, 3, tlv(2, three) + tlv(1, three))) +
            encode_record(kPending, le32(0x10008), pending_value(1, 1, 3, tlv(0xFFFF, three)));
        out["bad-key-lengths"] = encode_record(kHw, {5, 0}, hw_record(1, {{100, 12}})) +
                                 encode_record(kHw, {1, 2, 3, 4, 5, 6}, hw_record(1, {{1, 1}})) +
                                 encode_record(kPending, {9}, pending_value(2, 1, 0, {}));
        out["bad-indexes-and-types"] =
            encode_record(kHw, le32(10), hw_record(1, {{0, 12}, {100, 0}, {101, 65535}})) +
            encode_record(kHw, le32(11), hw_record(7, {{102, 14}})) +
            encode_record(kPending, le32(0x1FFFF), pending_record(0, {{103, 65534}})) +
            rire_fuzz::encode_oiflist(1, 65535);
        return out;
    }
};

TEST_F(SeedCorpus, HoldsRealAndDamagedRecords) {
    const char *write = std::getenv("RIRE_WRITE_CORPUS");
    for (const auto &[name, bytes] : seeds()) {
        const std::filesystem::path path = kCorpus / name;
        if (write != nullptr && std::string(write) == "1") {
            std::filesystem::create_directories(kCorpus);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char *>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
        EXPECT_EQ(read_file(path), bytes)
            << name << " differs from what the plugin writes now; rerun with RIRE_WRITE_CORPUS=1";
    }
}

} // namespace
} // namespace rire_test
