// Expectations: `expect WHAT ...` checks one piece of observable state, the
// same the dump and show verbs print, and says nothing when it holds. When it
// does not, the run goes on and fails at the end; the failure reads
//   FILE:LINE: expectation failed: wanted W, got G
// where W and G are written in the expectation's own words, so the line to
// paste into a scenario can be read off G. Only the fields an expectation
// names are compared; lists are compared whole and in order.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "emu/base/bytes.h"
#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/bitmaps.h"
#include "emu/rire/heartbeat.h"
#include "emu/rire/stats.h"
#include "emu/services/l3lif.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

using emu::base::bytes::Bytes;
using Held = std::vector<std::pair<uint32_t, uint32_t>>;

std::string list_text(const std::vector<uint32_t> &values) {
    std::string text;
    for (uint32_t v : values)
        text += (text.empty() ? "" : ",") + std::to_string(v);
    return text.empty() ? "none" : text;
}

std::string held_text(const Held &held) {
    std::string text;
    for (const auto &[di, index] : held)
        text += (text.empty() ? "" : ",") + std::to_string(di) + ":" + std::to_string(index);
    return text.empty() ? "none" : text;
}

std::vector<uint32_t> dis_of(const Held &held) {
    std::vector<uint32_t> dis;
    for (const auto &h : held)
        dis.push_back(h.first);
    return dis;
}

void check(Session &s, const std::string &wanted, const std::string &got) {
    if (wanted != got)
        s.verdict().expectation_failed(wanted, got);
}

// --- requests ---------------------------------------------------------------

// The fields of one request that expectations compare.
struct RequestFields {
    uint32_t type;
    std::vector<uint32_t> dis;
    Held held;
    std::vector<uint32_t> refs;
};

std::optional<RequestFields> find_request(Session &s, uint32_t id) {
    const auto requests = s.requests();
    if (!requests)
        throw std::runtime_error("the plugin's request queue is not visible (stripped plugin?)");
    for (const Request &req : *requests) {
        if (req.req_id != id)
            continue;
        RequestFields r{req.type, {}, {}, {}};
        for (const HeldDi &e : req.held) {
            r.dis.push_back(e.di);
            r.held.emplace_back(e.di, e.oiflist_index);
            r.refs.push_back(e.ref_count);
        }
        return r;
    }
    return std::nullopt;
}

// "request req=7 type=1 dis=310,300": the fields `a` names, or all of them.
std::string request_text(uint32_t id, const RequestFields &r, const Args *a) {
    std::string text = "request req=" + std::to_string(id);
    if (!a || a->has("type"))
        text += " type=" + std::to_string(r.type);
    if (a && a->has("dis"))
        text += " dis=" + list_text(r.dis);
    if (!a || a->has("held"))
        text += " held=" + held_text(r.held);
    if (!a || a->has("refs"))
        text += " refs=" + list_text(r.refs);
    return text;
}

void expect_request(Session &s, const Args &a) {
    const uint32_t id = a.u32("req");
    const RequestFields want{a.u32("type"), a.list("dis"), a.pairs("held"), a.list("refs")};
    const auto got = find_request(s, id);
    check(s, request_text(id, want, &a),
          got ? request_text(id, *got, &a) : "no request req=" + std::to_string(id));
}

void expect_no_request(Session &s, const Args &a) {
    const uint32_t id = a.u32("req");
    const auto got = find_request(s, id);
    check(s, "no request req=" + std::to_string(id),
          got ? request_text(id, *got, nullptr) : "no request req=" + std::to_string(id));
}

// The ids of the outstanding requests, head first: the order recovery
// rebuilt them in and answers and swaps left them in.
void expect_queue(Session &s, const Args &a) {
    const auto requests = s.requests();
    if (!requests)
        throw std::runtime_error("the plugin's request queue is not visible (stripped plugin?)");
    std::vector<uint32_t> ids;
    for (const Request &r : *requests)
        ids.push_back(r.req_id);
    check(s, "queue req=" + list_text(a.list("req")), "queue req=" + list_text(ids));
}

// --- stored and queued records ----------------------------------------------

uint32_t service_type(const std::string &name) {
    for (const auto &[type, n] : emu::pss::services())
        if (n == name)
            return type;
    throw std::runtime_error("no PSS service " + name + " is registered");
}

// The fields `a` names of a record, in the order of the verb's parameters.
std::string record_fields(const Record &r, const Bytes &value, const Args &a) {
    std::string text;
    if (a.has("type"))
        text += " type=" + std::to_string(r.type);
    if (a.has("state"))
        text += " state=" + (r.state ? std::to_string(*r.state) : std::string("none"));
    if (a.has("dis"))
        text += " dis=" + list_text(dis_of(r.held));
    if (a.has("held"))
        text += " held=" + held_text(r.held);
    if (a.has("bytes"))
        text += " bytes=0x" + emu::base::bytes::hex(value.data(), value.size());
    return text;
}

std::string wanted_fields(const Args &a) {
    std::string text;
    if (a.has("type"))
        text += " type=" + std::to_string(a.u32("type"));
    if (a.has("state"))
        text += " state=" + std::to_string(a.u32("state"));
    if (a.has("dis"))
        text += " dis=" + list_text(a.list("dis"));
    if (a.has("held"))
        text += " held=" + held_text(a.pairs("held"));
    if (auto b = a.bytes("bytes"))
        text += " bytes=0x" + emu::base::bytes::hex(b->data(), b->size());
    return text;
}

std::string record_name(const Args &a) {
    return a.name("db") + " key=" + std::to_string(a.u32("key"));
}

// The stored value under the key `a` names; nothing when there is none.
std::optional<Bytes> stored(const Args &a) {
    const uint32_t service = service_type(a.name("db"));
    for (const auto &[key, value] : emu::pss::records(service))
        if (decode_key(service, key) == a.u32("key"))
            return value;
    return std::nullopt;
}

void expect_record(Session &s, const Args &a) {
    const auto value = stored(a);
    const std::string name = "record " + record_name(a);
    if (!value)
        return check(s, name + wanted_fields(a), "no " + name);
    const Record r = decode_record(service_type(a.name("db")), {}, *value);
    check(s, name + wanted_fields(a), name + record_fields(r, *value, a));
}

void expect_no_record(Session &s, const Args &a) {
    const std::string name = "record " + record_name(a);
    const auto value = stored(a);
    check(s, "no " + name,
          value ? name + " bytes=0x" + emu::base::bytes::hex(value->data(), value->size())
                : "no " + name);
}

// The last update queued for the key `a` names: the one a flush leaves.
std::optional<emu::pss::Pending> queued(const Args &a) {
    const uint32_t service = service_type(a.name("db"));
    std::optional<emu::pss::Pending> last;
    for (const auto &p : emu::pss::pending())
        if (p.service == service && decode_key(service, p.key) == a.u32("key"))
            last = p;
    return last;
}

std::string queued_text(const emu::pss::Pending &p, const Args &a) {
    if (p.kind == emu::pss::Kind::kDelete)
        return "queued delete " + record_name(a);
    return "queued write " + record_name(a) +
           record_fields(decode_record(p.service, {}, p.value), p.value, a);
}

void expect_queued(Session &s, const Args &a) {
    const auto p = queued(a);
    const std::string wanted = "queued " + a.choice() + " " + record_name(a) +
                               (a.choice() == "write" ? wanted_fields(a) : "");
    check(s, wanted, p ? queued_text(*p, a) : "nothing queued for " + record_name(a));
}

void expect_no_queued(Session &s, const Args &a) {
    const auto p = queued(a);
    const std::string none = "nothing queued for " + record_name(a);
    check(s, none, p ? queued_text(*p, a) : none);
}

void expect_pending(Session &s, const Args &a) {
    check(s, "pending count=" + std::to_string(a.u32("count")),
          "pending count=" + std::to_string(emu::pss::pending_count()));
}

// --- log records ------------------------------------------------------------

uint32_t level_code(const std::string &level) {
    return level == "error" ? RIRE_ORSK_LOG_LEVEL_ERROR : RIRE_ORSK_LOG_LEVEL_TRACE;
}

std::string record_text(uint32_t level, std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    return (level == RIRE_ORSK_LOG_LEVEL_ERROR ? "error " : "trace ") + std::string(text);
}

// A record matches when its level is the one named, its function (the text
// before "(line):") is func= and its text holds text=.
bool matches(uint32_t level, std::string_view text, const Args &a) {
    if (!a.choice().empty() && level != level_code(a.choice()))
        return false;
    if (a.has("func") && text.substr(0, text.find('(')) != a.name("func"))
        return false;
    return !a.has("text") || text.find(a.name("text")) != std::string::npos;
}

std::string log_wanted(const Args &a) {
    std::string text = "log";
    if (!a.choice().empty())
        text += " " + a.choice();
    if (a.has("func"))
        text += " func=" + a.name("func");
    if (a.has("text"))
        text += " text=\"" + a.name("text") + "\"";
    if (a.has("count"))
        text += " count=" + std::to_string(a.u32("count"));
    return text;
}

// What the records of the last command that was not an expectation say:
// the matching one, or a short account of those of the level named; or no
// answer, when the records asked about are no longer all held.
struct LogAnswer {
    enum { kFound, kNotFound, kUnknown } answer;
    std::string got;
    size_t matching = 0; // the records that match
};

// Error-level records come from the verdict, which keeps every one; other
// levels from the in-memory event log, which answers only while it still
// holds every record of the command.
LogAnswer search_log(Session &s, const Args &a) {
    std::vector<std::string> seen;
    std::optional<std::string> found;
    // With count= every record is looked at; else the first match answers.
    size_t matching = 0;
    auto look = [&](uint32_t level, std::string_view text) {
        if (matches(level, text, a)) {
            found = found.value_or("\"" + record_text(level, text) + "\"");
            matching++;
        } else if (a.choice().empty() || level == level_code(a.choice())) {
            seen.push_back(record_text(level, text));
        }
        return found.has_value() && !a.has("count");
    };
    if (a.choice() == "error") {
        for (const std::string &text : s.verdict().window_errors())
            if (look(RIRE_ORSK_LOG_LEVEL_ERROR, text))
                break;
    } else {
        const auto &events = emu::log::event_log();
        const size_t from = s.verdict().log_window();
        if (from < events.first())
            return {LogAnswer::kUnknown,
                    "no answer: the command logged " + std::to_string(events.size() - from) +
                        " records and only the newest " +
                        std::to_string(events.size() - events.first()) +
                        " are held in memory (expect log error sees every error record)"};
        for (size_t i = from; i < events.size(); i++)
            if (look(events[i].level, events[i].text))
                break;
    }
    if (a.has("count"))
        return {LogAnswer::kFound,
                log_wanted(a).substr(0, log_wanted(a).rfind(" count=")) +
                    " count=" + std::to_string(matching),
                matching};
    if (found)
        return {LogAnswer::kFound, *found, matching};
    std::string account =
        counted(seen.size(), a.choice().empty() ? "record" : (a.choice() + " record").c_str());
    for (size_t i = 0; i < seen.size() && i < 3; i++)
        account += (i == 0 ? ": \"" : ", \"") + seen[i] + "\"";
    return {LogAnswer::kNotFound, account + (seen.size() > 3 ? ", ..." : "")};
}

void expect_log(Session &s, const Args &a) {
    const LogAnswer r = search_log(s, a);
    if (r.answer == LogAnswer::kUnknown ||
        (a.has("count") ? r.matching != a.u32("count") : r.answer != LogAnswer::kFound))
        s.verdict().expectation_failed(log_wanted(a), r.got);
}

// The trace record the plugin writes for each DI an answer releases.
constexpr std::string_view kReleaseTrace = "processing DI:";

void expect_released(Session &s, const Args &a) {
    const std::string wanted = "released dis=" + list_text(a.list("dis"));
    const auto got = released_dis(s);
    check(s, wanted,
          got ? "released dis=" + list_text(*got)
              : "no answer: the in-memory event log no longer holds every record of the command");
}

void expect_heap(Session &s, const Args &a) {
    const uint32_t live = s.plugin().heap().live();
    const uint32_t lost = emu::heap_census(s.plugin()).lost;
    std::string wanted = "heap", got = "heap";
    for (const auto &[name, value] : {std::pair{"live", live}, {"lost", lost}})
        if (a.has(name)) {
            wanted += std::string(" ") + name + "=" + std::to_string(a.u32(name));
            got += std::string(" ") + name + "=" + std::to_string(value);
        }
    check(s, wanted, got);
}

void expect_no_log(Session &s, const Args &a) {
    const LogAnswer r = search_log(s, a);
    if (r.answer != LogAnswer::kNotFound)
        s.verdict().expectation_failed("no " + log_wanted(a), r.got);
}

std::optional<std::string> some_of(const Args &a) {
    if (a.empty())
        return "name at least one of them";
    return std::nullopt;
}

// --- host state ---------------------------------------------------------------

// A counter as an argument names it: "word 3" is typed word-3.
std::string stat_key(const std::string &name) {
    std::string key = name;
    std::replace(key.begin(), key.end(), ' ', '-');
    return key;
}

void expect_stat(Session &s, const Args &a) {
    std::string wanted, got;
    for (const auto &c : emu::rire::stats::named()) {
        const std::string name = stat_key(c.name);
        if (!a.has(name))
            continue;
        wanted += (wanted.empty() ? "" : " ") + name + "=" + std::to_string(a.u32(name));
        got += (got.empty() ? "" : " ") + name + "=" + std::to_string(c.value);
    }
    check(s, "stat " + wanted, "stat " + got);
}

std::string hex(uint32_t v) {
    std::ostringstream out;
    out << "0x" << std::hex << v;
    return out.str();
}

void expect_df(Session &s, const Args &a) {
    const uint32_t ifindex = a.u32("ifindex");
    const uint32_t mask = emu::services::l3lif::df_mask(ifindex);
    const std::string name = "df ifindex=" + std::to_string(ifindex);
    if (a.has("mask"))
        return check(s, name + " mask=" + hex(a.u32("mask")), name + " mask=" + hex(mask));
    // The plugin's DF ordinal n is bit n-1 of the interface's mask.
    const uint32_t ordinal = a.u32("ordinal");
    const bool set = mask & (1u << ((ordinal - 1) % 32));
    const std::string bit = name + " ordinal=" + std::to_string(ordinal);
    if (a.choice() != (set ? "set" : "clear"))
        s.verdict().expectation_failed(bit + " " + a.choice(), bit + (set ? " set" : " clear") +
                                                                   " (mask " + hex(mask) + ")");
}

// The heartbeats sent (and, when named, failed) in this process.
void expect_heartbeat(Session &s, const Args &a) {
    const uint32_t count = emu::rire::heartbeat::count(), failed = emu::rire::heartbeat::failed();
    const auto text = [&a](uint32_t c, uint32_t f) {
        return "heartbeat count=" + std::to_string(c) +
               (a.has("failed") ? " failed=" + std::to_string(f) : "");
    };
    check(s, text(a.u32("count"), a.u32("failed")), text(count, failed));
}

std::optional<std::string> df_form(const Args &a) {
    if (a.has("mask") == a.has("ordinal"))
        return "give either mask= or ordinal= with set|clear";
    if (a.has("ordinal") && (a.choice().empty() || a.u32("ordinal") == 0))
        return "ordinal= counts from 1 and takes set|clear";
    if (a.has("mask") && !a.choice().empty())
        return "mask= takes no set|clear";
    return std::nullopt;
}

// Of the indexes `a` names, those the type's bitmap has allocated.
std::string reserved_text(const Args &a, const std::vector<uint32_t> &indexes) {
    return "reserved type=" + std::to_string(a.u32("type")) + " index=" + list_text(indexes);
}

std::vector<uint32_t> reserved_of(const Args &a) {
    const emu::rire::bitmaps::Allocator *alloc = emu::rire::bitmaps::allocator(a.u32("type"));
    if (alloc == nullptr)
        throw std::runtime_error("no index bitmap for oiflist type " +
                                 std::to_string(a.u32("type")));
    std::vector<uint32_t> reserved;
    for (uint32_t index : a.list("index"))
        if (alloc->is_allocated(index))
            reserved.push_back(index);
    return reserved;
}

void expect_reserved(Session &s, const Args &a) {
    check(s, reserved_text(a, a.list("index")), reserved_text(a, reserved_of(a)));
}

void expect_no_reserved(Session &s, const Args &a) {
    check(s, reserved_text(a, {}), reserved_text(a, reserved_of(a)));
}

// --- answers ------------------------------------------------------------------

void expect_show(Session &s, const Args &a) {
    const std::string &answer = s.show_answer();
    if (answer.find(a.name("text")) != std::string::npos)
        return;
    std::string shown = answer.substr(0, 200);
    std::replace(shown.begin(), shown.end(), '\n', '|');
    s.verdict().expectation_failed("a show answer holding \"" + a.name("text") + "\"",
                                   answer.empty()
                                       ? "no show answer yet"
                                       : "\"" + shown + (answer.size() > 200 ? "..." : "") + "\"");
}

void expect_result(Session &s, const Args &a) {
    const auto r = s.last_result();
    check(s, "result " + std::to_string(a.u32("value")),
          r ? "result " + std::to_string(*r) : "no result yet");
}

// --- the table ------------------------------------------------------------------

const ParamSpec kDb = {"db", ArgKind::kName, true, "", 0, database_words()};
const ParamSpec kKey = {"key", ArgKind::kU32, true,
                        "req_id (hw_update) or oiflist index (pending_di), as dump pss names it"};

std::vector<ParamSpec> record_params() {
    return {kDb,
            kKey,
            {"type", ArgKind::kU32, false, "req_type, or the pending-DI type"},
            {"state", ArgKind::kU32, false, "pending_di only"},
            {"dis", ArgKind::kList, false, "the held DIs, newest first"},
            {"held", ArgKind::kPairs, false, "the held DIs with their oiflists, newest first"},
            {"bytes", ArgKind::kBytes, false, "the whole value"}};
}

std::vector<ParamSpec> log_params() {
    return {{"func", ArgKind::kName, false, "the function that logged it"},
            {"text", ArgKind::kName, false, "a part of its text; quote it when it holds blanks"},
            {"count", ArgKind::kU32, false, "exactly this many match (0 allowed)"}};
}

std::vector<ParamSpec> stat_params() {
    // The names outlive the table, which keeps pointers to them.
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto &c : emu::rire::stats::named())
            v.push_back(stat_key(c.name));
        return v;
    }();
    std::vector<ParamSpec> params;
    for (const std::string &name : names)
        params.push_back({name.c_str(), ArgKind::kU32, false,
                          name.starts_with("word-") ? "" : "a counter the plugin names"});
    return params;
}

} // namespace

void add_expect_verbs(VerbTable &verbs) {
    const ParamSpec req = {"req", ArgKind::kU32, true, "the request's message id"};
    verbs.add({"expect request",
               {req,
                {"type", ArgKind::kU32, false, "its oiflist type"},
                {"dis", ArgKind::kList, false, "its held DIs, newest first"},
                {"held", ArgKind::kPairs, false, "its held DIs with their oiflists"},
                {"refs", ArgKind::kList, false, "the held DIs' reference counts"}},
               {},
               "the plugin has the request, with these held DIs (as dump queue shows them)",
               expect_request});
    verbs.add({"expect no-request",
               {req},
               {},
               "the plugin has no request of this id",
               expect_no_request});
    verbs.add({"expect queue",
               {{"req", ArgKind::kList, true, "the request ids, head first; empty: no request"}},
               {},
               "the plugin's outstanding requests are these, in this order (dump queue)",
               expect_queue});
    verbs.add({"expect released",
               {{"dis", ArgKind::kList, true, "the DIs, first released first; empty: none"}},
               {},
               "the last command that is not an expectation released these held DIs, in\n"
               "this order (the answer's trace records); fails, saying so, when the\n"
               "in-memory event log no longer holds every record of the command",
               expect_released});
    verbs.add({"expect record",
               record_params(),
               {},
               "PSS stores a record under the key, with these fields (as dump pss decodes them)",
               expect_record});
    verbs.add({"expect no-record",
               {kDb, kKey},
               {},
               "PSS stores nothing under the key",
               expect_no_record});
    verbs.add({"expect queued",
               record_params(),
               {{"write", "delete"}, true},
               "the last update queued for the key and not yet flushed is this one\n"
               "(as dump pending shows it)",
               expect_queued});
    verbs.add({"expect no-queued",
               {kDb, kKey},
               {},
               "no update for the key waits for a flush",
               expect_no_queued});
    verbs.add({"expect pending",
               {{"count", ArgKind::kU32, true, "updates, writes and deletions"}},
               {},
               "the PSS framework holds this many updates waiting for a flush (dump pending)",
               expect_pending});
    verbs.add({"expect log",
               log_params(),
               {{"error", "trace"}, false},
               "the plugin logged a matching record (with count=, exactly that many) while\n"
               "the last command that is not an expectation ran. Error records are all\n"
               "kept; other levels fail, saying so, when the in-memory event log no longer\n"
               "holds every record of the command",
               expect_log});
    verbs.add({"expect no-log",
               log_params(),
               {{"error", "trace"}, false},
               "the last command that is not an expectation logged no matching record",
               expect_no_log});
    verbs.add({"expect stat",
               stat_params(),
               {},
               "recovery counters have these values (dump stats); a word the plugin does\n"
               "not name is word-N, N 0..23",
               expect_stat,
               some_of});
    verbs.add({"expect df",
               {{"ifindex", ArgKind::kU32, true, ""},
                {"ordinal", ArgKind::kU32, false, "a DF ordinal, as df-update takes it"},
                {"mask", ArgKind::kU32, false, "the interface's whole DF mask"}},
               {{"set", "clear"}, false},
               "an interface's DF bit, or its whole mask (show interfaces)",
               expect_df,
               df_form});
    verbs.add({"expect heartbeat",
               {{"count", ArgKind::kU32, true, "heartbeats sent"},
                {"failed", ArgKind::kU32, false, "heartbeats that failed"}},
               {},
               "the heartbeats the plugin sent through the host in this process (dump\n"
               "heartbeat)",
               expect_heartbeat});
    const std::vector<ParamSpec> index_params = {
        {"type", ArgKind::kU32, true, "oiflist type"},
        {"index", ArgKind::kList, true, "oiflist indexes"}};
    verbs.add({"expect reserved",
               index_params,
               {},
               "the type's index bitmap has every index allocated (dump bitmap)",
               expect_reserved});
    verbs.add({"expect no-reserved",
               index_params,
               {},
               "the type's index bitmap has none of them",
               expect_no_reserved});
    verbs.add({"expect heap",
               {{"live", ArgKind::kU32, false, "blocks the plugin allocated and holds"},
                {"lost", ArgKind::kU32, false, "blocks nothing holds any more: leaks"}},
               {},
               "the plugin's heap ledger has these counts (dump heap)",
               expect_heap,
               some_of});
    verbs.add({"expect show",
               {{"text", ArgKind::kName, true, "quote it when it holds blanks"}},
               {},
               "the answer of the last show command holds the text",
               expect_show});
    verbs.add({"expect result",
               {{"value", ArgKind::kU32, true, ""}},
               {},
               "the last result a command returned has this value (link-update keeps its\n"
               "result also when it does not print it)",
               expect_result});
}

std::optional<std::vector<uint32_t>> released_dis(Session &s) {
    const auto &log = emu::log::event_log();
    const size_t from = s.verdict().log_window();
    if (from < log.first())
        return std::nullopt;
    std::vector<uint32_t> dis;
    for (size_t seq = from; seq < log.size(); seq++) {
        const std::string_view text = log[seq].text;
        if (const size_t at = text.find(kReleaseTrace); at != std::string_view::npos)
            dis.push_back(
                static_cast<uint32_t>(std::atoi(text.data() + at + kReleaseTrace.size())));
    }
    return dis;
}

} // namespace rire_host
