// The host's fault table (emu/base/faults.h) as verbs, generated from its rows:
// `fault NAME` with the row's arguments switches a row on, `fault off NAME`
// switches it off for every target, `fault reset` switches every row off and
// `dump faults` shows the table. Arguments: service= (hw_update|pending_di),
// ifindex= or slot= (a slot number, 1-based, as `module` takes it) for the
// row's target, at= or after= for its trigger, code= for what the operation
// reports.
#include <algorithm>
#include <sstream>

#include "emu/base/faults.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host {
namespace {

namespace faults = emu::base::faults;

// The argument that carries Setting::count, or null for `every` rows.
const char *count_key(const faults::Row &row) {
    switch (row.trigger) {
    case faults::Trigger::kAt:
        return "at";
    case faults::Trigger::kAfter:
    case faults::Trigger::kOnce:
    case faults::Trigger::kBytes:
        return "after";
    case faults::Trigger::kEvery:
        break;
    }
    return nullptr;
}

std::vector<ParamSpec> params(const faults::Row &row) {
    std::vector<ParamSpec> out;
    if (row.target == faults::Target::kService)
        out.push_back({"service", ArgKind::kName, true, "", 0, database_words()});
    if (row.target == faults::Target::kIfindex)
        out.push_back({"ifindex", ArgKind::kU32, true, ""});
    if (row.target == faults::Target::kSlot)
        out.push_back({"slot", ArgKind::kU8, true, "slot number, 1-based"});
    if (const char *key = count_key(row))
        out.push_back({key, ArgKind::kU32, row.trigger == faults::Trigger::kAt, row.count_help});
    if (row.takes_code)
        out.push_back({"code", ArgKind::kI32, true, row.code_help});
    return out;
}

std::optional<std::string> check(const faults::Row &row, const Args &a) {
    if (row.trigger == faults::Trigger::kAt && a.u32("at") == 0)
        return "at= counts from 1";
    if (row.takes_code && a.i32("code") == 0)
        return "code= must be nonzero";
    if (!row.codes.empty() &&
        std::find(row.codes.begin(), row.codes.end(), a.i32("code")) == row.codes.end()) {
        std::string listed;
        for (const int32_t code : row.codes)
            listed += (listed.empty() ? "" : "|") + std::to_string(code);
        return "code= must be one of " + listed;
    }
    return std::nullopt;
}

void set(const faults::Row &row, const Args &a) {
    faults::Setting s;
    if (row.target == faults::Target::kService)
        s.target = service_of(a.name("service")).value_or(0);
    else if (row.target == faults::Target::kIfindex)
        s.target = a.u32("ifindex");
    else if (row.target == faults::Target::kSlot)
        s.target = static_cast<uint8_t>(a.u32("slot") - 1); // the module database's slot index
    if (const char *key = count_key(row))
        s.count = a.u32(key);
    s.code = a.i32("code");
    faults::set(row.id, s);
}

std::string describe(const faults::Row &row, const faults::Setting &s) {
    std::vector<std::string> parts;
    if (row.target == faults::Target::kService) {
        parts.push_back("service=" + db_name_of(s.target));
    } else if (row.target == faults::Target::kIfindex) {
        std::ostringstream hex;
        hex << "ifindex=0x" << std::hex << s.target;
        parts.push_back(hex.str());
    } else if (row.target == faults::Target::kSlot) {
        parts.push_back("slot=" + std::to_string(static_cast<uint8_t>(s.target + 1)));
    }
    if (const char *key = count_key(row))
        parts.push_back(std::string(key) + "=" + std::to_string(s.count));
    if (row.takes_code)
        parts.push_back("code=" + std::to_string(s.code));
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : " ") + part;
    return text;
}

void dump_faults(Session &s, const Args &) {
    const auto on = faults::active();
    s.output().record(nullptr, {}, "  fault                restart  now\n");
    for (const faults::Row &row : faults::rows()) {
        std::string now;
        Fields settings = Fields::array();
        for (const auto &[id, setting] : on) {
            if (id == row.id) {
                now += (now.empty() ? "on " : ", ") + describe(row, setting);
                settings.push_back(describe(row, setting));
            }
        }
        std::string name = row.name;
        name.resize(20, ' ');
        s.output().record(
            "fault",
            {{"name", row.name}, {"kept_at_restart", row.kept_at_restart}, {"on", settings}},
            "  " + name + " " + (row.kept_at_restart ? "kept   " : "cleared") + "  " +
                (now.empty() ? "off" : now) + "\n");
    }
}

std::vector<const char *> row_names() {
    std::vector<const char *> names;
    for (const faults::Row &row : faults::rows())
        names.push_back(row.name);
    return names;
}

} // namespace

void add_fault_verbs(VerbTable &verbs) {
    for (const faults::Row &row : faults::rows()) {
        verbs.add({std::string("fault ") + row.name,
                   params(row),
                   {},
                   row.help,
                   [&row](Session &, const Args &a) { set(row, a); },
                   [&row](const Args &a) { return check(row, a); }});
    }
    verbs.add({"fault off",
               {},
               {row_names(), true},
               "switch a fault off for every service, interface or slot",
               [](Session &, const Args &a) { faults::clear(faults::find(a.choice())->id); }});
    verbs.add({"fault reset", {}, {}, "switch every fault off", [](Session &, const Args &) {
                   faults::reset();
               }});
    verbs.add({"dump faults",
               {},
               {},
               "the fault table: what a process restart does to each fault, and which are on",
               dump_faults});
}

} // namespace rire_host
