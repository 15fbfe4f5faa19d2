// rire-host: loads the platform plugin into the host emulator, boots it as
// the switch's rire process would, and runs a scenario of host events, or
// the lines typed at a prompt when standard input is a terminal.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <numeric>

#include "emu/host.h"
#include "tools/rire-host/prompt.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace {

struct Options {
    rire_host::SessionOptions session;
    std::vector<std::string> scripts;
    std::vector<std::string> help_topic; // rire-host help VERB
    rire_host::Format format = rire_host::Format::kText;
    bool strict = false;
    bool help = false;
    bool version = false;
};

// Exit statuses, documented in kUsage.
enum Exit {
    kExitOk = 0,
    kExitFailed = 1,        // a command, the plugin or the host failed; --strict found a fault
    kExitUsage = 2,         // bad command line or scenario; the state directory is in use
    kExitStoreUnusable = 3, // the PSS store is damaged; its file is left as it was
};

const char *kUsage =
    "usage: rire-host [OPTIONS] [SCENARIO | -]\n"
    "       rire-host help [VERB]\n"
    "\n"
    "Boots zarided_kelda_orsk_platform.so in the host emulator and runs SCENARIO\n"
    "(standard input when '-' or absent). The state directory keeps the PSS store\n"
    "(LMDB) and events.log; a second run on the same directory is a process\n"
    "restart and recovers what the first one committed.\n"
    "\n"
    "  --state DIR    state directory (default ./rire-state)\n"
    "  --plugin PATH  the plugin to load\n"
    "  --log          print the plugin's log records after every command\n"
    "  --log-size BYTES  events.log moves to events.log.1 before it passes\n"
    "                 BYTES (default 16777216, at least 16384)\n"
    "  --log-files N  events.log and its rotated files kept, N >= 1 (default 4)\n"
    "  --strict       fail (exit 1) when the plugin gave up a PSS update\n"
    "  --move-damaged-store\n"
    "                 when the PSS store is damaged, rename data.mdb to\n"
    "                 data.mdb.damaged-YYYYMMDD-HHMMSS and start with an empty store\n"
    "  --format text|json\n"
    "                 json: one JSON object per line (JSON Lines) on standard\n"
    "                 output for every command, result, dump record, warning and\n"
    "                 error, each with its \"type\"; the debug console writes\n"
    "                 to standard error\n"
    "  --version      print the version and stop\n"
    "  -h, --help     print this text and stop\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "\n"
    "Only one process at a time uses a state directory: another one is refused\n"
    "with \"state DIR is in use by process N\". The store is checked before it is\n"
    "used; a damaged one stops the run and is left exactly as it was.\n"
    "\n"
    "Every PSS update the plugin gives up on (scratch arena full, TLV or\n"
    "framework refusal) is printed as a warning after its command and counted\n"
    "in a summary on standard error at the end.\n"
    "\n"
    "Exit status:\n"
    "  0  the scenario ran\n"
    "  1  a command, the plugin or the host failed; with --strict, the plugin\n"
    "     gave up PSS updates\n"
    "  2  bad command line or scenario (nothing ran); the state directory is in use\n"
    "  3  the PSS store is damaged (left as it was)\n"
    "\n"
    "When standard input is a terminal and no scenario is named, a prompt runs\n"
    "each line as it is entered, with line editing and a history kept in\n"
    "$HOME/.rire_host_history; a bad line is reported and skipped.\n"
    "\n"
    "A scenario is one command per line; '#' starts a comment. Numbers are\n"
    "decimal or 0x-hex, lists are comma-separated with ranges a-b. The whole\n"
    "scenario is checked before anything runs: a bad line is reported as\n"
    "FILE:LINE:COLUMN and nothing is applied. It is then read again and run\n"
    "line by line, so a scenario of any length runs in bounded memory (standard\n"
    "input is kept aside in a temporary file). Commands:\n\n";

const char *kTryHelp = "try rire-host --help\n";

// --log-size or --log-files into `limits`; an error text for a value the
// event log refuses.
std::string parse_limit(const std::string &arg, const std::string &value,
                        emu::EventLogFile::Limits *limits) {
    char *end = nullptr;
    const unsigned long long n = std::strtoull(value.c_str(), &end, 0);
    emu::EventLogFile::Limits next = *limits;
    (arg == "--log-size" ? next.max_bytes : next.files) = static_cast<unsigned>(n);
    const bool ok = !value.empty() && *end == '\0' && n <= UINT32_MAX &&
                    next.max_bytes >= emu::EventLogFile::kMinFileBytes && next.files >= 1;
    if (!ok)
        return "bad value " + value;
    *limits = next;
    return {};
}

// The command line into `o`; false (reported) when it is not understood.
bool parse_options(int argc, char **argv, Options *o) {
    o->session.state_dir = "rire-state";
    o->session.plugin_path = RIRE_DEFAULT_PLUGIN;
    CLI::App app("", "rire-host");
    app.set_help_flag();
    app.add_flag("-h,--help", o->help);
    app.add_flag("--version", o->version);
    app.add_flag("--log", o->session.echo_log);
    app.add_flag("--strict", o->strict);
    app.add_flag("--move-damaged-store", o->session.move_damaged_store);
    std::string state = o->session.state_dir.string();
    app.add_option("--state", state)->type_name("DIR");
    app.add_option("--plugin", o->session.plugin_path)->type_name("PATH");
    for (const char *limit : {"--log-size", "--log-files"})
        app.add_option(limit)->type_name("NUMBER")->each([o, limit](const std::string &value) {
            if (auto fault = parse_limit(limit, value, &o->session.event_files); !fault.empty())
                throw CLI::ValidationError(fault);
        });
    app.add_option("--format", o->format)
        ->type_name("text|json")
        ->transform(CLI::CheckedTransformer(std::map<std::string, rire_host::Format>{
            {"text", rire_host::Format::kText}, {"json", rire_host::Format::kJson}}));
    app.add_option("scenario", o->scripts);
    app.add_subcommand("help")->add_option("verb", o->help_topic);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        std::cerr << "rire-host: " << e.what() << "\n" << kTryHelp;
        return false;
    }
    o->session.state_dir = state;
    if (o->scripts.size() > 1) {
        std::cerr << "rire-host: one scenario at a time (" << o->scripts[0] << ", " << o->scripts[1]
                  << ")\n"
                  << kTryHelp;
        return false;
    }
    o->help = o->help || app.got_subcommand("help");
    return true;
}

// A scenario file, or standard input kept aside in an unlinked temporary
// file while it is checked, so that it can be read a second time.
class Scenario {
  public:
    explicit Scenario(const std::string &path) : path_(path) {}
    // Empty when the scenario can be read, else why not.
    std::string open() {
        if (path_ == "-")
            return spool() ? "" : "cannot keep standard input aside";
        // A directory opens and reads as empty: it would run nothing.
        std::error_code ec;
        if (std::filesystem::is_directory(path_, ec))
            return path_ + " is a directory, not a scenario";
        file_.open(path_, std::ios::in);
        return file_.is_open() ? "" : "cannot read " + path_ + ": " + std::strerror(errno);
    }
    const char *name() const { return path_ == "-" ? "<stdin>" : path_.c_str(); }
    std::istream &first_pass() { return path_ == "-" ? std::cin : file_; }
    std::ostream *copy() { return path_ == "-" ? &file_ : nullptr; }
    std::istream &second_pass() {
        file_.clear();
        file_.seekg(0);
        return file_;
    }

  private:
    bool spool() {
        std::string name =
            (std::filesystem::temp_directory_path() / "rire-host-stdin-XXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0)
            return false;
        close(fd);
        file_.open(name, std::ios::in | std::ios::out | std::ios::trunc);
        std::remove(name.c_str());
        return file_.is_open();
    }

    std::string path_;
    std::fstream file_;
};

// The end-of-run summary of the PSS updates the plugin gave up on.
void report_dropped(rire_host::Session &session) {
    const auto &counts = session.dropped_updates();
    const uint64_t total = std::accumulate(counts.begin(), counts.end(), uint64_t{0});
    if (total == 0)
        return;
    std::string text = "rire-host: the plugin gave up " + std::to_string(total) + " PSS update" +
                       (total == 1 ? "" : "s") + ":";
    rire_host::Fields reasons = rire_host::Fields::object();
    const char *sep = " ";
    for (int i = 0; i < emu::dropped::kReasons; i++)
        if (counts[i] != 0) {
            const char *reason = emu::dropped::describe(static_cast<emu::dropped::Reason>(i));
            text += sep + std::to_string(counts[i]) + " because " + reason;
            reasons[reason] = counts[i];
            sep = ", ";
        }
    session.output().notice("dropped", {{"total", total}, {"reasons", reasons}}, text + "\n");
}

int start(rire_host::Session &session) {
    rire_host::Output &out = session.output();
    std::string error;
    try {
        if (session.start(&error))
            return kExitOk;
    } catch (const emu::HostError &e) {
        if (e.kind() == emu::HostError::kStateInUse) {
            out.notice("error", {{"message", e.what()}}, e.what() + std::string("\n"));
            return kExitUsage;
        }
        if (e.kind() != emu::HostError::kStoreUnusable) {
            out.notice("error", {{"message", e.what()}},
                       "rire-host: " + std::string(e.what()) + "\n");
            return kExitFailed;
        }
        out.notice("error", {{"message", e.what()}, {"store_unusable", true}},
                   "rire-host: " + std::string(e.what()) +
                       "\nrire-host: the file is left as it was; --move-damaged-store moves it "
                       "aside and starts with an empty store\n");
        return kExitStoreUnusable;
    }
    out.notice("error", {{"message", error}}, "rire-host: " + error + "\n");
    return kExitFailed;
}

// Runs one command; false, reported, when it failed.
bool run_command(rire_host::Session &session, const rire_host::Command &cmd,
                 const std::string &name) {
    try {
        cmd.verb->run(session, cmd.args);
    } catch (const std::exception &e) {
        session.output().script_error(name, cmd.line, 0, e.what());
        return false;
    }
    session.warn_dropped_updates();
    if (session.options().echo_log)
        session.print_new_log();
    return true;
}

// The exit status of a run that got to its end.
int finish(rire_host::Session &session, const Options &o, bool ran) {
    report_dropped(session);
    const bool dropped = std::accumulate(session.dropped_updates().begin(),
                                         session.dropped_updates().end(), uint64_t{0}) != 0;
    return !ran || (o.strict && dropped) ? kExitFailed : kExitOk;
}

// Each line typed is checked and run at once; a bad line is reported and
// skipped, so that a typing slip does not end the session.
int run_prompt(const Options &o, const rire_host::VerbTable &verbs, rire_host::Output &out) {
    rire_host::Session session(o.session, out);
    if (const int status = start(session); status != kExitOk)
        return status;
    out.record("prompt", {}, "type help for the verbs, ctrl-D to end\n");
    rire_host::Prompt prompt(rire_host::history_file(o.session.state_dir));
    bool ran = true;
    for (int number = 1; ran; number++) {
        std::cout.flush();
        const auto line = prompt.read("rire# ");
        if (!line) {
            std::cout << "\n"; // end the prompt's line at ctrl-D
            break;
        }
        auto parsed = rire_host::parse_line(number, *line, verbs);
        if (auto *e = std::get_if<rire_host::ScriptError>(&parsed))
            out.script_error("<stdin>", e->line, e->column, e->message);
        else if (auto *cmd = std::get_if<rire_host::Command>(&parsed))
            ran = run_command(session, *cmd, "<stdin>");
    }
    return finish(session, o, ran);
}

int run_scenario(const std::string &path, const Options &o, const rire_host::VerbTable &verbs,
                 rire_host::Output &out) {
    Scenario scenario(path);
    if (const std::string fault = scenario.open(); !fault.empty()) {
        out.notice("error", {{"message", fault}}, "rire-host: " + fault + "\n");
        return kExitUsage;
    }
    const std::string name = scenario.name();
    const size_t bad = rire_host::check_script(
        scenario.first_pass(), verbs,
        [&](const rire_host::ScriptError &e) {
            out.script_error(name, e.line, e.column, e.message);
        },
        scenario.copy());
    if (bad != 0)
        return kExitUsage;

    rire_host::Session session(o.session, out);
    if (const int status = start(session); status != kExitOk)
        return status;
    rire_host::ScriptReader reader(scenario.second_pass(), verbs);
    bool ran = true;
    while (ran) {
        const auto cmd = reader.next();
        if (!cmd)
            break;
        out.record("command", {{"line", cmd->line}, {"text", cmd->text}},
                   "rire# " + cmd->text + "\n");
        ran = run_command(session, *cmd, name);
    }
    return finish(session, o, ran);
}

int help(const Options &o, const rire_host::VerbTable &verbs) {
    std::string topic;
    for (const std::string &word : o.help_topic)
        topic += (topic.empty() ? "" : " ") + word;
    const auto text = rire_host::describe(verbs, topic);
    if (!text) {
        std::cerr << "rire-host: no verb '" << topic << "'\n" << kTryHelp;
        return kExitUsage;
    }
    std::cout << (topic.empty() ? kUsage : "") << *text;
    return kExitOk;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, &o))
        return kExitUsage;
    if (o.version) {
        std::cout << "rire-host " RIRE_VERSION "\n";
        return kExitOk;
    }
    const rire_host::VerbTable verbs = rire_host::all_verbs();
    if (o.help)
        return help(o, verbs);
    const std::string script = o.scripts.empty() ? "-" : o.scripts[0];
    const auto out = rire_host::make_output(o.format, std::cout, std::cerr);
    if (script == "-" && isatty(STDIN_FILENO))
        return run_prompt(o, verbs, *out);
    return run_scenario(script, o, verbs, *out);
}
