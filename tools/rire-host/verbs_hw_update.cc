// Host events on the road of a held DI: oiflist callbacks, request re-keys
// and hardware-update answers, each delivered through the callback vector.
#include <algorithm>

#include "emu/services/mts.h"
#include "plugin/include/rire_orsk_records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {

void print_result(Session &s, int64_t value) {
    s.output().record(
        "result",
        [value] {
            return Fields{{"value", value}};
        },
        "  result " + std::to_string(value) + "\n");
    s.set_result(static_cast<uint32_t>(value));
}

namespace {

// The plugin's result answers whether it held the old DI only when the link
// update holds one (rire_orsk_link_update_holds); otherwise it means nothing.
void link_update(Session &s, const Args &a) {
    const uint32_t old_di = a.u32("old-di"), new_di = a.u32("new-di");
    const uint32_t held = s.api().oiflist_link_update(
        a.u32("req"), a.u32("type"), a.u32("old-index"), old_di, a.u32("new-index"), new_di);
    s.set_result(held); // `expect result` sees it also when it is not shown
    if (!rire_orsk_link_update_holds(old_di, new_di))
        return;
    s.output().record(
        "result",
        [held] {
            return Fields{{"value", held}, {"held", held == 1}};
        },
        "  result " + std::to_string(held) + (held == 1 ? " (held)\n" : " (not held)\n"));
    if (held != 1)
        s.verdict().strict_failure("result", "link-update: the DI was not held");
}

std::string held_list(const Request &r) {
    std::string text;
    for (const HeldDi &h : r.held)
        text += (text.empty() ? "" : ", ") + std::string("DI ") + std::to_string(h.di);
    return text.empty() ? "no DIs" : text;
}

// The DIs a request holds, newest first.
Fields held_dis(const Request &r) {
    Fields dis = Fields::array();
    for (const HeldDi &h : r.held)
        dis.push_back(h.di);
    return dis;
}

// What a command did to the plugin's requests: one line for each request
// re-keyed (it left under one id and came back under another with the same
// DIs), removed (its DIs released) or added.
void print_changes(Session &s, const std::optional<std::vector<Request>> &before) {
    const auto after = s.requests();
    if (!before || !after)
        return;
    auto has = [](const std::vector<Request> &in, const Request &r) {
        return std::any_of(in.begin(), in.end(),
                           [&r](const Request &o) { return o.req_id == r.req_id; });
    };
    std::vector<Request> gone, added;
    for (const Request &r : *before)
        if (!has(*after, r))
            gone.push_back(r);
    for (const Request &r : *after)
        if (!has(*before, r))
            added.push_back(r);
    Output &out = s.output();
    if (gone.size() == 1 && added.size() == 1 && held_list(gone[0]) == held_list(added[0])) {
        out.record(
            "rekeyed",
            [&] {
                return Fields{{"req_id", gone[0].req_id}, {"new_req_id", added[0].req_id}};
            },
            "  request " + std::to_string(gone[0].req_id) + " re-keyed to " +
                std::to_string(added[0].req_id) + "\n");
        return;
    }
    for (const Request &r : gone)
        out.record(
            "done",
            [&] {
                return Fields{{"req_id", r.req_id}, {"released", held_dis(r)}};
            },
            "  request " + std::to_string(r.req_id) + " done, released " + held_list(r) + "\n");
    for (const Request &r : added)
        out.record(
            "added",
            [&] {
                return Fields{{"req_id", r.req_id}, {"held", held_dis(r)}};
            },
            "  request " + std::to_string(r.req_id) + " added, holding " + held_list(r) + "\n");
    if (gone.empty() && added.empty())
        out.record("unchanged", {}, "  no request changed\n");
}

void swap(Session &s, const Args &a) {
    mts_msg old_msg =
        emu::services::mts::make(a.u32("opcode", MTS_OPC_HW_UPDATE_DONE), a.u32("old"));
    mts_msg new_msg =
        emu::services::mts::make(a.u32("opcode", MTS_OPC_HW_UPDATE_DONE), a.u32("new"));
    const auto before = s.requests();
    s.api().hw_update_req_swap(&old_msg, &new_msg);
    print_changes(s, before);
}

void hw_done(Session &s, const Args &a) {
    mts_msg answer = emu::services::mts::make(a.u32("opcode", MTS_OPC_HW_UPDATE_DONE), a.u32("id"));
    const auto before = s.requests();
    print_result(s, s.api().hw_update_done(&answer));
    print_changes(s, before);
}

void oiflist_alloc(Session &s, const Args &a) {
    uint32_t p[10];
    for (int i = 0; i < 10; i++)
        p[i] = a.u32("p" + std::to_string(i + 1));
    print_result(s,
                 s.api().oiflist_alloc(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9]));
}

void oiflist_hw_done(Session &s, const Args &a) {
    s.api().oiflist_hw_update_done(a.u32("type"));
}

void oiflist_di_update(Session &s, const Args &) {
    print_result(s, s.api().oiflist_di_update());
}

void oiflist_delete(Session &s, const Args &a) {
    s.api().oiflist_delete(a.u32("type"), a.u32("index"), a.u32("di"));
}

void opc_check(Session &s, const Args &a) {
    mts_msg msg = emu::services::mts::make(a.u32("opcode"), a.u32("id"));
    print_result(s, s.api().mts_opc_check(&msg));
}

std::vector<ParamSpec> alloc_params() {
    static const char *names[] = {"p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9", "p10"};
    std::vector<ParamSpec> params;
    for (const char *n : names)
        params.push_back({n, ArgKind::kU32, false, ""});
    params[4].help = "returned as is when p9 is nonzero";
    params[9].help = "its low 16 bits are the system upgrade flag";
    return params;
}

} // namespace

void add_hw_update_verbs(VerbTable &verbs) {
    verbs.add({"link-update",
               {{"req", ArgKind::kU32, true, "message id of the hardware-update request"},
                {"type", ArgKind::kU32, true,
                 "oiflist type: the host has 1 and 2; any other value reaches the plugin\n"
                 "          as given (it keeps the low 8 bits), to test what it does with it"},
                {"old-index", ArgKind::kU32, false, "index of the oiflist left"},
                {"old-di", ArgKind::kDi, true, "its DI"},
                {"new-index", ArgKind::kU32, false, "index of the oiflist joined"},
                {"new-di", ArgKind::kDi, true, "its DI"}},
               {},
               "re-link routes between oiflists: request req holds a valid old DI when the\n"
               "new DI is not null, and only then is the plugin's result shown",
               link_update});
    verbs.add({"swap",
               {{"old", ArgKind::kU32, true, "message id the request carries now"},
                {"new", ArgKind::kU32, true, "message id it carries from now on"}},
               {},
               "hand over a new message for a request: the request is re-keyed",
               swap});
    verbs.add({"hw-done",
               {{"id", ArgKind::kU32, true, "message id the answer carries"},
                {"opcode", ArgKind::kU32, false, "answer opcode (default MTS_OPC_HW_UPDATE_DONE)"}},
               {},
               "deliver the answer to a hardware-update request",
               hw_done});
    verbs.add({"opc-check",
               {{"opcode", ArgKind::kU32, true, "the message's opcode"},
                {"id", ArgKind::kU32, false, "its message id"}},
               {},
               "ask the platform whether it accepts a message",
               opc_check});
    verbs.add(
        {"oiflist-alloc", alloc_params(), {}, "the oiflist allocation callback", oiflist_alloc});
    verbs.add({"oiflist-hw-done",
               {{"type", ArgKind::kU32, true, "oiflist type"}},
               {},
               "hardware update done for an oiflist type",
               oiflist_hw_done});
    verbs.add({"oiflist-di-update",
               {},
               {},
               "the oiflist DI update callback (it takes no argument the plugin reads)",
               oiflist_di_update});
    verbs.add({"oiflist-delete",
               {{"type", ArgKind::kU32, true, ""},
                {"index", ArgKind::kU32, true, ""},
                {"di", ArgKind::kDi, false, "its DI"}},
               {},
               "the oiflist deletion callback",
               oiflist_delete});
}

} // namespace rire_host
