#include "tools/rire-host/session.h"

#include <cstdlib>
#include <stdexcept>

#include "emu/host.h"
#include "emu/log.h"
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
    const bool had_store = std::filesystem::exists(options_.state_dir / "data.mdb");
    try {
        emu::host_start({options_.state_dir});
    } catch (const std::exception &e) {
        *error = "cannot open the state directory " + options_.state_dir.string() + ": " + e.what();
        return false;
    }
    return boot(had_store, error);
}

bool Session::restart(std::string *error) {
    release_pending_records();
    plugin_.reset();
    try {
        emu::host_restart();
    } catch (const std::exception &e) {
        *error = std::string("cannot reopen the store: ") + e.what();
        return false;
    }
    log_printed_ = 0;
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
    out_ << "booted " << options_.plugin_path.substr(options_.plugin_path.rfind('/') + 1)
         << ": PSS open status " << status;
    if (recover) {
        api().pss_recover();
        out_ << ", recovered from PSS";
    }
    out_ << "\n";
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

void Session::print_new_log() {
    const auto &events = emu::log::event_log();
    for (; log_printed_ < events.size(); log_printed_++) {
        const auto &e = events[log_printed_];
        std::string text = e.text;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        out_ << "  " << (e.level == emu::log::kLevelError ? "error " : "trace ") << text << "\n";
    }
}

} // namespace rire_host
