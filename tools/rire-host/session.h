// A rire-host session: the host emulator with the plugin loaded into it, the
// way the switch's rire process runs it (emu/boot.h); when the state
// directory already holds a store, the boot is a restart and recovery runs.
// The host's pending-DI records live in emu/pending_di.h.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "emu/dropped_updates.h"
#include "emu/event_log_file.h"
#include "emu/plugin.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "tools/rire-host/verdict.h"

namespace rire_host {

struct SessionOptions {
    std::filesystem::path state_dir;
    std::string plugin_path;
    bool echo_log = false;                 // print the plugin's log records after every command
    bool move_damaged_store = false;       // start afresh, the damaged store kept aside
    emu::EventLogFile::Limits event_files; // size and number of events.log files
};

class Session {
  public:
    Session(SessionOptions options, std::ostream &out);
    ~Session();

    // Starts the host and boots the plugin. False with *error set when the
    // plugin cannot be booted; throws emu::HostError when the host cannot start.
    bool start(std::string *error);
    // Process death and restart: in-memory state of host and plugin is lost,
    // the store stays, and the plugin recovers from it. The live oiflists of
    // the platform-independent layer come back before the plugin recovers, as
    // that layer restores its own state first.
    bool restart(std::string *error);

    rire_orsk_platform_api &api() { return *plugin_->api(); }
    emu::Plugin &plugin() { return *plugin_; }
    std::ostream &out() { return out_; }
    const SessionOptions &options() const { return options_; }

    // The plugin's exported operation `name`, typed as F.
    template <class F> F fn(const char *name) { return plugin_->fn<F>(name); }

    // Prints the log records the plugin wrote since the last call.
    void print_new_log();
    // Prints a warning for each PSS update the plugin gave up on since the
    // last call, and counts it.
    void warn_dropped_updates();
    // PSS updates given up so far, by emu::dropped::Reason.
    const std::array<uint64_t, emu::dropped::kReasons> &dropped_updates() const { return dropped_; }

    // Around every command: where it is, for expectations and --strict; then
    // the warnings and failures of what it did.
    void begin_command(const std::string &file, int line, bool expectation);
    void end_command();
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

    SessionOptions options_;
    std::ostream &out_;
    std::unique_ptr<emu::Plugin> plugin_;
    size_t log_printed_ = 0;
    size_t log_scanned_ = 0; // records looked at by warn_dropped_updates
    std::array<uint64_t, emu::dropped::kReasons> dropped_{};
    Verdict verdict_;
    std::optional<uint32_t> last_result_;
    std::string show_answer_;
};

} // namespace rire_host
