// rire-host: loads the platform plugin into the host emulator, boots it as
// the switch's rire process would, and runs a scenario of host events.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>

#include "emu/host.h"
#include "tools/rire-host/check.h"
#include "tools/rire-host/inspect.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace {

struct Options {
    rire_host::SessionOptions session;
    std::string script = "-";
    std::vector<std::string> files; // every file named; more than one only with --check
    bool strict = false;
    bool help = false;
    bool check = false;  // --check: run transcript tests and compare
    bool update = false; // --update: rewrite the expected output of those that differ
    int part = 0;        // --part N: run only process part N of a transcript
};

// Exit statuses, documented in kUsage.
enum Exit {
    kExitOk = 0,
    kExitFailed = 1,        // a command or an expectation failed; --strict: a strict failure
    kExitUsage = 2,         // bad command line or scenario; the state directory is in use
    kExitStoreUnusable = 3, // the PSS store is damaged; its file is left as it was
};

const char *kUsage =
    "usage: rire-host [--state DIR] [--plugin PATH] [--log] [--log-size BYTES]\n"
    "                 [--log-files N] [--strict] [--move-damaged-store] [SCENARIO | -]\n"
    "       rire-host --check [--update] [--plugin PATH] [--strict] FILE.t...\n"
    "       rire-host inspect [--raw] [--tail N] DIR\n"
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
    "                 log record or failed callback result; each is named at the end\n"
    "  --check        run each FILE.t as a transcript test on a fresh state directory;\n"
    "                 print a unified diff where its output differs (exit 1)\n"
    "  --update       with --check, rewrite the expected output of a file that differs\n"
    "  --part N       run only process part N of a transcript (after N-1 '%% new process'\n"
    "                 lines); without it, every part runs in a process of its own\n"
    "  --move-damaged-store\n"
    "                 when the PSS store is damaged, rename data.mdb to\n"
    "                 data.mdb.damaged-YYYYMMDD-HHMMSS and start with an empty store\n"
    "\n"
    "Only one process at a time uses a state directory: another one is refused\n"
    "with \"state DIR is in use by process N\". The store is checked before it is\n"
    "used; a damaged one stops the run and is left exactly as it was.\n"
    "\n"
    "Every PSS update the plugin gives up on (scratch arena full, TLV or\n"
    "framework refusal) is printed as a warning after its command and counted\n"
    "in a summary on standard error at the end.\n"
    "\n"
    "Exit status: 0 done; 1 a command or an expectation failed, or a --strict\n"
    "failure, or a transcript differs; 2 bad command line or scenario, or the state\n"
    "directory is in use; 3 the PSS store is damaged.\n"
    "\n"
    "A transcript test (FILE.t) is a scenario with each command's expected output\n"
    "under it, indented by two blanks; '%% new process' ends the process and goes\n"
    "on in a new one on the same state directory. Run as a scenario, it prints\n"
    "its transcript; with --check, it is compared.\n"
    "\n"
    "A scenario is one command per line; '#' starts a comment. Numbers are\n"
    "decimal or 0x-hex, lists are comma-separated with ranges a-b. The whole\n"
    "scenario is checked before anything runs: a bad line is reported as\n"
    "FILE:LINE:COLUMN and nothing is applied. It is then read again and run\n"
    "line by line, so a scenario of any length runs in bounded memory (standard\n"
    "input is kept aside in a temporary file). Commands:\n\n";

const char *kTryHelp = "try rire-host --help\n";

// --log-size or --log-files into `limits`; false (reported) for a value
// the event log refuses.
bool parse_limit(const std::string &arg, const std::string &value,
                 emu::EventLogFile::Limits *limits) {
    char *end = nullptr;
    const unsigned long long n = std::strtoull(value.c_str(), &end, 0);
    emu::EventLogFile::Limits next = *limits;
    (arg == "--log-size" ? next.max_bytes : next.files) = static_cast<unsigned>(n);
    const bool ok = !value.empty() && *end == '\0' && n <= UINT32_MAX &&
                    next.max_bytes >= emu::EventLogFile::kMinFileBytes && next.files >= 1;
    if (!ok) {
        std::cerr << "rire-host: bad " << arg << " value " << value << "\n" << kTryHelp;
        return false;
    }
    *limits = next;
    return true;
}

bool parse_options(int argc, char **argv, Options *o) {
    o->session.state_dir = "rire-state";
    o->session.plugin_path = RIRE_DEFAULT_PLUGIN;
    bool script_given = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else if (arg == "--log") {
            o->session.echo_log = true;
        } else if (arg == "--strict") {
            o->strict = true;
        } else if (arg == "--check") {
            o->check = true;
        } else if (arg == "--update") {
            o->update = true;
        } else if (arg == "--move-damaged-store") {
            o->session.move_damaged_store = true;
        } else if (arg == "--state" || arg == "--plugin" || arg == "--log-size" ||
                   arg == "--log-files" || arg == "--part") {
            if (i + 1 == argc) {
                std::cerr << "rire-host: " << arg << " needs a value\n" << kTryHelp;
                return false;
            }
            const std::string value = argv[++i];
            if (arg == "--state")
                o->session.state_dir = value;
            else if (arg == "--plugin")
                o->session.plugin_path = value;
            else if (arg == "--part")
                o->part = std::atoi(value.c_str());
            else if (!parse_limit(arg, value, &o->session.event_files))
                return false;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::cerr << "rire-host: unknown option " << arg << "\n" << kTryHelp;
            return false;
        } else if (script_given && !o->check) {
            std::cerr << "rire-host: one scenario at a time (" << o->script << ", " << arg << ")\n"
                      << kTryHelp;
            return false;
        } else {
            o->script = arg;
            o->files.push_back(arg);
            script_given = true;
        }
    }
    if (o->check && o->files.empty()) {
        std::cerr << "rire-host: --check needs transcript files\n" << kTryHelp;
        return false;
    }
    if (o->update && !o->check) {
        std::cerr << "rire-host: --update goes with --check\n" << kTryHelp;
        return false;
    }
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
    bool open() {
        if (path_ == "-")
            return spool();
        file_.open(path_, std::ios::in);
        return file_.is_open();
    }
    // A transcript is read once, its part kept as a scenario; false when
    // the file has no such part.
    bool open_part(int part, int *parts) {
        auto text = rire_host::transcript::part_scenario(file_, part, parts);
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
void report_dropped(const rire_host::Session &session) {
    const auto &counts = session.dropped_updates();
    const uint64_t total = std::accumulate(counts.begin(), counts.end(), uint64_t{0});
    if (total == 0)
        return;
    std::cout.flush();
    std::cerr << "rire-host: the plugin gave up " << total << " PSS update"
              << (total == 1 ? "" : "s") << ":";
    const char *sep = " ";
    for (int i = 0; i < emu::dropped::kReasons; i++)
        if (counts[i] != 0) {
            std::cerr << sep << counts[i] << " because "
                      << emu::dropped::describe(static_cast<emu::dropped::Reason>(i));
            sep = ", ";
        }
    std::cerr << "\n";
}

int start(rire_host::Session &session) {
    std::string error;
    try {
        if (session.start(&error))
            return kExitOk;
    } catch (const emu::HostError &e) {
        std::cout.flush();
        if (e.kind() == emu::HostError::kStateInUse) {
            std::cerr << e.what() << "\n";
            return kExitUsage;
        }
        std::cerr << "rire-host: " << e.what() << "\n";
        if (e.kind() != emu::HostError::kStoreUnusable)
            return kExitFailed;
        std::cerr << "rire-host: the file is left as it was; --move-damaged-store moves it "
                     "aside and starts with an empty store\n";
        return kExitStoreUnusable;
    }
    std::cout.flush();
    std::cerr << "rire-host: " << error << "\n";
    return kExitFailed;
}

int run(const Options &o, const rire_host::VerbTable &verbs) {
    Scenario scenario(o.script);
    if (!scenario.open()) {
        std::cerr << "rire-host: cannot read " << o.script << "\n";
        return kExitUsage;
    }
    const std::string name = scenario.name();
    if (rire_host::transcript::is_transcript(o.script)) {
        int parts = 0;
        if (!scenario.open_part(std::max(o.part, 1), &parts)) {
            std::cerr << "rire-host: " << name << " has no part " << o.part << "\n";
            return kExitUsage;
        }
        if (o.part == 0 && parts > 1)
            return rire_host::transcript::run_parts(runner(o), o.script,
                                                    o.session.state_dir.string(), parts);
    }
    const size_t bad = rire_host::check_script(
        scenario.first_pass(), verbs,
        [&name](const rire_host::ScriptError &e) {
            std::cerr << name << ":" << e.line << ":" << e.column << ": error: " << e.message
                      << "\n";
        },
        scenario.copy());
    if (bad != 0)
        return kExitUsage;

    rire_host::Session session(o.session, std::cout);
    if (const int status = start(session); status != kExitOk)
        return status;
    rire_host::ScriptReader reader(scenario.second_pass(), verbs);
    while (const auto cmd = reader.next()) {
        std::cout << "rire# " << cmd->text << "\n";
        session.begin_command(name, cmd->line, cmd->verb->name.starts_with("expect "));
        try {
            cmd->verb->run(session, cmd->args);
        } catch (const std::exception &e) {
            std::cout.flush(); // stdout and stderr may share a pipe: keep their order
            std::cerr << name << ":" << cmd->line << ": error: " << e.what() << "\n";
            report_dropped(session);
            session.verdict().report(o.strict);
            return kExitFailed;
        }
        session.end_command();
    }
    report_dropped(session);
    return session.verdict().report(o.strict) ? kExitFailed : kExitOk;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::string(argv[1]) == "inspect")
        return rire_host::inspect_main(argc - 1, argv + 1);
    Options o;
    if (!parse_options(argc, argv, &o))
        return kExitUsage;
    const rire_host::VerbTable verbs = rire_host::all_verbs();
    if (o.help) {
        std::cout << kUsage << rire_host::describe(verbs);
        return 0;
    }
    if (o.check)
        return rire_host::transcript::check(runner(o), o.files, o.update);
    return run(o, verbs);
}
