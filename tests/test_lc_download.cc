// The line-card download filter: IPv4 routes to every card but DCE line
// cards, nothing else to anyone; DCE cards known by their card id.
#include <optional>
#include <string>
#include <vector>

#include "emu/pdb.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint16_t kDceCardIds[] = {38, 48, 58, 60, 61, 64, 76, 77, 121, 122, 123, 139, 159, 177};

// A logged message as the host saw it: wrapping function, level, text.
struct Logged {
    std::string func;
    bool error;
    std::string text;
    bool operator==(const Logged &) const = default;
};

void PrintTo(const Logged &l, std::ostream *os) {
    *os << l.func << (l.error ? " ERROR " : " ") << testing::PrintToString(l.text);
}

Logged refusal(int slot) {
    return {"rire_orsk_check_lc_download_db", false,
            "rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot " +
                std::to_string(slot) + "\n"};
}
Logged download(int slot) {
    return {"rire_orsk_check_lc_download_db", false,
            "Download V4-ROUTES to slot " + std::to_string(slot) + "\n"};
}
Logged no_download(const char *hex_db, int slot) {
    return {"rire_orsk_check_lc_download_db", false,
            std::string("Dont download ") + hex_db + " to slot " + std::to_string(slot) + "\n"};
}
Logged lookup_failed(int slot_index) {
    return {"rire_orsk_is_module_dce", true,
            "rire_orsk_is_module_dce: failed to get card id for slot " +
                std::to_string(slot_index) + " \n"};
}

class LcDownload : public PluginTest {
  protected:
    void put(uint8_t slot_index, std::optional<uint16_t> card) {
        emu::pdb::reset();
        if (card)
            emu::pdb::set_card(slot_index, *card);
    }

    int32_t check(uint8_t slot, int32_t db) {
        mark();
        return api().check_lc_download_db(slot, db);
    }
    int32_t is_dce(uint8_t slot) {
        mark();
        return fn<decltype(&rire_orsk_is_module_dce)>("rire_orsk_is_module_dce")(slot);
    }

    std::vector<Logged> logged() {
        std::vector<Logged> out;
        const std::vector<std::string> texts = messages();
        const auto &events = emu::log::event_log();
        for (size_t i = 0; i < texts.size(); i++) {
            const std::string_view w = events[log_mark_ + i].text();
            out.push_back({std::string(w.substr(0, w.find('('))),
                           events[log_mark_ + i].level == 102, texts[i]});
        }
        return out;
    }

    // The module-database lookups since the last call, as (slot index, request).
    std::vector<std::vector<int64_t>> lookups() {
        std::vector<std::vector<int64_t>> out;
        const auto &calls = emu::journal::calls();
        for (size_t i = journal_mark_; i < calls.size(); i++) {
            if (calls[i].op == "pdb_get_mod_info")
                out.push_back(calls[i].args);
            else
                EXPECT_TRUE(calls[i].op.rfind("sdwrap_", 0) == 0 || calls[i].op == "buginf")
                    << "unexpected host call " << calls[i].op;
        }
        return out;
    }

  private:
    void mark() {
        mark_log();
        journal_mark_ = emu::journal::calls().size();
    }
    size_t journal_mark_ = 0;
};

TEST_F(LcDownload, DecisionForTheCardInSlotThree) {
    struct Row {
        std::optional<uint16_t> card;
        int32_t db;
        std::vector<Logged> logged;
        int32_t result;
    };
    const Row rows[] = {
        {38, 1, {refusal(3)}, 0},
        {177, 2, {refusal(3)}, 0},
        {58, 3, {no_download("0x3", 3)}, 0},
        {100, 1, {download(3)}, 1},
        {100, 2, {no_download("0x2", 3)}, 0},
        {std::nullopt, 1, {lookup_failed(2), download(3)}, 1},
        {std::nullopt, 2, {lookup_failed(2), no_download("0x2", 3)}, 0},
        {100, -1, {no_download("0xffffffff", 3)}, 0},
        {38, -1, {no_download("0xffffffff", 3)}, 0},
        {38, 0, {no_download("0x0", 3)}, 0},
        {100, 0x7fffffff, {no_download("0x7fffffff", 3)}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "card " << (row.card ? int(*row.card) : -1) << " db " << row.db);
        put(2, row.card);
        EXPECT_EQ(check(3, row.db), row.result);
        EXPECT_EQ(logged(), row.logged);
        // The card is looked up first and exactly once, whatever the code.
        EXPECT_EQ(lookups(), (std::vector<std::vector<int64_t>>{{2, emu::pdb::kModInfoRequest}}));
    }
}

TEST_F(LcDownload, EveryDceCardIdIsRefusedBothRouteDatabases) {
    for (uint16_t card : kDceCardIds) {
        SCOPED_TRACE(card);
        put(6, card);
        EXPECT_EQ(is_dce(7), 1);
        EXPECT_TRUE(logged().empty());
        EXPECT_EQ(check(7, 1), 0);
        EXPECT_EQ(logged(), std::vector<Logged>{refusal(7)});
        EXPECT_EQ(check(7, 2), 0);
        EXPECT_EQ(logged(), std::vector<Logged>{refusal(7)});
    }
}

TEST_F(LcDownload, OtherCardIdsAreNotDce) {
    // 294 is 0x126: its low byte is 38, a DCE id, but the whole id is compared.
    for (uint16_t card : {0, 1, 37, 39, 100, 178, 294, 0x3A00, 0xFFFF}) {
        SCOPED_TRACE(card);
        put(2, card);
        EXPECT_EQ(is_dce(3), 0);
        EXPECT_TRUE(logged().empty());
        EXPECT_EQ(check(3, 1), 1);
        EXPECT_EQ(logged(), std::vector<Logged>{download(3)});
    }
}

TEST_F(LcDownload, SlotNumberIsLookedUpOneLowerInEightBits) {
    struct Row {
        uint8_t slot;
        int64_t index;
    };
    for (const Row &row : {Row{0, 255}, Row{1, 0}, Row{255, 254}}) {
        SCOPED_TRACE(int(row.slot));
        put(static_cast<uint8_t>(row.index), 38);
        EXPECT_EQ(check(row.slot, 1), 0);
        EXPECT_EQ(lookups(), (std::vector<std::vector<int64_t>>{{row.index, 2}}));
        EXPECT_EQ(logged(), std::vector<Logged>{refusal(row.slot)});

        emu::pdb::reset();
        EXPECT_EQ(check(row.slot, 1), 1);
        EXPECT_EQ(logged(), (std::vector<Logged>{lookup_failed(static_cast<int>(row.index)),
                                                 download(row.slot)}));
    }
}

TEST_F(LcDownload, IsModuleDceAnswersTheHostDirectly) {
    put(4, 139);
    EXPECT_EQ(is_dce(5), 1);
    EXPECT_EQ(lookups(), (std::vector<std::vector<int64_t>>{{4, 2}}));
    EXPECT_TRUE(logged().empty());

    put(4, 140);
    EXPECT_EQ(is_dce(5), 0);
    EXPECT_TRUE(logged().empty());

    // A failed lookup counts as not DCE, with an error naming the slot index.
    put(0, 139);
    EXPECT_EQ(is_dce(5), 0);
    EXPECT_EQ(lookups(), (std::vector<std::vector<int64_t>>{{4, 2}}));
    EXPECT_EQ(logged(), std::vector<Logged>{lookup_failed(4)});
}

} // namespace
} // namespace rire_test
