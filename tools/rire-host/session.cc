#include "tools/rire-host/session.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "emu/base/disk.h"
#include "emu/boot.h"
#include "emu/host.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/oiflists.h"
#include "emu/rire/stats.h"

namespace rire_host {
namespace {

// A record's text as the sink received it, quoted, with its control bytes
// (the final newline, tabs) and quotes escaped so that trailing blanks show.
std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += {'\\', static_cast<char>(c)};
        else if (c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string level_name(uint32_t level) {
    if (level == RIRE_ORSK_LOG_LEVEL_ERROR)
        return "error";
    if (level == RIRE_ORSK_LOG_LEVEL_TRACE)
        return "trace";
    return "level " + std::to_string(level);
}

// The wrapped text with the source line between the first parentheses as "_".
std::string unnumbered(std::string text) {
    const size_t open = text.find('('), close = text.find(')');
    if (open != std::string::npos && close != std::string::npos && open < close)
        text.replace(open + 1, close - open - 1, "_");
    return text;
}

// Whether the function name holds one of the comma-separated parts.
bool names_any(std::string_view func, std::string_view parts) {
    for (size_t at = 0; at <= parts.size();) {
        const size_t end = std::min(parts.find(',', at), parts.size());
        if (func.find(parts.substr(at, end - at)) != std::string_view::npos)
            return true;
        at = end + 1;
    }
    return false;
}

} // namespace

Session::Session(SessionOptions options, Output &output)
    : options_(std::move(options)), output_(output), verdict_(output) {}

Session::~Session() {
    if (plugin_) {
        if (const size_t queued = emu::pss::pending_count(); queued != 0) {
            output_.notice("unflushed", {{"count", queued}},
                           "rire-host: " + counted(queued, "PSS update") +
                               " still queued at the end and never flushed: the process loses "
                               "them\n");
        }
    }
    emu::host_end(plugin_);
}

bool Session::start(std::string *error) {
    bool had_store = std::filesystem::exists(options_.state_dir / "data.mdb");
    emu::HostOptions host{options_.state_dir, options_.move_damaged_store,
                          [&](const std::filesystem::path &to, const std::string &fault) {
                              output_.notice("warning",
                                             {{"message", fault}, {"moved_to", to.string()}},
                                             "rire-host: " + fault + "\nrire-host: moved it to " +
                                                 to.string() + "; starting with an empty store\n");
                              had_store = false;
                          }};
    host.sync = options_.sync;
    emu::host_start(host);
    // The debug console's lines are kept and printed after each command, so
    // that they never land inside a line of the transcript.
    emu::log::set_console(nullptr);
    emu::log::on_error_record([this](const emu::log::Event &e) { logged_error(e); });
    emu::log::set_event_file_limits(options_.event_files);
    restore_oiflists();
    const bool booted = boot(had_store, error);
    verdict_.end_command();
    return booted;
}

bool Session::restart(std::string *error) {
    warn_dropped_updates();
    verdict_.end_command();
    audit_heap();
    try {
        emu::host_down(plugin_);
    } catch (const std::exception &e) {
        *error = std::string("cannot reopen the store: ") + e.what();
        return false;
    }
    log_printed_ = console_printed_ = disk_printed_ = 0;
    verdict_.restarted();
    restore_oiflists();
    return boot(true, error);
}

void Session::end_run() {
    if (!plugin_)
        return;
    verdict_.ended();
    audit_heap();
}

void Session::audit_heap() {
    const emu::loader::Plugin::Census census = emu::heap_census(*plugin_);
    if (census.lost != 0)
        verdict_.heap_lost(census.lost, census.lost_bytes);
}

bool Session::boot(bool recover, std::string *error) {
    emu::Booted b = emu::host_up({options_.state_dir, options_.plugin_path, recover});
    if (!b.plugin) {
        *error = b.error;
        return false;
    }
    plugin_ = std::move(b.plugin);
    const std::string name = options_.plugin_path.substr(options_.plugin_path.rfind('/') + 1);
    output_.record("boot",
                   {{"plugin", name}, {"pss_open_status", b.open_status}, {"recovered", recover}},
                   "booted " + name + ": PSS open status " + std::to_string(b.open_status) +
                       (recover ? ", recovered from PSS" : "") + "\n");
    if (recover)
        print_recovery();
    warn_dropped_updates();
    warn_unwritten();
    print_new_console();
    if (options_.echo_log)
        print_new_log();
    return true;
}

// The platform-independent layer comes back with its live oiflists before
// the plugin recovers; the file is written at every change of them.
void Session::restore_oiflists() {
    std::ifstream in(options_.state_dir / kPiOiflistsFile);
    size_t restored = 0;
    for (uint32_t type, index; in >> type >> index; restored++)
        emu::rire::oiflists::declare(type, index);
    if (restored != 0)
        output_.record("oiflists_restored", {{"count", restored}},
                       "  the platform-independent layer restored " +
                           counted(restored, "live oiflist") + "\n");
}

// The layer's list changes whether or not the file takes it: a file that
// cannot be written is reported, and a restart would restore the list it
// still holds.
void Session::set_oiflist(uint32_t type, uint32_t index, bool live) {
    if (live)
        emu::rire::oiflists::declare(type, index);
    else
        emu::rire::oiflists::remove(type, index);
    std::string text;
    for (const auto &o : emu::rire::oiflists::list())
        text += std::to_string(o.type) + " " + std::to_string(o.index) + "\n";
    const auto path = options_.state_dir / kPiOiflistsFile;
    if (const int error = emu::base::disk::replace(path, text); error != 0)
        emu::base::disk::failed(path, error);
}

void Session::print_recovery() {
    uint32_t realloc = 0, pending = 0, hw = 0;
    for (const auto &c : emu::rire::stats::named()) {
        if (c.name == "num_index_realloc")
            realloc = c.value;
        else if (c.name == "num_pending_di_restored")
            pending = c.value;
        else if (c.name == "num_hw_update_req_restored")
            hw = c.value;
    }
    const auto rebuilt = requests();
    Fields fields = {{"pending_di_records", pending},
                     {"hw_update_records", hw},
                     {"requests", nullptr},
                     {"indexes_reserved", realloc}};
    if (rebuilt)
        fields["requests"] = rebuilt->size();
    output_.record("recovered", std::move(fields),
                   "  recovered " + counted(pending, "pending-DI record") + " and " +
                       counted(hw, "hardware-update record") + ": " +
                       (rebuilt ? counted(rebuilt->size(), "request") : "? requests") +
                       " rebuilt, " + counted(realloc, "index", "indexes") + " reserved again\n");
}

std::optional<std::vector<Request>> Session::requests() {
    const queue_hdr *q = plugin_->hw_update_req_q();
    if (q == nullptr)
        return std::nullopt;
    return emu::loader::requests::decode(*q);
}

void Session::flush(bool scheduled) {
    const size_t queued = emu::pss::pending_count();
    const size_t writes = emu::pss::pending_count(emu::pss::Kind::kWrite);
    const int rc = emu::pss::flush();
    if (rc != 0) {
        const std::string error =
            rc == emu::pss::kErrStore ? emu::pss::last_store_error() : syserr2str(rc);
        output_.record("flush", {{"failed", error}, {"queued", queued}},
                       "  flush refused: " + error + "; " + counted(queued, "update") +
                           (queued == 1 ? " stays" : " stay") + " queued\n");
        verdict_.strict_failure("flush_refused", "the store refused the flush: " + error);
        return;
    }
    const size_t deletes = queued - writes;
    std::string text =
        (scheduled ? "  scheduled flush: committed " : "  committed ") + counted(queued, "update");
    const char *sep = ": ";
    if (writes != 0)
        text += sep + counted(writes, "write"), sep = ", ";
    if (deletes != 0)
        text += sep + counted(deletes, "delete");
    output_.record(
        "flush",
        [&] {
            return Fields{{"committed", queued},
                          {"writes", writes},
                          {"deletes", deletes},
                          {"scheduled", scheduled}};
        },
        text + "\n");
}

void Session::end_command() {
    const uint32_t *arena = plugin_->pss_buf_used();
    if (schedule_ == PssSchedule::kAuto) {
        if (emu::pss::pending_count() != 0)
            flush(true);
        else if (arena != nullptr && *arena != 0) {
            emu::pss::flush(); // nothing queued: only the plugin's arena empties
        }
    }
    warn_dropped_updates();
    warn_unwritten();
    print_new_console();
    if (options_.echo_log)
        print_new_log();
    verdict_.end_command();
}

void Session::warn_unwritten() {
    const auto &failures = emu::base::disk::failures();
    for (; disk_printed_ < failures.size(); disk_printed_++) {
        const std::string message = failures[disk_printed_].message();
        output_.record("warning",
                       {{"message", message}, {"file", failures[disk_printed_].file.string()}},
                       "  warning: " + message + "\n");
        verdict_.strict_failure("file_not_written", message);
    }
}

void Session::print_new_console() {
    const auto &lines = emu::log::console_lines();
    for (console_printed_ = std::max(console_printed_, lines.first());
         console_printed_ < lines.size(); console_printed_++)
        output_.record("console", {{"text", lines[console_printed_]}},
                       lines[console_printed_] + "\n");
}

void Session::print_new_log(bool numbered, std::string_view func_parts) {
    const auto &events = emu::log::event_log();
    if (log_printed_ < events.first()) {
        const size_t lost = events.first() - log_printed_;
        output_.record("log_lost", {{"count", lost}},
                       "  (" + counted(lost, "earlier record") +
                           " no longer held in memory; see events.log)\n");
        log_printed_ = events.first();
    }
    for (; log_printed_ < events.size(); log_printed_++) {
        const emu::log::Event e = events[log_printed_];
        const std::string text = numbered ? std::string(e.text) : unnumbered(std::string(e.text));
        if (!names_any(std::string_view(text).substr(0, text.find('(')), func_parts))
            continue;
        output_.record("log", {{"level", level_name(e.level)}, {"text", text}},
                       "  " + level_name(e.level) + " " + quoted(text) + "\n");
    }
}

void Session::logged_error(const emu::log::Event &e) {
    verdict_.logged_error(e.text);
    if (const auto reason = emu::log::dropped::classify(e.level, e.text)) {
        dropped_[static_cast<int>(*reason)]++;
        unwarned_.push_back(*reason);
    }
}

void Session::warn_dropped_updates() {
    for (const emu::log::dropped::Reason reason : unwarned_) {
        const std::string message =
            std::string("the plugin gave up a PSS update: ") + emu::log::dropped::describe(reason);
        output_.record("warning", {{"message", message}}, "  warning: " + message + "\n");
    }
    unwarned_.clear();
}

void Session::begin_command(const std::string &file, int line, bool expectation) {
    verdict_.begin_command(file, line, expectation);
}

} // namespace rire_host
