// Show commands as an operator types them on the switch console, answered by
// the plugin through the host's command-response service.
#include <cstring>
#include <iomanip>
#include <sstream>

#include "emu/rire/pending_di.h"
#include "emu/services/cmd.h"
#include "emu/services/im.h"
#include "emu/services/l3lif.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

constexpr int32_t kTagOifIndex = CMD_TAG_OIFLIST_INDEX;
constexpr int32_t kTagDiIndex = CMD_TAG_DI_OIFLIST_INDEX;

// Prints a response the way the console shows it: printed lines as they are,
// a negative response behind "% ", each line without the trailing blanks a
// console does not show either.
void print_response(Session &s, const cmd_req &req) {
    std::string text = emu::services::cmd::output(req);
    if (req.answer == emu::services::cmd::Answer::nok)
        text = "% " + req.answer_text;
    s.set_show_answer(text);
    std::istringstream lines(text);
    std::string shown;
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        shown += line + "\n";
    }
    s.output().record("show",
                      {{"ok", req.answer != emu::services::cmd::Answer::nok},
                       {"text", req.answer == emu::services::cmd::Answer::nok ? req.answer_text : shown}},
                      shown);
}

template <class Call> void answer(Session &s, const Args &a, int32_t index_tag, Call call) {
    std::vector<emu::services::cmd::Attr> attrs;
    if (a.has("index"))
        attrs.push_back(emu::services::cmd::u32_attr(index_tag, a.u32("index")));
    if (a.has("tag"))
        attrs.push_back(emu::services::cmd::u32_attr(a.i32("tag"), a.u32("value")));
    cmd_req &req = emu::services::cmd::open(attrs, a.bytes("cookie"));
    call(req);
    print_response(s, req);
    emu::services::cmd::close(req);
}

void show_oif(Session &s, const Args &a) {
    answer(s, a, kTagOifIndex,
           [&](cmd_req &req) { s.api().show(&req, RIRE_ORSK_SHOW_DIST_MULTICAST_OIF); });
}

void show_di(Session &s, const Args &a) {
    answer(s, a, kTagDiIndex,
           [&](cmd_req &req) { s.api().show(&req, RIRE_ORSK_SHOW_DIST_MULTICAST_DI); });
}

void show_command(Session &s, const Args &a) {
    answer(s, a, kTagOifIndex, [&](cmd_req &req) { s.api().show(&req, a.i32("id")); });
}

void show_pending(Session &s, const Args &a) {
    rire_orsk_di_req *rec = emu::rire::pending_di::find(a.u32("type"), a.u32("index"));
    if (rec == nullptr) {
        const std::string text = "no pending-DI record for oiflist type " +
                                 std::to_string(a.u32("type")) + " index " +
                                 std::to_string(a.u32("index"));
        s.output().record("show", {{"ok", false}, {"text", text}}, "% " + text + "\n");
        return;
    }
    answer(s, Args{}, 0, [&](cmd_req &req) {
        s.fn<decltype(&rire_print_one_di_req)>("rire_print_one_di_req")(&req, rec);
    });
}

void show_di_info(Session &s, const Args &a) {
    uint8_t info[16] = {};
    const uint32_t di = a.u32("di"), index = a.u32("index");
    const uint16_t ref = static_cast<uint16_t>(a.u32("ref"));
    std::memcpy(info, &di, 4);
    std::memcpy(info + 4, &index, 4);
    std::memcpy(info + 12, &ref, 2);
    answer(s, Args{}, 0, [&](cmd_req &req) {
        s.fn<decltype(&rire_print_one_di_info)>("rire_print_one_di_info")(&req, info);
    });
}

std::string hex32(uint32_t v) {
    std::ostringstream out;
    out << "0x" << std::hex << std::setw(8) << std::setfill('0') << v;
    return out.str();
}

// One row per interface: the DF bits programmed on it and the MTS queue of
// the last property request ('-' when none came).
void show_interfaces(Session &s, const Args &) {
    s.output().record(nullptr, {}, "  Interface        Ifindex     Kind       DF mask     Queue\n");
    for (const auto &i : emu::services::im::list()) {
        uint32_t q = 0;
        for (const auto &st : emu::services::l3lif::interfaces())
            if (st.ifindex == i.ifindex)
                q = st.q_handle;
        std::ostringstream queue;
        if (q != 0)
            queue << "0x" << std::hex << q;
        std::ostringstream row;
        row << "  " << std::left << std::setw(16) << i.name << " " << hex32(i.ifindex) << "  "
            << std::setw(10) << emu::services::im::kind_name(i.kind) << " "
            << hex32(emu::services::l3lif::df_mask(i.ifindex)) << "  " << (q ? queue.str() : "-") << "\n";
        Fields fields = {{"name", i.name},
                         {"ifindex", i.ifindex},
                         {"kind", emu::services::im::kind_name(i.kind)},
                         {"df_mask", emu::services::l3lif::df_mask(i.ifindex)},
                         {"queue", nullptr}};
        if (q != 0)
            fields["queue"] = q;
        s.output().record("interface", std::move(fields), row.str());
    }
}

const std::vector<ParamSpec> kListingParams = {
    {"index", ArgKind::kU32, false, "oiflist index to ask about"},
    {"cookie", ArgKind::kBytes, false, "continuation cookie, e.g. 0x09000000"},
    {"tag", ArgKind::kI32, false, "an extra attribute's tag"},
    {"value", ArgKind::kU32, false, "the extra attribute's value"}};

std::optional<std::string> tag_with_value(const Args &a) {
    if (a.has("tag") != a.has("value"))
        return "tag= and value= go together";
    return std::nullopt;
}

} // namespace

void add_show_verbs(VerbTable &verbs) {
    verbs.add({"show oif",
               kListingParams,
               {},
               "distributed multicast OIF listing",
               show_oif,
               tag_with_value});
    verbs.add({"show di",
               kListingParams,
               {},
               "distributed multicast DI listing",
               show_di,
               tag_with_value});
    std::vector<ParamSpec> command_params = kListingParams;
    command_params.insert(command_params.begin(), {"id", ArgKind::kI32, true, "command id"});
    verbs.add(
        {"show command", command_params, {}, "any show command id", show_command, tag_with_value});
    verbs.add({"show pending",
               {{"type", ArgKind::kU32, true, ""}, {"index", ArgKind::kU32, true, ""}},
               {},
               "print a host pending-DI record with its held DIs",
               show_pending});
    verbs.add({"show di-info",
               {{"di", ArgKind::kU32, true, ""},
                {"index", ArgKind::kU32, true, ""},
                {"ref", ArgKind::kU16, false, "reference count"}},
               {},
               "print a DI information record",
               show_di_info});
    verbs.add({"show interfaces",
               {},
               {},
               "interfaces with the DF bits programmed on them",
               show_interfaces});
}

} // namespace rire_host
