// Completion of hardware updates: one of five answer opcodes retires the
// request of the answer's message id (PSS record deleted first, held DIs
// released newest first, the record freed); every other opcode is reported
// and leaves the queue alone.
#include <algorithm>
#include <string>
#include <vector>

#include "emu/journal.h"
#include "emu/mts.h"
#include "emu/pss.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

const uint32_t kAnswers[] = {MTS_OPC_HW_UPDATE_DONE, MTS_OPC_HW_UPDATE_FAILED,
                             MTS_OPC_HW_UPDATE_TIMEOUT, MTS_OPC_HW_UPDATE_BULK_DONE,
                             MTS_OPC_HW_UPDATE_BULK_FAILED};

std::string opcode_line(uint32_t opcode) {
    return std::string("rire_orsk_hw_update_done: hw_update done opcode:") +
           mts_opc_name_get(opcode) + "(" + std::to_string(static_cast<int32_t>(opcode)) + ")\n";
}

std::string processing(int di, int req_id) {
    return "rire_orsk_hw_update_req_q_delete:processing DI:" + std::to_string(di) +
           " from hold_q for req_id:" + std::to_string(req_id) + "\n";
}

std::string done(int req_id) {
    return "rire_orsk_hw_update_req_q_delete: Done with hw_update request:" +
           std::to_string(req_id) + "\n";
}

std::string pss_deleted(int req_id) {
    return "rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id " +
           std::to_string(req_id) + " \n";
}

class Completion : public PluginTest {
  protected:
    // Request req_id holding `dis` (the first held first), flushed to PSS.
    void hold(uint32_t req_id, std::initializer_list<uint32_t> dis) {
        for (uint32_t di : dis)
            ASSERT_EQ(link_update(req_id, 1, di + 1000, di), 1u);
        emu::pss::flush();
    }
    void mark() {
        mark_log();
        journal_mark_ = emu::journal::calls().size();
    }
    std::vector<std::string> ops_since_mark() {
        std::vector<std::string> ops = emu::journal::ops();
        return {ops.begin() + static_cast<std::ptrdiff_t>(journal_mark_), ops.end()};
    }
    // Queued deletions of the hardware-update database, by req_id.
    std::vector<std::vector<uint8_t>> pss_deletes() {
        std::vector<std::vector<uint8_t>> keys;
        for (const emu::pss::Pending &p : emu::pss::pending()) {
            EXPECT_EQ(p.kind, emu::pss::Kind::kDelete);
            EXPECT_EQ(p.service, 21u);
            keys.push_back(p.key);
        }
        return keys;
    }
    size_t journal_mark_ = 0;
};

TEST_F(Completion, EachAnswerOpcodeRetiresTheRequestAndReleasesItsDisNewestFirst) {
    for (uint32_t opcode : kAnswers) {
        SCOPED_TRACE(opcode);
        hold(7, {100, 200});
        hold(8, {300});
        mark();
        EXPECT_EQ(hw_done(7, opcode), 1);
        EXPECT_EQ(messages(),
                  (std::vector<std::string>{opcode_line(opcode), pss_deleted(7), processing(200, 7),
                                            processing(100, 7), done(7)}));
        EXPECT_EQ(queue_ids(), std::vector<uint32_t>{8});
        EXPECT_EQ(pss_deletes(), std::vector<std::vector<uint8_t>>{le32(7)});
        emu::pss::flush();
        ASSERT_EQ(emu::pss::records("hw_update").size(), 1u);
        EXPECT_EQ(emu::pss::records("hw_update")[0].first, le32(8));
        hw_done(8);
        emu::pss::flush();
    }
}

TEST_F(Completion, PssDeleteIsQueuedBeforeAnyDiIsReleased) {
    hold(7, {100, 200});
    mark();
    hw_done(7);
    const std::vector<std::string> ops = ops_since_mark();
    std::vector<std::string> order;
    for (size_t i = 0; i < ops.size(); i++) {
        const std::string &detail = emu::journal::calls()[journal_mark_ + i].detail;
        if (ops[i] == "fu_vdc_add_pss_key_to_delete" || ops[i] == "dequeue_head" ||
            ops[i] == "search_and_dequeue_elem")
            order.push_back(ops[i]);
        else if (ops[i] == "sdwrap_his_log_event_for_uuid_inst" &&
                 detail.find("processing DI") != std::string::npos)
            order.push_back("processing");
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "search_and_dequeue_elem", "fu_vdc_add_pss_key_to_delete", "dequeue_head",
                         "processing", "dequeue_head", "processing", "dequeue_head"}));
}

TEST_F(Completion, EveryOtherOpcodeIsReportedAndLeavesTheQueueAlone) {
    std::vector<uint32_t> rejected = {0,          1,          0x2801,    0x12800,
                                      0x12829,    0x1282a,    0x112801,  0x7fffffff,
                                      0x80000000, 0xfffffffe, 0xffffffff};
    for (uint32_t opcode = 0x12804; opcode <= 0x12826; opcode++)
        rejected.push_back(opcode);
    hold(7, {100, 200});
    const rire_orsk_hw_update_req *req = request(7);
    for (uint32_t opcode : rejected) {
        SCOPED_TRACE(opcode);
        mark();
        EXPECT_EQ(hw_done(7, opcode), 1);
        const std::vector<std::string> texts = wrapped();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(messages()[0], opcode_line(opcode));
        const std::string error =
            "):ERROR: Unknown opcode: " + std::to_string(static_cast<int32_t>(opcode)) + "\n";
        EXPECT_TRUE(texts[1].starts_with("rire_orsk_hw_update_done(")) << texts[1];
        EXPECT_TRUE(texts[1].ends_with(error)) << texts[1];
        EXPECT_EQ(emu::log::event_log().back().level, RIRE_ORSK_LOG_LEVEL_ERROR);
        EXPECT_EQ(request(7), req);
        EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{200, 100}));
        EXPECT_TRUE(emu::pss::pending().empty());
        for (const std::string &op : ops_since_mark())
            EXPECT_TRUE(op != "mts_msg_id_get" && op != "search_and_dequeue_elem" &&
                        op != "queue_traverse")
                << op;
    }
}

TEST_F(Completion, SecondAnswerForTheSameIdOnlyTracesTheOpcode) {
    hold(7, {100});
    hw_done(7);
    emu::pss::flush();
    mark();
    EXPECT_EQ(hw_done(7), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{opcode_line(0x12801)});
    EXPECT_TRUE(emu::pss::pending().empty());
    EXPECT_EQ(request_queue().count, 0u);
}

TEST_F(Completion, AnswerForAnIdNoRequestCarriesOnlyTracesTheOpcode) {
    hold(7, {100});
    swap(7, 9);
    emu::pss::flush();
    for (uint32_t id : {0u, 7u, 8u}) {
        mark();
        EXPECT_EQ(hw_done(id, 0x12828), 1);
        EXPECT_EQ(messages(), std::vector<std::string>{opcode_line(0x12828)}) << id;
    }
    EXPECT_EQ(held_dis(9), std::vector<uint16_t>{100});
    EXPECT_TRUE(emu::pss::pending().empty());
}

TEST_F(Completion, RequestWithAnEmptyHoldQueueIsDeletedAndFreed) {
    faults::set(faults::Id::kLibcMallocFail, {.count = 1});
    ASSERT_EQ(link_update(7, 1, 12, 300), 1u);
    ASSERT_NE(request(7), nullptr);
    ASSERT_EQ(request(7)->hold_q.count, 0u);
    mark();
    EXPECT_EQ(hw_done(7, 0x12803), 1);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{opcode_line(0x12803), pss_deleted(7), done(7)}));
    EXPECT_EQ(pss_deletes(), std::vector<std::vector<uint8_t>>{le32(7)});
    EXPECT_EQ(request_queue().count, 0u);
    EXPECT_EQ(request_queue().head, nullptr);
}

TEST_F(Completion, TwoRequestsWithOneIdCompleteTheOlderFirst) {
    hold(7, {100});
    hold(8, {200});
    swap(8, 7);
    emu::pss::flush();
    ASSERT_EQ(queue_ids(), (std::vector<uint32_t>{7, 7}));
    mark();
    EXPECT_EQ(hw_done(7), 1);
    EXPECT_EQ(messages(), (std::vector<std::string>{opcode_line(0x12801), pss_deleted(7),
                                                    processing(100, 7), done(7)}));
    EXPECT_EQ(queue_ids(), std::vector<uint32_t>{7});
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{200});
    mark();
    EXPECT_EQ(hw_done(7, 0x12827), 1);
    EXPECT_EQ(messages(), (std::vector<std::string>{opcode_line(0x12827), pss_deleted(7),
                                                    processing(200, 7), done(7)}));
    EXPECT_EQ(request_queue().count, 0u);
}

TEST_F(Completion, CompletedIdStartsAFreshRequestWhenUsedAgain) {
    hold(7, {100, 200});
    hw_done(7);
    mark();
    link_update(7, 2, 12, 300);
    const std::vector<std::string> texts = messages();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[2],
              "rire_orsk_hw_update_req_q_insert: Inserted req_id:7 to pending hw_update\n");
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{300});
    EXPECT_EQ(request(7)->req_type, 2);
}

TEST_F(Completion, RequestRebuiltAfterRestartCompletesAsBefore) {
    hold(7, {100, 200});
    restart_and_recover();
    ASSERT_EQ(request_queue().count, 1u);
    mark();
    EXPECT_EQ(hw_done(7, 0x12802), 1);
    const std::vector<std::string> texts = messages();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), processing(100, 7)), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), processing(200, 7)), 1);
    EXPECT_EQ(texts.back(), done(7));
    EXPECT_EQ(request_queue().count, 0u);
    emu::pss::flush();
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
}

} // namespace
} // namespace rire_test
