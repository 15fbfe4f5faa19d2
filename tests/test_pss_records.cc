// The records the plugin keeps in the two PSS databases, byte for byte as
// they land in LMDB, and the writes and deletes that put them there.
#include <cstdlib>
#include <deque>
#include <tuple>

#include "emu/tlv.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::bytes::Bytes;

constexpr uint32_t kPendingDi = RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
constexpr uint32_t kHwUpdate = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;

// One held DI as a stored entry: di and the oiflist index it refers to.
struct Held {
    uint16_t di;
    uint32_t index;
};

void put16(Bytes &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes &b, uint32_t v) {
    const Bytes w = le32(v);
    b.insert(b.end(), w.begin(), w.end());
}

// A value: its header, then (for a nonempty hold queue) one oif TLV in the
// host TLV utility's encoding (marker 1, u16 type 1, u16 payload length,
// 8-byte entries di/pad 0/oiflist_index), zero-filled to
// L = tlv_size_get(8n) + 7 = 5 + 8n + 7. `entries` lists the queue's order.
Bytes value_of(Bytes header, const std::vector<Held> &entries) {
    Bytes v = std::move(header);
    if (!entries.empty()) {
        v.push_back(1);
        put16(v, 1);
        put16(v, static_cast<uint32_t>(8 * entries.size()));
        for (const Held &h : entries) {
            put16(v, h.di);
            put16(v, 0);
            put32(v, h.index);
        }
    }
    v.resize(5 + 8 * entries.size() + 7, 0);
    return v;
}

Bytes hw_value(uint8_t req_type, const std::vector<Held> &entries) {
    return value_of({0, 0, 0, 0, req_type, static_cast<uint8_t>(entries.size())}, entries);
}

Bytes pending_value(uint8_t type, uint8_t state, const std::vector<Held> &entries) {
    return value_of({type, state, static_cast<uint8_t>(entries.size())}, entries);
}

// Names of the framework calls journalled since `from`.
std::vector<std::string> fu_calls_since(size_t from) {
    std::vector<std::string> ops;
    const auto &calls = emu::journal::calls();
    for (size_t i = from; i < calls.size(); i++)
        if (calls[i].op.rfind("fu_", 0) == 0)
            ops.push_back(calls[i].op);
    return ops;
}

class PssRecords : public PluginTest {
  protected:
    void TearDown() override {
        for (rire_orsk_hw_update_req &r : host_requests_)
            release(r.hold_q);
        for (rire_orsk_di_req &d : host_di_reqs_)
            release(d.hold_q);
        PluginTest::TearDown();
    }

    void add(uint32_t req_id, uint8_t type, uint32_t di, uint32_t index) {
        fn<decltype(&rire_orsk_add_di_to_hw_update_req)>("rire_orsk_add_di_to_hw_update_req")(
            req_id, type, di, index, 0);
    }
    void insert_hw(rire_orsk_hw_update_req *req) {
        fn<decltype(&rire_orsk_pss_insert_hw_update_info)>("rire_orsk_pss_insert_hw_update_info")(
            req);
    }
    void delete_hw(rire_orsk_hw_update_req *req) {
        fn<decltype(&rire_orsk_pss_delete_hw_update_info)>("rire_orsk_pss_delete_hw_update_info")(
            req);
    }
    void insert_pending(uint8_t type, rire_orsk_di_req *rec) {
        fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
            type, rec);
    }
    void delete_pending(uint8_t type, uint32_t *index) {
        fn<decltype(&rire_orsk_pss_delete_pending_di_info)>("rire_orsk_pss_delete_pending_di_info")(
            type, index);
    }

    // Holds DIs through the plugin's exported enqueue so that the queue reads
    // as `queue` (newest first): the last entry is held first.
    void hold(queue_hdr &q, const std::vector<Held> &queue) {
        auto enqueue = fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue");
        for (auto h = queue.rbegin(); h != queue.rend(); ++h) {
            uint32_t is_new = 0;
            ASSERT_NE(enqueue(&q, h->di, h->index, &is_new), nullptr);
        }
    }
    void release(queue_hdr &q) {
        auto dequeue = fn<decltype(&rire_orsk_di_hold_q_dequeue)>("rire_orsk_di_hold_q_dequeue");
        while (rire_orsk_di_hold_q_elem *e = dequeue(&q))
            std::free(e);
    }

    // Host-made records; their held elements are freed at the end of the test.
    rire_orsk_hw_update_req &host_request(uint32_t req_id, uint8_t type,
                                          const std::vector<Held> &queue) {
        rire_orsk_hw_update_req &r = host_requests_.emplace_back();
        r.req_id = req_id;
        r.req_type = type;
        hold(r.hold_q, queue);
        return r;
    }
    rire_orsk_di_req &host_di_req(uint32_t index, uint32_t type, uint32_t state,
                                  const std::vector<Held> &queue) {
        rire_orsk_di_req &d = host_di_reqs_.emplace_back();
        d.oiflist_index = index;
        d.oiflist_type = type;
        d.state = state;
        hold(d.hold_q, queue);
        return d;
    }

    void flush() { ASSERT_EQ(emu::pss::flush(), 0); }

    std::deque<rire_orsk_hw_update_req> host_requests_;
    std::deque<rire_orsk_di_req> host_di_reqs_;
};

TEST_F(PssRecords, HwUpdateRecordBytesInStore) {
    add(7, 1, 100, 10);
    add(7, 1, 200, 20);
    add(258, 2, 300, 30);
    add(258, 2, 400, 40);
    add(258, 2, 500, 50);
    add(0x80000001u, 1, 600, 60);
    flush();
    const Bytes three = hw_value(2, {{500, 50}, {400, 40}, {300, 30}});
    // Reserved, req_type 2, three DIs; marker, type 1, a 24-byte payload.
    EXPECT_EQ(Bytes(three.begin(), three.begin() + 11), (Bytes{0, 0, 0, 0, 2, 3, 1, 1, 0, 24, 0}));
    EXPECT_EQ(three.size(), 5 + 24 + 7u);
    EXPECT_EQ(emu::pss::records("hw_update"),
              (emu::pss::Records{
                  {le32(7), hw_value(1, {{200, 20}, {100, 10}})},
                  {{0x02, 0x01, 0x00, 0x00}, three},
                  {{0x01, 0x00, 0x00, 0x80}, hw_value(1, {{600, 60}})},
              }));
    EXPECT_TRUE(emu::pss::records("pending_di").empty());
}

TEST_F(PssRecords, WriteTracesEachPersistedDiThenTheReqId) {
    rire_orsk_hw_update_req &req = host_request(0x80000001u, 2, {{200, 20}, {100, 10}});
    mark_log();
    insert_hw(&req);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "rire_orsk_get_hw_update_pss_info: pss'ed DI 200 index 20\n",
                              "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n",
                              "rire_orsk_pss_insert_hw_update_info: req_id -2147483647\n",
                          }));
    EXPECT_EQ(
        queued(),
        (std::vector<Update>{
            {'W', kHwUpdate, {0x01, 0x00, 0x00, 0x80}, hw_value(2, {{200, 20}, {100, 10}})}}));
}

TEST_F(PssRecords, TlvGoesBehindTheHeaderSizedByTheWholeValue) {
    rire_orsk_hw_update_req &req = host_request(7, 1, {{200, 20}, {100, 10}});
    api().pss_buf_commit();
    const size_t from = emu::journal::calls().size();
    insert_hw(&req);
    const emu::journal::Call *add_tlv = nullptr;
    for (size_t i = from; i < emu::journal::calls().size(); i++)
        if (emu::journal::calls()[i].op == "tlv_array_add_tlv")
            add_tlv = &emu::journal::calls()[i];
    ASSERT_NE(add_tlv, nullptr);
    // The value is the fourth block of the write: after key 4 and two datums of 8.
    const int64_t value = emu::bytes::address(plugin_->pss_buf() + 20);
    EXPECT_EQ(add_tlv->args, (std::vector<int64_t>{value + 6, 5 + 16 + 7, 1, 16, 0}));
}

TEST_F(PssRecords, RequestWithoutDisIsStoredWithAnEmptyArray) {
    rire_orsk_hw_update_req req{};
    req.req_id = 9;
    req.req_type = 2;
    mark_log();
    const size_t from = emu::journal::calls().size();
    insert_hw(&req);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"rire_orsk_pss_insert_hw_update_info: req_id 9\n"}));
    for (size_t i = from; i < emu::journal::calls().size(); i++)
        EXPECT_NE(emu::journal::calls()[i].op, "tlv_array_add_tlv");
    flush();
    const Bytes empty = {0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(hw_value(2, {}), empty);
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{le32(9), empty}}));
}

TEST_F(PssRecords, EachNewDiRewritesTheWholeRecordUnderTheSameKey) {
    add(7, 1, 100, 10);
    add(7, 1, 100, 10); // held again: no write
    add(7, 1, 200, 20);
    EXPECT_EQ(queued(), (std::vector<Update>{
                            {'W', kHwUpdate, le32(7), hw_value(1, {{100, 10}})},
                            {'W', kHwUpdate, le32(7), hw_value(1, {{200, 20}, {100, 10}})},
                        }));
    flush();
    add(7, 1, 300, 30);
    const Bytes three = hw_value(1, {{300, 30}, {200, 20}, {100, 10}});
    EXPECT_EQ(queued(), (std::vector<Update>{{'W', kHwUpdate, le32(7), three}}));
    flush();
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{le32(7), three}}));
}

TEST_F(PssRecords, RekeyDeletesTheOldKeyBeforeWritingTheNewOne) {
    add(7, 2, 100, 10);
    add(7, 2, 200, 20);
    flush();
    mark_log();
    const size_t from = emu::journal::calls().size();
    swap(7, 9);
    const Bytes value = hw_value(2, {{200, 20}, {100, 10}});
    EXPECT_EQ(queued(), (std::vector<Update>{{'D', kHwUpdate, le32(7), {}},
                                             {'W', kHwUpdate, le32(9), value}}));
    EXPECT_EQ(fu_calls_since(from),
              (std::vector<std::string>{"fu_vdc_add_pss_key_to_delete", "fu_vdc_add_pss_data"}));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 7 \n",
                  "rire_orsk_get_hw_update_pss_info: pss'ed DI 200 index 20\n",
                  "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n",
                  "rire_orsk_pss_insert_hw_update_info: req_id 9\n",
                  "rire_orsk_hw_update_req_q_update: Done with swapping req_id old_id:7 new_id:9\n",
              }));
    flush();
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{le32(9), value}}));
}

TEST_F(PssRecords, DeleteQueuesTheReqIdKeyAndTracesIt) {
    rire_orsk_hw_update_req &req = host_request(258, 2, {{100, 10}});
    insert_hw(&req);
    flush();
    mark_log();
    delete_hw(&req);
    EXPECT_EQ(queued(), (std::vector<Update>{{'D', kHwUpdate, {0x02, 0x01, 0x00, 0x00}, {}}}));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 258 \n"}));
    flush();
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
}

TEST_F(PssRecords, RefusedEncodingQueuesNothingAndKeepsTheValueInTheArena) {
    rire_orsk_hw_update_req &req = host_request(7, 1, {{100, 10}, {200, 20}});
    rire_orsk_di_req &rec = host_di_req(5, 1, 1, {{300, 30}});
    faults::set(faults::Id::kTlvAddRefuse, {});
    const uint32_t used_before = *plugin_->pss_buf_used();
    mark_log();
    insert_hw(&req);
    insert_pending(1, &rec);
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(
        messages(),
        (std::vector<std::string>{
            "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n",
            "rire_orsk_get_hw_update_pss_info: pss'ed DI 200 index 20\n",
            "Error adding tlv type = 1 size 16\n", "Failed to get the PSS value info for hw_update",
            "Error adding tlv type = 1 size 8\n", "Failed to get the PSS value info for Oiflist"}));
    // A refusal is recorded under the encoder's own name, not a helper's.
    EXPECT_EQ(wrapped()[2].rfind("rire_orsk_get_hw_update_pss_info(", 0), 0u) << wrapped()[2];
    EXPECT_EQ(wrapped()[4].rfind("rire_orsk_get_pending_di_pss_info(", 0), 0u) << wrapped()[4];
    // key, two datums and the value of each write stay carved until the commit
    EXPECT_EQ(*plugin_->pss_buf_used() - used_before, (4 + 8 + 8 + 28) + (4 + 8 + 8 + 20));
    faults::reset();
    flush();
    EXPECT_EQ(*plugin_->pss_buf_used(), 0u);
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
}

TEST_F(PssRecords, PendingDiRecordKeyTagAndValue) {
    struct Row {
        uint8_t type_arg;
        uint32_t index, oiflist_type, state;
        std::vector<Held> queue;
        Bytes key;
        uint8_t stored_type, stored_state;
        uint32_t traced_key;
    };
    // In key order. Only the argument tags the key (1 for type 1, 2 for any
    // other); the record's own type and state go into the value, low 8 bits.
    const std::vector<Row> rows = {
        {1, 5, 1, 1, {{301, 6}, {300, 5}}, {0x05, 0x00, 0x01, 0x00}, 1, 1, 65541},
        {1, 6, 2, 0, {}, {0x06, 0x00, 0x01, 0x00}, 2, 0, 65542},
        {2, 5, 2, 1, {{302, 7}, {301, 6}, {300, 5}}, {0x05, 0x00, 0x02, 0x00}, 2, 1, 131077},
        {0, 7, 0x103, 0x201, {{9, 7}}, {0x07, 0x00, 0x02, 0x00}, 3, 1, 131079},
        {9, 65534, 2, 1, {{9, 65534}}, {0xFE, 0xFF, 0x02, 0x00}, 2, 1, 196606},
    };
    emu::pss::Records expected;
    for (const Row &row : rows) {
        SCOPED_TRACE("index " + std::to_string(row.index));
        const Bytes value = pending_value(row.stored_type, row.stored_state, row.queue);
        rire_orsk_di_req &rec = host_di_req(row.index, row.oiflist_type, row.state, row.queue);
        const std::string trace = "oif_index " + std::to_string(row.traced_key) + "\n";
        mark_log();
        insert_pending(row.type_arg, &rec);
        EXPECT_EQ(messages(),
                  (std::vector<std::string>{"rire_orsk_pss_insert_pending_di_info: " + trace}));
        EXPECT_EQ(queued(), (std::vector<Update>{{'W', kPendingDi, row.key, value}}));
        flush();
        expected.emplace_back(row.key, value);
    }
    EXPECT_EQ(emu::pss::records("pending_di"), expected);
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
}

TEST_F(PssRecords, PendingDiDeleteNamesTheTaggedKey) {
    struct Row {
        uint8_t type;
        uint32_t index;
        Bytes key;
        std::string trace;
    };
    const std::vector<Row> rows = {
        {2, 5, {0x05, 0x00, 0x02, 0x00}, "oiflist index 131077 \n"},
        {1, 5, {0x05, 0x00, 0x01, 0x00}, "oiflist index 65541 \n"},
        {0, 300, {0x2C, 0x01, 0x02, 0x00}, "oiflist index 131372 \n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE("index " + std::to_string(row.index));
        uint32_t index = row.index;
        mark_log();
        const size_t from = emu::journal::calls().size();
        delete_pending(row.type, &index);
        EXPECT_EQ(queued(), (std::vector<Update>{{'D', kPendingDi, row.key, {}}}));
        EXPECT_EQ(fu_calls_since(from), (std::vector<std::string>{"fu_vdc_add_pss_key_to_delete"}));
        EXPECT_EQ(messages(),
                  (std::vector<std::string>{
                      "rire_orsk_pss_delete_pending_di_info: Deleted di_req for " + row.trace}));
        emu::pss::discard_pending();
    }
}

TEST_F(PssRecords, PendingDiDeleteRemovesOnlyTheRecordOfItsType) {
    rire_orsk_di_req &type1 = host_di_req(5, 1, 1, {{100, 5}});
    rire_orsk_di_req &type2 = host_di_req(5, 2, 1, {{200, 5}});
    insert_pending(1, &type1);
    insert_pending(2, &type2);
    flush();
    ASSERT_EQ(emu::pss::records("pending_di").size(), 2u);
    // The record itself stands for its index: its first field is oiflist_index.
    delete_pending(2, &type2.oiflist_index);
    flush();
    EXPECT_EQ(emu::pss::records("pending_di"),
              (emu::pss::Records{{{0x05, 0x00, 0x01, 0x00}, pending_value(1, 1, {{100, 5}})}}));
}

TEST_F(PssRecords, NullArgumentsAreIgnoredSilently) {
    mark_log();
    const size_t from = emu::journal::calls().size();
    const uint32_t used = *plugin_->pss_buf_used();
    insert_hw(nullptr);
    delete_hw(nullptr);
    insert_pending(1, nullptr);
    delete_pending(1, nullptr);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(emu::journal::calls().size(), from);
    EXPECT_EQ(*plugin_->pss_buf_used(), used);
    EXPECT_EQ(emu::pss::pending_count(), 0u);
}

// num_hold_di is one byte: a longer hold queue is stored as its 255 newest DIs.
TEST_F(PssRecords, LongHoldQueueIsStoredAsItsNewest255Dis) {
    std::vector<Held> queue;
    for (uint16_t di = 300; di >= 1; di--)
        queue.push_back({di, 1000u + di});
    const std::vector<Held> newest_255(queue.begin(), queue.begin() + 255);
    rire_orsk_hw_update_req &req = host_request(7, 1, queue);
    rire_orsk_di_req &rec = host_di_req(5, 1, 1, queue);
    mark_log();
    insert_hw(&req);
    insert_pending(1, &rec);
    flush();

    const Bytes hw = hw_value(1, newest_255);
    const Bytes pending = pending_value(1, 1, newest_255);
    ASSERT_EQ(hw.size(), 2052u);
    EXPECT_EQ(hw[5], 255);
    EXPECT_EQ(Bytes(hw.begin() + 6, hw.begin() + 11), (Bytes{1, 1, 0, 0xF8, 0x07}));
    EXPECT_EQ(emu::pss::records("hw_update"), (emu::pss::Records{{le32(7), hw}}));
    EXPECT_EQ(emu::pss::records("pending_di"),
              (emu::pss::Records{{{0x05, 0x00, 0x01, 0x00}, pending}}));

    const std::vector<std::string> logged = messages();
    ASSERT_EQ(logged.size(), 255u + 2);
    EXPECT_EQ(logged.front(), "rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 1300\n");
    EXPECT_EQ(logged[254], "rire_orsk_get_hw_update_pss_info: pss'ed DI 46 index 1046\n");
}

TEST_F(PssRecords, OnlyFlushedUpdatesSurviveARestart) {
    rire_orsk_di_req &rec = host_di_req(5, 1, 1, {{100, 5}});
    add(7, 1, 100, 10);
    insert_pending(1, &rec);
    flush();
    add(8, 1, 200, 20);
    delete_pending(1, &rec.oiflist_index);
    EXPECT_EQ(emu::pss::pending_count(), 2u);
    restart_and_recover();
    EXPECT_EQ(emu::pss::records("hw_update"),
              (emu::pss::Records{{le32(7), hw_value(1, {{100, 10}})}}));
    EXPECT_EQ(emu::pss::records("pending_di"),
              (emu::pss::Records{{{0x05, 0x00, 0x01, 0x00}, pending_value(1, 1, {{100, 5}})}}));
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{7}));
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{100}));
}

} // namespace
} // namespace rire_test
