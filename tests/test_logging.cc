// The one logging statement: every message is formatted once into the host's
// rire_log_buf and handed to the event history (unless its subtype is
// filtered), the debug console (when its level is switched on) and the
// persistent event log (always), wrapped with the logging function's name and
// source line.
#include <cstring>
#include <string>
#include <vector>

#include "emu/journal.h"
#include "plugin/host/log.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
constexpr uint32_t kError = RIRE_ORSK_LOG_LEVEL_ERROR;
constexpr int64_t kHistoryId = RIRE_LOG_HIST_ID;
constexpr int64_t kServiceUuid = RIRE_LOG_SERVICE_UUID;

const char kDeleteMsg[] = "rire_orsk_oiflist_delete: oiflist type 1 index 12 dest-index 300\n";
const char kUnknownTypeMsg[] = "rire_orsk_oiflist_hw_update_done: OIF list type unknown: 3 \n";

// "func(line): " or "func(line):ERROR: " at the start of a wrapped text;
// empty when the text does not start so.
std::string wrapper_of(std::string_view text) {
    const size_t open = text.find('(');
    if (open == 0 || open == std::string::npos ||
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != open)
        return {};
    const size_t close = text.find_first_not_of("0123456789", open + 1);
    if (close == open + 1 || text[open + 1] == '0' || close == std::string::npos ||
        text[close] != ')')
        return {};
    for (const char *tail : {"): ", "):ERROR: "})
        if (text.compare(close, std::strlen(tail), tail) == 0)
            return std::string(text.substr(0, close + std::strlen(tail)));
    return {};
}

class Logging : public PluginTest {
  protected:
    void TearDown() override {
        if (previous_name_get_ != nullptr)
            plugin_->replace_import("mts_opc_name_get", previous_name_get_);
        PluginTest::TearDown();
    }
    void trace_once() { api().oiflist_delete(1, 12, 300); }
    void error_once() { api().oiflist_hw_update_done(3); }
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

TEST_F(Logging, FilterAndDebugSwitchAreIndependentAndTheEventLogAlwaysGetsTheRecord) {
    const struct {
        bool filtered, debug;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    emu::log::set_console(nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "filtered " << c.filtered << " debug " << c.debug);
        emu::log::filter_subtype(kTrace, c.filtered);
        emu::log::set_debug(kTrace, c.debug);
        const size_t history = emu::log::history().size();
        const size_t console = emu::log::console_lines().size();
        const size_t events = emu::log::event_log().size();
        trace_once();
        EXPECT_EQ(emu::log::history().size(), history + (c.filtered ? 0 : 1));
        EXPECT_EQ(emu::log::console_lines().size(), console + (c.debug ? 1 : 0));
        EXPECT_EQ(emu::log::event_log().size(), events + 1);
    }
}

TEST_F(Logging, HostIsAskedInFixedOrderWithFixedIdentifiers) {
    emu::log::set_console(nullptr);
    emu::log::set_debug(kTrace, true);
    const size_t mark = emu::journal::calls().size();
    trace_once();
    std::vector<emu::journal::Call> calls;
    for (size_t i = mark; i < emu::journal::calls().size(); i++)
        calls.push_back(emu::journal::calls()[i]);
    ASSERT_EQ(calls.size(), 5u);
    const uint32_t len = emu::log::event_log().back().len;
    EXPECT_EQ(calls[0].op, "sdwrap_hist_event_subtype_check");
    EXPECT_EQ(calls[0].args, (std::vector<int64_t>{kHistoryId, kTrace}));
    EXPECT_EQ(calls[1].op, "sdwrap_hist_event");
    EXPECT_EQ(calls[1].args, (std::vector<int64_t>{kHistoryId, len}));
    EXPECT_EQ(calls[2].op, "sdwrap_chk_int");
    EXPECT_EQ(calls[2].args, (std::vector<int64_t>{kTrace, 0, 0, 1}));
    EXPECT_EQ(calls[3].op, "buginf");
    EXPECT_EQ(calls[3].args, (std::vector<int64_t>{1, 0}));
    EXPECT_EQ(calls[4].op, "sdwrap_his_log_event_for_uuid_inst");
    EXPECT_EQ(calls[4].args, (std::vector<int64_t>{kServiceUuid, kHistoryId, 1, 0, len}));
}

TEST_F(Logging, FilteredAndSilencedMessageMakesExactlyOneEventLogCall) {
    emu::log::filter_subtype(kError, true);
    const size_t mark = emu::journal::calls().size();
    error_once();
    std::vector<std::string> ops;
    for (size_t i = mark; i < emu::journal::calls().size(); i++)
        ops.push_back(emu::journal::calls()[i].op);
    EXPECT_EQ(ops, (std::vector<std::string>{"sdwrap_hist_event_subtype_check", "sdwrap_chk_int",
                                             "sdwrap_his_log_event_for_uuid_inst"}));
    const emu::log::LoggedEvent &ev = emu::log::event_log().back();
    EXPECT_EQ(ev.text(), wrapper_of(ev.text()) + kUnknownTypeMsg);
    EXPECT_EQ(ev.len, ev.text().size() + 5);
}

TEST_F(Logging, RecordsCarryLevelWrapperAndLengthOfTextPlusFive) {
    const struct {
        bool error;
        uint32_t level;
        const char *func;
        const char *separator;
        const char *message;
    } cases[] = {
        {false, kTrace, "rire_orsk_oiflist_delete", "): ", kDeleteMsg},
        {true, kError, "rire_orsk_oiflist_hw_update_done", "):ERROR: ", kUnknownTypeMsg},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.func);
        if (c.error)
            error_once();
        else
            trace_once();
        const emu::log::Event &h = emu::log::history().back();
        const emu::log::LoggedEvent &e = emu::log::event_log().back();
        const std::string wrapper = wrapper_of(e.text());
        EXPECT_TRUE(wrapper.starts_with(std::string(c.func) + "(")) << e.text();
        EXPECT_TRUE(wrapper.ends_with(c.separator)) << e.text();
        EXPECT_EQ(e.text(), wrapper + c.message);
        EXPECT_EQ(e.level, c.level);
        EXPECT_EQ(e.len, e.text().size() + 5);
        EXPECT_EQ(e.uuid, kServiceUuid);
        EXPECT_EQ(h.text(), e.text());
        EXPECT_EQ(h.level, c.level);
        EXPECT_EQ(h.len, e.len);
        EXPECT_STREQ(rire_log_buf, c.message);
    }
}

TEST_F(Logging, ConsolePrintsTheWrappedMessageOnlyForSwitchedOnLevels) {
    emu::log::set_console(nullptr);
    emu::log::set_debug(kError, true);
    trace_once();
    error_once();
    ASSERT_EQ(emu::log::console_lines().size(), 1u);
    const std::string error_text(emu::log::event_log().back().text());
    EXPECT_EQ(emu::log::console_lines().back(),
              std::string("rire: ") + error_text.substr(0, error_text.size() - 1));

    emu::log::set_debug(kTrace, true);
    trace_once();
    const std::string trace_text(emu::log::event_log().back().text());
    ASSERT_EQ(emu::log::console_lines().size(), 2u);
    EXPECT_EQ(emu::log::console_lines().back(),
              std::string("rire: ") + trace_text.substr(0, trace_text.size() - 1));
}

TEST_F(Logging, EventLogFileHasALinePerRecord) {
    const std::filesystem::path file = state_.path() / "events.log";
    const size_t before = emu::EventLogFile::read_lines(file).size();
    trace_once();
    error_once();
    const std::vector<std::string> lines = emu::EventLogFile::read_lines(file);
    ASSERT_EQ(lines.size(), before + 2);
    const auto &log = emu::log::event_log();
    const std::string trace_text(log[log.size() - 2].text());
    const std::string error_text(log.back().text());
    EXPECT_TRUE(
        lines[before].ends_with(" trace(104) " + trace_text.substr(0, trace_text.size() - 1)))
        << lines[before];
    EXPECT_TRUE(
        lines[before + 1].ends_with(" error(102) " + error_text.substr(0, error_text.size() - 1)))
        << lines[before + 1];
}

TEST_F(Logging, EventLogFilesRotateAndNeverPassTheirBound) {
    const emu::EventLogFile::Limits limits{emu::EventLogFile::kMinFileBytes, 3};
    ASSERT_FALSE(emu::log::set_event_file_limits({limits.max_bytes - 1, 3}));
    ASSERT_FALSE(emu::log::set_event_file_limits({limits.max_bytes, 0}));
    ASSERT_TRUE(emu::log::set_event_file_limits(limits));
    const std::filesystem::path file = state_.path() / "events.log";
    const auto rotated = [&file](int k) { return file.string() + "." + std::to_string(k); };
    std::vector<std::string> tails;
    for (uint32_t index = 1; index <= 600; index++) {
        api().oiflist_delete(1, index, 300);
        const std::string text(emu::log::event_log().back().text());
        tails.push_back(text.substr(0, text.size() - 1));
        for (const std::string &f : {file.string(), rotated(1), rotated(2)})
            ASSERT_LE(std::filesystem::exists(f) ? std::filesystem::file_size(f) : 0,
                      limits.max_bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(rotated(3)));
    // Oldest file first, the lines are the newest records, in order, ending with the last.
    std::vector<std::string> lines;
    for (const std::string &f : {rotated(2), rotated(1), file.string()})
        for (const std::string &line : emu::EventLogFile::read_lines(f))
            lines.push_back(line);
    ASSERT_GT(lines.size(), 2 * limits.max_bytes / 200);
    ASSERT_LT(lines.size(), tails.size());
    const size_t skip = tails.size() - lines.size();
    for (size_t i = 0; i < lines.size(); i++)
        ASSERT_TRUE(lines[i].ends_with(" trace(104) " + tails[skip + i])) << lines[i];
}

// The opcode trace of a completion prints the host's opcode name, so a host
// with a long name makes the plugin log a message of any length.
TEST_F(Logging, LongMessageIsCutAt1023AndItsWrappedTextAt511) {
    const std::string head = "rire_orsk_hw_update_done: hw_update done opcode:";
    const std::string tail = "(75777)\n";
    emu::log::set_console(nullptr);
    emu::log::set_debug(kTrace, true);
    name_opcodes("X");
    hw_done(99);
    const std::string wrapper = wrapper_of(emu::log::event_log().back().text());
    ASSERT_FALSE(wrapper.empty());

    // Full (uncut) message lengths: around both limits, and far beyond.
    std::vector<size_t> lengths = {1022, 1023, 1024, 1025, 1100, 4000};
    for (size_t wrapped_len : {510u, 511u, 512u, 513u})
        lengths.push_back(wrapped_len - wrapper.size());
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        std::string name;
        for (size_t i = 0; name.size() < length - head.size() - tail.size(); i++)
            name += static_cast<char>('a' + i % 26);
        name_opcodes(name);
        hw_done(99);
        const std::string full = head + name + tail;
        ASSERT_EQ(full.size(), length);
        const std::string message = full.substr(0, 1023);
        const std::string text = (wrapper + message).substr(0, 511);
        EXPECT_EQ(std::strlen(rire_log_buf), message.size());
        EXPECT_EQ(std::string(rire_log_buf), message);
        const emu::log::LoggedEvent &ev = emu::log::event_log().back();
        EXPECT_EQ(ev.text(), text);
        EXPECT_EQ(ev.len, text.size() + 5);
        EXPECT_EQ(emu::log::history().back().text(), text);
        EXPECT_EQ(emu::log::history().back().len, text.size() + 5);
        // The console gets the whole buffer; the host does the wrapping.
        std::string line = "rire: " + wrapper + message;
        if (line.back() == '\n')
            line.pop_back();
        EXPECT_EQ(emu::log::console_lines().back(), line);
    }
}

} // namespace
} // namespace rire_test
