// A rire-host session: the host emulator with the plugin loaded into it, the
// way the switch's rire process runs it (emu/boot.h); when the state
// directory already holds a store, the boot is a restart and recovery runs.
// The host's pending-DI records live in emu/rire/pending_di.h.
//
// What a process restart keeps, the same whether the scenario says `restart`
// or a second process starts on the same state directory:
//   - the PSS store (both databases, as last committed) and events.log;
//   - the live oiflists of the platform-independent layer, which restores
//     them from its own persistent state before the plugin recovers: the
//     session keeps them in <state>/pi-oiflists (kPiOiflistsFile);
//   - nothing else: PSS updates not flushed, the plugin's requests, the
//     host's pending-DI records, the recovery statistics and index bitmaps
//     die with the process. Interfaces, modules and DF bits belong to
//     services that the emulator restarts with the process (its own choice:
//     on a switch they outlive rire), so a scenario declares them again.
// The fault table, debug switches and the PSS schedule and walk order are
// configuration of this run: `restart` keeps them, a new process starts from
// its defaults.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "emu/loader/plugin.h"
#include "emu/loader/requests.h"
#include "emu/log/dropped.h"
#include "emu/log/event_log_file.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "tools/rire-host/output.h"
#include "tools/rire-host/verdict.h"

namespace rire_host {

// The platform-independent layer's live oiflists, "TYPE INDEX" a line.
inline constexpr const char *kPiOiflistsFile = "pi-oiflists";

struct SessionOptions {
    std::filesystem::path state_dir;
    std::string plugin_path;
    bool echo_log = false;           // print the plugin's log records after every command
    bool move_damaged_store = false; // start afresh, the damaged store kept aside
    emu::log::EventLogFile::Limits event_files;  // size and number of events.log files
    emu::pss::Sync sync = emu::pss::Sync::kNone; // how far each store commit goes
};

// When the PSS framework performs the updates queued to it: after every
// command (kAuto, the default), or only when the scenario says `flush`.
enum class PssSchedule { kAuto, kManual };

// One outstanding request of the plugin, as `dump queue` shows it.
using HeldDi = emu::loader::requests::Held;
using Request = emu::loader::requests::Request;

class Session {
  public:
    Session(SessionOptions options, Output &output);
    // Reports PSS updates still queued: a real process would lose them.
    ~Session();

    // Starts the host and boots the plugin. False with *error set when the
    // plugin cannot be booted; throws emu::HostError when the host cannot start.
    bool start(std::string *error);
    // Process death and restart (see the top of this file for what stays).
    bool restart(std::string *error);
    // After the last command: heap blocks the plugin lost fail the run.
    void end_run();

    rire_orsk_platform_api &api() { return *plugin_->api(); }
    emu::loader::Plugin &plugin() { return *plugin_; }
    // Where verbs report: records, or lines of text.
    Output &output() { return output_; }
    std::ostream &out() { return output_.stream(); }
    const SessionOptions &options() const { return options_; }

    // The plugin's exported operation `name`, typed as F.
    template <class F> F fn(const char *name) { return plugin_->fn<F>(name); }

    // After each command: the scheduled flush, then warnings for PSS updates
    // the plugin gave up on, the debug console's lines, (--log) the log, and
    // the command's failures for --strict.
    void end_command();
    void set_schedule(PssSchedule schedule) { schedule_ = schedule; }
    // Performs the queued PSS updates and says what they were; `scheduled`
    // when the framework's own schedule does it rather than the scenario.
    void flush(bool scheduled = false);

    // Declares a live oiflist of the platform-independent layer, or removes it.
    void set_oiflist(uint32_t type, uint32_t index, bool live);
    // The plugin's outstanding requests; nullopt when its queue is not visible.
    std::optional<std::vector<Request>> requests();

    // Prints the log records the plugin wrote since the last call, and how
    // many of them the in-memory event log no longer holds; with
    // `numbered` false each record's source line shows as "_", so a record
    // reads the same after its statement moves; with comma-separated
    // `func_parts`, only the records of functions whose name holds one.
    void print_new_log(bool numbered = true, std::string_view func_parts = {});
    // Prints a warning for each PSS update the plugin gave up on since the
    // last call (each is counted when its error record arrives).
    void warn_dropped_updates();
    // Prints a warning for each file of the state directory the host could
    // not write since the last call (emu/base/disk.h), a --strict failure each.
    void warn_unwritten();
    // PSS updates given up so far, by emu::log::dropped::Reason.
    const std::array<uint64_t, emu::log::dropped::kReasons> &dropped_updates() const {
        return dropped_;
    }

    // Before every command: where it is, for expectations and --strict.
    void begin_command(const std::string &file, int line, bool expectation);
    Verdict &verdict() { return verdict_; }
    // The value of the last "result" line a verb printed, kept for
    // `expect result`; a verb that prints one calls it.
    void set_result(uint32_t value) { last_result_ = value; }
    std::optional<uint32_t> last_result() const { return last_result_; }
    // The answer text of the last show command, kept for `expect show`.
    void set_show_answer(std::string text) { show_answer_ = std::move(text); }
    const std::string &show_answer() const { return show_answer_; }

  private:
    bool boot(bool recover, std::string *error);
    void restore_oiflists();
    void print_recovery();
    void print_new_console();
    // Reports the plugin's heap blocks that nothing holds any more.
    void audit_heap();
    // Every error-level record, as the host's log sink receives it.
    void logged_error(const emu::log::Event &e);

    SessionOptions options_;
    Output &output_;
    std::unique_ptr<emu::loader::Plugin> plugin_;
    PssSchedule schedule_ = PssSchedule::kAuto;
    size_t log_printed_ = 0;
    size_t console_printed_ = 0;
    size_t disk_printed_ = 0; // emu::base::disk::failures() reported
    std::array<uint64_t, emu::log::dropped::kReasons> dropped_{};
    std::vector<emu::log::dropped::Reason> unwarned_; // given up since the last warnings
    Verdict verdict_;
    std::optional<uint32_t> last_result_;
    std::string show_answer_;
};

} // namespace rire_host
