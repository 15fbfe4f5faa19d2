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
#include <sstream>

#include "emu/host.h"
#include "emu/log.h"
#include "tools/rire-host/check.h"
#include "tools/rire-host/explore.h"
#include "tools/rire-host/prompt.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/store_view.h"
#include "tools/rire-host/verbs.h"

namespace {

struct Options {
    rire_host::SessionOptions session;
    std::vector<std::string> files;      // the scenario; more than one only with --check
    std::vector<std::string> help_topic; // rire-host help VERB
    rire_host::Format format = rire_host::Format::kText;
    bool strict = false;
    bool help = false;
    bool version = false;
    bool check = false;  // --check: run transcript tests and compare
    bool update = false; // --update: rewrite the expected output of those that differ
    int part = 0;        // --part N: run only process part N of a transcript
};

// Exit statuses, documented in kUsage.
enum Exit {
    kExitOk = 0,
    kExitFailed = 1,        // a command or expectation failed, a heap block lost; --strict failure
    kExitUsage = 2,         // bad command line or scenario; the state directory is in use
    kExitStoreUnusable = 3, // the PSS store is damaged; its file is left as it was
};

const char *kUsage =
    "usage: rire-host [OPTIONS] [SCENARIO | -]\n"
    "       rire-host --check [--update] [OPTIONS] FILE.t...\n"
    "       rire-host inspect [--raw] [--tail N] [--format text|json] DIR\n"
    "       rire-host explore [--seed S] [--time SEC | --runs N] [--steps N] [--faults]\n"
    "                         [--out FILE.t] [--state DIR] [--format text|json]\n"
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
    "  --strict       fail (exit 1) on any refused host call, plugin error-level\n"
    "                 log record, failed callback result, refused flush or file of\n"
    "                 the state directory not written; each is named at the end\n"
    "  --check        run each FILE.t as a transcript test on a fresh state directory;\n"
    "                 print a unified diff where its output differs, and name a file\n"
    "                 whose run ends with an exit status it does not declare (exit 1)\n"
    "  --update       with --check, rewrite the expected output of a file that differs;\n"
    "                 a file it wrote a failing run into is named and fails (exit 1)\n"
    "  --part N       run only process part N of a transcript (after N-1 '%% new process'\n"
    "                 lines); without it, every part runs in a process of its own\n"
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
    "A full file system never stops a run: each file of the state directory\n"
    "that cannot be written is named in a warning, events.log stops taking\n"
    "lines (the records it missed are counted at the end), and a flush without\n"
    "room is refused, its updates kept queued for the next one.\n"
    "\n"
    "Exit status:\n"
    "  0  the scenario ran\n"
    "  1  a command or an expectation failed, the plugin lost heap blocks, a\n"
    "     --strict failure, or a transcript differs or ends with an exit status\n"
    "     it does not declare\n"
    "  2  bad command line or scenario (nothing ran); the state directory is in use;\n"
    "     --check: a transcript cannot be read\n"
    "  3  the PSS store is damaged (left as it was)\n"
    "\n"
    "A transcript test (FILE.t) is a scenario with each command's expected output\n"
    "under it, indented by two blanks; '%% new process' ends the process and goes\n"
    "on in a new one on the same state directory. Run as a scenario, it prints\n"
    "its transcript; with --check, it is compared. Directive lines in the first\n"
    "column: '#! strict' runs it with --strict; '#! exit N' declares that its run\n"
    "ends with exit status N. --check fails a transcript whose run ends with a\n"
    "status it does not declare (0 by default), so a failure written into the\n"
    "expected output by --update never passes unless the file says it tests one.\n"
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
    app.add_flag("--check", o->check);
    app.add_flag("--update", o->update)->needs("--check");
    app.add_option("--part", o->part)->type_name("N")->check(CLI::PositiveNumber);
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
    app.add_option("scenario", o->files);
    app.add_subcommand("help")->add_option("verb", o->help_topic);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        std::cerr << "rire-host: " << e.what() << "\n" << kTryHelp;
        return false;
    }
    o->session.state_dir = state;
    if (o->check && o->files.empty()) {
        std::cerr << "rire-host: --check needs transcript files\n" << kTryHelp;
        return false;
    }
    if (!o->check && o->files.size() > 1) {
        std::cerr << "rire-host: one scenario at a time (" << o->files[0] << ", " << o->files[1]
                  << ")\n"
                  << kTryHelp;
        return false;
    }
    o->help = o->help || app.got_subcommand("help");
    return true;
}

// The options a transcript's processes get from this one.
rire_host::transcript::Runner runner(const Options &o) {
    rire_host::transcript::Runner r;
    r.options = {"--plugin",    o.session.plugin_path,
                 "--log-size",  std::to_string(o.session.event_files.max_bytes),
                 "--log-files", std::to_string(o.session.event_files.files)};
    if (o.strict)
        r.options.push_back("--strict");
    if (o.session.echo_log)
        r.options.push_back("--log");
    return r;
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
    // A transcript is read once, its part kept as a scenario; false when
    // the file has no such part.
    bool open_part(int part, int *parts, rire_host::transcript::Directives *directives) {
        auto text = rire_host::transcript::part_scenario(file_, part, parts, directives);
        if (!text)
            return false;
        file_.close();
        part_.str(*text);
        transcript_ = true;
        return true;
    }
    const char *name() const { return path_ == "-" ? "<stdin>" : path_.c_str(); }
    std::istream &first_pass() {
        return transcript_ ? part_ : path_ == "-" ? std::cin : static_cast<std::istream &>(file_);
    }
    std::ostream *copy() { return path_ == "-" ? &file_ : nullptr; }
    std::istream &second_pass() {
        std::iostream &in = transcript_ ? static_cast<std::iostream &>(part_) : file_;
        in.clear();
        in.seekg(0);
        return in;
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
    std::stringstream part_;
    bool transcript_ = false;
};

// The end-of-run summary of the PSS updates the plugin gave up on.
void report_dropped(rire_host::Session &session) {
    const auto &counts = session.dropped_updates();
    const uint64_t total = std::accumulate(counts.begin(), counts.end(), uint64_t{0});
    if (total == 0)
        return;
    std::string text =
        "rire-host: the plugin gave up " + rire_host::counted(total, "PSS update") + ":";
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

// The end-of-run count of the records events.log missed once it stopped.
void report_missed(rire_host::Session &session) {
    const uint64_t missed = emu::log::event_file_missed();
    if (missed == 0)
        return;
    session.output().notice("missed", {{"file", "events.log"}, {"records", missed}},
                            "rire-host: events.log missed " + rire_host::counted(missed, "record") +
                                "\n");
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
    session.begin_command(name, cmd.line, cmd.verb->name.starts_with("expect "));
    try {
        cmd.verb->run(session, cmd.args);
    } catch (const std::exception &e) {
        session.output().script_error(name, cmd.line, 0, e.what());
        return false;
    }
    session.end_command();
    return true;
}

// The exit status of a run, after its summaries; `ran` is false when a
// command failed and ended it.
int finish(rire_host::Session &session, const Options &o, bool ran) {
    session.end_run();
    report_dropped(session);
    report_missed(session);
    const bool failed = session.verdict().report(o.strict);
    return !ran || failed ? kExitFailed : kExitOk;
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

// `o` by value: a transcript may ask for --strict itself.
int run_scenario(const std::string &path, Options o, const rire_host::VerbTable &verbs,
                 rire_host::Output &out) {
    Scenario scenario(path);
    if (const std::string fault = scenario.open(); !fault.empty()) {
        out.notice("error", {{"message", fault}}, "rire-host: " + fault + "\n");
        return kExitUsage;
    }
    const std::string name = scenario.name();
    if (rire_host::transcript::is_transcript(path)) {
        int parts = 0;
        rire_host::transcript::Directives directives;
        if (!scenario.open_part(std::max(o.part, 1), &parts, &directives)) {
            std::cerr << "rire-host: " << name << " has no part " << o.part << "\n";
            return kExitUsage;
        }
        if (!directives.error.empty()) {
            out.script_error(name, directives.error_line, 0, directives.error);
            return kExitUsage;
        }
        o.strict = o.strict || directives.strict;
        if (o.part == 0 && parts > 1)
            return rire_host::transcript::run_parts(runner(o), path, o.session.state_dir.string(),
                                                    parts);
    }
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
    while (const auto cmd = reader.next()) {
        out.record("command", {{"line", cmd->line}, {"text", cmd->text}},
                   "rire# " + cmd->text + "\n");
        if (!run_command(session, *cmd, name))
            return finish(session, o, false);
    }
    return finish(session, o, true);
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
    if (argc > 1 && std::string(argv[1]) == "inspect")
        return rire_host::inspect_main(argc - 1, argv + 1);
    if (argc > 1 && std::string(argv[1]) == "explore")
        return rire_host::explore::main(argc - 1, argv + 1, RIRE_DEFAULT_PLUGIN);
    Options o;
    if (!parse_options(argc, argv, &o))
        return kExitUsage;
    if (o.version) {
        std::cout << "rire-host " RIRE_VERSION "\n";
        return kExitOk;
    }
    if (o.check)
        return rire_host::transcript::check(runner(o), o.files, o.update);
    const rire_host::VerbTable verbs = rire_host::all_verbs();
    if (o.help)
        return help(o, verbs);
    const std::string script = o.files.empty() ? "-" : o.files[0];
    const auto out = rire_host::make_output(o.format, std::cout, std::cerr);
    if (script == "-" && isatty(STDIN_FILENO))
        return run_prompt(o, verbs, *out);
    return run_scenario(script, o, verbs, *out);
}
