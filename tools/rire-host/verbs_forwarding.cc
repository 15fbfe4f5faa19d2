// The switch around the plugin (interfaces, line cards) and the forwarding
// control requests the host makes of the platform.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "emu/base/faults.h"
#include "emu/rire/heartbeat.h"
#include "emu/services/im.h"
#include "emu/services/pdb.h"
#include "plugin/include/rire_orsk_records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

void print_status(Session &s, uint32_t result) {
    std::ostringstream text;
    text << "  result " << (result ? "0x" : "") << std::hex << result << std::dec
         << (result == RIRE_ORSK_REQ_DONE ? " (done)" : " (failed)") << "\n";
    s.output().record("result", {{"value", result}, {"done", result == RIRE_ORSK_REQ_DONE}},
                      text.str());
    s.set_result(result);
    if (result != RIRE_ORSK_REQ_DONE)
        s.verdict().strict_failure("result",
                                   "the plugin answered " + std::to_string(result) + " (failed)");
}

void interface_add(Session &s, const Args &a) {
    const uint32_t ifindex = a.u32("ifindex");
    const auto kind = emu::services::im::parse_kind(a.name("kind", "other"));
    emu::services::im::add({ifindex, a.name("name", "if" + std::to_string(ifindex)), *kind});
    (void)s;
}

// The im.loopback.error row of the fault table, in the interface's words.
void interface_error(Session &, const Args &a) {
    const int32_t status = a.i32("status");
    if (status == 0)
        emu::base::faults::clear(emu::base::faults::Id::kImLoopbackError, a.u32("ifindex"));
    else
        emu::base::faults::set(
            emu::base::faults::Id::kImLoopbackError,
            {.target = a.u32("ifindex"), .count = a.u32("after"), .code = status});
}

void module(Session &, const Args &a) {
    const uint8_t index = static_cast<uint8_t>(a.u32("slot") - 1);
    if (a.choice() == "empty")
        emu::services::pdb::remove(index);
    else
        emu::services::pdb::set_card(index, static_cast<uint16_t>(a.u32("card")));
}

void df_update(Session &s, const Args &a) {
    const auto &oifs = a.list("oifs");
    const int32_t opc = a.has("opc")          ? a.i32("opc")
                        : a.choice() == "add" ? RIRE_ORSK_DF_OPC_ADD
                                              : RIRE_ORSK_DF_OPC_DELETE;
    print_status(s, s.api().df_update(static_cast<uint8_t>(a.u32("ordinal")), opc,
                                      static_cast<uint32_t>(oifs.size()), oifs.data()));
}

// The VLAN set record (rire_vlan_set). It ends where a readable page ends and
// the next page is inaccessible, so a handler that reads past the record
// faults at once.
class VlanSet {
  public:
    static constexpr size_t kSize = sizeof(rire_vlan_set);

    explicit VlanSet(const Args &a) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        map_ = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map_ == MAP_FAILED || mprotect(static_cast<uint8_t *>(map_) + page_, page_, PROT_NONE))
            throw std::runtime_error("cannot map a VLAN set");
        rec_ = static_cast<uint8_t *>(map_) + page_ - kSize;
        auto *set = reinterpret_cast<rire_vlan_set *>(rec_);
        set->host_word = a.u32("word");
        for (uint32_t v : a.list("vlans"))
            set->bitmap[v / 8] |= RIRE_VLAN_SET_BIT(v);
    }
    ~VlanSet() { munmap(map_, 2 * page_); }
    VlanSet(const VlanSet &) = delete;
    VlanSet &operator=(const VlanSet &) = delete;
    const uint8_t *data() const { return rec_; }

  private:
    size_t page_ = 0;
    void *map_ = nullptr;
    uint8_t *rec_ = nullptr;
};

void igmp_snoop(Session &s, const Args &a) {
    const VlanSet rec(a);
    print_status(s, s.api().igmp_snoop_config(rec.data(), 0, a.choice() == "enable" ? 1 : 0));
}

void omf(Session &s, const Args &a) {
    const VlanSet rec(a);
    print_status(s, s.api().snoop_omf_config(rec.data(), a.choice() == "enable" ? 1 : 0));
}

void lc_download(Session &s, const Args &a) {
    const int32_t r =
        s.api().check_lc_download_db(static_cast<uint8_t>(a.u32("slot")), a.i32("db"));
    s.output().record("result", {{"value", r}, {"download", r != 0}},
                      std::string("  ") + (r ? "download" : "do not download") + " (" +
                          std::to_string(r) + ")\n");
    s.set_result(static_cast<uint32_t>(r));
}

// Heartbeats the plugin sent through the host during long DF updates.
void dump_heartbeat(Session &s, const Args &) {
    const uint32_t n = emu::rire::heartbeat::count(), failed = emu::rire::heartbeat::failed();
    s.output().record("heartbeat", {{"count", n}, {"failed", failed}},
                      "  " + counted(n, "heartbeat") + " sent" +
                          (failed != 0 ? ", " + std::to_string(failed) + " failed" : "") + "\n");
}

const std::vector<ParamSpec> kVlanParams = {
    {"vlans", ArgKind::kList, false, "VLANs 0..4095, e.g. 1-10,4095; none: an empty set", 4095},
    {"word", ArgKind::kU32, false, "the record's leading host word"}};

} // namespace

void add_forwarding_verbs(VerbTable &verbs) {
    verbs.add(
        {"interface add",
         {{"ifindex", ArgKind::kU32, true, ""},
          {"name", ArgKind::kName, false, "default if<ifindex>"},
          {"kind", ArgKind::kName, false, "default other", 0, {"loopback0", "loopback", "other"}}},
         {},
         "add an interface to the interface manager",
         interface_add});
    verbs.add({"interface error",
               {{"ifindex", ArgKind::kU32, true, ""},
                {"status", ArgKind::kI32, true, "code its loopback queries report; 0 clears"},
                {"after", ArgKind::kU32, false, "queries answered normally first"}},
               {},
               "make the interface manager report an error for an interface: the same as\n"
               "'fault im.loopback.error', and status=0 switches it off for the interface",
               interface_error});
    verbs.add({"module",
               {{"slot", ArgKind::kU8, true, "slot number, 1-based"},
                {"card", ArgKind::kU16, false, "card id"}},
               {{"empty"}, false},
               "put a card in a slot of the module database ('empty' removes it)",
               module,
               [](const Args &a) -> std::optional<std::string> {
                   if (a.has("card") == (a.choice() == "empty"))
                       return "give either card= or empty";
                   return std::nullopt;
               }});
    verbs.add({"df-update",
               {{"ordinal", ArgKind::kU8, true, "DF ordinal, 1-based"},
                {"oifs", ArgKind::kList, false, "interface indexes"},
                {"opc", ArgKind::kI32, false, "raw operation code instead of add|delete"}},
               {{"add", "delete"}, false},
               "set or clear a DF ordinal's bit on the interfaces",
               df_update,
               [](const Args &a) -> std::optional<std::string> {
                   if (a.has("opc") == !a.choice().empty())
                       return "give either add|delete or opc=";
                   return std::nullopt;
               }});
    verbs.add({"dump heartbeat",
               {},
               {},
               "how many heartbeats the plugin has sent through the host in this process,\n"
               "and how many failed (fault heartbeat.send.error)",
               dump_heartbeat});
    verbs.add({"igmp-snoop",
               kVlanParams,
               {{"enable", "disable"}, true},
               "IGMP snooping on or off for a set of VLANs",
               igmp_snoop});
    verbs.add({"omf",
               kVlanParams,
               {{"enable", "disable"}, true},
               "optimized multicast flood on or off for a set of VLANs",
               omf});
    verbs.add({"lc-download",
               {{"slot", ArgKind::kU8, true, "slot number, 1-based"},
                {"db", ArgKind::kI32, true, "1 IPv4 routes, 2 IPv6 routes"}},
               {},
               "ask whether a database goes to the card in a slot",
               lc_download});
}

} // namespace rire_host
