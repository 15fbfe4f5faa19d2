#include "emu/log.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <ctime>
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

struct State {
    std::deque<Event> history;
    std::size_t capacity = kDefaultHistoryCapacity;
    std::set<uint32_t> filtered;
    std::set<uint32_t> debug_on;
    std::vector<std::string> console_lines;
    std::FILE *console = stderr;
    std::vector<LoggedEvent> event_log;
    std::FILE *event_file = nullptr;
    bool sinks = true;
};

State g;

// Splits a record into its level code and its NUL-terminated text, reading
// no further than `len` bytes.
void parse_record(const void *record, uint32_t len, uint32_t *level, std::string *text) {
    *level = 0;
    text->clear();
    if (record == nullptr || len < sizeof(uint32_t))
        return;
    const char *bytes = static_cast<const char *>(record);
    std::memcpy(level, bytes, sizeof(uint32_t));
    const char *body = bytes + sizeof(uint32_t);
    text->assign(body, strnlen(body, len - sizeof(uint32_t)));
}

const char *level_name(uint32_t level) {
    switch (level) {
    case RIRE_ORSK_LOG_LEVEL_TRACE:
        return "trace";
    case RIRE_ORSK_LOG_LEVEL_ERROR:
        return "error";
    default:
        return "event";
    }
}

// "2024-05-01T12:34:56.789Z"
std::string utc_timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(ms));
    return buf;
}

// The text on one line: trailing newlines dropped, inner ones written as \n.
std::string one_line(const std::string &text) {
    std::string out;
    const std::size_t end = text.find_last_not_of('\n');
    const std::size_t keep = end == std::string::npos ? 0 : end + 1;
    out.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i) {
        if (text[i] == '\n')
            out += "\\n";
        else
            out += text[i];
    }
    return out;
}

void write_event_line(const LoggedEvent &ev) {
    if (g.event_file == nullptr)
        return;
    std::fprintf(g.event_file, "%s %s(%u) %s\n", utc_timestamp().c_str(), level_name(ev.level),
                 ev.level, one_line(ev.text).c_str());
    std::fflush(g.event_file);
}

void close_event_file() {
    if (g.event_file != nullptr)
        std::fclose(g.event_file);
    g.event_file = nullptr;
}

} // namespace

const std::deque<Event> &history() {
    return g.history;
}

void set_history_capacity(std::size_t capacity) {
    g.capacity = capacity;
    while (g.history.size() > capacity)
        g.history.pop_front();
}

void filter_subtype(uint32_t subtype, bool filtered) {
    if (filtered)
        g.filtered.insert(subtype);
    else
        g.filtered.erase(subtype);
}

void set_debug(uint32_t level, bool on) {
    if (on)
        g.debug_on.insert(level);
    else
        g.debug_on.erase(level);
}

const std::vector<std::string> &console_lines() {
    return g.console_lines;
}

void set_console(std::FILE *sink) {
    g.console = sink;
}

const std::vector<LoggedEvent> &event_log() {
    return g.event_log;
}

bool set_state_dir(const std::filesystem::path &dir) {
    close_event_file();
    if (dir.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    g.event_file = std::fopen((dir / "events.log").c_str(), "a");
    return g.event_file != nullptr;
}

void set_sinks_enabled(bool on) {
    g.sinks = on;
}

void clear() {
    g.history.clear();
    g.console_lines.clear();
    g.event_log.clear();
}

void reset() {
    close_event_file();
    g = State{};
}

} // namespace emu::log

namespace elog = emu::log;
namespace journal = emu::journal;

extern "C" int sdwrap_hist_event_subtype_check(uint32_t hist_id, uint32_t subtype) {
    if (!elog::g.sinks)
        return 0;
    journal::record("sdwrap_hist_event_subtype_check", {hist_id, subtype});
    return elog::g.filtered.count(subtype) != 0 ? 1 : 0;
}

extern "C" void sdwrap_hist_event(uint32_t hist_id, uint32_t len, const void *record) {
    if (!elog::g.sinks)
        return;
    elog::Event ev{0, {}, len};
    elog::parse_record(record, len, &ev.level, &ev.text);
    journal::record("sdwrap_hist_event", {hist_id, len}, ev.text);
    if (elog::g.capacity == 0)
        return;
    if (elog::g.history.size() == elog::g.capacity)
        elog::g.history.pop_front();
    elog::g.history.push_back(std::move(ev));
}

extern "C" int sdwrap_chk_int(uint32_t level, int a, int b, int c) {
    if (!elog::g.sinks)
        return 0;
    journal::record("sdwrap_chk_int", {level, a, b, c});
    return elog::g.debug_on.count(level) != 0 ? 1 : 0;
}

extern "C" void buginf(int flag, const void *modname, int zero, const char *fmt, ...) {
    if (!elog::g.sinks)
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
    journal::record("buginf", {flag, zero}, line);
    if (elog::g.console != nullptr) {
        std::fprintf(elog::g.console, "%s\n", line.c_str());
        std::fflush(elog::g.console);
    }
    elog::g.console_lines.push_back(std::move(line));
}

extern "C" int sdwrap_his_log_event_for_uuid_inst(uint32_t uuid, uint32_t hist_id, int one,
                                                  int zero, uint32_t len, const void *record) {
    if (!elog::g.sinks)
        return 0;
    elog::LoggedEvent ev{0, {}, len, uuid};
    elog::parse_record(record, len, &ev.level, &ev.text);
    journal::record("sdwrap_his_log_event_for_uuid_inst", {uuid, hist_id, one, zero, len}, ev.text);
    elog::write_event_line(ev);
    elog::g.event_log.push_back(std::move(ev));
    return 0;
}
