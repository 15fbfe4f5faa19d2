// Per-VLAN IGMP snooping and OMF requests: acknowledged, counted and traced
// VLAN by VLAN in ascending order, nothing programmed.
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kDone = 0x200000;

// The host's VLAN set: a word the handlers ignore, then 4096 bits in network
// bit order (VLAN 0 is the top bit of the first bitmap byte).
struct VlanSet {
    std::array<uint8_t, 516> bytes{};

    void set_leading_word(uint32_t word) { std::memcpy(bytes.data(), &word, sizeof word); }
    void set_vlan(uint32_t vlan) {
        bytes[4 + vlan / 8] |= static_cast<uint8_t>(0x80 >> (vlan % 8));
    }
    // Raw bitmap bytes, counted from the first bitmap byte.
    void set_bitmap_bytes(size_t at, std::vector<uint8_t> raw) {
        std::copy(raw.begin(), raw.end(), bytes.begin() + 4 + at);
    }
};

// One of the twin handlers, called through the vector, and its texts.
struct Handler {
    const char *name;
    std::function<uint32_t(rire_orsk_platform_api &, const VlanSet &, uint32_t flag)> call;
    const char *summary;  // between the function name and the Enable/Disable word
    const char *per_vlan; // between the VLAN number and the Enabled/Disabled word

    std::string summary_line(bool on, size_t count) const {
        return std::string(name) + summary + (on ? "Enable" : "Disable") + " for vlan count " +
               std::to_string(count) + "\n";
    }
    std::string vlan_line(uint32_t vlan, bool on) const {
        return std::string(name) + ": Vlan - " + std::to_string(vlan) + per_vlan +
               (on ? "Enabled" : "Disabled") + "\n";
    }
    std::vector<std::string> lines(const std::vector<uint32_t> &vlans, bool on) const {
        std::vector<std::string> out{summary_line(on, vlans.size())};
        for (uint32_t vlan : vlans)
            out.push_back(vlan_line(vlan, on));
        return out;
    }
};

const Handler kHandlers[] = {
    {"rire_orsk_igmp_snoop_config",
     [](rire_orsk_platform_api &api, const VlanSet &set, uint32_t flag) {
         return api.igmp_snoop_config(set.bytes.data(), 0, flag);
     },
     " Snooping ", ", IGMP Snooping "},
    {"rire_orsk_snoop_omf_config",
     [](rire_orsk_platform_api &api, const VlanSet &set, uint32_t flag) {
         return api.snoop_omf_config(set.bytes.data(), flag);
     },
     " OMF ", ", OMF  "},
};

class VlanConfig : public PluginTest {
  protected:
    // Calls the handler with a fresh log mark and checks what every call
    // guarantees: the result, trace level only, no host call but logging.
    std::vector<std::string> run(const Handler &h, const VlanSet &set, uint32_t flag) {
        mark_log();
        const size_t journal_mark = emu::journal::calls().size();
        EXPECT_EQ(h.call(api(), set, flag), kDone);
        const auto &events = emu::log::event_log();
        for (size_t i = log_mark_; i < events.size(); i++)
            EXPECT_EQ(events[i].level, RIRE_ORSK_LOG_LEVEL_TRACE) << events[i].text();
        const auto &calls = emu::journal::calls();
        for (size_t i = journal_mark; i < calls.size(); i++)
            EXPECT_TRUE(calls[i].op.rfind("sdwrap_", 0) == 0 || calls[i].op == "buginf")
                << calls[i].op;
        return messages();
    }
};

TEST_F(VlanConfig, HandlersAreExportedUnderTheirSlotNames) {
    EXPECT_EQ(reinterpret_cast<void *>(api().igmp_snoop_config),
              fn<void *>("rire_orsk_igmp_snoop_config"));
    EXPECT_EQ(reinterpret_cast<void *>(api().snoop_omf_config),
              fn<void *>("rire_orsk_snoop_omf_config"));
}

TEST_F(VlanConfig, BitmapIsReadInNetworkBitOrder) {
    struct Row {
        size_t at;
        std::vector<uint8_t> raw;
        std::vector<uint32_t> vlans;
    };
    const Row rows[] = {
        {0, {0x80}, {0}},
        {0, {0x01}, {7}},
        {0, {0x00, 0x00, 0x00, 0x01, 0x80}, {31, 32}},
        {511, {0x01}, {4095}},
        {0, {0xC0}, {0, 1}},
        {4, {0x00, 0x00, 0x00, 0x00, 0x40}, {65}},
        {124, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, {999, 1056}},
    };
    for (const Handler &h : kHandlers) {
        for (const Row &row : rows) {
            SCOPED_TRACE(testing::Message() << h.name << " first VLAN " << row.vlans[0]);
            VlanSet set;
            set.set_bitmap_bytes(row.at, row.raw);
            EXPECT_EQ(run(h, set, 1), h.lines(row.vlans, true));
        }
    }
}

TEST_F(VlanConfig, ScatteredVlansAreLoggedOnceInAscendingOrder) {
    const std::vector<uint32_t> vlans = {1, 2, 30, 31, 63, 64, 100, 2000, 4064, 4094, 4095};
    VlanSet set;
    for (auto it = vlans.rbegin(); it != vlans.rend(); ++it)
        set.set_vlan(*it);
    for (const Handler &h : kHandlers) {
        SCOPED_TRACE(h.name);
        EXPECT_EQ(run(h, set, 1), h.lines(vlans, true));
    }
}

TEST_F(VlanConfig, AllVlansSetGivesTheSummaryAnd4096LinesInOrder) {
    VlanSet set;
    std::fill(set.bytes.begin() + 4, set.bytes.end(), 0xFF);
    std::vector<uint32_t> all(4096);
    for (uint32_t v = 0; v < all.size(); v++)
        all[v] = v;
    for (const Handler &h : kHandlers) {
        SCOPED_TRACE(h.name);
        const std::vector<std::string> lines = run(h, set, 1);
        ASSERT_EQ(lines.size(), 4097u);
        EXPECT_EQ(lines.front(), h.summary_line(true, 4096));
        EXPECT_EQ(lines[1], h.vlan_line(0, true));
        EXPECT_EQ(lines.back(), h.vlan_line(4095, true));
        EXPECT_EQ(lines, h.lines(all, true));
    }
}

TEST_F(VlanConfig, EmptySetReportsZeroWhateverTheFlagAndLeadingWord) {
    for (const Handler &h : kHandlers) {
        for (uint32_t leading : {0u, 10u, 0xFFFFFFFFu}) {
            for (uint32_t flag : {0u, 5u}) {
                SCOPED_TRACE(testing::Message()
                             << h.name << " leading " << leading << " flag " << flag);
                VlanSet set;
                set.set_leading_word(leading);
                EXPECT_EQ(run(h, set, flag),
                          (std::vector<std::string>{std::string(h.name) +
                                                    ": Number of vlans set is zero\n"}));
            }
        }
    }
}

TEST_F(VlanConfig, LeadingWordPlaysNoPartInTheCount) {
    VlanSet set;
    set.set_leading_word(10);
    for (uint32_t vlan : {5u, 500u, 4000u})
        set.set_vlan(vlan);
    for (const Handler &h : kHandlers) {
        SCOPED_TRACE(h.name);
        EXPECT_EQ(run(h, set, 1), h.lines({5, 500, 4000}, true));
    }
}

TEST_F(VlanConfig, NonzeroFlagEnablesAndZeroDisables) {
    VlanSet set;
    set.set_vlan(12);
    set.set_vlan(13);
    const std::pair<uint32_t, bool> flags[] = {
        {5, true}, {1, true}, {0xFFFFFFFF, true}, {0, false}};
    for (const Handler &h : kHandlers) {
        for (const auto &[flag, on] : flags) {
            SCOPED_TRACE(testing::Message() << h.name << " flag " << flag);
            EXPECT_EQ(run(h, set, flag), h.lines({12, 13}, on));
        }
    }
    mark_log();
    api().snoop_omf_config(set.bytes.data(), 5);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"rire_orsk_snoop_omf_config OMF Enable for vlan count 2\n",
                                        "rire_orsk_snoop_omf_config: Vlan - 12, OMF  Enabled\n",
                                        "rire_orsk_snoop_omf_config: Vlan - 13, OMF  Enabled\n"}));
    mark_log();
    api().igmp_snoop_config(set.bytes.data(), 0, 0);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "rire_orsk_igmp_snoop_config Snooping Disable for vlan count 2\n",
                              "rire_orsk_igmp_snoop_config: Vlan - 12, IGMP Snooping Disabled\n",
                              "rire_orsk_igmp_snoop_config: Vlan - 13, IGMP Snooping Disabled\n"}));
}

TEST_F(VlanConfig, IgmpTakesItsFlagFromTheThirdArgument) {
    VlanSet set;
    set.set_vlan(40);
    const Handler &igmp = kHandlers[0];
    struct Row {
        uint32_t second, third;
        bool on;
    };
    for (const Row &row :
         {Row{1, 0, false}, Row{0xFFFFFFFF, 0, false}, Row{0, 1, true}, Row{0, 7, true}}) {
        SCOPED_TRACE(testing::Message() << "second " << row.second << " third " << row.third);
        mark_log();
        EXPECT_EQ(api().igmp_snoop_config(set.bytes.data(), row.second, row.third), kDone);
        EXPECT_EQ(messages(), igmp.lines({40}, row.on));
    }
}

} // namespace
} // namespace rire_test
