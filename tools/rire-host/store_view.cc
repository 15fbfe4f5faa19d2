#include "tools/rire-host/store_view.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "emu/bytes.h"
#include "emu/event_log_file.h"
#include "emu/pss.h"
#include "emu/store_view.h"
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
        out.record("pss_record",
                   {{"db", name},
                    {"key", emu::bytes::hex(key.data(), key.size(), key.size())},
                    {"value", emu::bytes::hex(value.data(), value.size(), value.size())},
                    {"text", meaning}},
                   text);
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

void print_events(Output &out, const std::filesystem::path &dir, size_t tail) {
    const auto lines = emu::EventLogFile::read_lines(dir / "events.log");
    const size_t shown = std::min(tail, lines.size());
    out.record("events", {{"shown", shown}, {"total", lines.size()}},
               "  events.log: last " + std::to_string(shown) + " of " +
                   counted(lines.size(), "line") + "\n");
    for (size_t i = lines.size() - shown; i < lines.size(); i++)
        out.record("event", {{"line", lines[i]}}, "    " + lines[i] + "\n");
}

// Opens the store read-only and prints it; an exit status.
int print_store(const InspectOptions &o, Output &out) {
    const auto data = o.dir / "data.mdb";
    if (!std::filesystem::exists(data)) {
        out.record("pss_store", {{"present", false}}, "  no PSS store (data.mdb)\n");
        return 0;
    }
    auto fail = [&out, &data](int status, const std::string &message) {
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

} // namespace

int inspect(const InspectOptions &o, Output &out) {
    if (!std::filesystem::is_directory(o.dir)) {
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

int inspect_main(int argc, char **argv) {
    CLI::App app("Prints what a state directory holds: both PSS databases decoded, the live\n"
                 "oiflists and the tail of events.log. Reads without the plugin, in one\n"
                 "committed transaction registered in lock.mdb, the only file of DIR written.",
                 "rire-host inspect");
    InspectOptions o;
    app.add_option("DIR", o.dir, "the state directory")->required();
    app.add_flag("--raw", o.raw, "also each record's key and value bytes");
    app.add_option("--tail", o.tail, "lines of events.log shown (default 20)");
    Format format = Format::kText;
    app.add_option("--format", format, "text or json (JSON Lines)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, Format>{{"text", Format::kText}, {"json", Format::kJson}}));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const auto out = make_output(format, std::cout, std::cerr);
    return inspect(o, *out);
}

} // namespace rire_host
