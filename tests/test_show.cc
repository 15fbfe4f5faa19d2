// The show callback's distributed multicast OIF and DI listings, and the
// print operations the host uses for DI records and pending-DI records.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "emu/cmd.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::cmd::Answer;
using emu::cmd::Attr;
using emu::cmd::Bytes;
using emu::cmd::u32_attr;

constexpr int32_t kOif = RIRE_ORSK_SHOW_DIST_MULTICAST_OIF;
constexpr int32_t kDi = RIRE_ORSK_SHOW_DIST_MULTICAST_DI;
constexpr int32_t kTagOifExtra1 = CMD_TAG_OIF_EXTRA1;
constexpr int32_t kTagOifExtra2 = CMD_TAG_OIF_EXTRA2;
constexpr int32_t kTagOifIndex = CMD_TAG_OIFLIST_INDEX;
constexpr int32_t kTagDiIndex = CMD_TAG_DI_OIFLIST_INDEX;
constexpr int32_t kTagOdd = static_cast<int32_t>(0x80000001u);

const char kOifNone[] = "No Oiflists found";
const char kDiNone[] = "No Oiflists found \n";

std::string unknown_tag(int32_t tag) {
    return "Received unknown tag " + std::to_string(tag) + "\n";
}

class Show : public PluginTest {
  protected:
    cmd_req &open(std::vector<Attr> attrs = {}, std::optional<Bytes> cookie = std::nullopt) {
        mark_log();
        journal_mark_ = emu::journal::calls().size();
        return emu::cmd::open(std::move(attrs), std::move(cookie));
    }

    // Host calls named `op` since the last open().
    std::vector<emu::journal::Call> calls(const std::string &op) {
        std::vector<emu::journal::Call> out;
        const auto &all = emu::journal::calls();
        for (size_t i = journal_mark_; i < all.size(); i++)
            if (all[i].op == op)
                out.push_back(all[i]);
        return out;
    }

    // The final answers sent since the last open(): cmd_rsp_send_nok and cmd_prt_send_nok.
    size_t answers_sent() {
        return calls("cmd_rsp_send_nok").size() + calls("cmd_prt_send_nok").size();
    }

    // (tag, len) of each print argument made since the last open().
    std::vector<std::vector<int64_t>> print_args() {
        std::vector<std::vector<int64_t>> out;
        for (const emu::journal::Call &c : calls("cmd_prt_arg_make"))
            out.push_back(c.args);
        return out;
    }

    size_t journal_mark_ = 0;
};

TEST_F(Show, UnknownCommandIdIsRefused) {
    for (int32_t id : {0, 1, 99999, 100002, -1}) {
        SCOPED_TRACE(id);
        cmd_req &req = open({u32_attr(kTagOifIndex, 5)}, emu::cmd::u32_bytes(9));
        EXPECT_EQ(api().show(&req, id), emu::cmd::kOk);
        EXPECT_EQ(req.answer, Answer::nok);
        EXPECT_EQ(req.answer_text, "unknown set command-id " + std::to_string(id));
        EXPECT_EQ(answers_sent(), 1u);
        EXPECT_TRUE(calls("cmd_req_attr_getnext").empty());
        EXPECT_TRUE(calls("cmd_req_cookie_get").empty());
        EXPECT_TRUE(messages().empty());
    }
}

TEST_F(Show, ListingsAnswerNotFound) {
    struct Row {
        const char *name;
        int32_t cmd;
        std::vector<Attr> attrs;
        std::optional<Bytes> cookie;
        Answer answer;
        std::string text;
        std::vector<std::string> errors = {};
    };
    const Bytes cookie9 = emu::cmd::u32_bytes(9);
    const Bytes cookie8(8, 0x01);
    const Row rows[] = {
        {"di index", kDi, {u32_attr(kTagDiIndex, 7)}, {}, Answer::not_found, "Oiflist 7 not found"},
        {"di nothing", kDi, {}, {}, Answer::not_found, kDiNone},
        {"oif nothing", kOif, {}, {}, Answer::not_found, kOifNone},
        {"oif extras ignored",
         kOif,
         {u32_attr(kTagOifExtra1, 3), u32_attr(kTagOifExtra2, 4)},
         {},
         Answer::not_found,
         kOifNone},
        {"oif index",
         kOif,
         {u32_attr(kTagOifIndex, 5)},
         {},
         Answer::not_found,
         "Oiflist 5 not found"},
        {"oif index zero still names it",
         kOif,
         {u32_attr(kTagOifIndex, 0)},
         {},
         Answer::not_found,
         "Oiflist 0 not found"},
        {"cookie wins over the attribute",
         kOif,
         {u32_attr(kTagOifIndex, 5)},
         cookie9,
         Answer::not_found,
         "Oiflist 9 not found"},
        {"di cookie wins",
         kDi,
         {u32_attr(kTagDiIndex, 5)},
         cookie9,
         Answer::not_found,
         "Oiflist 9 not found"},
        {"oif cookie alone", kOif, {}, cookie9, Answer::not_found, kOifNone},
        {"di cookie alone", kDi, {}, cookie9, Answer::not_found, kDiNone},
        {"oif 8-byte cookie",
         kOif,
         {u32_attr(kTagOifIndex, 5)},
         cookie8,
         Answer::nok,
         "Unknown cookie"},
        {"di 8-byte cookie",
         kDi,
         {u32_attr(kTagDiIndex, 5)},
         cookie8,
         Answer::nok,
         "Unknown cookie"},
        {"empty cookie", kOif, {}, Bytes{}, Answer::nok, "Unknown cookie"},
        {"3-byte cookie", kDi, {}, Bytes(3, 0), Answer::nok, "Unknown cookie"},
        {"later index wins",
         kOif,
         {u32_attr(kTagOifIndex, 5), u32_attr(kTagOifIndex, 6)},
         {},
         Answer::not_found,
         "Oiflist 6 not found"},
        {"index is signed",
         kDi,
         {u32_attr(kTagDiIndex, 5), u32_attr(kTagDiIndex, 0xFFFFFFFD)},
         {},
         Answer::not_found,
         "Oiflist -3 not found"},
        {"di rejects the oif index tag",
         kDi,
         {u32_attr(kTagOifIndex, 4)},
         {},
         Answer::not_found,
         kDiNone,
         {"Received unknown tag 291504131\n"}},
        {"di rejects the oif extras",
         kDi,
         {u32_attr(kTagOifExtra1, 1), u32_attr(kTagOifExtra2, 1)},
         {},
         Answer::not_found,
         kDiNone,
         {unknown_tag(kTagOifExtra1), unknown_tag(kTagOifExtra2)}},
        {"oif rejects the di index tag",
         kOif,
         {u32_attr(kTagDiIndex, 4)},
         {},
         Answer::not_found,
         kOifNone,
         {unknown_tag(kTagDiIndex)}},
        {"unknown tag is signed and skipped",
         kOif,
         {u32_attr(kTagOifIndex, 5), u32_attr(kTagOdd, 1), u32_attr(0, 1)},
         {},
         Answer::not_found,
         "Oiflist 5 not found",
         {"Received unknown tag -2147483647\n", "Received unknown tag 0\n"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        cmd_req &req = open(row.attrs, row.cookie);
        EXPECT_EQ(api().show(&req, row.cmd), emu::cmd::kOk);
        EXPECT_EQ(req.answer, row.answer);
        EXPECT_EQ(req.answer_text, row.text);
        EXPECT_EQ(answers_sent(), 1u) << "one final answer and nothing else";
        EXPECT_EQ(row.answer == Answer::nok, calls("cmd_prt_send_nok").empty());
        EXPECT_TRUE(req.lines.empty());
        // Every attribute is read, then the cookie once.
        EXPECT_EQ(calls("cmd_req_attr_getnext").size(), row.attrs.size() + 1);
        EXPECT_EQ(calls("cmd_req_cookie_get").size(), 1u);

        EXPECT_EQ(messages(), row.errors);
        const char *func = row.cmd == kDi ? "rire_orsk_show_dist_multicast_di("
                                          : "rire_orsk_show_dist_multicast_oif(";
        const auto &events = emu::log::event_log();
        for (size_t i = log_mark_; i < events.size(); i++) {
            EXPECT_EQ(events[i].level, RIRE_ORSK_LOG_LEVEL_ERROR);
            EXPECT_EQ(events[i].text().rfind(func, 0), 0u) << events[i].text();
        }
    }
}

TEST_F(Show, ListingsAreExportedAndAnswerAlike) {
    auto oif =
        fn<decltype(&rire_orsk_show_dist_multicast_oif)>("rire_orsk_show_dist_multicast_oif");
    auto di = fn<decltype(&rire_orsk_show_dist_multicast_di)>("rire_orsk_show_dist_multicast_di");
    cmd_req &a = open({u32_attr(kTagOifIndex, 11)});
    EXPECT_EQ(oif(&a), emu::cmd::kOk);
    EXPECT_EQ(a.answer_text, "Oiflist 11 not found");
    cmd_req &b = open();
    EXPECT_EQ(di(&b), emu::cmd::kOk);
    EXPECT_EQ(b.answer_text, kDiNone);
}

TEST_F(Show, ResultIsThatOfTheAnsweringCall) {
    struct Row {
        const char *name;
        int32_t cmd;
        std::optional<Bytes> cookie;
    };
    for (const Row &row : {Row{"unknown id", 7, {}}, Row{"oif", kOif, {}}, Row{"di", kDi, {}},
                           Row{"bad cookie", kDi, Bytes(8, 0)}}) {
        SCOPED_TRACE(row.name);
        cmd_req &req = open({}, row.cookie);
        req.answer = Answer::nok; // answered already: the service refuses a second answer
        EXPECT_EQ(api().show(&req, row.cmd), emu::cmd::kAnswered);
    }
}

TEST_F(Show, PrintNotFoundAnswers) {
    cmd_req &di = open();
    EXPECT_EQ(fn<decltype(&rire_print_orsk_dist_di)>("rire_print_orsk_dist_di")(&di),
              emu::cmd::kOk);
    EXPECT_EQ(di.answer, Answer::not_found);
    EXPECT_EQ(di.answer_text, kDiNone);

    auto oiflist = fn<decltype(&rire_print_orsk_dist_oiflist)>("rire_print_orsk_dist_oiflist");
    cmd_req &oif = open();
    EXPECT_EQ(oiflist(&oif, 7, 9), emu::cmd::kOk);
    EXPECT_EQ(oif.answer, Answer::not_found);
    EXPECT_EQ(oif.answer_text, kOifNone);

    cmd_req &answered = open();
    answered.answer = Answer::nok;
    EXPECT_EQ(oiflist(&answered, 0, 0), emu::cmd::kAnswered);
}

TEST_F(Show, PrintOneDiInfoRendersThreeTaggedLines) {
    auto print = fn<decltype(&rire_print_one_di_info)>("rire_print_one_di_info");
    // Exactly the 14 bytes the printer reads, on the heap so an overread shows.
    std::vector<uint8_t> record(14, 0xEE);
    const uint32_t di = 0x1234, oiflist_index = 77;
    const uint16_t ref_count = 0xFFFE;
    std::memcpy(record.data(), &di, 4);
    std::memcpy(record.data() + 4, &oiflist_index, 4);
    std::memcpy(record.data() + 12, &ref_count, 2);

    cmd_req &req = open();
    EXPECT_EQ(print(&req, record.data()), emu::cmd::kOk);
    EXPECT_EQ(req.answer, Answer::printed);
    EXPECT_EQ(emu::cmd::output(req), "\n  Destination Index: 4660 \n"
                                     "  Reference Count: 65534 \n"
                                     "  Oiflist Index: 77 \n");
    EXPECT_EQ(print_args(), (std::vector<std::vector<int64_t>>{
                                {0x22600006, 4}, {0x11600007, 4}, {0x22600006, 4}}));
    EXPECT_EQ(calls("cmd_prt").size(), 3u);
    EXPECT_EQ(answers_sent(), 0u);

    cmd_req &answered = open();
    answered.answer = Answer::nok;
    EXPECT_EQ(print(&answered, record.data()), emu::cmd::kAnswered);
}

class ShowDiReqPrint : public Show {
  protected:
    // Held DIs linked in order, di 300 + i, oiflist index 40 + i, ref_count 1 + i.
    void hold(size_t n) {
        elems_.assign(n, rire_orsk_di_hold_q_elem{});
        for (size_t i = 0; i < n; i++) {
            elems_[i].next = i + 1 < n ? &elems_[i + 1] : nullptr;
            elems_[i].di = static_cast<uint16_t>(300 + i);
            elems_[i].oiflist_index = static_cast<uint32_t>(40 + i);
            elems_[i].ref_count = static_cast<uint16_t>(1 + i);
        }
    }

    std::string print(const rire_orsk_di_req &rec) {
        cmd_req &req = open();
        fn<decltype(&rire_print_one_di_req)>("rire_print_one_di_req")(&req, &rec);
        EXPECT_EQ(answers_sent(), 0u);
        return emu::cmd::output(req);
    }

    static std::string header(const char *state) {
        return std::string("\n  Outgoing Interface List Index: 12\n"
                           "  Reference Count: 65535 \n"
                           "  State: ") +
               state + " \n";
    }
    static std::string held(size_t i) {
        return "        hold_q destination index: " + std::to_string(300 + i) +
               "\n          hold_q oiflist index: " + std::to_string(40 + i) +
               "\n          Reference count: " + std::to_string(1 + i) + " \n";
    }

    rire_orsk_di_req record(uint32_t state, uint32_t num_hold_di) {
        rire_orsk_di_req rec{};
        rec.oiflist_index = 12;
        rec.oiflist_type = 1;
        rec.ref_count = 0xFFFF;
        rec.state = state;
        rec.hold_q.head = elems_.empty() ? nullptr : elems_.data();
        rec.hold_q.count = num_hold_di;
        return rec;
    }

    std::vector<rire_orsk_di_hold_q_elem> elems_;
};

TEST_F(ShowDiReqPrint, RecordThenEachHeldDiWithTheirTags) {
    hold(2);
    EXPECT_EQ(print(record(1, 2)), header("PENDING_HW_UPDATE") + held(0) + held(1));
    EXPECT_EQ(print_args(), (std::vector<std::vector<int64_t>>{
                                {0x11600003, 4},
                                {0x11600004, 4},
                                {0x30600005, 17},
                                {0x11600003, 2},
                                {0x11600003, 4},
                                {0x11600004, 4},
                                {0x11600003, 2},
                                {0x11600003, 4},
                                {0x11600004, 4},
                            }));
}

TEST_F(ShowDiReqPrint, StateOtherThanOneIsInvalid) {
    for (uint32_t state : {0u, 2u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(state);
        EXPECT_EQ(print(record(state, 0)), header("STATE_INVALID"));
        EXPECT_EQ(print_args()[2], (std::vector<int64_t>{0x30600005, 13}));
    }
}

TEST_F(ShowDiReqPrint, HeldDisAreWalkedToTheNullLinkOnlyWhenCounted) {
    struct Row {
        const char *name;
        size_t linked;
        uint32_t num_hold_di;
        size_t printed;
    };
    const Row rows[] = {
        {"count zero, head set", 2, 0, 0},
        {"count set, no head", 0, 3, 0},
        {"count below the list", 3, 1, 3},
        {"count above the list", 1, 5, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        hold(row.linked);
        std::string expected = header("PENDING_HW_UPDATE");
        for (size_t i = 0; i < row.printed; i++)
            expected += held(i);
        EXPECT_EQ(print(record(1, row.num_hold_di)), expected);
        EXPECT_EQ(calls("cmd_prt").size(), 3 + 3 * row.printed);
    }
}

} // namespace
} // namespace rire_test
