// The command line of rire-host, declared once as data. The usage text, the
// parser and the options a transcript's processes get are derived from
// kCommands and kOptions in main.cc, and a manual page or a shell completion
// can be derived from them the same way.
//
//   rire-host [OPTIONS] [SCENARIO | -]     run a scenario, or a prompt
//   rire-host check [OPTIONS] FILE.t...    compare transcript tests (also --check)
//   rire-host inspect [OPTIONS] DIR        what a state directory holds
//   rire-host help [VERB|all]              the scenario language
//
// Options take their value as --opt VALUE or --opt=VALUE, before or after the
// command's words.
#pragma once

#include <cstdint>

namespace rire_host::options {

// What rire-host is asked to do; each option names the commands it serves.
enum Command : unsigned {
    kRun = 1u << 0,
    kCheck = 1u << 1,
    kInspect = 1u << 2,
    kHelp = 1u << 3,
    kExplore = 1u << 4,
    kEvery = kRun | kCheck | kInspect | kHelp | kExplore,
};

struct CommandSpec {
    Command command;
    const char *name;     // the word that asks for it; "" for a run
    const char *operands; // "[SCENARIO | -]"
    const char *help;     // a sentence, to be filled into lines
};

inline constexpr CommandSpec kCommands[] = {
    {kRun, "", "[SCENARIO | -]",
     "boot the plugin in the host emulator and run SCENARIO (standard input when '-' or absent; "
     "a prompt when that is a terminal)"},
    {kCheck, "check", "FILE.t...",
     "run each transcript test on a fresh state directory and compare its output (also --check)"},
    {kInspect, "inspect", "DIR",
     "print what state directory DIR holds, read-only: both PSS databases decoded, the live "
     "oiflists and the tail of events.log"},
    {kExplore, "explore", "",
     "draw random host histories from a seeded generator, check the plugin after every step "
     "against a reference model, and shrink the first divergence to a transcript test"},
    {kHelp, "help", "[VERB|all]",
     "the scenario language: one line per verb, a verb in full, or all"},
};

// What each exit status means, for --help and the manual page.
struct ExitStatus {
    int code;
    const char *meaning;
};

inline constexpr ExitStatus kExitStatuses[] = {
    {0, "it ran and every transcript matched"},
    {1, "a command, an expectation or a --strict check failed, the plugin lost heap blocks, or a "
        "transcript differs, or the host ran out of memory"},
    {2, "bad command line or scenario (nothing ran), the state directory is in use, a transcript "
        "cannot be read"},
    {3, "the PSS store is damaged (left as it was)"},
};

// What an option's value is.
enum class Kind {
    kFlag,   // no value
    kText,   // any word: a path
    kNumber, // decimal or 0x-hex, min..max
    kChoice, // one of `choices`
};

enum class Id {
    kHelp,
    kVersion,
    kState,
    kStateCreateParents,
    kPlugin,
    kLog,
    kLogSize,
    kLogFiles,
    kStrict,
    kFormat,
    kPart,
    kMoveDamagedStore,
    kSync,
    kCheck,
    kUpdate,
    kRaw,
    kTail,
    kSeed,
    kTime,
    kRuns,
    kSteps,
    kFaults,
    kOut,
    kPlantModelFault,
};

struct Option {
    Id id;
    const char *name;  // "--state"
    const char *value; // the value's name in the usage, "DIR"; nullptr for a flag
    Kind kind;
    const char *help;              // lines joined by '\n'
    const char *fallback;          // the default, as it would be typed; nullptr when none
    unsigned commands;             // the Commands it serves
    bool passed_on;                // a transcript's processes get it as it was given
    uint64_t min = 0, max = 0;     // kNumber
    const char *choices = nullptr; // kChoice: "text|json"
};

inline constexpr Option kOptions[] = {
    {Id::kState, "--state", "DIR", Kind::kText,
     "the state directory: PSS store, events.log, live oiflists; a second run on it is a "
     "process restart. Only its last component is created",
     "rire-state", kRun | kExplore, false},
    {Id::kStateCreateParents, "--state-create-parents", nullptr, Kind::kFlag,
     "create the directories above the state directory too", nullptr, kRun, false},
    {Id::kPlugin, "--plugin", "PATH", Kind::kText, "the plugin to load", nullptr,
     kRun | kCheck | kExplore, true},
    {Id::kLog, "--log", nullptr, Kind::kFlag, "print the plugin's log records after every command",
     nullptr, kRun | kCheck, true},
    {Id::kLogSize, "--log-size", "BYTES", Kind::kNumber,
     "events.log moves to events.log.1 before it passes BYTES", "16777216", kRun | kCheck, true,
     16384, UINT32_MAX},
    {Id::kLogFiles, "--log-files", "N", Kind::kNumber, "events.log and its rotated files kept", "4",
     kRun | kCheck, true, 1, UINT32_MAX},
    {Id::kStrict, "--strict", nullptr, Kind::kFlag,
     "fail (exit 1) on any refused host call, plugin error-level log record, failed "
     "callback result, refused flush or file of the state directory not written; each is "
     "named at the end",
     nullptr, kRun | kCheck, true},
    {Id::kFormat, "--format", "text|json", Kind::kChoice,
     "json: one JSON object per line on standard output for every report, each with its "
     "\"type\" (rire-host.schema.json describes them)",
     "text", kRun | kInspect | kExplore, true, 0, 0, "text|json"},
    {Id::kPart, "--part", "N", Kind::kNumber,
     "run only process part N of a transcript (after N-1 '%% new process' lines)", nullptr, kRun,
     false, 1, INT32_MAX},
    {Id::kSync, "--sync", "full|meta|none", Kind::kChoice,
     "how far each PSS commit goes before it returns. Every setting keeps every commit when the "
     "process dies; on a power loss, full keeps every commit, meta may undo the last one, none "
     "may lose recent ones and damage the store",
     "none", kRun | kCheck, true, 0, 0, "full|meta|none"},
    {Id::kMoveDamagedStore, "--move-damaged-store", nullptr, Kind::kFlag,
     "when the PSS store is damaged, rename data.mdb to data.mdb.damaged-YYYYMMDD-HHMMSS and "
     "start with an empty store",
     nullptr, kRun, false},
    {Id::kCheck, "--check", nullptr, Kind::kFlag, "the same as the command check", nullptr,
     kRun | kCheck, false},
    {Id::kUpdate, "--update", nullptr, Kind::kFlag,
     "write the output of a transcript that differs into it; a file it wrote a failing run "
     "into is named and fails (exit 1)",
     nullptr, kCheck, false},
    {Id::kRaw, "--raw", nullptr, Kind::kFlag, "also each record's key and value bytes", nullptr,
     kInspect, false},
    {Id::kTail, "--tail", "N", Kind::kNumber, "lines of events.log shown", "20", kInspect, false, 0,
     UINT32_MAX},
    {Id::kSeed, "--seed", "S", Kind::kNumber, "the generator's seed", "1", kExplore, false, 0,
     UINT64_MAX},
    {Id::kTime, "--time", "SEC", Kind::kNumber, "explore for SEC seconds (instead of --runs)",
     nullptr, kExplore, false, 1, UINT32_MAX},
    {Id::kRuns, "--runs", "N", Kind::kNumber, "explore N runs", "20", kExplore, false, 1,
     UINT32_MAX},
    {Id::kSteps, "--steps", "N", Kind::kNumber, "steps drawn per run", "200", kExplore, false, 1,
     UINT32_MAX},
    {Id::kFaults, "--faults", nullptr, Kind::kFlag, "draw fault-table rows and walk orders as well",
     nullptr, kExplore, false},
    {Id::kOut, "--out", "FILE.t", Kind::kText, "where the shrunk divergence goes",
     "explore-divergence.t", kExplore, false},
    {Id::kPlantModelFault, "--plant-model-fault", nullptr, Kind::kFlag,
     "make the model forget repeated holds: the test of explore itself", nullptr, kExplore, false},
    {Id::kVersion, "--version", nullptr, Kind::kFlag, "print the version and stop", nullptr, kEvery,
     false},
    {Id::kHelp, "--help", nullptr, Kind::kFlag, "print this text and stop (also -h)", nullptr,
     kEvery, false},
};

// The row of `id`; every Id has one.
constexpr const Option &option(Id id) {
    for (const Option &o : kOptions)
        if (o.id == id)
            return o;
    throw "an Id without its row";
}

} // namespace rire_host::options
