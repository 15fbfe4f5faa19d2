// rire-host: loads the platform plugin into the host emulator, boots it as
// the switch's rire process would, and runs a scenario of host events, or
// the lines typed at a prompt when standard input is a terminal; or runs
// transcript tests (check), looks at a state directory (inspect), or prints
// the scenario language (help). The command line is read by command_line.h
// from the declarations of options.h.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <new>
#include <numeric>
#include <string_view>

#include "emu/host.h"
#include "emu/log/event_log_file.h"
#include "emu/log/log.h"
#include "tools/rire-host/check.h"
#include "tools/rire-host/command_line.h"
#include "tools/rire-host/explore.h"
#include "tools/rire-host/manual.h"
#include "tools/rire-host/prompt.h"
#include "tools/rire-host/scenario.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/store_view.h"
#include "tools/rire-host/verbs.h"

namespace {

using rire_host::options::Id;

// The event log's own limit, as the option table states it.
static_assert(rire_host::options::option(Id::kLogSize).min ==
              emu::log::EventLogFile::kMinFileBytes);

struct Options {
    rire_host::CommandLine line;
    rire_host::SessionOptions session;
    rire_host::Format format = rire_host::Format::kText;
    bool strict = false;
    int part = 0; // --part N: run only process part N of a transcript
};

// Exit statuses, as the usage text gives them.
enum Exit {
    kExitOk = 0,
    kExitFailed = 1,        // a command or expectation failed, a heap block lost; --strict failure
    kExitUsage = 2,         // bad command line or scenario; the state directory is in use
    kExitStoreUnusable = 3, // the PSS store is damaged; its file is left as it was
};

const char *kTryHelp = "try rire-host --help\n";

int usage_error(const std::string &message) {
    std::cerr << "rire-host: " << message << "\n" << kTryHelp;
    return kExitUsage;
}

Options options_of(const rire_host::CommandLine &line) {
    Options o;
    o.line = line;
    o.session.state_dir = line.text(Id::kState);
    o.session.plugin_path =
        line.has(Id::kPlugin) ? line.text(Id::kPlugin) : emu::loader::Plugin::default_path();
    o.session.echo_log = line.has(Id::kLog);
    o.session.move_damaged_store = line.has(Id::kMoveDamagedStore);
    // The defaults are the table's, which the usage text shows.
    o.session.event_files.max_bytes = static_cast<uint32_t>(line.number(Id::kLogSize));
    o.session.event_files.files = static_cast<uint32_t>(line.number(Id::kLogFiles));
    o.format = rire_host::format_of(line);
    o.strict = line.has(Id::kStrict);
    o.part = static_cast<int>(line.number(Id::kPart));
    const std::string sync = line.text(Id::kSync);
    o.session.sync = sync == "full"   ? emu::pss::Sync::kFull
                     : sync == "meta" ? emu::pss::Sync::kMeta
                                      : emu::pss::Sync::kNone;
    return o;
}

// The options a transcript's processes get from this one.
rire_host::transcript::Runner runner(const Options &o) {
    rire_host::transcript::Runner r{rire_host::passed_on(o.line)};
    if (o.strict && !o.line.has(Id::kStrict))
        r.options.push_back("--strict");
    return r;
}

// The state directory, made ready for a run: an existing directory, or a new
// one whose parent exists (all of the path with --state-create-parents). An
// error text when it cannot be one. When --state was not given, a notice
// says which directory the run uses and whether it is new, since a run on
// one kept from an earlier run is a restart.
std::string prepare_state(const Options &o, rire_host::Output &out) {
    const std::filesystem::path &dir = o.session.state_dir;
    std::error_code ec;
    bool created = false;
    if (std::filesystem::exists(dir, ec)) {
        if (!std::filesystem::is_directory(dir, ec))
            return "--state: " + dir.string() + " is not a directory";
    } else {
        const bool parents = o.line.has(Id::kStateCreateParents);
        const auto parent = dir.has_parent_path() ? dir.parent_path() : ".";
        if (!parents && !std::filesystem::is_directory(parent, ec))
            return "--state: " + parent.string() +
                   " does not exist (--state-create-parents creates it)";
        created = parents ? std::filesystem::create_directories(dir, ec)
                          : std::filesystem::create_directory(dir, ec);
        if (!created)
            return "--state: cannot create " + dir.string() + ": " + ec.message();
    }
    if (!o.line.has(Id::kState)) {
        const bool restart = std::filesystem::exists(dir / "data.mdb", ec);
        out.notice("state", {{"dir", dir.string()}, {"created", created}, {"restart", restart}},
                   "rire-host: state " + dir.string() +
                       (created   ? ": created\n"
                        : restart ? ": kept from an earlier run; this run is its restart\n"
                                  : ": kept from an earlier run\n"));
    }
    return "";
}

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
    for (int i = 0; i < emu::log::dropped::kReasons; i++)
        if (counts[i] != 0) {
            const char *reason =
                emu::log::dropped::describe(static_cast<emu::log::dropped::Reason>(i));
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
    out.record("prompt", {}, "type help for the verbs, Tab to complete, ctrl-D to end\n");
    rire_host::Prompt prompt(
        rire_host::history_file(o.session.state_dir),
        [&verbs](const std::string &before) { return rire_host::completions(verbs, before); });
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
    rire_host::Scenario scenario(path);
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
        if (o.part == 0 && parts > 1) {
            if (const std::string fault = prepare_state(o, out); !fault.empty())
                return usage_error(fault);
            return rire_host::transcript::run_parts(runner(o), path, o.session.state_dir.string(),
                                                    parts, out);
        }
    }
    const auto report = [&](const rire_host::ScriptError &e) {
        out.script_error(name, e.line, e.column, e.message);
    };
    const auto script = rire_host::read_script(scenario.lines(), verbs, report);
    if (!script)
        return kExitUsage;
    if (const std::string fault = prepare_state(o, out); !fault.empty())
        return usage_error(fault);

    rire_host::Session session(o.session, out);
    if (const int status = start(session); status != kExitOk)
        return status;
    const auto run_one = [&](const rire_host::Command &cmd) {
        out.record(
            "command",
            [&] {
                return rire_host::Fields{{"line", cmd.line}, {"text", cmd.text}};
            },
            "rire# " + cmd.text + "\n");
        return run_command(session, cmd, name);
    };
    for (const rire_host::Command &cmd : script->commands)
        if (!run_one(cmd))
            return finish(session, o, false);
    if (script->rest) {
        // The lines past the commands kept, checked already, read again.
        std::istream &in = scenario.lines();
        in.clear();
        in.seekg(*script->rest);
        std::string line;
        for (int number = script->rest_line; std::getline(in, line); number++) {
            auto r = rire_host::parse_line(number, line, verbs);
            if (const auto *e = std::get_if<rire_host::ScriptError>(&r)) {
                report(*e); // the file changed while it ran
                return finish(session, o, false);
            }
            if (const auto *cmd = std::get_if<rire_host::Command>(&r); cmd && !run_one(*cmd))
                return finish(session, o, false);
        }
    }
    return finish(session, o, true);
}

int help(const rire_host::CommandLine &line, const rire_host::VerbTable &verbs) {
    std::string topic;
    for (const std::string &word : line.operands)
        topic += (topic.empty() ? "" : " ") + word;
    const auto text = rire_host::describe(verbs, topic);
    if (!text)
        return usage_error("help: " + rire_host::no_verb(verbs, topic));
    std::cout << *text;
    return kExitOk;
}

int inspect(const rire_host::CommandLine &line) {
    rire_host::InspectOptions o;
    o.dir = line.operands[0];
    o.raw = line.has(Id::kRaw);
    o.tail = line.number(Id::kTail);
    const auto out = rire_host::make_output(rire_host::format_of(line), std::cout, std::cerr);
    return rire_host::inspect(o, *out);
}

} // namespace

int main(int argc, char **argv) {
    // The host's own memory running out ends the run with a word, not an
    // abort: an allocation can fail inside a call from the plugin, where no
    // exception can pass. Every commit made so far stays, as after a kill.
    std::set_new_handler([] {
        constexpr std::string_view kMessage = "rire-host: out of memory\n";
        (void)!write(STDERR_FILENO, kMessage.data(), kMessage.size());
        _exit(kExitFailed);
    });
    // The build's own uses, hidden from --help: the manual page and the completion.
    if (argc > 1 && (std::string(argv[1]) == "--manpage" || std::string(argv[1]) == "--completion"))
        return rire_host::manual::run(argc, argv, rire_host::all_verbs(), RIRE_VERSION);
    const rire_host::Parsed parsed = rire_host::parse_command_line(argc, argv);
    if (!parsed.line)
        return usage_error(parsed.error);
    const rire_host::CommandLine &line = *parsed.line;
    if (line.has(Id::kVersion)) {
        std::cout << "rire-host " RIRE_VERSION "\n";
        return kExitOk;
    }
    if (line.has(Id::kHelp)) {
        std::cout << rire_host::usage(line.command);
        return kExitOk;
    }
    const rire_host::VerbTable verbs = rire_host::all_verbs();
    switch (line.command) {
    case rire_host::options::kHelp:
        return help(line, verbs);
    case rire_host::options::kInspect:
        return inspect(line);
    case rire_host::options::kExplore:
        return rire_host::explore::run(line, emu::loader::Plugin::default_path());
    case rire_host::options::kCheck:
        return rire_host::transcript::check(runner(options_of(line)), line.operands,
                                            line.has(Id::kUpdate));
    default:
        break;
    }
    const Options o = options_of(line);
    const std::string script = line.operands.empty() ? "-" : line.operands[0];
    const auto out = rire_host::make_output(o.format, std::cout, std::cerr);
    if (script == "-" && isatty(STDIN_FILENO)) {
        if (const std::string fault = prepare_state(o, *out); !fault.empty())
            return usage_error(fault);
        return run_prompt(o, verbs, *out);
    }
    return run_scenario(script, o, verbs, *out);
}
