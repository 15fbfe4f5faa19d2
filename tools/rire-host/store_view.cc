#include "tools/rire-host/store_view.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "emu/base/bytes.h"
#include "emu/log/event_log_file.h"
#include "emu/pss/pss.h"
#include "emu/pss/view.h"
#include "tools/rire-host/output.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"

namespace rire_host {
namespace {

using Records = emu::pss::Records;

void print_db(Output &out, const std::string &name, const Records &records, bool raw) {
    const auto type = service_of(name);
    out.record("pss_db", {{"db", name}, {"count", records.size()}},
               "  " + name + (type ? " (" + std::to_string(*type) + ")" : "") + ": " +
                   counted(records.size(), "record") + "\n");
    for (const auto &[key, value] : records) {
        const std::string meaning = type ? describe_record(*type, key, value) : "";
        std::string text = type ? "    " + meaning + "\n" : "";
        if (raw || !type) {
            std::ostringstream bytes;
            print_bytes(bytes, key, &value, SIZE_MAX);
            text += bytes.str();
        }
        Fields fields = {{"db", name},
                         {"key", emu::base::bytes::hex(key.data(), key.size(), key.size())},
                         {"value", emu::base::bytes::hex(value.data(), value.size(), value.size())},
                         {"text", meaning}};
        if (type) {
            fields["service"] = *type;
            fields.update(record_fields(*type, key, &value));
        }
        out.record("pss_record", std::move(fields), text);
    }
}

void print_oiflists(Output &out, const std::filesystem::path &dir) {
    std::ifstream in(dir / kPiOiflistsFile);
    std::string list;
    Fields live = Fields::array();
    for (uint32_t type, index; in >> type >> index;
         live.push_back({{"type", type}, {"index", index}}))
        list += (live.empty() ? ": " : ", ") + std::string("type ") + std::to_string(type) +
                " index " + std::to_string(index);
    out.record("oiflists", {{"live", live}},
               "  live oiflists of the platform-independent layer: " + std::to_string(live.size()) +
                   list + "\n");
}

// An events.log line, "TIME LEVEL(CODE) FUNCTION(LINE): TEXT", as fields;
// what does not have that form stays in "text".
Fields event_fields(const std::string &line) {
    std::istringstream in(line);
    std::string time, tag;
    in >> time >> tag;
    const size_t open = tag.find('(');
    if (time.empty() || time.back() != 'Z' || open == std::string::npos || tag.back() != ')' ||
        open + 2 > tag.size() - 1 ||
        tag.find_first_not_of("0123456789", open + 1) != tag.size() - 1)
        return {{"text", line}};
    Fields fields = {{"time", time},
                     {"level", tag.substr(0, open)},
                     {"level_code", std::stoul(tag.substr(open + 1))}};
    std::string rest;
    std::getline(in >> std::ws, rest);
    const size_t paren = rest.find('('), close = rest.find("): ");
    if (paren != std::string::npos && close != std::string::npos && paren < close &&
        rest.find_first_not_of("0123456789", paren + 1) == close && close > paren + 1) {
        fields["function"] = rest.substr(0, paren);
        fields["source_line"] = std::stoul(rest.substr(paren + 1, close - paren - 1));
        rest = rest.substr(close + 3);
    }
    fields["text"] = rest;
    return fields;
}

void print_events(Output &out, const std::filesystem::path &dir, size_t tail) {
    const auto lines = emu::log::EventLogFile::read_lines(dir / "events.log");
    const size_t shown = std::min(tail, lines.size());
    out.record("events", {{"shown", shown}, {"total", lines.size()}},
               "  events.log: last " + std::to_string(shown) + " of " +
                   counted(lines.size(), "line") + "\n");
    for (size_t i = lines.size() - shown; i < lines.size(); i++)
        out.record("event", event_fields(lines[i]), "    " + lines[i] + "\n");
}

// Opens the store read-only and prints it; an exit status.
int print_store(const InspectOptions &o, Output &out) {
    const auto data = o.dir / "data.mdb";
    if (!std::filesystem::exists(data)) {
        out.record("pss_store", {{"present", false}}, "  no PSS store (data.mdb)\n");
        return 0;
    }
    auto fail = [&out](int status, const std::string &message) {
        out.notice("error", {{"message", message}, {"store_unusable", status == 3}},
                   "rire-host: " + message + "\n");
        return status;
    };
    auto damaged = [&fail, &data](const std::string &fault) {
        return fail(3, "the PSS store " + data.string() + " cannot be used: " + fault);
    };
    const emu::pss::view::Snapshot store = emu::pss::view::read(o.dir);
    if (store.status == emu::pss::view::Snapshot::kDamaged)
        return damaged(store.fault);
    if (store.status == emu::pss::view::Snapshot::kFailed)
        return fail(1, "cannot open " + data.string() + ": " + store.fault);
    const auto &dbs = store.dbs;
    if (!store.checksummed)
        out.notice("warning", {{"message", "format 1: records without checksums"}},
                   "rire-host: " + data.string() +
                       " keeps no checksums (format 1): records are read unverified\n");
    // The plugin's databases in the order of their types, any other after them.
    std::vector<std::string> names;
    for (const auto &[name, records] : dbs)
        names.push_back(name);
    std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return service_of(a).value_or(UINT32_MAX) < service_of(b).value_or(UINT32_MAX);
    });
    for (const std::string &name : names)
        print_db(out, name, dbs.at(name), o.raw);
    return 0;
}

// A directory a run has used holds at least one of these.
bool is_state_dir(const std::filesystem::path &dir) {
    std::error_code ec;
    for (const char *file : {"data.mdb", "events.log", "host.pid", kPiOiflistsFile})
        if (std::filesystem::exists(dir / file, ec))
            return true;
    return false;
}

} // namespace

int inspect(const InspectOptions &o, Output &out) {
    if (!is_state_dir(o.dir)) {
        const std::string message = "inspect: " + o.dir.string() + " is not a state directory";
        out.notice("error", {{"message", message}}, "rire-host: " + message + "\n");
        return 2;
    }
    out.record("state", {{"dir", o.dir.string()}}, "state " + o.dir.string() + " (read-only)\n");
    if (const int status = print_store(o, out); status != 0)
        return status;
    print_oiflists(out, o.dir);
    print_events(out, o.dir, o.tail);
    return 0;
}

} // namespace rire_host
