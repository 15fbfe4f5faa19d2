// The designated-forwarder update: the ordinal's bit set or cleared as a
// property of every non-loopback interface, a validation pass first, and the
// host's heartbeat over long lists.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "emu/heartbeat.h"
#include "emu/im.h"
#include "emu/l3lif.h"
#include "plugin/host/im.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kDone = 0x200000;
constexpr uint32_t kLoopback0 = 1;
constexpr uint32_t kLoopback = 2;
constexpr int32_t kQueryError = -5;

// The first trace of every call; the 26 blanks before "df_mask:" are the host's.
std::string received(int ordinal, uint32_t num_oifs, const char *opc, int32_t mask) {
    return "rire_orsk_df_update: Received df_ordinal: " + std::to_string(ordinal) +
           ", num_oifs:" + std::to_string(num_oifs) + ", opc:" + opc + std::string(26, ' ') +
           "df_mask:" + std::to_string(mask) + "\n";
}

std::string per_interface(const char *opc, const char *hex_mask) {
    return std::string("rire_orsk_df_update: opc: ") + opc + " df_mask: " + hex_mask + "\n";
}

bool is_logging(const std::string &op) {
    return op.rfind("sdwrap_", 0) == 0 || op == "buginf";
}

class DfUpdate : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        emu::im::add({kLoopback0, "loopback0", emu::im::Kind::loopback0});
        emu::im::add({kLoopback, "loopback7", emu::im::Kind::loopback});
    }

    // Interfaces first, first + 1, ... of kind "other", in the manager's table.
    std::vector<uint32_t> others(uint32_t first, uint32_t n) {
        std::vector<uint32_t> list;
        for (uint32_t i = 0; i < n; i++) {
            emu::im::add({first + i, "eth" + std::to_string(first + i), emu::im::Kind::other});
            list.push_back(first + i);
        }
        return list;
    }

    uint32_t df(uint8_t ordinal, int32_t opc, const std::vector<uint32_t> &list) {
        mark_log();
        journal_mark_ = emu::journal::calls().size();
        return api().df_update(ordinal, opc, static_cast<uint32_t>(list.size()), list.data());
    }

    // Host calls since the last df(), logging left out, as "op(arg, ...)".
    std::vector<std::string> host_calls() {
        std::vector<std::string> calls;
        const auto &all = emu::journal::calls();
        for (size_t i = journal_mark_; i < all.size(); i++) {
            if (is_logging(all[i].op))
                continue;
            std::string call = all[i].op + "(";
            for (size_t a = 0; a < all[i].args.size(); a++)
                call += (a ? "," : "") + std::to_string(all[i].args[a]);
            calls.push_back(call + ")");
        }
        return calls;
    }

    // For each heartbeat since the last df(), how many property requests preceded it.
    std::vector<size_t> heartbeat_positions() {
        std::vector<size_t> positions;
        size_t requests = 0;
        for (const std::string &call : host_calls()) {
            if (call.rfind("l3lif_pgm_property_for_if(", 0) == 0)
                requests++;
            else if (call == "rire_update_and_send_heartbeat(0)")
                positions.push_back(requests);
        }
        return positions;
    }

    size_t journal_mark_ = 0;
};

TEST_F(DfUpdate, MaskIsTheOrdinalsBitModulo32) {
    struct Row {
        int ordinal;
        uint32_t mask;
        const char *hex;
    };
    const Row rows[] = {
        {1, 0x1, "1"},
        {2, 0x2, "2"},
        {32, 0x80000000, "80000000"},
        {0, 0x80000000, "80000000"},
        {33, 0x1, "1"},
        {255, 0x40000000, "40000000"},
    };
    const std::vector<uint32_t> list = others(10, 1);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ordinal);
        emu::l3lif::reset();
        EXPECT_EQ(df(static_cast<uint8_t>(row.ordinal), 1, list), kDone);
        EXPECT_EQ(messages(), (std::vector<std::string>{
                                  received(row.ordinal, 1, "Add", static_cast<int32_t>(row.mask)),
                                  per_interface("SET", row.hex)}));
        ASSERT_EQ(emu::l3lif::requests().size(), 1u);
        EXPECT_EQ(emu::l3lif::requests()[0].value, row.mask);
        EXPECT_EQ(emu::l3lif::df_mask(10), row.mask);
    }
}

TEST_F(DfUpdate, OrdinalOf32ShowsSignedInTheFirstTraceAndHexPerInterface) {
    df(32, 1, others(10, 1));
    EXPECT_EQ(messages()[0], "rire_orsk_df_update: Received df_ordinal: 32, num_oifs:1, opc:Add"
                             "                          df_mask:-2147483648\n");
    EXPECT_EQ(messages()[1], "rire_orsk_df_update: opc: SET df_mask: 80000000\n");
}

TEST_F(DfUpdate, OpcodeOneSetsEveryOtherValueClears) {
    struct Row {
        uint8_t ordinal;
        int32_t opc;
        const char *word;
        const char *per_if;
        uint32_t property;
        uint32_t mask_after; // on both interfaces
    };
    const Row rows[] = {
        {3, 1, "Add", "SET", 14, 0x4},       {5, 1, "Add", "SET", 14, 0x14},
        {3, 0, "Delete", "CLEAR", 15, 0x10}, {5, 2, "Delete", "CLEAR", 15, 0x0},
        {7, 1, "Add", "SET", 14, 0x40},      {7, -1, "Delete", "CLEAR", 15, 0x0},
    };
    const std::vector<uint32_t> list = others(10, 2);
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "ordinal " << int(row.ordinal) << " opc " << row.opc);
        const size_t before = emu::l3lif::requests().size();
        EXPECT_EQ(df(row.ordinal, row.opc, list), kDone);
        const uint32_t bit = 1u << (row.ordinal - 1);
        char hex[16];
        snprintf(hex, sizeof hex, "%x", bit);
        EXPECT_EQ(messages(), (std::vector<std::string>{
                                  received(row.ordinal, 2, row.word, static_cast<int32_t>(bit)),
                                  per_interface(row.per_if, hex), per_interface(row.per_if, hex)}));
        const std::string args = "," + std::to_string(row.property) + "," + std::to_string(bit) +
                                 "," + std::to_string(kQueueHandle) + ")";
        const std::vector<std::string> calls = host_calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "l3lif_pgm_property_for_if(1,10,2" + args),
                  1);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "l3lif_pgm_property_for_if(1,11,2" + args),
                  1);
        ASSERT_EQ(emu::l3lif::requests().size(), before + 2);
        for (uint32_t ifindex : list)
            EXPECT_EQ(emu::l3lif::df_mask(ifindex), row.mask_after) << ifindex;
    }
    for (const emu::l3lif::Request &request : emu::l3lif::requests())
        EXPECT_EQ(request.q_handle, kQueueHandle);
}

TEST_F(DfUpdate, RequestsCarryTheQueueHandleCurrentAtTheCall) {
    const std::vector<uint32_t> list = others(10, 1);
    api().set_q_handle(0x7777);
    df(1, 1, list);
    ASSERT_EQ(emu::l3lif::requests().size(), 1u);
    EXPECT_EQ(emu::l3lif::requests()[0].q_handle, 0x7777u);
    EXPECT_EQ(emu::l3lif::interfaces()[0].q_handle, 0x7777u);
}

TEST_F(DfUpdate, LoopbacksAreSkippedAfterAValidationPass) {
    std::vector<uint32_t> list = {others(10, 1)[0], kLoopback0, kLoopback, others(11, 1)[0]};
    EXPECT_EQ(df(4, 1, list), kDone);
    // Validation pass over every entry, then the programming pass; the loopback
    // query is asked only of an interface that is not loopback0.
    EXPECT_EQ(host_calls(), (std::vector<std::string>{
                                "im_is_ifindex_loopback0(10)",
                                "im_is_ifindex_loopback(10)",
                                "im_is_ifindex_loopback0(1)",
                                "im_is_ifindex_loopback0(2)",
                                "im_is_ifindex_loopback(2)",
                                "im_is_ifindex_loopback0(11)",
                                "im_is_ifindex_loopback(11)",
                                "im_is_ifindex_loopback0(10)",
                                "im_is_ifindex_loopback(10)",
                                "l3lif_pgm_property_for_if(1,10,2,14,8,23041)",
                                "im_is_ifindex_loopback0(1)",
                                "im_is_ifindex_loopback0(2)",
                                "im_is_ifindex_loopback(2)",
                                "im_is_ifindex_loopback0(11)",
                                "im_is_ifindex_loopback(11)",
                                "l3lif_pgm_property_for_if(1,11,2,14,8,23041)",
                            }));
    struct Expected {
        uint32_t ifindex, loopback0, loopback;
    };
    for (const Expected &e : {Expected{10, 2, 2}, Expected{kLoopback0, 2, 0},
                              Expected{kLoopback, 2, 2}, Expected{11, 2, 2}}) {
        EXPECT_EQ(emu::im::queries(e.ifindex).loopback0, e.loopback0) << e.ifindex;
        EXPECT_EQ(emu::im::queries(e.ifindex).loopback, e.loopback) << e.ifindex;
    }
    EXPECT_EQ(messages().size(), 3u) << "nothing is logged for a skipped interface";
    EXPECT_EQ(emu::l3lif::df_mask(kLoopback0), 0u);
    EXPECT_EQ(emu::l3lif::df_mask(kLoopback), 0u);
}

TEST_F(DfUpdate, EmptyListTracesOnceAndAsksNothing) {
    mark_log();
    journal_mark_ = emu::journal::calls().size();
    EXPECT_EQ(api().df_update(1, 1, 0, nullptr), kDone);
    EXPECT_EQ(messages(), (std::vector<std::string>{received(1, 0, "Add", 1),
                                                    "rire_orsk_df_update num oifs = 0 \n"}));
    EXPECT_TRUE(host_calls().empty());
}

TEST_F(DfUpdate, AllLoopbackListProgramsNothingAndSendsNoHeartbeat) {
    std::vector<uint32_t> list;
    for (int i = 0; i < 250; i++)
        list.push_back(i % 2 ? kLoopback : kLoopback0);
    EXPECT_EQ(df(9, 1, list), kDone);
    EXPECT_TRUE(emu::l3lif::requests().empty());
    EXPECT_EQ(emu::heartbeat::count(), 0u);
    EXPECT_EQ(messages().size(), 1u);
}

TEST_F(DfUpdate, QueryErrorInValidationProgramsNothing) {
    struct Row {
        const char *name;
        std::vector<uint32_t> list;
        int32_t status;
    };
    const std::vector<uint32_t> list = others(10, 3);
    faults::set(faults::Id::kImLoopbackError, {.target = 11, .code = kQueryError});
    const Row rows[] = {
        {"error switch", list, kQueryError},
        {"error switch on a loopback", {10, kLoopback0}, kQueryError},
        {"unknown ifindex refused", {10, 999, 12}, -19},
    };
    faults::set(faults::Id::kImLoopbackError, {.target = 999, .code = -19});
    faults::set(faults::Id::kImLoopbackError, {.target = kLoopback0, .code = kQueryError});
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(df(1, 1, row.list), 0u);
        EXPECT_EQ(messages(), (std::vector<std::string>{
                                  received(1, static_cast<uint32_t>(row.list.size()), "Add", 1),
                                  "rire_orsk_df_update Failed to allocate a msg from ELTM err(" +
                                      std::to_string(row.status) + ")  \n"}));
        EXPECT_NE(wrapped().back().find("):ERROR: "), std::string::npos);
        EXPECT_EQ(emu::log::event_log().back().level, RIRE_ORSK_LOG_LEVEL_ERROR);
        EXPECT_TRUE(emu::l3lif::requests().empty());
        EXPECT_EQ(emu::heartbeat::count(), 0u);
        // The validation pass visits every entry, also those after the failure.
        const std::vector<std::string> calls = host_calls();
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                [](const std::string &c) {
                                    return c.rfind("im_is_ifindex_loopback0(", 0) == 0;
                                }),
                  static_cast<long>(row.list.size()));
    }
}

TEST_F(DfUpdate, HeartbeatFollowsEveryHundredthInterfaceAfterTheFirst) {
    struct Row {
        uint32_t loopbacks_before, others, loopbacks_after;
        std::vector<size_t> after_requests; // property requests before each heartbeat
    };
    const Row rows[] = {
        {0, 100, 0, {}},   {0, 101, 0, {101}}, {0, 201, 0, {101, 201}}, {0, 300, 0, {101, 201}},
        {50, 51, 0, {51}}, {50, 50, 0, {}},    {0, 100, 5, {}},         {1, 250, 0, {100, 200}},
    };
    const std::vector<uint32_t> pool = others(1000, 300);
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.loopbacks_before << " loopbacks, " << row.others
                                        << " others, " << row.loopbacks_after << " loopbacks");
        std::vector<uint32_t> list(row.loopbacks_before, kLoopback);
        list.insert(list.end(), pool.begin(), pool.begin() + row.others);
        list.insert(list.end(), row.loopbacks_after, kLoopback0);
        emu::heartbeat::reset();
        EXPECT_EQ(df(2, 1, list), kDone);
        EXPECT_EQ(heartbeat_positions(), row.after_requests);
        EXPECT_EQ(emu::heartbeat::count(), row.after_requests.size());
        for (int flags : emu::heartbeat::flags())
            EXPECT_EQ(flags, 0);
    }
}

} // namespace
} // namespace rire_test
