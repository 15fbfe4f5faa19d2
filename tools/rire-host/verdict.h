// What a run answers for at its end. Failed expectations (`expect ...`) are
// printed where they happen, as FILE:LINE: expectation failed: wanted W, got G,
// and make the run fail. Strict failures are kept as they happen, each named
// with the line that caused it: a log record the plugin wrote at error level
// (handed over by the host's log sink when it arrives, never read back from
// a ring), a callback result that says the plugin failed (verbs report
// those), a flush the store refused, and, counted after every command, host
// calls the fault table refused. They make the run fail under --strict.
// Heap blocks the plugin lost, found when its process ends, make the run fail
// like an expectation.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emu/base/faults.h"
#include "tools/rire-host/output.h"

namespace rire_host {

class Verdict {
  public:
    explicit Verdict(Output &out) : out_(out) {}

    // The command about to run, at FILE:LINE. A command that is not an
    // expectation opens a new window of log records for `expect log`.
    void begin_command(const std::string &file, int line, bool expectation);
    // Gathers the strict failures of the command that just ran.
    void end_command();
    // The process restarted: its event log starts afresh.
    void restarted();
    // The run's commands are over; what is found now is named "end of run".
    void ended() { line_ = kEnded; }

    // Reports the failure (standard error in text mode) and counts it.
    void expectation_failed(const std::string &wanted, const std::string &got);
    // A failure --strict reports, named with the current command's line;
    // `kind` says what failed: "host_refused", "log_error", "result",
    // "flush_refused", "file_not_written".
    void strict_failure(const char *kind, const std::string &cause);
    // An error-level event-log record, as the plugin logs it: kept, and a
    // strict failure.
    void logged_error(std::string_view text);
    // The plugin's process ended (a restart, or the end of the run) with heap
    // blocks that nothing holds: a leak. Reported at once; fails the run.
    void heap_lost(uint32_t blocks, uint64_t bytes);

    // Sequence number of the first event-log record of the last command.
    size_t log_window() const { return log_window_; }
    // The texts of the error-level records of the last command, as logged.
    const std::vector<std::string> &window_errors() const { return errors_; }
    size_t expectations_failed() const { return expectations_failed_; }
    struct StrictFailure {
        std::string where; // FILE:LINE, "boot" or "end of run"
        int line;          // 0 for boot and end of run
        const char *kind;
        std::string cause;
    };
    const std::vector<StrictFailure> &strict_failures() const { return strict_; }
    // The end-of-run summary (standard error in text mode); true when the run failed:
    // an expectation failed, the plugin lost heap blocks, or `strict` and a
    // strict failure happened.
    bool report(bool strict) const;

  private:
    static constexpr int kEnded = -1;
    // FILE:LINE of the command; "boot" before the first one.
    std::string where() const {
        return line_ == 0        ? "boot"
               : line_ == kEnded ? "end of run"
                                 : file_ + ":" + std::to_string(line_);
    }

    Output &out_;
    std::string file_;
    int line_ = 0;
    size_t log_window_ = 0;
    std::vector<std::string> errors_; // the error-level records of the last command
    std::array<uint64_t, static_cast<size_t>(emu::base::faults::Id::kCount)> fired_{};
    size_t expectations_failed_ = 0;
    uint32_t heap_lost_ = 0;
    std::vector<StrictFailure> strict_;
    size_t command_strict_ = 0; // the first strict failure of the running command
};

} // namespace rire_host
