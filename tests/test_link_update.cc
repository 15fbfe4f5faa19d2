// The oiflist lifecycle callbacks: the six link-update cases (only a re-link
// away from a valid DI towards a nonzero one holds the old DI), and the
// alloc, hardware-update-done and delete notifications with their messages.
#include <string>
#include <vector>

#include "emu/pss.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kInvalid = RIRE_DI_INVALID;

using LinkUpdate = PluginTest;

struct LinkCase {
    uint32_t old_di;
    uint32_t new_di;
    const char *line; // the case's trace, after the "new index" trace
    bool held;
};

const LinkCase kCases[] = {
    {300, 0, "rire_orsk_oiflist_link_update: Case 1: old DI:300, new pltfm index is NULL\n", false},
    {0, 0, "rire_orsk_oiflist_link_update: Case 1: old DI:0, new pltfm index is NULL\n", false},
    {kInvalid, 0, "rire_orsk_oiflist_link_update: Case 1: old DI:-1, new pltfm index is NULL\n",
     false},
    {0, 400, "rire_orsk_oiflist_link_update:Case 1b: old pltfm index NULL, new-di(400) Valid\n",
     false},
    {0, kInvalid, "rire_orsk_oiflist_link_update:Case 1b: old pltfm index NULL, new-di(-1) Valid\n",
     false},
    {kInvalid, kInvalid,
     "rire_orsk_oiflist_link_update:Case 2 old-di(-1)invalid, new-di(-1) invalid\n", false},
    {kInvalid, 400, "rire_orsk_oiflist_link_update:Case 3: old-di(-1) Invalid, new-di(400) Valid\n",
     false},
    {300, kInvalid, "rire_orsk_oiflist_link_update:Case 4: old-di(300) valid, new-di(-1) invalid\n",
     true},
    {300, 400, "rire_orsk_oiflist_link_update:Case 5: old-di(300) valid, new-di(400) valid\n",
     true},
    {65535, 1, "rire_orsk_oiflist_link_update:Case 5: old-di(65535) valid, new-di(1) valid\n",
     true},
};

std::string new_index_line(int index, int di) {
    return "rire_orsk_oiflist_link_update: new index: " + std::to_string(index) + " new DI " +
           std::to_string(di) + "\n";
}

TEST_F(LinkUpdate, EachCaseTracesItselfAndOnlyCasesFourAndFiveHoldTheOldDi) {
    for (const LinkCase &c : kCases) {
        SCOPED_TRACE(c.line);
        mark_log();
        const uint32_t result = link_update(7, 1, 12, c.old_di, 13, c.new_di);
        const std::vector<std::string> texts = messages();
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[0], new_index_line(13, static_cast<int>(c.new_di)));
        EXPECT_EQ(texts[1], c.line);
        if (!c.held) {
            EXPECT_EQ(texts.size(), 2u);
            EXPECT_EQ(request_queue().count, 0u);
            EXPECT_TRUE(emu::pss::pending().empty());
            continue;
        }
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(texts[2],
                  "rire_orsk_hw_update_req_q_insert: Inserted req_id:7 to pending hw_update\n");
        EXPECT_EQ(texts[3], "rire_orsk_add_di_to_hw_update_req: Adding DI:" +
                                std::to_string(c.old_di) + " to hold_q for hw_update Req:7\n");
        EXPECT_EQ(queue_ids(), std::vector<uint32_t>{7});
        EXPECT_EQ(held_dis(7), std::vector<uint16_t>{static_cast<uint16_t>(c.old_di)});
        auto *held = static_cast<const rire_orsk_di_hold_q_elem *>(request(7)->hold_q.head);
        EXPECT_EQ(held->oiflist_index, 12u);
        ASSERT_EQ(emu::pss::pending().size(), 1u);
        EXPECT_EQ(emu::pss::pending()[0].key, le32(7));
        hw_done(7);
        emu::pss::flush();
    }
}

TEST_F(LinkUpdate, HoldIsPersistedWithTheLowByteOfTheTypeAndTheOldIndex) {
    EXPECT_EQ(link_update(258, 0x102, 12, 300, 13, 400), 1u);
    ASSERT_NE(request(258), nullptr);
    EXPECT_EQ(request(258)->req_type, 2);
    const std::vector<emu::pss::Pending> pending = emu::pss::pending();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].kind, emu::pss::Kind::kWrite);
    EXPECT_EQ(pending[0].service, 21u);
    EXPECT_EQ(pending[0].key, (emu::bytes::Bytes{0x02, 0x01, 0x00, 0x00}));
    ASSERT_GE(pending[0].value.size(), 19u);
    // reserved, req_type 2, one DI, then the oif TLV: DI 300 (0x012c), index 12.
    EXPECT_EQ(emu::bytes::Bytes(pending[0].value.begin(), pending[0].value.begin() + 6),
              (emu::bytes::Bytes{0, 0, 0, 0, 2, 1}));
    EXPECT_EQ(emu::bytes::Bytes(pending[0].value.begin() + 11, pending[0].value.begin() + 13),
              (emu::bytes::Bytes{0x2c, 0x01}));
    EXPECT_EQ(emu::bytes::Bytes(pending[0].value.begin() + 15, pending[0].value.begin() + 19),
              le32(12));
}

TEST_F(LinkUpdate, RepeatedUpdateCountsTheHoldUpWithoutWritingAgain) {
    link_update(7, 1, 12, 300, 13, 400);
    emu::pss::flush();
    mark_log();
    EXPECT_EQ(link_update(7, 1, 12, 300, 13, kInvalid), 1u);
    auto *held = static_cast<const rire_orsk_di_hold_q_elem *>(request(7)->hold_q.head);
    EXPECT_EQ(held->ref_count, 2);
    EXPECT_EQ(request(7)->hold_q.count, 1u);
    EXPECT_TRUE(emu::pss::pending().empty());
    EXPECT_EQ(messages().back(), "rire_orsk_di_hold_q_enqueue: DI:300, ref_count:2 \n");
}

TEST_F(LinkUpdate, NewDiIsNeverHeld) {
    link_update(7, 1, 12, 300, 13, 400);
    link_update(7, 1, 13, 400, 14, 500);
    EXPECT_EQ(held_dis(7), (std::vector<uint16_t>{400, 300}));
}

TEST_F(LinkUpdate, AllocReturnsP5WhenP9IsSetAndOtherwiseTracesTheUpgradeFlag) {
    struct {
        uint32_t p5, p9, p10, result;
        const char *trace; // null: nothing logged
    } cases[] = {
        {55, 1, 3, 55, nullptr},
        {55, 0xFFFFFFFF, 0, 55, nullptr},
        {0, 2, 0, 0, nullptr},
        {55, 0, 0, 1, "rire_orsk_oiflist_alloc: system upg flag (0)\n"},
        {55, 0, 0xABCD0001, 1, "rire_orsk_oiflist_alloc: system upg flag (1)\n"},
        {55, 0, 0xFFFF, 1, "rire_orsk_oiflist_alloc: system upg flag (65535)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.p10);
        mark_log();
        EXPECT_EQ(api().oiflist_alloc(1, 2, 3, 4, c.p5, 6, 7, 8, c.p9, c.p10), c.result);
        EXPECT_EQ(messages(),
                  c.trace ? std::vector<std::string>{c.trace} : std::vector<std::string>{});
    }
    EXPECT_EQ(request_queue().count, 0u);
}

TEST_F(LinkUpdate, HwUpdateDoneAcceptsTypesOneAndTwoAndReportsAnyOther) {
    for (uint32_t type : {1u, 2u}) {
        mark_log();
        api().oiflist_hw_update_done(type);
        EXPECT_TRUE(wrapped().empty()) << type;
    }
    for (uint32_t type : {0u, 3u, 0x101u, 0xFFFFFFFFu}) {
        mark_log();
        api().oiflist_hw_update_done(type);
        const std::vector<std::string> texts = wrapped();
        ASSERT_EQ(texts.size(), 1u) << type;
        const std::string message = "rire_orsk_oiflist_hw_update_done: OIF list type unknown: " +
                                    std::to_string(static_cast<int32_t>(type)) + " \n";
        EXPECT_TRUE(texts[0].starts_with("rire_orsk_oiflist_hw_update_done(")) << texts[0];
        EXPECT_TRUE(texts[0].ends_with("):ERROR: " + message)) << texts[0];
        EXPECT_EQ(emu::log::event_log().back().level, RIRE_ORSK_LOG_LEVEL_ERROR);
    }
}

TEST_F(LinkUpdate, DeleteOnlyTracesEvenWhenTheDiIsHeld) {
    link_update(7, 1, 12, 300, 13, 400);
    emu::pss::flush();
    mark_log();
    api().oiflist_delete(1, 12, 300);
    api().oiflist_delete(2, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "rire_orsk_oiflist_delete: oiflist type 1 index 12 dest-index 300\n",
                  "rire_orsk_oiflist_delete: oiflist type 2 index -1 dest-index -1\n"}));
    EXPECT_EQ(held_dis(7), std::vector<uint16_t>{300});
    EXPECT_TRUE(emu::pss::pending().empty());
}

} // namespace
} // namespace rire_test
