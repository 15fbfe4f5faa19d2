// Transcript tests: a scenario with the output it must print written under
// the line that prints it. A file NAME.t holds
//   - command lines, as in a scenario, starting in the first column;
//   - expected output, each printed line indented by two more blanks, under
//     the command that prints it; what a process prints before its first
//     command (the boot line) sits above that command's comment block;
//   - comments ('#') and blank lines, which take no part;
//   - "%% new process": the process ends here (unflushed PSS updates die
//     with it) and a new rire-host process goes on with the lines below it on
//     the same state directory; its boot line sits under this line.
// When a process exits with a status other than 0, "[exit N]" is its last
// output line. A process that dies of SIGKILL (`fault pss.commit.kill` kills
// it inside a flush) ends with "[killed]" instead, counts as exit status 0,
// and the next part goes on from what the store kept.
//
// Directive lines, "#!" in the first column, say how the file runs and ends:
//   "#! strict"  it runs with --strict, under --check and as a scenario;
//   "#! exit N"  its run ends with exit status N: the last status other than
//                0 of its processes (0 when none). --check fails a file whose
//                run ends otherwise, so that a failure written into the
//                expected output (a failed expectation, a strict failure, a
//                bad line) passes only where the file says it tests one.
//
// Each process part runs as its own rire-host process (`--part N`), started
// through the launcher an i386 program needs here (RIRE_LAUNCHER from the
// environment, else the one the build was configured with).
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "tools/rire-host/output.h"

namespace rire_host::transcript {

// The line that ends one process of a transcript and starts the next.
inline constexpr const char *kNewProcess = "%% new process";

// True for the name of a transcript test file (it ends in ".t").
bool is_transcript(const std::string &path);

struct Directives {
    bool strict = false; // "#! strict"
    int exit = 0;        // "#! exit N"
    int error_line = 0;  // a "#!" line that is no directive, and what is wrong with it
    std::string error;
};

// The scenario of process part `part` (1-based) of a transcript: its command
// lines at their own line numbers, every other line blank, so that errors
// and expectations name the transcript's lines. *parts gets the number of
// parts, *directives the file's directives. Nothing when `part` is past the
// last one.
std::optional<std::string> part_scenario(std::istream &in, int part, int *parts,
                                         Directives *directives);

// How to start rire-host again: the options every part gets (--plugin,
// --strict, ...; not --state, --part or the file).
struct Runner {
    std::vector<std::string> options;
};

// Runs each part of the transcript in its own process on `state`, printing
// as they print; stops after a part that exits with 2 or more. A part killed
// by SIGKILL is reported on `out` (record "killed") and counts as 0. The
// last nonzero exit status, or 0.
int run_parts(const Runner &runner, const std::string &path, const std::string &state, int parts,
              Output &out);

// --check: runs each file on a fresh state directory and prints a unified
// diff of the file against the file with the output the run printed, and
// names a file whose run ends with an exit status it does not declare. With
// `update`, a file that differs is rewritten with that output. 0 when every
// file matched (or was updated) and ended as declared, 1 when one differed
// or did not, 2 when one cannot be read.
int check(const Runner &runner, const std::vector<std::string> &files, bool update);

} // namespace rire_host::transcript
