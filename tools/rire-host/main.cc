// rire-host: loads the platform plugin into the host emulator, boots it as
// the switch's rire process would, and runs a scenario of host events.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace {

struct Options {
    rire_host::SessionOptions session;
    std::string script = "-";
    bool help = false;
};

const char *kUsage =
    "usage: rire-host [--state DIR] [--plugin PATH] [--log] [--log-size BYTES]\n"
    "                 [--log-files N] [SCENARIO | -]\n"
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
    "\n"
    "A scenario is one command per line; '#' starts a comment. Numbers are\n"
    "decimal or 0x-hex, lists are comma-separated with ranges a-b. The whole\n"
    "scenario is checked before anything runs: a bad line is reported as\n"
    "FILE:LINE:COLUMN and nothing is applied. Commands:\n\n";

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
        } else if (arg == "--state" || arg == "--plugin" || arg == "--log-size" ||
                   arg == "--log-files") {
            if (i + 1 == argc) {
                std::cerr << "rire-host: " << arg << " needs a value\n" << kTryHelp;
                return false;
            }
            const std::string value = argv[++i];
            if (arg == "--state")
                o->session.state_dir = value;
            else if (arg == "--plugin")
                o->session.plugin_path = value;
            else if (!parse_limit(arg, value, &o->session.event_files))
                return false;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::cerr << "rire-host: unknown option " << arg << "\n" << kTryHelp;
            return false;
        } else if (script_given) {
            std::cerr << "rire-host: one scenario at a time (" << o->script << ", " << arg << ")\n"
                      << kTryHelp;
            return false;
        } else {
            o->script = arg;
            script_given = true;
        }
    }
    return true;
}

int run(const Options &o, const rire_host::VerbTable &verbs) {
    std::ifstream file;
    std::istream *in = &std::cin;
    if (o.script != "-") {
        file.open(o.script);
        if (!file) {
            std::cerr << "rire-host: cannot read " << o.script << "\n";
            return 2;
        }
        in = &file;
    }
    std::vector<rire_host::ScriptError> errors;
    auto commands = rire_host::parse_script(*in, verbs, &errors);
    const std::string name = o.script == "-" ? "<stdin>" : o.script;
    for (const auto &e : errors)
        std::cerr << name << ":" << e.line << ":" << e.column << ": error: " << e.message << "\n";
    if (!errors.empty())
        return 2;

    rire_host::Session session(o.session, std::cout);
    std::string error;
    if (!session.start(&error)) {
        std::cout.flush();
        std::cerr << "rire-host: " << error << "\n";
        return 1;
    }
    for (const auto &cmd : commands) {
        std::cout << "rire# " << cmd.text << "\n";
        try {
            cmd.verb->run(session, cmd.args);
        } catch (const std::exception &e) {
            std::cout.flush(); // stdout and stderr may share a pipe: keep their order
            std::cerr << name << ":" << cmd.line << ": error: " << e.what() << "\n";
            return 1;
        }
        if (o.session.echo_log)
            session.print_new_log();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, &o))
        return 2;
    const rire_host::VerbTable verbs = rire_host::all_verbs();
    if (o.help) {
        std::cout << kUsage << rire_host::describe(verbs);
        return 0;
    }
    return run(o, verbs);
}
