// The one logging statement, as the host sees it: the order and arguments of
// its calls, the filter and debug switch, the record lengths and the cuts at
// 1023 and 511 characters. Which texts the plugin logs is
// tests/show/log-texts.t.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "emu/log/log.h"
#include "plugin/host/log.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
constexpr uint32_t kError = RIRE_ORSK_LOG_LEVEL_ERROR;
constexpr int64_t kHistoryId = RIRE_LOG_HIST_ID;

// "func(line): " or "func(line):ERROR: " at the start of a wrapped text, the
// line a positive number; empty when the text does not start so.
std::string wrapper_of(std::string_view text, const char *func, bool error) {
    const std::string head = std::string(func) + "(";
    const std::string tail = error ? "):ERROR: " : "): ";
    if (!text.starts_with(head) || text.size() <= head.size() || text[head.size()] == '0')
        return {};
    const size_t close = text.find_first_not_of("0123456789", head.size());
    if (close == head.size() || close == std::string::npos ||
        text.compare(close, tail.size(), tail) != 0)
        return {};
    return std::string(text.substr(0, close + tail.size()));
}

class Logging : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        emu::log::set_console(nullptr);
    }
    void TearDown() override {
        if (previous_name_get_ != nullptr)
            plugin_->replace_import("mts_opc_name_get", previous_name_get_);
        PluginTest::TearDown();
    }
    // One record of either level, and the host calls it made.
    std::vector<emu::base::journal::Call> log_once(bool error) {
        const size_t mark = emu::base::journal::calls().size();
        if (error)
            api().oiflist_hw_update_done(3);
        else
            api().oiflist_delete(1, 12, 300);
        std::vector<emu::base::journal::Call> calls;
        for (size_t i = mark; i < emu::base::journal::calls().size(); i++)
            calls.push_back(emu::base::journal::calls()[i]);
        return calls;
    }
    // The plugin's host now names every opcode `name`.
    void name_opcodes(std::string name) {
        opcode_name() = std::move(name);
        void *previous = plugin_->replace_import("mts_opc_name_get",
                                                 reinterpret_cast<void *>(&Logging::named_opcode));
        ASSERT_NE(previous, nullptr);
        if (previous_name_get_ == nullptr)
            previous_name_get_ = previous;
    }
    static std::string &opcode_name() {
        static std::string name;
        return name;
    }
    static const char *named_opcode(uint32_t) { return opcode_name().c_str(); }

    void *previous_name_get_ = nullptr;
};

// Each case in turn: the history only when not filtered, the console only
// when switched on, the event log always; every sink the same wrapped text.
TEST_F(Logging, SinksFollowTheFilterAndTheSwitchAndAgreeOnTheRecord) {
    for (const bool error : {false, true})
        for (const bool filtered : {false, true})
            for (const bool debug : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "error " << error << " filtered " << filtered
                                                  << " debug " << debug);
                const uint32_t level = error ? kError : kTrace;
                emu::log::filter_subtype(level, filtered);
                emu::log::set_debug(level, debug);
                const auto calls = log_once(error);
                const emu::log::Event e = emu::log::event_log().back();
                const std::string text(e.text);
                const char *func =
                    error ? "rire_orsk_oiflist_hw_update_done" : "rire_orsk_oiflist_delete";
                EXPECT_EQ(text, wrapper_of(text, func, error) + rire_log_buf);
                EXPECT_EQ(e.level, level);
                EXPECT_EQ(e.len, text.size() + 5);
                EXPECT_EQ(e.uuid, RIRE_LOG_SERVICE_UUID);

                struct Want {
                    std::string op;
                    std::vector<int64_t> args;
                };
                std::vector<Want> want = {{"sdwrap_hist_event_subtype_check", {kHistoryId, level}}};
                if (!filtered)
                    want.push_back({"sdwrap_hist_event", {kHistoryId, e.len}});
                want.push_back({"sdwrap_chk_int", {level, 0, 0, 1}});
                if (debug)
                    want.push_back({"buginf", {1, 0}});
                want.push_back({"sdwrap_his_log_event_for_uuid_inst",
                                {RIRE_LOG_SERVICE_UUID, kHistoryId, 1, 0, e.len}});
                ASSERT_EQ(calls.size(), want.size());
                for (size_t i = 0; i < want.size(); i++) {
                    EXPECT_EQ(calls[i].op, want[i].op);
                    EXPECT_EQ(calls[i].args, want[i].args) << want[i].op;
                }
                if (!filtered) {
                    EXPECT_EQ(emu::log::history().back().text, text);
                    EXPECT_EQ(emu::log::history().back().level, level);
                }
                if (debug) {
                    EXPECT_EQ(emu::log::console_lines().back(),
                              "rire: " + text.substr(0, text.size() - 1));
                }
            }
}

// The opcode trace of a completion prints the host's opcode name, so a host
// with a long name makes the plugin log a message of any length.
TEST_F(Logging, LongMessageIsCutAt1023AndItsWrappedTextAt511) {
    const std::string head = "rire_orsk_hw_update_done: hw_update done opcode:";
    const std::string tail = "(75777)\n";
    emu::log::set_debug(kTrace, true);
    name_opcodes("X");
    hw_done(99);
    const std::string wrapper =
        wrapper_of(emu::log::event_log().back().text, "rire_orsk_hw_update_done", false);
    ASSERT_FALSE(wrapper.empty());
    std::vector<size_t> lengths = {1022, 1023, 1024, 1025, 4000};
    for (size_t wrapped_len : {510u, 511u, 512u, 513u})
        lengths.push_back(wrapped_len - wrapper.size());
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        std::string name;
        for (size_t i = 0; name.size() < length - head.size() - tail.size(); i++)
            name += static_cast<char>('a' + i % 26);
        name_opcodes(name);
        hw_done(99);
        const std::string message = (head + name + tail).substr(0, 1023);
        const std::string text = (wrapper + message).substr(0, 511);
        EXPECT_EQ(std::string(rire_log_buf), message);
        const emu::log::Event ev = emu::log::event_log().back();
        EXPECT_EQ(ev.text, text);
        EXPECT_EQ(ev.len, text.size() + 5);
        EXPECT_EQ(emu::log::history().back().text, text);
        EXPECT_EQ(emu::log::history().back().len, text.size() + 5);
        // The console gets the whole buffer; the host does the wrapping.
        std::string line = "rire: " + wrapper + message;
        if (line.back() == '\n')
            line.pop_back();
        EXPECT_EQ(emu::log::console_lines().back(), line);
    }
}

// `text` as events.log writes it: each newline as "\n".
std::string escaped(std::string text) {
    for (size_t nl; (nl = text.find('\n')) != std::string::npos;)
        text.replace(nl, 1, "\\n");
    return text;
}

// A record's text is read up to its first NUL, no further than the length
// handed with it nor than the longest text kept, whatever that length, and
// events.log writes it escaped. Seeded: lengths round every step of the
// scan, NULs anywhere, texts with no newline, a rare one or many; each
// record sits in a buffer of exactly its length, so a read past it is an
// error under the sanitizers.
TEST(LogRecords, TextIsReadToItsNulWithinItsLengthAndWrittenEscaped) {
    TempDir dir;
    emu::log::reset();
    ASSERT_TRUE(emu::log::set_state_dir(dir.path()));
    std::mt19937 rng(4111);
    const auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    std::vector<std::string> lines;
    for (int i = 0; i < 3000; i++) {
        const uint32_t len = pick(0, 1) == 0 ? pick(0, 40) : pick(0, 560);
        // An empty record comes as a null address.
        std::vector<char> record(len);
        if (len > 0)
            std::memcpy(record.data(), &kTrace, std::min<size_t>(len, sizeof kTrace));
        // No newline, a rare one or many.
        const uint32_t newline_odds = std::array{0u, 64u, 3u}[pick(0, 2)];
        for (size_t at = sizeof kTrace; at < len; at++)
            record[at] = newline_odds != 0 && pick(1, newline_odds) == 1 ? '\n' : "ab"[pick(0, 1)];
        if (len > sizeof kTrace && pick(0, 3) != 0)
            record[pick(sizeof kTrace, len - 1)] = '\0';
        const std::string_view rest(record.data() + std::min<size_t>(len, 4),
                                    len - std::min<size_t>(len, 4));
        const std::string text(rest.substr(0, std::min(rest.find('\0'), size_t{511})));
        sdwrap_hist_event(kHistoryId, len, record.data());
        sdwrap_his_log_event_for_uuid_inst(RIRE_LOG_SERVICE_UUID, kHistoryId, 1, 0, len,
                                           record.data());
        ASSERT_EQ(emu::log::history().back().text, text) << "len " << len;
        ASSERT_EQ(emu::log::event_log().back().text, text) << "len " << len;
        // A record too short for its level code is level 0, with no text.
        lines.push_back((len < sizeof kTrace ? "event(0) " : "trace(104) ") +
                        escaped(text.substr(0, text.find_last_not_of('\n') + 1)));
    }
    emu::log::set_state_dir({});
    std::vector<std::string> written =
        emu::log::EventLogFile::read_lines(dir.path() / "events.log");
    for (std::string &line : written)
        line.erase(0, line.find(' ') + 1);
    EXPECT_EQ(written, lines);
    emu::log::reset();
}

// The history keeps the newest records that fit in its bytes, whatever their
// lengths (a seeded mix, some past the longest text kept): through wraps and
// capacity changes each record kept reads back as it came under its sequence
// number, one is dropped only for room, and a reader's mark that records
// older than first() tells how many it missed.
TEST(LogHistory, KeepsTheNewestRecordsThatFitThroughWrapsAndCapacityChanges) {
    constexpr size_t kText = emu::log::kTextMax;
    const auto footprint = [](size_t text) { return (16 + text + 3) / 4 * 4; };
    emu::log::reset();
    std::mt19937 rng(20261208);
    std::vector<std::string> texts; // by sequence number
    const auto append = [&](size_t n) {
        for (size_t i = 0; i < n; i++) {
            std::string text = "record " + std::to_string(texts.size()) + " ";
            text.resize(std::uniform_int_distribution<size_t>(text.size(), kText + 40)(rng), 'x');
            std::vector<char> record(sizeof(uint32_t) + text.size() + 1);
            const uint32_t level = texts.size() % 3;
            std::memcpy(record.data(), &level, sizeof level);
            std::memcpy(record.data() + sizeof level, text.c_str(), text.size() + 1);
            sdwrap_hist_event(RIRE_LOG_HIST_ID, record.size(), record.data());
            texts.push_back(text);
        }
    };
    // `dropping`: records have been dropped for room since the capacity was set.
    const auto check = [&](size_t capacity, bool dropping) {
        const emu::log::EventRing &h = emu::log::history();
        ASSERT_EQ(h.size(), texts.size());
        size_t kept = 0;
        for (size_t seq = h.first(); seq < h.size(); seq++) {
            const emu::log::Event e = h[seq];
            ASSERT_EQ(e.text, texts[seq].substr(0, kText)) << seq;
            EXPECT_EQ(e.level, seq % 3);
            EXPECT_EQ(e.len, texts[seq].size() + 5);
            kept += footprint(e.text.size());
        }
        EXPECT_LE(kept, capacity);
        // A wrap leaves the buffer's last bytes unused, less than a record.
        if (dropping) {
            EXPECT_GT(kept + 3 * footprint(kText), capacity);
        }
    };
    for (const size_t capacity : {size_t{64} << 10, size_t{3000}, size_t{700}, size_t{0},
                                  size_t{100000}, emu::log::kDefaultHistoryCapacity}) {
        SCOPED_TRACE(capacity);
        const size_t mark = emu::log::history().size();
        emu::log::set_history_capacity(capacity);
        check(capacity, false);
        append(std::uniform_int_distribution<size_t>(200, 2000)(rng));
        size_t appended = 0;
        for (size_t seq = mark; seq < texts.size(); seq++)
            appended += footprint(std::min(texts[seq].size(), kText));
        check(capacity, appended > capacity);
        if (appended > capacity) {
            EXPECT_GT(emu::log::history().first(), mark);
        }
    }
    emu::log::reset();
}

// One event-log record of `text`, as the plugin hands it over.
void log_event(const std::string &text) {
    std::vector<char> record(sizeof(uint32_t) + text.size() + 1);
    std::memcpy(record.data(), &kTrace, sizeof kTrace);
    std::memcpy(record.data() + sizeof kTrace, text.c_str(), text.size() + 1);
    sdwrap_his_log_event_for_uuid_inst(RIRE_LOG_SERVICE_UUID, RIRE_LOG_HIST_ID, 1, 0, record.size(),
                                       record.data());
}

// The lines of every event-log file, oldest first, without their timestamps;
// each file no larger than max_bytes, and none past the files kept.
std::vector<std::string> logged_lines(const std::filesystem::path &dir,
                                      const emu::log::EventLogFile::Limits &limits) {
    EXPECT_FALSE(std::filesystem::exists(dir / ("events.log." + std::to_string(limits.files))));
    std::vector<std::string> lines;
    for (unsigned k = limits.files; k-- > 0;) {
        const auto file = dir / (k == 0 ? "events.log" : "events.log." + std::to_string(k));
        if (!std::filesystem::exists(file))
            continue;
        EXPECT_LE(std::filesystem::file_size(file), limits.max_bytes) << file;
        for (std::string &line : emu::log::EventLogFile::read_lines(file))
            lines.push_back(line.substr(line.find(' ') + 1));
    }
    return lines;
}

// True when `lines` are the last lines of `expected`, and hold at least `since`.
::testing::AssertionResult ends_with(const std::vector<std::string> &lines,
                                     const std::vector<std::string> &expected, size_t since) {
    if (lines.size() > expected.size() || lines.size() < since)
        return ::testing::AssertionFailure()
               << lines.size() << " lines of " << expected.size() << ", at least " << since;
    for (size_t k = 0; k < lines.size(); k++)
        if (lines[k] != expected[expected.size() - lines.size() + k])
            return ::testing::AssertionFailure()
                   << "line " << k << " of " << lines.size() << ": " << lines[k];
    return ::testing::AssertionSuccess();
}

// A process that logs records [from, to) of `texts` to `dir` with `limits`,
// then stops or is killed; true when it ended so. With `room`, the file
// system has that many bytes left for the emulator's writes (disk.full).
bool log_in_process(const std::filesystem::path &dir, const emu::log::EventLogFile::Limits &limits,
                    const std::vector<std::string> &texts, size_t from, size_t to, bool killed,
                    std::optional<uint32_t> room = std::nullopt) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (room)
            emu::base::faults::set(emu::base::faults::Id::kDiskFull, {0, *room, 0});
        emu::log::reset();
        emu::log::set_event_file_limits(limits);
        emu::log::set_state_dir(dir);
        for (size_t i = from; i < to; i++)
            log_event(texts[i]);
        if (killed)
            raise(SIGKILL);
        emu::log::set_state_dir({});
        _exit(0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid &&
           (killed ? WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL
                   : WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The event-log files as a killed or a stopped process leaves them, and as
// the next process goes on from them: every record logged is in them, whole
// and in order after the records kept from before, however often rotation
// reused the oldest file, and nothing rotation dropped comes back; each file
// the last process wrote is within its size. Seeded: file sizes (the two
// processes' apart) and counts, texts with inner and trailing newlines,
// where the first process ends and whether each is killed.
TEST(LogFiles, EveryRecordStaysWholeAndInOrderThroughRotationAndKills) {
    for (uint32_t seed = 1; seed <= 24; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const auto pick = [&rng](uint32_t lo, uint32_t hi) {
            return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
        };
        const auto draw_limits = [&pick](unsigned files) {
            return emu::log::EventLogFile::Limits{
                emu::log::EventLogFile::kMinFileBytes + pick(0, 4) * 4096, files};
        };
        const emu::log::EventLogFile::Limits limits = draw_limits(pick(1, 4));
        const emu::log::EventLogFile::Limits later = draw_limits(limits.files);
        std::vector<std::string> texts, lines;
        for (uint32_t i = 0, n = pick(0, 1500) + pick(0, 700); i < n; i++) {
            std::string text = "record " + std::to_string(i) + " " + std::string(pick(0, 300), 'x');
            if (pick(0, 7) == 0)
                text.insert(pick(0, static_cast<uint32_t>(text.size()) - 1), "\n");
            lines.push_back("trace(104) " + escaped(text));
            texts.push_back(text + std::string(pick(0, 2), '\n'));
        }
        const size_t first = pick(0, static_cast<uint32_t>(texts.size()));

        TempDir dir;
        ASSERT_TRUE(log_in_process(dir.path(), limits, texts, 0, first, pick(0, 1) == 1));
        const std::vector<std::string> before(lines.begin(), lines.begin() + first);
        EXPECT_TRUE(ends_with(logged_lines(dir.path(), limits), before, first > 0 ? 1 : 0));

        ASSERT_TRUE(log_in_process(dir.path(), later, texts, first, texts.size(), pick(0, 1) == 1));
        const emu::log::EventLogFile::Limits either{std::max(limits.max_bytes, later.max_bytes),
                                                    limits.files};
        EXPECT_TRUE(
            ends_with(logged_lines(dir.path(), either), lines, texts.size() > first ? 1 : 0));
        if (texts.size() > first) {
            EXPECT_LE(std::filesystem::file_size(dir.path() / "events.log"), later.max_bytes);
        }
    }
}

// The file rotation reuses reads as empty from the moment it is reused: a
// process killed after its events.log stopped there, before a line (the
// reused file, written by smaller limits, must grow, and the file system has
// no room), leaves no line of the file rotation dropped.
TEST(LogFiles, AReusedFileReadsAsEmptyBeforeItsFirstLine) {
    TempDir dir;
    const emu::log::EventLogFile::Limits small{emu::log::EventLogFile::kMinFileBytes, 2};
    const emu::log::EventLogFile::Limits large{4 * small.max_bytes, 2};
    std::vector<std::string> texts;
    for (int i = 0; i < 1000; i++)
        texts.push_back("record " + std::to_string(i) + " " + std::string(100, 'x'));
    ASSERT_TRUE(log_in_process(dir.path(), small, texts, 0, 300, false));
    ASSERT_TRUE(std::filesystem::exists(dir.path() / "events.log.1"));
    // Room for events.log to grow to its new size, and no more.
    const auto room = static_cast<uint32_t>(large.max_bytes -
                                            std::filesystem::file_size(dir.path() / "events.log"));
    ASSERT_TRUE(log_in_process(dir.path(), large, texts, 300, texts.size(), true, room));
    EXPECT_TRUE(emu::log::EventLogFile::read_lines(dir.path() / "events.log").empty());
    // events.log.1 holds the run of records up to the rotation, in order.
    const std::vector<std::string> kept =
        emu::log::EventLogFile::read_lines(dir.path() / "events.log.1");
    ASSERT_FALSE(kept.empty());
    const size_t last = std::stoul(kept.back().substr(kept.back().find("record ") + 7));
    EXPECT_GE(last, 300u);
    for (size_t k = 0; k < kept.size(); k++)
        EXPECT_TRUE(kept[k].ends_with("trace(104) " + texts[last + 1 - kept.size() + k])) << k;
}

} // namespace
} // namespace rire_test
