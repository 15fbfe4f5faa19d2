// Host-side persistent state: the platform-independent oiflists, the host's
// pending-DI records that it mirrors into PSS through the plugin, and the
// recovery statistics and index bitmaps that a restart fills in.
#include <stdexcept>

#include "emu/pss/pss.h"
#include "emu/rire/bitmaps.h"
#include "emu/rire/pending_di.h"
#include "emu/rire/stats.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

constexpr uint64_t kMaxPutCount = 1'000'000;

void oiflist_exists(Session &s, const Args &a) {
    s.set_oiflist(a.u32("type"), a.u32("index"), a.choice() != "gone");
}

void pending_di_insert(Session &s, const Args &a) {
    const uint32_t type = a.u32("type");
    rire_orsk_di_req &rec = emu::rire::pending_di::get(type, a.u32("index"));
    rec.state = a.u32("state", rec.state);
    rec.ref_count = static_cast<uint16_t>(a.u32("ref", rec.ref_count));
    auto enqueue = s.fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue");
    for (auto [di, index] : a.pairs("dis")) {
        uint32_t is_new = 0;
        enqueue(&rec.hold_q, di, index, &is_new);
    }
    s.fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
        static_cast<uint8_t>(type), &rec);
}

void pending_di_delete(Session &s, const Args &a) {
    const uint32_t type = a.u32("type");
    uint32_t index = a.u32("index");
    s.fn<decltype(&rire_orsk_pss_delete_pending_di_info)>("rire_orsk_pss_delete_pending_di_info")(
        static_cast<uint8_t>(type), &index);
    emu::rire::pending_di::drop(s.plugin(), type, index);
}

void recover(Session &s, const Args &) {
    print_result(s, s.api().pss_recover());
}

// The key after `key`, its bytes read as a little-endian number.
void count_up(std::vector<uint8_t> *key) {
    for (uint8_t &byte : *key)
        if (++byte != 0)
            return;
}

// Bytes written straight into the store, as an older or damaged process may
// have left them; the framework's queue is bypassed. count=N writes the
// value under N keys counted up from the one given, in one transaction, so
// that a scenario can fill the store in one line.
void pss_put(Session &, const Args &a) {
    const uint32_t service = service_of(a.name("db")).value_or(0);
    std::vector<std::vector<uint8_t>> keys;
    std::vector<uint8_t> key = *a.bytes("key");
    for (const uint32_t n = a.u32("count", 1); keys.size() < n; count_up(&key))
        keys.push_back(key);
    if (emu::pss::put_raw(service, keys, a.bytes("value").value_or(std::vector<uint8_t>{})) != 0)
        throw std::runtime_error("the store refused the record");
}

void dump_stats(Session &s, const Args &a) {
    const bool all = a.choice() == "all";
    s.output().record(nullptr, {}, "  rire_pss_recovery_stats:\n");
    for (const auto &c : emu::rire::stats::named())
        if (all || c.value != 0 || !c.name.starts_with("word "))
            s.output().record("stat", {{"name", c.name}, {"value", c.value}},
                              "    " + c.name + " " + std::to_string(c.value) + "\n");
}

// Allocated indexes, runs folded into ranges.
void dump_bitmap(Session &s, const Args &a) {
    const emu::rire::bitmaps::Allocator *alloc = emu::rire::bitmaps::allocator(a.u32("type"));
    const uint32_t type = a.u32("type");
    if (alloc == nullptr) {
        s.output().record("bitmap", {{"oiflist_type", type}, {"present", false}},
                          "  no index bitmap for oiflist type " + std::to_string(type) + "\n");
        return;
    }
    const auto used = alloc->allocated();
    std::string text = "  oiflist type " + std::to_string(type) + ": " +
                       std::to_string(used.size()) + " allocated";
    Fields ranges = Fields::array();
    for (size_t i = 0; i < used.size();) {
        size_t j = i;
        while (j + 1 < used.size() && used[j + 1] == used[j] + 1)
            j++;
        text += (i == 0 ? ": " : ",") + std::to_string(used[i]) +
                (j > i ? "-" + std::to_string(used[j]) : "");
        ranges.push_back({used[i], used[j]});
        i = j + 1;
    }
    s.output().record("bitmap",
                      {{"oiflist_type", type},
                       {"present", true},
                       {"allocated", used.size()},
                       {"ranges", ranges},
                       {"realloc_calls", alloc->re_alloc_calls()}},
                      text + " (" + std::to_string(alloc->re_alloc_calls()) + " re-alloc calls)\n");
}

} // namespace

void add_pss_verbs(VerbTable &verbs) {
    verbs.add({"oiflist-exists",
               {{"type", ArgKind::kU32, true, ""}, {"index", ArgKind::kU32, true, ""}},
               {{"gone"}, false},
               "declare a live oiflist in the platform-independent layer ('gone' removes\n"
               "it); it holds its index in the index bitmap and outlives a restart",
               oiflist_exists});
    verbs.add({"pending-di-insert",
               {{"type", ArgKind::kU8, true, "oiflist type; also picks the key's tag"},
                {"index", ArgKind::kU32, true, "oiflist index"},
                {"state", ArgKind::kU32, false, "1 = pending hardware update"},
                {"ref", ArgKind::kU16, false, "the record's reference count"},
                {"dis", ArgKind::kPairs, false, "DIs to hold, DI:oiflist-index,..."}},
               {},
               "the host holds DIs in its pending-DI record and writes it to PSS",
               pending_di_insert});
    verbs.add({"pending-di-delete",
               {{"type", ArgKind::kU8, true, ""}, {"index", ArgKind::kU32, true, ""}},
               {},
               "the host deletes its pending-DI record from PSS and frees it",
               pending_di_delete});
    verbs.add({"recover", {}, {}, "call the plugin's recovery without a restart", recover});
    verbs.add({"pss put",
               {{"db", ArgKind::kName, true, "", 0, database_words()},
                {"key", ArgKind::kBytes, true, "the key's bytes"},
                {"value", ArgKind::kBytes, false, "the value's bytes (default: none)"},
                {"count", ArgKind::kU32, false,
                 "under this many keys: key= counted up as a little-endian number", kMaxPutCount}},
               {},
               "store a record's raw bytes directly, bypassing the plugin and the queue\n"
               "(one transaction)",
               pss_put});
    verbs.add({"dump stats",
               {},
               {{"all"}, false},
               "the plugin's three recovery counters and any other word of the record\n"
               "that is not zero, as 'word N' ('all' shows every word)",
               dump_stats});
    verbs.add({"dump bitmap",
               {{"type", ArgKind::kU32, true, "oiflist type"}},
               {},
               "the indexes allocated in an oiflist index bitmap",
               dump_bitmap});
}

} // namespace rire_host
