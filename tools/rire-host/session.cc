#include "tools/rire-host/session.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "emu/boot.h"
#include "emu/host.h"
#include "emu/log.h"
#include "emu/oiflists.h"
#include "emu/pending_di.h"
#include "emu/pss.h"

namespace rire_host {

Session::Session(SessionOptions options, std::ostream &out)
    : options_(std::move(options)), out_(out) {}

Session::~Session() {
    if (plugin_)
        emu::pending_di::drop_all(*plugin_);
    plugin_.reset();
    emu::host_stop();
}

bool Session::start(std::string *error) {
    bool had_store = std::filesystem::exists(options_.state_dir / "data.mdb");
    emu::HostOptions host{options_.state_dir, options_.move_damaged_store,
                          [&had_store](const std::filesystem::path &to, const std::string &fault) {
                              std::cerr << "rire-host: " << fault << "\nrire-host: moved it to "
                                        << to.string() << "; starting with an empty store\n";
                              had_store = false;
                          }};
    emu::host_start(host);
    // The debug console shares stdout with the transcript, line for line.
    emu::log::set_console(stdout);
    emu::log::set_event_file_limits(options_.event_files);
    return boot(had_store, error);
}

bool Session::restart(std::string *error) {
    const auto live = emu::oiflists::list();
    warn_dropped_updates();
    try {
        emu::host_down(plugin_);
    } catch (const std::exception &e) {
        *error = std::string("cannot reopen the store: ") + e.what();
        return false;
    }
    for (const auto &o : live)
        emu::oiflists::declare(o.type, o.index);
    log_printed_ = log_scanned_ = 0;
    return boot(true, error);
}

bool Session::boot(bool recover, std::string *error) {
    emu::Booted b = emu::host_up({options_.state_dir, options_.plugin_path, recover});
    if (!b.plugin) {
        *error = b.error;
        return false;
    }
    plugin_ = std::move(b.plugin);
    out_ << "booted " << options_.plugin_path.substr(options_.plugin_path.rfind('/') + 1)
         << ": PSS open status " << b.open_status << (recover ? ", recovered from PSS" : "")
         << "\n";
    warn_dropped_updates();
    if (options_.echo_log)
        print_new_log();
    return true;
}

namespace {

// An event-log text "func(line): msg" or "func(line):ERROR: msg" as a reader
// wants it: without the source line, which changes with every edit of the
// plugin, and without the function name when the message already names it.
std::string readable(std::string_view text) {
    const size_t open = text.find('(');
    const size_t close = text.find("):", open);
    if (open == std::string::npos || close == std::string::npos ||
        text.find_first_not_of("0123456789", open + 1) != close)
        return std::string(text);
    const std::string func(text.substr(0, open));
    size_t at = close + 2;
    if (text.compare(at, 6, "ERROR:") == 0)
        at += 6;
    if (at < text.size() && text[at] == ' ')
        at++;
    std::string message(text.substr(at));
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message.find(func) == std::string::npos ? func + ": " + message : message;
}

} // namespace

void Session::print_new_log() {
    const auto &events = emu::log::event_log();
    for (; log_printed_ < events.size(); log_printed_++) {
        const auto &e = events[log_printed_];
        out_ << "  " << (e.level == RIRE_ORSK_LOG_LEVEL_ERROR ? "error " : "trace ")
             << readable(e.text()) << "\n";
    }
}

void Session::warn_dropped_updates() {
    const auto &events = emu::log::event_log();
    for (; log_scanned_ < events.size(); log_scanned_++) {
        const auto reason =
            emu::dropped::classify(events[log_scanned_].level, events[log_scanned_].text());
        if (!reason)
            continue;
        dropped_[static_cast<int>(*reason)]++;
        out_ << "  warning: the plugin gave up a PSS update: " << emu::dropped::describe(*reason)
             << "\n";
    }
}

} // namespace rire_host
