// Verbs that drive the host itself rather than the plugin: committing PSS,
// restarting the process, reading the log, and looking at state.
#include <cstddef>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "emu/bytes.h"
#include "emu/host.h"
#include "emu/log.h"
#include "emu/oiflists.h"
#include "emu/pss.h"
#include "emu/tlv.h"
#include "plugin/include/rire_orsk_pss_records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

using emu::bytes::Bytes;

constexpr uint32_t kDumpExtentSlot = 0xD0;

std::string service_name(uint32_t service) {
    auto services = emu::pss::services();
    auto it = services.find(service);
    return it == services.end() ? "service " + std::to_string(service) : it->second;
}

uint32_t le32(const Bytes &b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && at + i < b.size(); i++)
        v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return v;
}

// The held DIs of the oif TLVs in a stored value, ", DI d (oiflist i)" each,
// read with the host's TLV utility bounded by the value.
std::string held_dis(const Bytes &value, size_t array_at, uint8_t num_hold_di) {
    if (array_at >= value.size())
        return "";
    const uint8_t *array = value.data() + array_at;
    emu::tlv::set_read_extent(kDumpExtentSlot, value.data(), value.data() + value.size());
    std::ostringstream out;
    uint32_t cursor = 0;
    uint16_t type, len;
    void *payload;
    const char *sep = ": ";
    while (tlv_array_get_next_tlv(array, &type, &len, &payload, 0, &cursor) == 0) {
        if (type != RIRE_PLATFORM_PSS_TLV_OIF) {
            out << sep << "TLV of type " << type;
            sep = ", ";
            continue;
        }
        const auto *p = static_cast<const uint8_t *>(payload);
        rire_orsk_pss_hold_di entry;
        for (uint32_t i = 0; i < num_hold_di && (i + 1) * sizeof entry <= len; i++, sep = ", ") {
            std::memcpy(&entry, p + i * sizeof entry, sizeof entry);
            out << sep << "DI " << entry.di << " (oiflist " << entry.oiflist_index << ")";
        }
    }
    emu::tlv::clear_read_extent(kDumpExtentSlot);
    return out.str();
}

// What a key names: "req_id 7", "oiflist 5" (the reader ignores the type tag).
std::string describe_key(uint32_t service, const Bytes &key) {
    if (key.size() != sizeof(uint32_t))
        return "a key of " + std::to_string(key.size()) + " bytes";
    if (service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB)
        return "req_id " + std::to_string(le32(key, 0));
    return "oiflist " + std::to_string(le32(key, 0) & RIRE_ORSK_PSS_KEY_INDEX_MASK);
}

// One line that says what a stored record means, in the words of dump queue.
std::string describe_record(uint32_t service, const Bytes &key, const Bytes &value) {
    using Hw = rire_orsk_hw_update_pss_info;
    using Pending = rire_orsk_pending_di_pss_info;
    std::ostringstream out;
    out << describe_key(service, key);
    if (service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB && value.size() >= sizeof(Hw)) {
        Hw hw;
        std::memcpy(&hw, value.data(), sizeof hw);
        out << " type " << +hw.req_type << ", " << +hw.num_hold_di << " held"
            << held_dis(value, offsetof(Hw, tlv_array), hw.num_hold_di);
    } else if (service == RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB && value.size() >= sizeof(Pending)) {
        Pending p;
        std::memcpy(&p, value.data(), sizeof p);
        out << " type " << +p.type << " state " << +p.state << ", " << +p.num_hold_di << " held"
            << held_dis(value, offsetof(Pending, tlv_array), p.num_hold_di);
    } else {
        out << ", a value of " << value.size() << " bytes";
    }
    return out.str();
}

// A stored or queued record: a line that says what it means, then a line of
// its bytes (a long value cut); in JSON the bytes in full.
void print_record(Session &s, const char *type, Fields fields, uint32_t service, const Bytes &key,
                  const Bytes *value, const std::string &meaning) {
    std::string text = "    " + meaning + "\n      key " + emu::bytes::hex(key.data(), key.size());
    fields["service"] = service;
    fields["key"] = emu::bytes::hex(key.data(), key.size(), key.size());
    if (value) {
        text += "  value " + emu::bytes::hex(value->data(), value->size(), 64);
        fields["value"] = emu::bytes::hex(value->data(), value->size(), value->size());
    }
    fields["text"] = meaning;
    s.output().record(type, std::move(fields), text + "\n");
}

void flush(Session &s, const Args &) {
    const size_t queued = emu::pss::pending_count();
    const int rc = emu::pss::flush();
    if (rc != 0) {
        const std::string error = std::string(syserr2str(rc)) + " " + emu::pss::last_store_error();
        s.output().record("flush", {{"failed", error}}, "  flush failed: " + error + "\n");
        return;
    }
    s.output().record("flush", {{"committed", queued}},
                      "  committed " + std::to_string(queued) + " update" +
                          (queued == 1 ? "" : "s") + "\n");
}

void restart(Session &s, const Args &) {
    const size_t lost = emu::pss::pending_count();
    const size_t live = emu::oiflists::list().size();
    s.out() << "  process restart: " << lost << " unflushed update" << (lost == 1 ? "" : "s")
            << " lost";
    if (live != 0)
        s.out() << ", the host restores its " << live << " live oiflist" << (live == 1 ? "" : "s")
                << " before recovery";
    s.out() << "\n";
    std::string error;
    if (!s.restart(&error))
        throw std::runtime_error(error);
}

void print_log(Session &s, const Args &) {
    s.print_new_log();
}

void dump_queue(Session &s, const Args &) {
    const queue_hdr *q = s.plugin().hw_update_req_q();
    if (q == nullptr) {
        s.out() << "  the plugin's request queue is not visible (stripped plugin?)\n";
        return;
    }
    s.output().record("queue", {{"count", q->count}},
                      "  hw_update_req_q: " + std::to_string(q->count) + " request" +
                          (q->count == 1 ? "" : "s") + "\n");
    for (auto *req = static_cast<const rire_orsk_hw_update_req *>(q->head); req; req = req->next) {
        std::ostringstream text;
        text << "    req_id " << req->req_id << " type " << +req->req_type << ", "
             << req->hold_q.count << " held";
        Fields held = Fields::array();
        const char *sep = ": ";
        for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(req->hold_q.head); e;
             e = e->next, sep = ", ") {
            text << sep << "DI " << e->di << " (oiflist " << e->oiflist_index << ", ref "
                 << e->ref_count << ")";
            held.push_back({{"di", e->di}, {"oiflist", e->oiflist_index}, {"ref", e->ref_count}});
        }
        s.output().record("request",
                          {{"req_id", req->req_id}, {"req_type", req->req_type}, {"held", held}},
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
                              "): " + std::to_string(records.size()) + " record" +
                              (records.size() == 1 ? "" : "s") + "\n");
        for (auto &[key, value] : records)
            print_record(s, "pss_record", {{"db", name}}, type, key, &value,
                         describe_record(type, key, value));
    }
}

void dump_pending(Session &s, const Args &) {
    const auto pending = emu::pss::pending();
    s.output().record("pending", {{"count", pending.size()}},
                      "  " + std::to_string(pending.size()) + " queued update" +
                          (pending.size() == 1 ? "" : "s") + "\n");
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
               "help [VERB]: the help of every verb, or of those VERB names\n"
               "(\"help dump\" shows every dump verb)",
               help});
    verbs.add(
        {"init", {}, {}, "run the plugin's entry point again (empties its request queue)", init});
    verbs.add({"set-q-handle",
               {{"value", ArgKind::kU32, true, "MTS queue handle"}},
               {},
               "hand the plugin an MTS queue handle",
               set_q_handle});
    verbs.add(
        {"flush", {}, {}, "apply every queued PSS update in one transaction, then commit", flush});
    verbs.add({"restart",
               {},
               {},
               "kill and restart the process: unflushed PSS updates are lost; the host\n"
               "restores its live oiflists, then the plugin recovers from PSS",
               restart});
    verbs.add({"log",
               {},
               {},
               "the plugin's log records since the last 'log', without source lines",
               print_log});
    verbs.add({"debug",
               {{"level", ArgKind::kName, false, "default all", 0, {"trace", "error", "all"}}},
               {{"on", "off"}, true},
               "switch the debug console",
               set_debug});
    verbs.add({"dump queue", {}, {}, "the plugin's outstanding requests and held DIs", dump_queue});
    verbs.add(
        {"dump pss",
         {{"db", ArgKind::kName, false, "only this database", 0, {"hw_update", "pending_di"}}},
         {},
         "the records stored in PSS",
         dump_pss});
    verbs.add({"dump pending", {}, {}, "PSS updates queued and not yet flushed", dump_pending});
    verbs.add({"dump arena", {}, {}, "bytes of the PSS scratch arena in use", dump_arena});
}

} // namespace rire_host
