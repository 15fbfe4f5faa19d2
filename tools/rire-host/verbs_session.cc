// Verbs that drive the host itself rather than the plugin: committing PSS,
// restarting the process, reading the log, and looking at state.
#include <sstream>
#include <stdexcept>

#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "plugin/include/rire_orsk_pss_records.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

using emu::base::bytes::Bytes;

std::string service_name(uint32_t service) {
    auto services = emu::pss::services();
    auto it = services.find(service);
    return it == services.end() ? "service " + std::to_string(service) : it->second;
}

// A stored or queued record: a line that says what it means, then a line of
// its bytes (a long value cut); in JSON the bytes in full.
void print_record(Session &s, const char *type, Fields fields, uint32_t service, const Bytes &key,
                  const Bytes *value, const std::string &meaning) {
    std::string text =
        "    " + meaning + "\n      key " + emu::base::bytes::hex(key.data(), key.size());
    fields["service"] = service;
    fields["key"] = emu::base::bytes::hex(key.data(), key.size(), key.size());
    if (value) {
        text += "  value " + emu::base::bytes::hex(value->data(), value->size(), 64);
        fields["value"] = emu::base::bytes::hex(value->data(), value->size(), value->size());
    }
    fields["text"] = meaning;
    fields.update(record_fields(service, key, value));
    s.output().record(type, std::move(fields), text + "\n");
}

void flush(Session &s, const Args &) {
    s.flush();
}

void pss_schedule(Session &s, const Args &a) {
    s.set_schedule(a.choice() == "manual" ? PssSchedule::kManual : PssSchedule::kAuto);
}

void pss_order(Session &, const Args &a) {
    using emu::pss::Order;
    const Order order = a.choice() == "descending" ? Order::kDescending
                        : a.choice() == "shuffle"  ? Order::kShuffle
                                                   : Order::kAscending;
    emu::pss::set_walk_order({order, a.u32("seed")});
}

std::optional<std::string> check_pss_order(const Args &a) {
    if ((a.choice() == "shuffle") != a.has("seed"))
        return "seed= goes with shuffle, and shuffle needs it";
    return std::nullopt;
}

void restart(Session &s, const Args &) {
    const size_t lost = emu::pss::pending_count();
    s.output().record("restart", {{"lost_updates", lost}},
                      "  process restart: " + counted(lost, "unflushed update") + " lost\n");
    std::string error;
    if (!s.restart(&error))
        throw std::runtime_error(error);
}

void print_log(Session &s, const Args &a) {
    s.print_new_log(a.choice() != "unnumbered");
}

void print_log_of(Session &s, const Args &a) {
    s.print_new_log(false, a.name("func"));
}

void dump_queue(Session &s, const Args &) {
    const auto requests = s.requests();
    if (!requests) {
        s.out() << "  the plugin's request queue is not visible (stripped plugin?)\n";
        return;
    }
    s.output().record("queue", {{"count", requests->size()}},
                      "  hw_update_req_q: " + counted(requests->size(), "request") + "\n");
    for (const Request &r : *requests) {
        std::ostringstream text;
        text << "    req_id " << r.req_id << " type " << r.type << ", " << r.held.size() << " held";
        Fields held = Fields::array();
        const char *sep = ": ";
        for (const HeldDi &h : r.held) {
            text << sep << "DI " << h.di << " (oiflist " << h.oiflist_index << ", ref "
                 << h.ref_count << ")";
            sep = ", ";
            held.push_back({{"di", h.di}, {"oiflist", h.oiflist_index}, {"ref", h.ref_count}});
        }
        s.output().record("request", {{"req_id", r.req_id}, {"req_type", r.type}, {"held", held}},
                          text.str() + "\n");
    }
}

void dump_pss(Session &s, const Args &a) {
    const std::string only = a.name("db");
    for (auto &[type, name] : emu::pss::services()) {
        if (!only.empty() && only != name)
            continue;
        const auto records = emu::pss::records(type);
        s.output().record("pss_db", {{"db", name}, {"service", type}, {"count", records.size()}},
                          "  " + name + " (" + std::to_string(type) +
                              "): " + counted(records.size(), "record") + "\n");
        for (auto &[key, value] : records)
            print_record(s, "pss_record", {{"db", name}}, type, key, &value,
                         describe_record(type, key, value));
    }
}

void dump_pending(Session &s, const Args &) {
    const auto pending = emu::pss::pending();
    s.output().record("pending", {{"count", pending.size()}},
                      "  " + counted(pending.size(), "queued update") + "\n");
    for (const auto &p : pending) {
        const bool write = p.kind == emu::pss::Kind::kWrite;
        const std::string op = write ? "write" : "delete";
        print_record(s, "pss_update", {{"op", op}, {"db", service_name(p.service)}}, p.service,
                     p.key, write ? &p.value : nullptr,
                     op + " " + service_name(p.service) + " " +
                         (write ? describe_record(p.service, p.key, p.value)
                                : describe_key(p.service, p.key)));
    }
}

void dump_arena(Session &s, const Args &) {
    const uint32_t *used = s.plugin().pss_buf_used();
    Fields fields = {{"size", RIRE_ORSK_PSS_BUF_SIZE}};
    if (used)
        fields["used"] = *used;
    s.output().record("arena", fields,
                      "  pss_buf: " + (used ? std::to_string(*used) : "?") + " of " +
                          std::to_string(RIRE_ORSK_PSS_BUF_SIZE) + " bytes in use\n");
}

// Blocks the plugin holds on its heap and where each is: what a restart
// would reclaim, and nothing once every request is answered.
void dump_heap(Session &s, const Args &) {
    const emu::loader::Plugin::Heap heap = s.plugin().heap();
    const emu::loader::Plugin::Census where = emu::heap_census(s.plugin());
    std::string text = "  plugin heap: " + counted(heap.live(), "block") + " live (" +
                       std::to_string(heap.allocated) + " allocated, " +
                       std::to_string(heap.freed) + " freed";
    if (heap.released != 0)
        text += ", " + std::to_string(heap.released) + " released by the host";
    text += ")";
    const char *sep = ": ";
    for (const auto &[n, what] : {std::pair{where.in_requests, "in requests"},
                                  {where.in_host, "in host records"},
                                  {where.dropped, "dropped by a queue reset"},
                                  {where.lost, "lost"}})
        if (n != 0)
            text += sep + std::to_string(n) + " " + what, sep = ", ";
    s.output().record("heap",
                      {{"live", heap.live()},
                       {"allocated", heap.allocated},
                       {"freed", heap.freed},
                       {"released", heap.released},
                       {"in_requests", where.in_requests},
                       {"in_host", where.in_host},
                       {"dropped", where.dropped},
                       {"lost", where.lost}},
                      text + "\n");
}

// Empties the arena through the framework's commit, then carves one block so
// that exactly `free` bytes stay free: the next record operation runs short.
// The framework commits only after it has performed the updates queued with
// blocks of the arena, so queued updates are flushed first, and it says so.
void arena_fill(Session &s, const Args &a) {
    const uint32_t free_bytes = a.u32("free");
    if (emu::pss::pending_count() != 0) {
        s.out() << "  arena fill: flushing the queued PSS updates first\n";
        s.flush();
    } else {
        emu::pss::flush(); // nothing queued: the framework only commits
    }
    if (emu::pss::pending_count() != 0)
        throw std::runtime_error("arena fill: the store refused the flush, and the queued "
                                 "updates still use the arena");
    if (free_bytes < RIRE_ORSK_PSS_BUF_SIZE)
        s.fn<decltype(&rire_orsk_pss_buf_allocate)>("rire_orsk_pss_buf_allocate")(
            RIRE_ORSK_PSS_BUF_SIZE - free_bytes);
}

void set_debug(Session &s, const Args &a) {
    const bool on = a.choice() == "on";
    const std::string level = a.name("level", "all");
    if (level != "error")
        emu::log::set_debug(RIRE_ORSK_LOG_LEVEL_TRACE, on);
    if (level != "trace")
        emu::log::set_debug(RIRE_ORSK_LOG_LEVEL_ERROR, on);
    s.out() << "  debug console " << (on ? "on" : "off") << " for " << level << "\n";
}

void help(Session &s, const Args &a) {
    s.out() << a.name("text");
}

void init(Session &s, const Args &) {
    s.plugin().init();
}

void set_q_handle(Session &s, const Args &a) {
    s.api().set_q_handle(a.u32("value"));
}

} // namespace

void add_session_verbs(VerbTable &verbs) {
    verbs.add({"help",
               {},
               {},
               "the verbs, one line each; help VERB: the arguments of the verbs VERB\n"
               "names (\"help dump\": every dump verb); help all: every verb in full",
               help});
    verbs.add(
        {"init", {}, {}, "run the plugin's entry point again (empties its request queue)", init});
    verbs.add({"set-q-handle",
               {{"value", ArgKind::kU32, true, "MTS queue handle"}},
               {},
               "hand the plugin an MTS queue handle",
               set_q_handle});
    verbs.add({"flush",
               {},
               {},
               "apply every queued PSS update in one transaction, commit, and say how\n"
               "many records were written and deleted",
               flush});
    verbs.add({"pss schedule",
               {},
               {{"auto", "manual"}, true},
               "when the PSS framework performs queued updates: 'auto' (the default)\n"
               "after every command that queued one, as 'scheduled flush: ...'; 'manual'\n"
               "only at 'flush', so updates wait and a restart loses them. The framework\n"
               "of a switch has a schedule of its own; this one is the emulator's choice",
               pss_schedule});
    verbs.add({"pss order",
               {{"seed", ArgKind::kU32, false, "the shuffle's seed"}},
               {{"ascending", "descending", "shuffle"}, true},
               "the order in which a PSS walk presents the records of a database, and so\n"
               "the order of the requests recovery rebuilds: ascending key (the default),\n"
               "descending, or shuffled (the same seed, the same order). The order of a\n"
               "switch's store is its own; this one is the emulator's choice. Kept by\n"
               "restart, the default in a new process",
               pss_order,
               check_pss_order});
    verbs.add({"restart",
               {},
               {},
               "kill and restart the process, as a second rire-host on the same --state\n"
               "does. Kept: the PSS store, events.log and the platform-independent\n"
               "layer's live oiflists (oiflist-exists), which it restores before the\n"
               "plugin recovers. Lost: unflushed PSS updates, the plugin's requests, the\n"
               "host's pending-DI records, recovery statistics, index bitmaps, and (the\n"
               "emulator's choice: on a switch other processes keep them) interfaces,\n"
               "modules and DF bits. Fault settings, debug switches, the PSS schedule and\n"
               "order are this run's configuration: kept here, defaults in a new process.\n"
               "Prints the updates lost and what recovery found",
               restart});
    verbs.add({"log",
               {},
               {{"unnumbered"}, false},
               "the plugin's event-log records since the last 'log', as the host's sink\n"
               "received them: level, then the text quoted with its escapes;\n"
               "unnumbered: each source line shown as _",
               print_log});
    verbs.add({"log-of",
               {{"func", ArgKind::kName, true, "parts of function names, comma-separated"}},
               {},
               "as 'log unnumbered', but only the records of functions whose name holds\n"
               "one of the parts",
               print_log_of});
    verbs.add({"debug",
               {{"level", ArgKind::kName, false, "default all", 0, {"trace", "error", "all"}}},
               {{"on", "off"}, true},
               "switch the debug console; its lines follow the command's own output",
               set_debug});
    verbs.add({"dump queue", {}, {}, "the plugin's outstanding requests and held DIs", dump_queue});
    verbs.add({"dump pss",
               {{"db", ArgKind::kName, false, "only this database", 0, database_words()}},
               {},
               "the records stored in PSS",
               dump_pss});
    verbs.add({"dump pending", {}, {}, "PSS updates queued and not yet flushed", dump_pending});
    verbs.add({"dump arena", {}, {}, "bytes of the PSS scratch arena in use", dump_arena});
    verbs.add({"dump heap",
               {},
               {},
               "blocks the plugin allocated and has not freed (hold elements the host\n"
               "took over and freed count as live)",
               dump_heap});
    verbs.add({"arena fill",
               {{"free", ArgKind::kU32, true, "bytes left free"}},
               {},
               "empty the PSS scratch arena (the framework's commit) and carve it so\n"
               "that only this many bytes stay free; updates still queued are flushed\n"
               "first, as the framework performs them before it commits",
               arena_fill});
}

} // namespace rire_host
