// Outstanding hardware-update requests and their DI hold queues: creating a
// request on first use, holding DIs newest first and counting repeats, the
// PSS writes that mirror each new hold, re-keying a request to a new message
// id, and what happens when the plugin's allocations fail.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "emu/journal.h"
#include "emu/pss.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kHwUpdateDb = 21;

using HeldDi = std::pair<uint16_t, uint32_t>; // di, oiflist_index

// A hardware-update value as it is queued for PSS: bytes 4 and 5 are
// req_type and num_hold_di, then one oif TLV (the emulator's encoding: marker
// 1, u16 type, u16 length, payload) of 8-byte entries: di u16, 2 bytes, index u32.
struct StoredRequest {
    uint8_t req_type = 0;
    uint8_t num_hold_di = 0;
    std::vector<HeldDi> dis;
};

uint32_t u32_at(const emu::bytes::Bytes &b, size_t off) {
    uint32_t v = 0;
    if (off + 4 <= b.size())
        std::memcpy(&v, b.data() + off, 4);
    return v;
}

StoredRequest decode(const emu::bytes::Bytes &value) {
    StoredRequest r;
    if (value.size() < 6)
        return r;
    r.req_type = value[4];
    r.num_hold_di = value[5];
    if (value.size() < 11 || value[6] != 1)
        return r;
    const size_t payload = value[9] | (value[10] << 8);
    for (size_t off = 11; off + 8 <= 11 + payload && off + 8 <= value.size(); off += 8)
        r.dis.emplace_back(static_cast<uint16_t>(value[off] | (value[off + 1] << 8)),
                           u32_at(value, off + 4));
    return r;
}

class Requests : public PluginTest {
  protected:
    uint32_t add(uint32_t req_id, uint8_t type, uint32_t di, uint32_t index,
                 uint32_t no_persist = 0) {
        return fn<decltype(&rire_orsk_add_di_to_hw_update_req)>(
            "rire_orsk_add_di_to_hw_update_req")(req_id, type, di, index, no_persist);
    }
    rire_orsk_di_hold_q_elem *enqueue(queue_hdr *q, uint32_t di, uint32_t index, uint32_t *is_new) {
        return fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue")(
            q, di, index, is_new);
    }
    rire_orsk_di_hold_q_elem *dequeue(queue_hdr *q) {
        return fn<decltype(&rire_orsk_di_hold_q_dequeue)>("rire_orsk_di_hold_q_dequeue")(q);
    }
    rire_orsk_di_hold_q_elem *first_held(uint32_t req_id) {
        return static_cast<rire_orsk_di_hold_q_elem *>(request(req_id)->hold_q.head);
    }
    // Queued hardware-update writes, in order.
    std::vector<std::pair<uint32_t, StoredRequest>> pss_writes() {
        std::vector<std::pair<uint32_t, StoredRequest>> writes;
        for (const emu::pss::Pending &p : emu::pss::pending())
            if (p.kind == emu::pss::Kind::kWrite && p.service == kHwUpdateDb)
                writes.emplace_back(u32_at(p.key, 0), decode(p.value));
        return writes;
    }
    // Queued updates of any kind as "write 7" / "delete 7".
    std::vector<std::string> pss_updates() {
        std::vector<std::string> updates;
        for (const emu::pss::Pending &p : emu::pss::pending())
            updates.push_back((p.kind == emu::pss::Kind::kWrite ? "write " : "delete ") +
                              std::to_string(p.service) + ":" + std::to_string(u32_at(p.key, 0)));
        return updates;
    }
};

TEST_F(Requests, AddingOneDiTwiceCountsItUpAndWritesPssOnce) {
    EXPECT_EQ(add(7, 1, 100, 12), 1u);
    EXPECT_EQ(add(7, 1, 100, 12), 1u);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "rire_orsk_hw_update_req_q_insert: Inserted req_id:7 to pending hw_update\n",
                  "rire_orsk_add_di_to_hw_update_req: Adding DI:100 to hold_q for hw_update "
                  "Req:7\n",
                  "rire_orsk_di_hold_q_enqueue: Inserted DI:100 to the hold_q\n",
                  "rire_orsk_di_hold_q_enqueue: DI:100, ref_count:1 \n",
                  "rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 12\n",
                  "rire_orsk_pss_insert_hw_update_info: req_id 7\n",
                  "rire_orsk_add_di_to_hw_update_req: Adding DI:100 to hold_q for hw_update "
                  "Req:7\n",
                  "rire_orsk_di_hold_q_enqueue: DI:100, ref_count:2 \n",
              }));
    EXPECT_EQ(queue_ids(), std::vector<uint32_t>{7});
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{100});
    EXPECT_EQ(first_held(7)->ref_count, 2);
    EXPECT_EQ(request(7)->hold_q.count, 1u);
    ASSERT_EQ(pss_writes().size(), 1u);
    EXPECT_EQ(pss_writes()[0].first, 7u);
    EXPECT_EQ(pss_writes()[0].second.dis, (std::vector<HeldDi>{{100, 12}}));
}

TEST_F(Requests, NewRequestRecordIsZeroedApartFromItsKeyAndType) {
    add(7, 2, 100, 12);
    const rire_orsk_hw_update_req *req = request(7);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(req->next, nullptr);
    EXPECT_EQ(req->req_type, 2);
    EXPECT_EQ(req->pad[0] | req->pad[1] | req->pad[2], 0);
    EXPECT_EQ(req->hold_q.count, 1u);
    const rire_orsk_di_hold_q_elem *e = first_held(7);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_EQ(e->di, 100);
    EXPECT_EQ(e->pad0, 0);
    EXPECT_EQ(e->oiflist_index, 12u);
    EXPECT_EQ(e->ref_count, 1);
    EXPECT_EQ(e->pad1, 0);
}

TEST_F(Requests, HoldQueueListsNewestDiFirstAndEachNewHoldRewritesTheRecord) {
    add(7, 1, 100, 12);
    add(7, 1, 200, 13);
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{200, 100}));
    EXPECT_EQ(request(7)->hold_q.count, 2u);
    const auto writes = pss_writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].second.dis, (std::vector<HeldDi>{{100, 12}}));
    EXPECT_EQ(writes[1].first, 7u);
    EXPECT_EQ(writes[1].second.req_type, 1);
    EXPECT_EQ(writes[1].second.num_hold_di, 2);
    EXPECT_EQ(writes[1].second.dis, (std::vector<HeldDi>{{200, 13}, {100, 12}}));
}

TEST_F(Requests, RepeatedHoldKeepsTheOiflistIndexOfTheFirst) {
    add(7, 1, 100, 12);
    add(7, 1, 100, 99);
    EXPECT_EQ(first_held(7)->oiflist_index, 12u);
    EXPECT_EQ(first_held(7)->ref_count, 2);
}

TEST_F(Requests, OneDiHeldInTwoRequestsHasAnElementInEach) {
    add(7, 1, 100, 12);
    add(8, 1, 100, 13);
    EXPECT_NE(first_held(7), first_held(8));
    EXPECT_EQ(first_held(7)->oiflist_index, 12u);
    EXPECT_EQ(first_held(8)->oiflist_index, 13u);
    EXPECT_EQ(first_held(8)->ref_count, 1);
    EXPECT_EQ(pss_writes().size(), 2u);
}

TEST_F(Requests, NewRequestsGoToTheTailAndRepeatAddsDoNotMoveThem) {
    add(7, 1, 100, 1);
    add(8, 1, 100, 1);
    add(9, 1, 100, 1);
    add(7, 1, 200, 1);
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{7, 8, 9}));
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{200, 100}));
}

TEST_F(Requests, NoPersistBuildsTheSameRequestWithoutTouchingPss) {
    const size_t calls = emu::journal::calls().size();
    EXPECT_EQ(add(7, 1, 100, 12, 1), 1u);
    EXPECT_EQ(add(7, 1, 200, 13, 1), 1u);
    EXPECT_EQ(add(7, 1, 100, 12, 7), 1u);
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{200, 100}));
    EXPECT_EQ(first_held(7)->next->ref_count, 2);
    EXPECT_TRUE(emu::pss::pending().empty());
    for (size_t i = calls; i < emu::journal::calls().size(); i++)
        EXPECT_EQ(emu::journal::calls()[i].op.rfind("fu_", 0), std::string::npos)
            << emu::journal::calls()[i].op;
}

TEST_F(Requests, RefCountWrapsFrom65535ToZeroWithoutANewWrite) {
    add(7, 1, 100, 12);
    first_held(7)->ref_count = 65535;
    mark_log();
    EXPECT_EQ(add(7, 1, 100, 12), 1u);
    EXPECT_EQ(first_held(7)->ref_count, 0);
    EXPECT_EQ(messages().back(), "rire_orsk_di_hold_q_enqueue: DI:100, ref_count:0 \n");
    add(7, 1, 100, 12);
    EXPECT_EQ(first_held(7)->ref_count, 1);
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{100});
    EXPECT_EQ(pss_writes().size(), 1u);
}

TEST_F(Requests, EnqueueOnAHostQueueReportsWhetherTheElementIsNew) {
    queue_hdr q{};
    uint32_t is_new = 7;
    rire_orsk_di_hold_q_elem *e = enqueue(&q, 100, 5, &is_new);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(is_new, 1u);
    EXPECT_EQ(q.head, e);
    EXPECT_EQ(q.count, 1u);
    EXPECT_EQ(e->ref_count, 1);
    EXPECT_EQ(enqueue(&q, 100, 6, &is_new), e);
    EXPECT_EQ(is_new, 0u);
    EXPECT_EQ(e->ref_count, 2);
    EXPECT_EQ(e->oiflist_index, 5u);
    rire_orsk_di_hold_q_elem *f = enqueue(&q, 200, 6, &is_new);
    EXPECT_EQ(is_new, 1u);
    EXPECT_EQ(q.head, f);
    EXPECT_EQ(f->next, e);
    EXPECT_EQ(q.count, 2u);
    // Only the low 16 bits of a DI count: 0x10064 is DI 100 again.
    EXPECT_EQ(enqueue(&q, 0x10064, 7, &is_new), e);
    EXPECT_EQ(is_new, 0u);
    EXPECT_TRUE(emu::pss::pending().empty());
    std::free(dequeue(&q));
    std::free(dequeue(&q));
}

TEST_F(Requests, DequeueHandsOutTheNewestElementAndNullWhenEmpty) {
    queue_hdr q{};
    EXPECT_EQ(dequeue(&q), nullptr);
    EXPECT_EQ(q.head, nullptr);
    EXPECT_EQ(q.count, 0u);
    uint32_t is_new;
    enqueue(&q, 100, 1, &is_new);
    enqueue(&q, 200, 2, &is_new);
    mark_log();
    rire_orsk_di_hold_q_elem *first = dequeue(&q);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->di, 200);
    EXPECT_EQ(q.count, 1u);
    rire_orsk_di_hold_q_elem *second = dequeue(&q);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->di, 100);
    EXPECT_EQ(second->oiflist_index, 1u);
    EXPECT_EQ(dequeue(&q), nullptr);
    EXPECT_EQ(q.count, 0u);
    EXPECT_TRUE(messages().empty());
    std::free(first);
    std::free(second);
}

TEST_F(Requests, ReKeyMovesTheRequestToTheTailAndRewritesItUnderTheNewId) {
    add(7, 2, 100, 12);
    add(7, 2, 200, 13);
    add(8, 1, 300, 14);
    emu::pss::flush();
    mark_log();
    const size_t calls = emu::journal::calls().size();
    const rire_orsk_hw_update_req *req = request(7);
    swap(7, 11);
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{8, 11}));
    EXPECT_EQ(request(11), req);
    EXPECT_EQ(held_dis(11), (std::vector<uint16_t>{200, 100}));
    EXPECT_EQ(pss_updates(), (std::vector<std::string>{"delete 21:7", "write 21:11"}));
    const auto writes = pss_writes();
    EXPECT_EQ(writes[0].second.req_type, 2);
    EXPECT_EQ(writes[0].second.dis, (std::vector<HeldDi>{{200, 13}, {100, 12}}));
    EXPECT_EQ(messages().back(), "rire_orsk_hw_update_req_q_update: Done with swapping req_id "
                                 "old_id:7 new_id:11\n");
    std::vector<int64_t> ids;
    for (size_t i = calls; i < emu::journal::calls().size(); i++)
        if (emu::journal::calls()[i].op == "mts_msg_id_get")
            ids.push_back(emu::journal::calls()[i].args.at(1));
    EXPECT_EQ(ids, (std::vector<int64_t>{7, 11}));

    emu::pss::flush();
    const emu::pss::Records stored = emu::pss::records("hw_update");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].first, le32(8));
    EXPECT_EQ(stored[1].first, le32(11));
}

TEST_F(Requests, ReKeyOfAnAbsentIdChangesNothing) {
    add(7, 1, 100, 12);
    emu::pss::flush();
    mark_log();
    swap(5, 6);
    EXPECT_EQ(queue_ids(), std::vector<uint32_t>{7});
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(emu::pss::pending().empty());
}

TEST_F(Requests, ReKeyOntoACarriedIdLeavesTwoRequestsAndAddsFindTheOlder) {
    add(7, 1, 100, 12);
    add(8, 1, 200, 13);
    swap(7, 8);
    EXPECT_EQ(queue_ids(), (std::vector<uint32_t>{8, 8}));
    const auto *older = static_cast<const rire_orsk_hw_update_req *>(request_queue().head);
    mark_log();
    add(8, 1, 300, 14);
    EXPECT_EQ(request(8), older);
    EXPECT_EQ(held_dis(8), (std::vector<uint16_t>{300, 200}));
    EXPECT_EQ(older->next->hold_q.count, 1u);
    EXPECT_EQ(messages().front(),
              "rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:8\n");
}

// --- Allocation failures -----------------------------------------------------

using RequestAllocation = Requests;

TEST_F(RequestAllocation, HeapIsUsedOnlyForRequestsAndNewlyHeldDis) {
    const uint32_t before = plugin_->malloc_calls();
    add(7, 1, 100, 12);
    EXPECT_EQ(plugin_->malloc_calls(), before + 2);
    add(7, 1, 100, 12);
    add(7, 1, 200, 12);
    EXPECT_EQ(plugin_->malloc_calls(), before + 3);
    swap(7, 8);
    emu::pss::flush();
    hw_done(8);
    EXPECT_EQ(plugin_->malloc_calls(), before + 3);
}

TEST_F(RequestAllocation, FailedElementForANewRequestLeavesItEmptyAndUnwritten) {
    faults::set(faults::Id::kLibcMallocFail, {.count = 1});
    EXPECT_EQ(link_update(7, 1, 12, 300), 1u);
    ASSERT_NE(request(7), nullptr);
    EXPECT_EQ(request(7)->hold_q.head, nullptr);
    EXPECT_EQ(request(7)->hold_q.count, 0u);
    EXPECT_TRUE(emu::pss::pending().empty());
    const std::vector<std::string> texts = messages();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[2],
              "rire_orsk_hw_update_req_q_insert: Inserted req_id:7 to pending hw_update\n");
    EXPECT_EQ(texts[3],
              "rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:7\n");

    // The next hold of the same DI creates its element and writes the request.
    EXPECT_EQ(link_update(7, 1, 12, 300), 1u);
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{300});
    EXPECT_EQ(pss_updates(), std::vector<std::string>{"write 21:7"});
}

TEST_F(RequestAllocation, FailedElementForAnExistingRequestChangesNothing) {
    add(7, 1, 100, 12);
    emu::pss::flush();
    mark_log();
    uint32_t is_new = 9;
    queue_hdr q{};
    faults::set(faults::Id::kLibcMallocFail, {});
    EXPECT_EQ(enqueue(&q, 100, 1, &is_new), nullptr);
    EXPECT_EQ(is_new, 0u);
    EXPECT_EQ(q.head, nullptr);
    EXPECT_EQ(q.count, 0u);

    faults::set(faults::Id::kLibcMallocFail, {});
    EXPECT_EQ(add(7, 1, 200, 13), 1u);
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{100});
    EXPECT_EQ(first_held(7)->ref_count, 1);
    EXPECT_TRUE(emu::pss::pending().empty());
    EXPECT_EQ(messages(), std::vector<std::string>{"rire_orsk_add_di_to_hw_update_req: Adding "
                                                   "DI:200 to hold_q for hw_update Req:7\n"});
}

} // namespace
} // namespace rire_test
