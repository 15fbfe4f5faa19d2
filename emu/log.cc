#include "emu/log.h"

#include <cstdarg>
#include <cstring>
#include <set>

#include "emu/bytes.h"
#include "emu/journal.h"

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
    std::set<uint32_t> filtered;
    std::set<uint32_t> debug_on;
    std::FILE *console = stderr;
    bool sinks = true;
};

struct State {
    Config config;
    Ring<Event> history{kDefaultHistoryCapacity};
    Ring<std::string> console_lines{kConsoleCapacity};
    Ring<LoggedEvent> event_log{kEventLogCapacity};
    EventLogFile file;
};

State g;

// The level code of a record and its NUL-terminated text, read no further
// than `len` bytes; false for a record too short to hold a level code.
bool parse_record(const void *record, uint32_t len, uint32_t *level, const char **text,
                  std::size_t *text_len) {
    if (record == nullptr || len < sizeof(uint32_t))
        return false;
    const char *bytes = static_cast<const char *>(record);
    std::memcpy(level, bytes, sizeof(uint32_t));
    *text = bytes + sizeof(uint32_t);
    *text_len = strnlen(*text, len - sizeof(uint32_t));
    return true;
}

} // namespace

const Ring<Event> &history() {
    return g.history;
}

void set_history_capacity(std::size_t capacity) {
    g.config.capacity = capacity;
    g.history.set_capacity(capacity);
}

void filter_subtype(uint32_t subtype, bool filtered) {
    if (filtered)
        g.config.filtered.insert(subtype);
    else
        g.config.filtered.erase(subtype);
}

void set_debug(uint32_t level, bool on) {
    if (on)
        g.config.debug_on.insert(level);
    else
        g.config.debug_on.erase(level);
}

const Ring<std::string> &console_lines() {
    return g.console_lines;
}

void set_console(std::FILE *sink) {
    g.config.console = sink;
}

const Ring<LoggedEvent> &event_log() {
    return g.event_log;
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

void reset() {
    g.file.close();
    g.file.set_limits({});
    g.config = Config{};
    g.history.set_capacity(kDefaultHistoryCapacity);
    clear();
}

} // namespace emu::log

namespace elog = emu::log;
namespace journal = emu::journal;
using elog::g;

extern "C" int sdwrap_hist_event_subtype_check(uint32_t hist_id, uint32_t subtype) {
    if (!g.config.sinks)
        return 0;
    journal::record("sdwrap_hist_event_subtype_check", {hist_id, subtype});
    return g.config.filtered.count(subtype) != 0 ? 1 : 0;
}

extern "C" void sdwrap_hist_event(uint32_t hist_id, uint32_t len, const void *record) {
    if (!g.config.sinks)
        return;
    uint32_t level = 0;
    const char *text = "";
    std::size_t text_len = 0;
    elog::parse_record(record, len, &level, &text, &text_len);
    if (journal::enabled())
        journal::record("sdwrap_hist_event", {hist_id, len}, std::string(text, text_len));
    if (elog::Event *ev = g.history.append()) {
        ev->level = level;
        ev->text.assign(text, text_len);
        ev->len = len;
    }
}

extern "C" int sdwrap_chk_int(uint32_t level, int a, int b, int c) {
    if (!g.config.sinks)
        return 0;
    journal::record("sdwrap_chk_int", {level, a, b, c});
    return g.config.debug_on.count(level) != 0 ? 1 : 0;
}

extern "C" void buginf(int flag, const void *modname, int zero, const char *fmt, ...) {
    if (!g.config.sinks)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = emu::bytes::vformat(fmt, ap);
    va_end(ap);
    const char *name = static_cast<const char *>(modname);
    std::string line =
        name == nullptr ? std::string("?") : std::string(name, strnlen(name, elog::kModnameMax));
    line += ": ";
    line += text;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (journal::enabled())
        journal::record("buginf", {flag, zero}, line);
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
    uint32_t level = 0;
    const char *text = "";
    std::size_t text_len = 0;
    elog::parse_record(record, len, &level, &text, &text_len);
    if (journal::enabled())
        journal::record("sdwrap_his_log_event_for_uuid_inst", {uuid, hist_id, one, zero, len},
                        std::string(text, text_len));
    g.file.append(level, text, text_len);
    elog::LoggedEvent *ev = g.event_log.append();
    ev->level = level;
    ev->text.assign(text, text_len);
    ev->len = len;
    ev->uuid = uuid;
    return 0;
}
