#include "tools/rire-host/session.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "emu/host.h"
#include "emu/log.h"
#include "emu/oiflists.h"
#include "emu/pss.h"

namespace rire_host {

Session::Session(SessionOptions options, std::ostream &out)
    : options_(std::move(options)), out_(out) {}

Session::~Session() {
    release_pending_records();
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
    return boot(had_store, error);
}

bool Session::restart(std::string *error) {
    release_pending_records();
    plugin_.reset();
    const auto live = emu::oiflists::list();
    warn_dropped_updates();
    try {
        emu::host_restart();
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
    plugin_ = emu::Plugin::load(options_.plugin_path, error);
    if (!plugin_)
        return false;
    if (!plugin_->init()) {
        *error = options_.plugin_path + " has no rire_orsk_platform_api_init";
        return false;
    }
    api().set_q_handle(kQueueHandle);
    emu::pss::set_commit_hook([this] { return api().pss_buf_commit(); });
    emu::pss::InitArg init_arg;
    const int32_t status = api().pss_open_file(&init_arg);
    if (status == emu::pss::kErrStore)
        throw emu::HostError(emu::HostError::kStoreUnusable,
                             "the PSS store " + (options_.state_dir / "data.mdb").string() +
                                 " cannot be used: " + emu::pss::last_store_error());
    out_ << "booted " << options_.plugin_path.substr(options_.plugin_path.rfind('/') + 1)
         << ": PSS open status " << status;
    if (recover) {
        api().pss_recover();
        out_ << ", recovered from PSS";
    }
    out_ << "\n";
    warn_dropped_updates();
    if (options_.echo_log)
        print_new_log();
    return true;
}

rire_orsk_di_req &Session::pending_record(uint32_t type, uint32_t index) {
    auto &slot = pending_[{type, index}];
    if (!slot) {
        slot = std::make_unique<rire_orsk_di_req>();
        slot->oiflist_index = index;
        slot->oiflist_type = type;
    }
    return *slot;
}

rire_orsk_di_req *Session::find_pending_record(uint32_t type, uint32_t index) {
    auto it = pending_.find({type, index});
    return it == pending_.end() ? nullptr : it->second.get();
}

// Hold elements came from the plugin's malloc; the host frees what it dequeues.
void Session::drop_pending_record(uint32_t type, uint32_t index) {
    rire_orsk_di_req *rec = find_pending_record(type, index);
    if (rec == nullptr)
        return;
    auto dequeue = fn<decltype(&rire_orsk_di_hold_q_dequeue)>("rire_orsk_di_hold_q_dequeue");
    while (rire_orsk_di_hold_q_elem *elem = dequeue(&rec->hold_q))
        std::free(elem);
    pending_.erase({type, index});
}

void Session::release_pending_records() {
    while (!pending_.empty()) {
        auto [type, index] = pending_.begin()->first;
        drop_pending_record(type, index);
    }
}

namespace {

// An event-log text "func(line): msg" or "func(line):ERROR: msg" as a reader
// wants it: without the source line, which changes with every edit of the
// plugin, and without the function name when the message already names it.
std::string readable(const std::string &text) {
    const size_t open = text.find('(');
    const size_t close = text.find("):", open);
    if (open == std::string::npos || close == std::string::npos ||
        text.find_first_not_of("0123456789", open + 1) != close)
        return text;
    const std::string func = text.substr(0, open);
    size_t at = close + 2;
    if (text.compare(at, 6, "ERROR:") == 0)
        at += 6;
    if (at < text.size() && text[at] == ' ')
        at++;
    std::string message = text.substr(at);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message.find(func) == std::string::npos ? func + ": " + message : message;
}

} // namespace

void Session::print_new_log() {
    const auto &events = emu::log::event_log();
    for (; log_printed_ < events.size(); log_printed_++) {
        const auto &e = events[log_printed_];
        out_ << "  " << (e.level == emu::log::kLevelError ? "error " : "trace ") << readable(e.text)
             << "\n";
    }
}

void Session::warn_dropped_updates() {
    const auto &events = emu::log::event_log();
    for (; log_scanned_ < events.size(); log_scanned_++) {
        const auto reason =
            emu::dropped::classify(events[log_scanned_].level, events[log_scanned_].text);
        if (!reason)
            continue;
        dropped_[static_cast<int>(*reason)]++;
        out_ << "  warning: the plugin gave up a PSS update: " << emu::dropped::describe(*reason)
             << "\n";
    }
}

} // namespace rire_host
