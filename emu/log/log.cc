#include "emu/log/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "emu/base/bytes.h"
#include "emu/base/journal.h"
#include "emu/log/text.h"

extern "C" {
char rire_log_buf[RIRE_LOG_BUF_SIZE];
char sdwrap_dbg_modname[32] = "rire";
}

namespace emu::log {
namespace {

constexpr std::size_t kModnameMax = sizeof(sdwrap_dbg_modname);

// Configuration: survives clear().
struct Config {
    std::size_t capacity = kDefaultHistoryCapacity;
    // Few codes, if any: a scan of an empty or short list is the cheapest check.
    std::vector<uint32_t> filtered;
    std::vector<uint32_t> debug_on;
    std::FILE *console = stderr;
    std::function<void(const Event &)> on_error;
    bool sinks = true;
};

struct State {
    Config config;
    EventRing history{kDefaultHistoryCapacity};
    base::Ring<std::string> console_lines{kConsoleCapacity};
    EventRing event_log{kEventLogCapacity};
    EventLogFile file;
    uint64_t file_missed = 0; // records the file did not take since reset()
};

State g;

// A plain loop: the lists are usually empty, and std::find's unrolled loop
// costs a record some twenty instructions before it finds that out.
bool contains(const std::vector<uint32_t> &codes, uint32_t code) {
    for (const uint32_t member : codes)
        if (member == code)
            return true;
    return false;
}

void set_member(std::vector<uint32_t> *codes, uint32_t code, bool member) {
    if (member && !contains(*codes, code))
        codes->push_back(code);
    else if (!member)
        std::erase(*codes, code);
}

// A record of `len` bytes read in place: its level code and its text, read
// no further than `len` bytes; a record too short for a level code has level
// 0 and no text.
Event read_record(const void *record, uint32_t len, uint32_t uuid) {
    Event ev{0, len, uuid, {}};
    if (record == nullptr || len < sizeof(uint32_t))
        return ev;
    const char *bytes = static_cast<const char *>(record);
    std::memcpy(&ev.level, bytes, sizeof(uint32_t));
    const char *text = bytes + sizeof(uint32_t);
    ev.text = {text, text_length(text, std::min<std::size_t>(len - sizeof(uint32_t), kTextMax))};
    return ev;
}

} // namespace

const EventRing &history() {
    return g.history;
}

void set_history_capacity(std::size_t capacity) {
    g.config.capacity = capacity;
    g.history.set_capacity(capacity);
}

void filter_subtype(uint32_t subtype, bool filtered) {
    set_member(&g.config.filtered, subtype, filtered);
}

void set_debug(uint32_t level, bool on) {
    set_member(&g.config.debug_on, level, on);
}

const base::Ring<std::string> &console_lines() {
    return g.console_lines;
}

void set_console(std::FILE *sink) {
    g.config.console = sink;
}

const EventRing &event_log() {
    return g.event_log;
}

void on_error_record(std::function<void(const Event &)> listener) {
    g.config.on_error = std::move(listener);
}

bool set_state_dir(const std::filesystem::path &dir) {
    if (dir.empty()) {
        g.file.close();
        return true;
    }
    return g.file.open(dir);
}

bool set_event_file_limits(const EventLogFile::Limits &limits) {
    return g.file.set_limits(limits);
}

void set_sinks_enabled(bool on) {
    g.config.sinks = on;
}

void clear() {
    g.history.clear();
    g.console_lines.clear();
    g.event_log.clear();
}

uint64_t event_file_missed() {
    return g.file_missed;
}

void reset() {
    g.file.close();
    g.file_missed = 0;
    g.file.set_limits({});
    g.config = Config{};
    g.history.set_capacity(kDefaultHistoryCapacity);
    clear();
}

} // namespace emu::log

namespace elog = emu::log;
namespace base = emu::base;
using elog::g;

extern "C" int sdwrap_hist_event_subtype_check(uint32_t hist_id, uint32_t subtype) {
    if (!g.config.sinks)
        return 0;
    base::journal::record("sdwrap_hist_event_subtype_check", {hist_id, subtype});
    return elog::contains(g.config.filtered, subtype) ? 1 : 0;
}

extern "C" void sdwrap_hist_event(uint32_t hist_id, uint32_t len, const void *record) {
    if (!g.config.sinks)
        return;
    const elog::Event ev = elog::read_record(record, len, 0);
    g.history.append(ev);
    if (base::journal::enabled())
        base::journal::record("sdwrap_hist_event", {hist_id, len}, std::string(ev.text));
}

extern "C" int sdwrap_chk_int(uint32_t level, int a, int b, int c) {
    if (!g.config.sinks)
        return 0;
    base::journal::record("sdwrap_chk_int", {level, a, b, c});
    return elog::contains(g.config.debug_on, level) ? 1 : 0;
}

extern "C" void buginf(int flag, const void *modname, int zero, const char *fmt, ...) {
    if (!g.config.sinks)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = emu::base::bytes::vformat(fmt, ap);
    va_end(ap);
    const char *name = static_cast<const char *>(modname);
    std::string line =
        name == nullptr ? std::string("?") : std::string(name, strnlen(name, elog::kModnameMax));
    line += ": ";
    line += text;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (base::journal::enabled())
        base::journal::record("buginf", {flag, zero}, line);
    if (g.config.console != nullptr) {
        std::fprintf(g.config.console, "%s\n", line.c_str());
        std::fflush(g.config.console);
    }
    *g.console_lines.append() = std::move(line);
}

extern "C" int sdwrap_his_log_event_for_uuid_inst(uint32_t uuid, uint32_t hist_id, int one,
                                                  int zero, uint32_t len, const void *record) {
    if (!g.config.sinks)
        return 0;
    const elog::Event ev = elog::read_record(record, len, uuid);
    g.event_log.append(ev);
    if (base::journal::enabled())
        base::journal::record("sdwrap_his_log_event_for_uuid_inst", {uuid, hist_id, one, zero, len},
                              std::string(ev.text));
    if (!g.file.append(ev.level, ev.text.data(), ev.text.size()))
        g.file_missed++;
    if (ev.level == RIRE_ORSK_LOG_LEVEL_ERROR && g.config.on_error)
        g.config.on_error(ev);
    return 0;
}
