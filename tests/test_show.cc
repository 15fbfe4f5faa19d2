// What the show transcripts (tests/show/listings.t) cannot see: the exact
// answer texts a console trims, the tags and lengths behind each printed
// value, the result handed back, and held-DI lists whose count disagrees
// with their links.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "emu/services/cmd.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::services::cmd::Answer;
using Args = std::vector<std::vector<int64_t>>;

class Show : public PluginTest {
  protected:
    cmd_req &open(std::optional<emu::services::cmd::Bytes> cookie = std::nullopt) {
        mark_ = emu::base::journal::calls().size();
        return emu::services::cmd::open({}, std::move(cookie));
    }
    // (tag, len) of each print argument made since the last open().
    Args print_args() {
        Args out;
        const auto &all = emu::base::journal::calls();
        for (size_t i = mark_; i < all.size(); i++)
            if (all[i].op == "cmd_prt_arg_make")
                out.push_back(all[i].args);
        return out;
    }
    size_t mark_ = 0;
};

// Each answer exactly, and the answering call's result handed back: kOk
// when it answered, kAnswered when the request had its answer already.
TEST_F(Show, AnswersAndTheirResults) {
    constexpr int32_t kOif = RIRE_ORSK_SHOW_DIST_MULTICAST_OIF,
                      kDi = RIRE_ORSK_SHOW_DIST_MULTICAST_DI;
    constexpr int32_t kPrintDi = -1, kPrintOiflist = -2; // the print operations, not show ids
    const auto call = [this](int32_t which, cmd_req &r) {
        if (which == kPrintDi)
            return fn<decltype(&rire_print_orsk_dist_di)>("rire_print_orsk_dist_di")(&r);
        if (which == kPrintOiflist)
            return fn<decltype(&rire_print_orsk_dist_oiflist)>("rire_print_orsk_dist_oiflist")(
                &r, 7, 9);
        return api().show(&r, which);
    };
    const struct {
        int32_t which;
        size_t cookie_len; // 0: no cookie
        Answer answer;
        const char *text;
    } rows[] = {{kOif, 0, Answer::not_found, "No Oiflists found"},
                {kDi, 0, Answer::not_found, "No Oiflists found \n"},
                {kDi, 8, Answer::nok, "Unknown cookie"},
                {7, 0, Answer::nok, "unknown set command-id 7"},
                {kPrintDi, 0, Answer::not_found, "No Oiflists found \n"},
                {kPrintOiflist, 0, Answer::not_found, "No Oiflists found"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.which);
        std::optional<emu::services::cmd::Bytes> cookie;
        if (row.cookie_len != 0)
            cookie = emu::services::cmd::Bytes(row.cookie_len, 0);
        cmd_req &req = open(cookie);
        EXPECT_EQ(call(row.which, req), emu::services::cmd::kOk);
        EXPECT_EQ(req.answer, row.answer);
        EXPECT_EQ(req.answer_text, row.text);
        cmd_req &answered = open(cookie);
        answered.answer = Answer::nok;
        EXPECT_EQ(call(row.which, answered), emu::services::cmd::kAnswered);
    }
    uint8_t info[14] = {};
    auto print_info = fn<decltype(&rire_print_one_di_info)>("rire_print_one_di_info");
    EXPECT_EQ(print_info(&open(), info), emu::services::cmd::kOk);
    EXPECT_EQ(print_args(), (Args{{0x22600006, 4}, {0x11600007, 4}, {0x22600006, 4}}));
    cmd_req &answered = open();
    answered.answer = Answer::nok;
    EXPECT_EQ(print_info(&answered, info), emu::services::cmd::kAnswered);
}

// Held DIs are printed only when counted, and then walked to the null link.
TEST_F(Show, PendingRecordPrintsHeldDisByTheirLinks) {
    rire_orsk_di_hold_q_elem elems[3] = {};
    for (size_t i = 0; i < 3; i++) {
        elems[i].next = i + 1 < 3 ? &elems[i + 1] : nullptr;
        elems[i].di = static_cast<uint16_t>(300 + i);
    }
    const struct {
        uint32_t state, count;
        void *head;
        size_t printed;
        const char *state_text;
    } rows[] = {{1, 0, elems, 0, "PENDING_HW_UPDATE"},
                {1, 3, nullptr, 0, "PENDING_HW_UPDATE"},
                {0, 1, elems, 3, "STATE_INVALID"},
                {0xFFFFFFFF, 5, &elems[2], 1, "STATE_INVALID"}};
    auto print = fn<decltype(&rire_print_one_di_req)>("rire_print_one_di_req");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.count);
        rire_orsk_di_req rec{};
        rec.state = row.state;
        rec.hold_q.head = row.head;
        rec.hold_q.count = row.count;
        cmd_req &req = open();
        print(&req, &rec);
        const std::string out = emu::services::cmd::output(req);
        EXPECT_NE(out.find(std::string("State: ") + row.state_text + " \n"), std::string::npos);
        Args want = {{0x11600003, 4},
                     {0x11600004, 4},
                     {0x30600005, static_cast<int64_t>(std::strlen(row.state_text))}};
        for (size_t i = 0; i < row.printed; i++)
            want.insert(want.end(), {{0x11600003, 2}, {0x11600003, 4}, {0x11600004, 4}});
        EXPECT_EQ(print_args(), want);
    }
}

} // namespace
} // namespace rire_test
