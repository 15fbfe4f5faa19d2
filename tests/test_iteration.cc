// Reading the two PSS databases back record by record: the key-level cursor
// operations and the four record-level first/next operations.
#include <cstdio>
#include <cstring>

#include "emu/log.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::bytes::Bytes;

constexpr uint32_t kPending = RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
constexpr uint32_t kHw = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
constexpr uint8_t kUntouched = 0xEE;
void *const kNoValue = reinterpret_cast<void *>(0x1234);

// One of the record-level operations, called through a common shape: the key
// output is 4 bytes either way (the req_id, or the oiflist index word).
struct RecordOp {
    const char *name;
    uint32_t type;
    bool first;
};

constexpr RecordOp kRecordOps[] = {
    {"rire_orsk_pss_get_first_hw_update_data", kHw, true},
    {"rire_orsk_pss_get_next_hw_update_data", kHw, false},
    {"rire_orsk_pss_get_first_pending_di_data", kPending, true},
    {"rire_orsk_pss_get_next_pending_di_data", kPending, false},
};

std::string format(const char *fmt, uint32_t a, const char *b) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

// A walk result: what the operation returned and what it left in its outputs.
struct Fetch {
    uint32_t rc;
    uint32_t key;
    void *value;
};

class PssIteration : public PluginTest {
  protected:
    uint32_t handle(uint32_t type) {
        uint32_t h = 0;
        EXPECT_EQ(fu_pss_service_get(type, &h), 0);
        return h;
    }

    void plant(uint32_t type, const Bytes &key, const Bytes &value = {1, 2, 3, 4, 5, 6, 7}) {
        ASSERT_EQ(emu::pss::put_raw(type, key, value), 0);
    }

    uint32_t call(const RecordOp &op, uint32_t *ref, void *key, void **value) {
        using Fn = uint32_t (*)(uint32_t *, void *, void **);
        return fn<Fn>(op.name)(ref, key, value);
    }

    // Calls `op` on the service of its type with outputs preset to markers.
    Fetch fetch(const RecordOp &op) {
        uint32_t h = handle(op.type);
        Fetch f{0, 0xEEEEEEEEu, kNoValue};
        f.rc = call(op, &h, &f.key, &f.value);
        return f;
    }

    // Walks a whole database: first, then next until 0; the keys fetched.
    std::vector<uint32_t> walk(uint32_t type) {
        const RecordOp &first = type == kHw ? kRecordOps[0] : kRecordOps[2];
        const RecordOp &next = type == kHw ? kRecordOps[1] : kRecordOps[3];
        std::vector<uint32_t> keys;
        for (Fetch f = fetch(first); f.rc == 1; f = fetch(next))
            keys.push_back(f.key);
        return keys;
    }

    // The PSS service calls journalled since the last journal clear.
    static std::vector<std::string> pss2_calls() {
        std::vector<std::string> ops;
        for (const auto &c : emu::journal::calls())
            if (c.op.starts_with("pss2_"))
                ops.push_back(c.op);
        return ops;
    }

    std::string m2l_end(uint32_t type) {
        return format("ERROR - m2l failed for srv %x err %s", handle(type),
                      syserr2str(emu::pss::kErrEndOfData));
    }

    // Every record written since the mark is at trace level.
    void expect_all_trace() {
        const auto &log = emu::log::event_log();
        for (size_t i = log_mark_; i < log.size(); i++)
            EXPECT_EQ(log[i].level, RIRE_ORSK_LOG_LEVEL_TRACE) << log[i].text();
    }
};

TEST_F(PssIteration, EmptyDatabaseReportsTheMissingFirstKeyAndLeavesOutputs) {
    for (const RecordOp &op : {kRecordOps[0], kRecordOps[2]}) {
        mark_log();
        const Fetch f = fetch(op);
        EXPECT_EQ(f.rc, 0u) << op.name;
        EXPECT_EQ(f.key, 0xEEEEEEEEu);
        EXPECT_EQ(f.value, kNoValue);
        EXPECT_EQ(messages(), (std::vector<std::string>{std::string("In ") + op.name + "\n",
                                                        "ERROR - first key missing \n"}));
        expect_all_trace();
    }
}

TEST_F(PssIteration, WalkOfNRecordsEndsAtTheNthNext) {
    for (uint32_t id : {30u, 10u, 20u})
        plant(kHw, le32(id));
    mark_log();
    emu::journal::clear();
    EXPECT_EQ(walk(kHw), (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "In rire_orsk_pss_get_first_hw_update_data\n",
                              "In rire_orsk_pss_get_next_hw_update_data\n",
                              "In rire_orsk_pss_get_next_hw_update_data\n",
                              "In rire_orsk_pss_get_next_hw_update_data\n",
                              m2l_end(kHw),
                          }));
    expect_all_trace();
    // Per record: place the cursor, fetch the key, then the value.
    const std::vector<std::string> record = {"pss2_move2location", "pss2_getkey", "pss2_getvalue"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; i++)
        expected.insert(expected.end(), record.begin(), record.end());
    expected.push_back("pss2_move2location");
    EXPECT_EQ(pss2_calls(), expected);
}

// A walk steps through one read snapshot until something is written; then it
// goes on after the key it stood on and sees the write.
TEST_F(PssIteration, WalkSeesRecordsWrittenAndDeletedUnderIt) {
    for (uint32_t id : {10u, 20u, 30u})
        plant(kHw, le32(id));
    std::vector<uint32_t> keys;
    Fetch f = fetch(kRecordOps[0]);
    keys.push_back(f.key);
    plant(kHw, le32(15));
    ASSERT_EQ(emu::pss::delete_raw(kHw, le32(20)), 0);
    for (f = fetch(kRecordOps[1]); f.rc == 1; f = fetch(kRecordOps[1]))
        keys.push_back(f.key);
    EXPECT_EQ(keys, (std::vector<uint32_t>{10, 15, 30}));
}

TEST_F(PssIteration, CursorMovesToFirstWithOneAndToNextWithThree) {
    plant(kPending, le32(0x10005));
    uint32_t h = handle(kPending);
    uint32_t index = 0;
    void *value = nullptr;
    emu::journal::clear();
    fn<decltype(&rire_orsk_pss_get_first_pending_di_data)>(
        "rire_orsk_pss_get_first_pending_di_data")(&h, &index, &value);
    fn<decltype(&rire_orsk_pss_get_next_pending_di_data)>("rire_orsk_pss_get_next_pending_di_data")(
        &h, &index, &value);
    std::vector<std::vector<int64_t>> moves;
    for (const auto &c : emu::journal::calls())
        if (c.op == "pss2_move2location")
            moves.push_back(c.args);
    EXPECT_EQ(moves, (std::vector<std::vector<int64_t>>{{h, 1, 1}, {h, 1, 3}}));
}

TEST_F(PssIteration, RecordsComeInAscendingNumericKeyOrder) {
    // Little-endian keys whose byte order differs from their numeric order.
    for (uint32_t id : {0x10000u, 0x100u, 2u, 0xFFFFFFFFu, 1u})
        plant(kHw, le32(id));
    EXPECT_EQ(walk(kHw), (std::vector<uint32_t>{1, 2, 0x100, 0x10000, 0xFFFFFFFF}));
}

TEST_F(PssIteration, PendingKeyIsHandedOutAsItsLow16Bits) {
    for (uint32_t key : {0x00020005u, 0x00010007u, 0xFFFF0009u, 0x0000FFFFu})
        plant(kPending, le32(key));
    EXPECT_EQ(walk(kPending), (std::vector<uint32_t>{0xFFFF, 7, 5, 9}));
}

TEST_F(PssIteration, HardwareUpdateKeyIsHandedOutWhole) {
    plant(kHw, le32(0xA1B2C3D4));
    const Fetch f = fetch(kRecordOps[0]);
    EXPECT_EQ(f.rc, 1u);
    EXPECT_EQ(f.key, 0xA1B2C3D4u);
}

TEST_F(PssIteration, ValueIsHandedOutInPlaceWithItsBytes) {
    const Bytes value = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    plant(kHw, le32(4), value);
    const Fetch f = fetch(kRecordOps[0]);
    ASSERT_EQ(f.rc, 1u);
    EXPECT_EQ(std::memcmp(f.value, value.data(), value.size()), 0);
}

TEST_F(PssIteration, NullReferenceOrOutputIsRefusedWithoutAnyMessage) {
    plant(kHw, le32(1));
    plant(kPending, le32(0x10001));
    for (const RecordOp &op : kRecordOps) {
        uint32_t h = handle(op.type);
        uint32_t key = 0;
        void *value = nullptr;
        mark_log();
        emu::journal::clear();
        EXPECT_EQ(call(op, nullptr, &key, &value), 0u) << op.name;
        EXPECT_EQ(call(op, &h, nullptr, &value), 0u) << op.name;
        EXPECT_EQ(call(op, &h, &key, nullptr), 0u) << op.name;
        EXPECT_TRUE(messages().empty()) << op.name;
        EXPECT_TRUE(pss2_calls().empty()) << op.name;
    }
    auto first_key = fn<decltype(&rire_orsk_pss_get_first_key)>("rire_orsk_pss_get_first_key");
    auto next_key = fn<decltype(&rire_orsk_pss_get_next_key)>("rire_orsk_pss_get_next_key");
    mark_log();
    EXPECT_EQ(first_key(nullptr), nullptr);
    EXPECT_EQ(next_key(nullptr), nullptr);
    EXPECT_TRUE(messages().empty());
}

TEST_F(PssIteration, HandleZeroLogsOnlyTheEntryMessage) {
    plant(kHw, le32(1));
    plant(kPending, le32(0x10001));
    for (const RecordOp &op : kRecordOps) {
        uint32_t h = 0;
        uint32_t key = 0xEEEEEEEE;
        void *value = kNoValue;
        mark_log();
        emu::journal::clear();
        EXPECT_EQ(call(op, &h, &key, &value), 0u) << op.name;
        EXPECT_EQ(messages(), (std::vector<std::string>{std::string("In ") + op.name + "\n"}));
        EXPECT_EQ(key, 0xEEEEEEEEu);
        EXPECT_EQ(value, kNoValue);
        EXPECT_TRUE(pss2_calls().empty()) << op.name;
    }
    uint32_t h = 0;
    mark_log();
    EXPECT_EQ(fn<decltype(&rire_orsk_pss_get_first_key)>("rire_orsk_pss_get_first_key")(&h),
              nullptr);
    EXPECT_EQ(fn<decltype(&rire_orsk_pss_get_next_key)>("rire_orsk_pss_get_next_key")(&h), nullptr);
    EXPECT_TRUE(messages().empty());
}

TEST_F(PssIteration, KeyLevelHandsOutTheKeyDatumOfEachRecord) {
    plant(kHw, le32(7));
    plant(kHw, le32(9));
    uint32_t h = handle(kHw);
    auto first_key = fn<decltype(&rire_orsk_pss_get_first_key)>("rire_orsk_pss_get_first_key");
    auto next_key = fn<decltype(&rire_orsk_pss_get_next_key)>("rire_orsk_pss_get_next_key");
    const pss_datum *k = first_key(&h);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(emu::bytes::copy(k->data, k->len), le32(7));
    k = next_key(&h);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(emu::bytes::copy(k->data, k->len), le32(9));
    mark_log();
    EXPECT_EQ(next_key(&h), nullptr);
    EXPECT_EQ(messages(), (std::vector<std::string>{m2l_end(kHw)}));
    expect_all_trace();
}

TEST_F(PssIteration, FailedValueFetchLeavesBothOutputsUntouched) {
    plant(kHw, le32(5));
    plant(kHw, le32(6));
    faults::set(faults::Id::kPssGetvalueFail, {.target = kHw, .count = 1});
    mark_log();
    Fetch f = fetch(kRecordOps[0]);
    EXPECT_EQ(f.rc, 0u);
    EXPECT_EQ(f.key, 0xEEEEEEEEu);
    EXPECT_EQ(f.value, kNoValue);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"In rire_orsk_pss_get_first_hw_update_data\n"}));

    // Failing at the second record ends the walk after the first.
    faults::set(faults::Id::kPssGetvalueFail, {.target = kHw, .count = 2});
    mark_log();
    EXPECT_EQ(walk(kHw), (std::vector<uint32_t>{5}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"In rire_orsk_pss_get_first_hw_update_data\n",
                                                    "In rire_orsk_pss_get_next_hw_update_data\n"}));
}

TEST_F(PssIteration, FailedKeyFetchIsReportedWithTheHandleAndErrorText) {
    plant(kPending, le32(0x10003));
    plant(kPending, le32(0x10004));
    const uint32_t h = handle(kPending);
    const char *injected = syserr2str(emu::pss::kErrInjected);

    faults::set(faults::Id::kPssGetkeyFail, {.target = kPending, .count = 1});
    mark_log();
    EXPECT_EQ(fetch(kRecordOps[2]).rc, 0u);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "In rire_orsk_pss_get_first_pending_di_data\n",
                  format("ERROR - getkey failed for service %d error %s\n", h, injected)}));
    expect_all_trace();

    // The next variant's text has no line end.
    faults::set(faults::Id::kPssGetkeyFail, {.target = kPending, .count = 2});
    mark_log();
    EXPECT_EQ(walk(kPending), (std::vector<uint32_t>{3}));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "In rire_orsk_pss_get_first_pending_di_data\n",
                  "In rire_orsk_pss_get_next_pending_di_data\n",
                  format("ERROR - getkey failed for service %d error %s", h, injected)}));
    expect_all_trace();
}

TEST_F(PssIteration, KeysOfOtherLengthsAreZeroExtendedOrCutToFourBytes) {
    // Shorter keys are presented before 4-byte ones, longer ones after.
    plant(kHw, {0x05, 0x01});
    plant(kHw, le32(0x0A));
    plant(kHw, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    uint32_t h = handle(kHw);
    uint8_t key[8];
    void *value = nullptr;
    std::vector<std::vector<uint8_t>> seen;
    auto first = fn<decltype(&rire_orsk_pss_get_first_hw_update_data)>(
        "rire_orsk_pss_get_first_hw_update_data");
    auto next = fn<decltype(&rire_orsk_pss_get_next_hw_update_data)>(
        "rire_orsk_pss_get_next_hw_update_data");
    for (uint32_t rc = (std::memset(key, kUntouched, sizeof key), first(&h, key, &value)); rc == 1;
         rc = (std::memset(key, kUntouched, sizeof key), next(&h, key, &value)))
        seen.emplace_back(key, key + sizeof key);
    EXPECT_EQ(seen, (std::vector<std::vector<uint8_t>>{
                        {0x05, 0x01, 0, 0, kUntouched, kUntouched, kUntouched, kUntouched},
                        {0x0A, 0, 0, 0, kUntouched, kUntouched, kUntouched, kUntouched},
                        {0x01, 0x02, 0x03, 0x04, kUntouched, kUntouched, kUntouched, kUntouched},
                    }));

    plant(kPending, {0x07});
    plant(kPending, {0x05, 0x00, 0x02, 0x00, 0x09, 0x09});
    EXPECT_EQ(walk(kPending), (std::vector<uint32_t>{7, 5}));
}

} // namespace
} // namespace rire_test
