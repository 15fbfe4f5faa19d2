// The PSS scratch arena, the queueing of writes and deletions with the host's
// framework, what the record operations do when either runs out or says no,
// and the registration of the two services.
#include <cstring>
#include <functional>
#include <map>
#include <tuple>

#include "emu/dropped_updates.h"
#include "emu/tlv.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::bytes::Bytes;

constexpr uint32_t kArenaSize = RIRE_ORSK_PSS_BUF_SIZE;
constexpr uint32_t kPendingDi = RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
constexpr uint32_t kHwUpdate = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
constexpr uint32_t kError = RIRE_ORSK_LOG_LEVEL_ERROR;
constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
const std::string kOutOfBounds = "ERROR: request for a buf out of bounds \n";

using Leveled = std::vector<std::pair<uint32_t, std::string>>;
// The journalled calls named `op` since `from`.
std::vector<emu::journal::Call> calls_since(size_t from, const std::string &op) {
    std::vector<emu::journal::Call> out;
    const auto &calls = emu::journal::calls();
    for (size_t i = from; i < calls.size(); i++)
        if (calls[i].op == op)
            out.push_back(calls[i]);
    return out;
}

class PssArenaTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_NE(plugin_->pss_buf(), nullptr);
        ASSERT_NE(plugin_->pss_buf_used(), nullptr);
        ASSERT_NE(plugin_->pss_buf_cursor(), nullptr);
    }

    void *alloc(uint32_t n) {
        return fn<decltype(&rire_orsk_pss_buf_allocate)>("rire_orsk_pss_buf_allocate")(n);
    }
    uint8_t *buf() { return plugin_->pss_buf(); }
    uint32_t used() { return *plugin_->pss_buf_used(); }
    uint8_t *cursor() { return *plugin_->pss_buf_cursor(); }
    // Where the next block begins: a null cursor stands for the start.
    uint8_t *next_free() { return cursor() == nullptr ? buf() : cursor(); }
    pss_datum datum_at(uint32_t offset) {
        pss_datum d;
        std::memcpy(&d, buf() + offset, sizeof d);
        return d;
    }

    // Empties the arena, then fills it so that exactly `free_bytes` stay free.
    void leave_free(uint32_t free_bytes) {
        api().pss_buf_commit();
        if (free_bytes < kArenaSize) {
            ASSERT_NE(alloc(kArenaSize - free_bytes), nullptr);
        }
        mark_log();
    }

    // (level, message) of the event-log records since the last mark.
    Leveled leveled() {
        Leveled out;
        const std::vector<std::string> texts = messages();
        for (size_t i = 0; i < texts.size(); i++)
            out.emplace_back(emu::log::event_log()[log_mark_ + i].level, texts[i]);
        return out;
    }

    // (level, full text) of the event-log records since the last mark.
    Leveled leveled_wrapped() {
        Leveled out;
        for (size_t i = log_mark_; i < emu::log::event_log().size(); i++)
            out.emplace_back(emu::log::event_log()[i].level,
                             std::string(emu::log::event_log()[i].text()));
        return out;
    }

    void add(uint32_t req_id, uint32_t di, uint32_t index, uint32_t no_persist = 0) {
        fn<decltype(&rire_orsk_add_di_to_hw_update_req)>("rire_orsk_add_di_to_hw_update_req")(
            req_id, 1, di, index, no_persist);
    }
    rire_orsk_hw_update_req *mutable_request(uint32_t req_id) {
        return const_cast<rire_orsk_hw_update_req *>(request(req_id));
    }

    // A plugin that has run its init but whose services are not registered.
    void reboot_without_services() {
        plugin_.reset();
        emu::host_restart();
        std::string error;
        plugin_ = emu::Plugin::load(RIRE_PLUGIN_PATH, &error);
        ASSERT_TRUE(plugin_) << error;
        ASSERT_TRUE(plugin_->init());
        mark_log();
    }
};

using PssArena = PssArenaTest;
using PssArenaExhaustion = PssArenaTest;
using PssStore = PssArenaTest;
using PssOpenFile = PssArenaTest;

TEST_F(PssArena, BlocksFollowEachOtherUnalignedFromTheStart) {
    EXPECT_EQ(api().pss_buf_commit(), 0);
    EXPECT_EQ(used(), 0u);
    EXPECT_EQ(cursor(), nullptr);
    EXPECT_EQ(alloc(5), buf());
    EXPECT_EQ(alloc(3), buf() + 5);
    EXPECT_EQ(alloc(1), buf() + 8);
    EXPECT_EQ(used(), 9u);
    EXPECT_EQ(cursor(), buf() + 9);
    EXPECT_TRUE(messages().empty());
}

TEST_F(PssArena, CommitEmptiesTheArenaWithoutClearingIt) {
    api().pss_buf_commit();
    std::memcpy(alloc(4), "\x11\x22\x33\x44", 4);
    alloc(100);
    EXPECT_EQ(api().pss_buf_commit(), 0);
    EXPECT_EQ(used(), 0u);
    EXPECT_EQ(cursor(), nullptr);
    EXPECT_EQ(Bytes(buf(), buf() + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(api().pss_buf_commit(), 0);
    EXPECT_EQ(fn<decltype(&rire_orsk_pss_buf_commit)>("rire_orsk_pss_buf_commit")(), 0);
    EXPECT_EQ(alloc(2), buf());
}

TEST_F(PssArena, ZeroByteAllocationReturnsTheNextFreeByteAndTakesNothing) {
    for (uint32_t filled : {0u, 5u, kArenaSize}) {
        SCOPED_TRACE("filled " + std::to_string(filled));
        leave_free(kArenaSize - filled);
        EXPECT_EQ(alloc(0), buf() + filled);
        EXPECT_EQ(used(), filled);
        EXPECT_EQ(next_free(), buf() + filled);
        EXPECT_TRUE(messages().empty());
    }
}

TEST_F(PssArena, LastFourBytesFitThenOneMoreFails) {
    api().pss_buf_commit();
    EXPECT_EQ(alloc(kArenaSize - 4), buf());
    EXPECT_EQ(alloc(4), buf() + kArenaSize - 4);
    EXPECT_EQ(used(), kArenaSize);
    mark_log();
    EXPECT_EQ(alloc(1), nullptr);
    EXPECT_EQ(leveled(), (Leveled{{kError, kOutOfBounds}}));
    ASSERT_EQ(wrapped().size(), 1u);
    EXPECT_EQ(wrapped()[0].rfind("rire_orsk_pss_buf_allocate(", 0), 0u) << wrapped()[0];
    EXPECT_EQ(used(), kArenaSize);
    EXPECT_EQ(next_free(), buf() + kArenaSize);

    api().pss_buf_commit();
    EXPECT_EQ(alloc(kArenaSize), buf());
}

TEST_F(PssArena, FailedAllocationChangesNothingWhateverTheSize) {
    api().pss_buf_commit();
    ASSERT_EQ(alloc(100), buf());
    // The last size would wrap the 32-bit sum back to 0.
    for (uint32_t size : {kArenaSize - 99, kArenaSize, 0x80000000u, 0xFFFFFFFFu, 0u - 100}) {
        SCOPED_TRACE("size " + std::to_string(size));
        mark_log();
        EXPECT_EQ(alloc(size), nullptr);
        EXPECT_EQ(leveled(), (Leveled{{kError, kOutOfBounds}}));
        EXPECT_EQ(used(), 100u);
        EXPECT_EQ(cursor(), buf() + 100);
    }
    EXPECT_EQ(alloc(kArenaSize - 100), buf() + 100);
}

// A write carves key, key datum, value datum and value, in that order; a
// deletion key and key datum. The framework reads them at flush, then the
// commit callback empties the arena.
TEST_F(PssArena, RecordBlocksLiveUntilTheFlushCommits) {
    api().pss_buf_commit();
    add(7, 100, 10);
    const uint32_t value_len = 5 + 8 + 7;
    ASSERT_EQ(used(), 4 + 8 + 8 + value_len);
    EXPECT_EQ(Bytes(buf(), buf() + 4), le32(7));
    EXPECT_EQ(datum_at(4).data, buf());
    EXPECT_EQ(datum_at(4).len, 4u);
    EXPECT_EQ(datum_at(12).data, buf() + 20);
    EXPECT_EQ(datum_at(12).len, value_len);
    swap(7, 9);
    EXPECT_EQ(Bytes(buf() + 40, buf() + 44), le32(7));
    EXPECT_EQ(datum_at(44).data, buf() + 40);
    EXPECT_EQ(used(), 40u + 12 + 40);

    ASSERT_EQ(emu::pss::flush(), 0);
    EXPECT_EQ(emu::journal::calls().back().op, "fu_pss_commit");
    EXPECT_EQ(used(), 0u);
    EXPECT_EQ(cursor(), nullptr);
    // Header (reserved, req_type 1, one DI), oif TLV (marker, type 1, 8 bytes:
    // di, pad, oiflist index), one zero byte to make up L.
    const auto one_di = [](uint8_t di, uint8_t index) {
        return Bytes{0, 0, 0, 0, 1, 1, 1, 1, 0, 8, 0, di, 0, 0, 0, index, 0, 0, 0, 0};
    };
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{le32(9), one_di(100, 10)}}));

    // The next interval reuses the arena; what LMDB holds is its own copy.
    add(8, 200, 20);
    EXPECT_EQ(Bytes(buf(), buf() + 4), le32(8));
    ASSERT_EQ(emu::pss::flush(), 0);
    EXPECT_EQ(emu::pss::records("hw_update"),
              (emu::pss::Records{{le32(8), one_di(200, 20)}, {le32(9), one_di(100, 10)}}));
}

// Each record operation with exactly `free_bytes` left: a failing allocation
// logs the arena's error, then the operation's own text at its own level; the
// operation queues nothing, and what it carved before stays carved.
TEST_F(PssArenaExhaustion, EachAllocationOfARecordOperationReportsItsOwnFailure) {
    add(7, 100, 10, /*no_persist=*/1); // value of 20 bytes
    rire_orsk_di_req di_req{};         // no held DIs: value of 12 bytes
    di_req.oiflist_index = 5;
    di_req.oiflist_type = 1;
    const std::function<void()> write_hw = [&] {
        fn<decltype(&rire_orsk_pss_insert_hw_update_info)>("rire_orsk_pss_insert_hw_update_info")(
            mutable_request(7));
    };
    const std::function<void()> delete_hw = [&] {
        fn<decltype(&rire_orsk_pss_delete_hw_update_info)>("rire_orsk_pss_delete_hw_update_info")(
            mutable_request(7));
    };
    const std::function<void()> write_pending = [&] {
        fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
            1, &di_req);
    };
    const std::function<void()> delete_pending = [&] {
        fn<decltype(&rire_orsk_pss_delete_pending_di_info)>("rire_orsk_pss_delete_pending_di_info")(
            1, &di_req.oiflist_index);
    };
    const std::string req_id_key = "ERROR: Failed to alloc memory for req_id key\n";
    const std::string req_id_key_del = "ERROR: Failed to alloc memory for req id key\n";
    const std::string oiflist_key = "ERROR: Failed to alloc memory for oiflist key\n";
    const std::string datum_key = "ERROR: Failed to alloc memory for PSS datum key\n";
    const std::string datum_value = "ERROR: Failed to alloc mem for PSS datum value \n";
    struct Row {
        const char *op;
        const std::function<void()> &run;
        uint32_t free_bytes;
        Leveled log; // after the arena's own error
        uint32_t carved;
    };
    const std::vector<Row> rows = {
        {"write hw_update", write_hw, 0, {{kError, req_id_key}}, 0},
        {"write hw_update", write_hw, 3, {{kError, req_id_key}}, 0},
        {"write hw_update", write_hw, 4, {{kError, datum_key}}, 4},
        {"write hw_update", write_hw, 11, {{kError, datum_key}}, 4},
        {"write hw_update", write_hw, 12, {{kTrace, datum_value}}, 12},
        {"write hw_update", write_hw, 19, {{kTrace, datum_value}}, 12},
        {"write hw_update", write_hw, 20, {{kError, "Failed to allocate memory of size 20"}}, 20},
        {"write hw_update", write_hw, 39, {{kError, "Failed to allocate memory of size 20"}}, 20},
        {"delete hw_update", delete_hw, 0, {{kError, req_id_key_del}}, 0},
        {"delete hw_update", delete_hw, 11, {{kError, datum_key}}, 4},
        {"write pending_di", write_pending, 3, {{kError, oiflist_key}}, 0},
        {"write pending_di", write_pending, 4, {{kError, datum_key}}, 4},
        {"write pending_di", write_pending, 19, {{kTrace, datum_value}}, 12},
        {"write pending_di",
         write_pending,
         31,
         {{kError, "Failed to allocate memory of size 12"}},
         20},
        {"delete pending_di", delete_pending, 0, {{kError, oiflist_key}}, 0},
        {"delete pending_di", delete_pending, 4, {{kError, datum_key}}, 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.op) + " with " + std::to_string(row.free_bytes) + " free");
        leave_free(row.free_bytes);
        const size_t from = emu::journal::calls().size();
        row.run();
        Leveled expected = {{kError, kOutOfBounds}};
        expected.insert(expected.end(), row.log.begin(), row.log.end());
        EXPECT_EQ(leveled(), expected);
        EXPECT_EQ(used(), kArenaSize - row.free_bytes + row.carved);
        EXPECT_EQ(emu::pss::pending_count(), 0u);
        EXPECT_TRUE(calls_since(from, "fu_vdc_add_pss_data").empty());
        EXPECT_TRUE(calls_since(from, "fu_vdc_add_pss_key_to_delete").empty());
    }

    // With exactly enough room each operation goes through and fills the arena.
    const std::vector<std::pair<const std::function<void()> *, uint32_t>> exact = {
        {&write_hw, 40}, {&delete_hw, 12}, {&write_pending, 32}, {&delete_pending, 12}};
    for (const auto &[run, room] : exact) {
        SCOPED_TRACE("room " + std::to_string(room));
        leave_free(room);
        emu::pss::discard_pending();
        (*run)();
        EXPECT_EQ(used(), kArenaSize);
        EXPECT_EQ(emu::pss::pending_count(), 1u);
        for (const auto &[level, text] : leveled())
            EXPECT_EQ(level, kTrace) << text;
    }
    emu::pss::discard_pending();
}

TEST_F(PssArenaExhaustion, StoreLagsMemoryUntilTheRecordIsWrittenAgain) {
    add(7, 100, 10);
    ASSERT_EQ(emu::pss::flush(), 0);
    leave_free(0);
    add(7, 200, 20);
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{200, 100}));
    EXPECT_EQ(emu::pss::pending_count(), 0u);
    ASSERT_EQ(emu::pss::flush(), 0);
    ASSERT_EQ(emu::pss::records("hw_update").size(), 1u);
    EXPECT_EQ(emu::pss::records("hw_update")[0].second[5], 1);

    add(7, 300, 30);
    ASSERT_EQ(emu::pss::flush(), 0);
    ASSERT_EQ(emu::pss::records("hw_update").size(), 1u);
    EXPECT_EQ(emu::pss::records("hw_update")[0].second[5], 3);
}

TEST_F(PssStore, StoreReturnsOneWhenQueuedAndZeroWhenRefused) {
    auto store = fn<decltype(&rire_orsk_pss_buf_store)>("rire_orsk_pss_buf_store");
    uint8_t key_bytes[4] = {1, 2, 3, 4};
    uint8_t value_bytes[3] = {9, 8, 7};
    pss_datum key = {key_bytes, 4};
    pss_datum value = {value_bytes, 3};
    const size_t from = emu::journal::calls().size();
    EXPECT_EQ(store(kHwUpdate, &key, &value), 1u);
    EXPECT_TRUE(messages().empty());
    const auto adds = calls_since(from, "fu_vdc_add_pss_data");
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_EQ(adds[0].args, (std::vector<int64_t>{emu::pss::kVdcNum, kHwUpdate, 0, 0}));
    EXPECT_EQ(queued(), (std::vector<Update>{{'W', kHwUpdate, {1, 2, 3, 4}, {9, 8, 7}}}));

    faults::set(faults::Id::kPssWriteRefuse, {.target = kHwUpdate});
    for (uint32_t service : {kHwUpdate, 22u}) {
        SCOPED_TRACE("service " + std::to_string(service));
        mark_log();
        EXPECT_EQ(store(service, &key, &value), 0u);
        EXPECT_EQ(leveled(), (Leveled{{kError, "ERROR: rire_orsk_pss_buf_store failed"}}));
    }
    EXPECT_EQ(emu::pss::pending_count(), 1u);
    ASSERT_EQ(emu::pss::flush(), 0);
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{{1, 2, 3, 4}, {9, 8, 7}}}));
}

TEST_F(PssStore, DeleteReturnsZeroWhenQueuedAndLogsARefusal) {
    auto erase = fn<decltype(&rire_orsk_pss_buf_delete)>("rire_orsk_pss_buf_delete");
    uint8_t key_bytes[4] = {5, 0, 2, 0};
    pss_datum key = {key_bytes, 4};
    const size_t from = emu::journal::calls().size();
    EXPECT_EQ(erase(kPendingDi, &key), 0u);
    EXPECT_TRUE(messages().empty());
    const auto deletes = calls_since(from, "fu_vdc_add_pss_key_to_delete");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].args, (std::vector<int64_t>{emu::pss::kVdcNum, kPendingDi, 0}));
    EXPECT_EQ(queued(), (std::vector<Update>{{'D', kPendingDi, {5, 0, 2, 0}, {}}}));

    faults::set(faults::Id::kPssDeleteRefuse, {.target = kPendingDi});
    mark_log();
    erase(kPendingDi, &key);
    EXPECT_EQ(leveled(), (Leveled{{kError, "ERROR: rire_orsk_pss_buf_delete failed"}}));
    EXPECT_EQ(emu::pss::pending_count(), 1u);
    emu::pss::discard_pending();
}

TEST_F(PssStore, RefusedRecordWriteIsReportedTwiceAndStillTraced) {
    add(7, 100, 10, /*no_persist=*/1);
    rire_orsk_di_req di_req{};
    di_req.oiflist_index = 5;
    di_req.oiflist_type = 2;
    faults::set(faults::Id::kPssWriteRefuse, {.target = kHwUpdate});
    faults::set(faults::Id::kPssWriteRefuse, {.target = kPendingDi});
    api().pss_buf_commit();
    mark_log();
    fn<decltype(&rire_orsk_pss_insert_hw_update_info)>("rire_orsk_pss_insert_hw_update_info")(
        mutable_request(7));
    fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
        2, &di_req);
    EXPECT_EQ(leveled(), (Leveled{
                             {kTrace, "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"},
                             {kError, "ERROR: rire_orsk_pss_buf_store failed"},
                             {kError, "ERROR: rire_orsk_pss_insert_hw_update_info failed\n"},
                             {kTrace, "rire_orsk_pss_insert_hw_update_info: req_id 7\n"},
                             {kError, "ERROR: rire_orsk_pss_buf_store failed"},
                             {kError, "ERROR: rire_orsk_pss_insert_pending_di_info failed\n"},
                             {kTrace, "rire_orsk_pss_insert_pending_di_info: oif_index 131077\n"},
                         }));
    EXPECT_EQ(emu::pss::pending_count(), 0u);
    // The blocks of both writes stay carved until the next commit.
    EXPECT_EQ(used(), (4 + 8 + 8 + 20) + (4 + 8 + 8 + 12u));
    ASSERT_EQ(emu::pss::flush(), 0);
    EXPECT_EQ(used(), 0u);
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
}

TEST_F(PssStore, RefusedRecordDeleteIsReportedOnceAndStillTraced) {
    add(7, 100, 10);
    ASSERT_EQ(emu::pss::flush(), 0);
    faults::set(faults::Id::kPssDeleteRefuse, {.target = kHwUpdate});
    faults::set(faults::Id::kPssDeleteRefuse, {.target = kPendingDi});
    mark_log();
    swap(7, 9);
    uint32_t index = 5;
    fn<decltype(&rire_orsk_pss_delete_pending_di_info)>("rire_orsk_pss_delete_pending_di_info")(
        1, &index);
    EXPECT_EQ(
        leveled(),
        (Leveled{
            {kError, "ERROR: rire_orsk_pss_buf_delete failed"},
            {kTrace, "rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 7 \n"},
            {kTrace, "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"},
            {kTrace, "rire_orsk_pss_insert_hw_update_info: req_id 9\n"},
            {kTrace, "rire_orsk_hw_update_req_q_update: Done with swapping req_id "
                     "old_id:7 new_id:9\n"},
            {kError, "ERROR: rire_orsk_pss_buf_delete failed"},
            {kTrace,
             "rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 65541 \n"},
        }));
    // PSS now lags: the old key was never deleted.
    ASSERT_EQ(emu::pss::flush(), 0);
    EXPECT_EQ(emu::pss::records("hw_update").size(), 2u);
}

// A host that must not lose an update silently recognises each one the
// plugin abandons, once, by the cause its error record names.
TEST_F(PssStore, EachAbandonedUpdateIsRecognisedOnceByItsCause) {
    using emu::dropped::Reason;
    const auto switch_row = [](faults::Id id, uint32_t target) {
        return [id, target](bool on) {
            on ? faults::set(id, {.target = target}) : faults::clear(id, target);
        };
    };
    const struct {
        Reason reason;
        std::function<void(bool)> fault;
        std::function<void(uint32_t)> update; // on request req_id, which holds a DI
    } cases[] = {
        {Reason::kArenaFull, [this](bool on) { on ? leave_free(8) : leave_free(kArenaSize); },
         [this](uint32_t req) { add(req, 200, 20); }},
        {Reason::kTlvRefused, switch_row(faults::Id::kTlvAddRefuse, 0),
         [this](uint32_t req) { add(req, 200, 20); }},
        {Reason::kWriteRefused, switch_row(faults::Id::kPssWriteRefuse, kHwUpdate),
         [this](uint32_t req) { add(req, 200, 20); }},
        {Reason::kDeleteRefused, switch_row(faults::Id::kPssDeleteRefuse, kHwUpdate),
         [this](uint32_t req) { hw_done(req); }},
    };
    uint32_t req = 10;
    for (const auto &c : cases) {
        SCOPED_TRACE(emu::dropped::describe(c.reason));
        add(++req, 100, 10, /*no_persist=*/1);
        c.fault(true);
        mark_log();
        c.update(req);
        std::vector<Reason> found;
        for (const auto &[level, text] : leveled_wrapped())
            if (auto reason = emu::dropped::classify(level, text))
                found.push_back(*reason);
        EXPECT_EQ(found, std::vector<Reason>{c.reason});
        c.fault(false);
    }
}

TEST_F(PssOpenFile, RegistersPendingDiThenHwUpdate) {
    reboot_without_services();
    const size_t from = emu::journal::calls().size();
    emu::pss::InitArg init_arg;
    EXPECT_EQ(api().pss_open_file(&init_arg), 0);
    EXPECT_EQ(init_arg.registered, (std::vector<uint32_t>{kPendingDi, kHwUpdate}));
    EXPECT_EQ(emu::pss::services(), (std::map<uint32_t, std::string>{{kPendingDi, "pending_di"},
                                                                     {kHwUpdate, "hw_update"}}));
    std::vector<std::string> ops;
    for (size_t i = from; i < emu::journal::calls().size(); i++)
        if (emu::journal::calls()[i].op.rfind("fu_", 0) == 0)
            ops.push_back(emu::journal::calls()[i].op);
    EXPECT_EQ(ops, (std::vector<std::string>{
                       "fu_global_pss_service_default_arg", "fu_init_arg_add_pss_service",
                       "fu_global_pss_service_default_arg", "fu_init_arg_add_pss_service"}));
    // Descriptor words 0 (type), 1, 9 (key length), 10 (value length); word 2 names it.
    const auto regs = calls_since(from, "fu_init_arg_add_pss_service");
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0].args, (std::vector<int64_t>{kPendingDi, 0, 4, 0}));
    EXPECT_EQ(regs[0].detail, "pending_di");
    EXPECT_EQ(regs[1].args, (std::vector<int64_t>{kHwUpdate, 0, 4, 0}));
    EXPECT_EQ(regs[1].detail, "hw_update");
    EXPECT_EQ(leveled(), (Leveled{{kTrace, "rire_orsk_pss_open_file: Done..\n"}}));
}

TEST_F(PssOpenFile, ReturnsTheHwUpdateStatusOnly) {
    struct Row {
        bool refuse_pending_di, refuse_hw_update;
        int32_t status;
        std::vector<uint32_t> registered;
    };
    const std::vector<Row> rows = {
        {true, false, 0, {kHwUpdate}},
        {false, true, emu::pss::kErrRefused, {kPendingDi}},
        {true, true, emu::pss::kErrRefused, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.refuse_pending_di) + std::to_string(row.refuse_hw_update));
        faults::reset();
        for (auto [refused, service] : {std::pair{row.refuse_pending_di, kPendingDi},
                                        std::pair{row.refuse_hw_update, kHwUpdate}})
            if (refused)
                faults::set(faults::Id::kPssRegisterRefuse, {.target = service});
        reboot_without_services();
        const size_t from = emu::journal::calls().size();
        emu::pss::InitArg init_arg;
        EXPECT_EQ(api().pss_open_file(&init_arg), row.status);
        EXPECT_EQ(init_arg.registered, row.registered);
        EXPECT_EQ(calls_since(from, "fu_init_arg_add_pss_service").size(), 2u);
        EXPECT_EQ(messages(), (std::vector<std::string>{"rire_orsk_pss_open_file: Done..\n"}));
    }
}

TEST_F(PssOpenFile, WritesToAServiceThatFailedToRegisterAreRefused) {
    faults::set(faults::Id::kPssRegisterRefuse, {.target = kPendingDi});
    reboot_without_services();
    emu::pss::InitArg init_arg;
    ASSERT_EQ(api().pss_open_file(&init_arg), 0);
    rire_orsk_di_req di_req{};
    di_req.oiflist_index = 5;
    di_req.oiflist_type = 1;
    mark_log();
    fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
        1, &di_req);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "ERROR: rire_orsk_pss_buf_store failed",
                              "ERROR: rire_orsk_pss_insert_pending_di_info failed\n",
                              "rire_orsk_pss_insert_pending_di_info: oif_index 65541\n"}));
    EXPECT_EQ(emu::pss::pending_count(), 0u);
}

} // namespace
} // namespace rire_test
