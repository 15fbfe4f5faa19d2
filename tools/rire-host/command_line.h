// rire-host's command line read against the declarations of options.h: one
// parser, one usage text and one child command line, all derived from
// kCommands and kOptions. Every fault is one line in one style,
// "rire-host: --format: 'xml' is not one of text, json", with the nearest
// option or command when the word is a slip.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/rire-host/options.h"
#include "tools/rire-host/output.h"

namespace rire_host {

struct CommandLine {
    options::Command command = options::kRun;
    std::map<options::Id, std::string> given; // as typed; "" for a flag
    std::vector<std::string> operands;        // the words after the command's name

    bool has(options::Id id) const { return given.count(id) != 0; }
    // The value given, else the option's default ("" when it has none).
    std::string text(options::Id id) const;
    uint64_t number(options::Id id) const;
};

// The command line, or why it is not one ("--tail: 'abc' is not a number";
// the caller prints it after "rire-host: ").
struct Parsed {
    std::optional<CommandLine> line;
    std::string error;
};
Parsed parse_command_line(int argc, char **argv);

// The --help text of `command`; kRun's covers every command.
std::string usage(options::Command command);

// The options a transcript's processes get from this command line: those
// marked passed_on, as they were given.
std::vector<std::string> passed_on(const CommandLine &line);

// The report format --format asks for.
Format format_of(const CommandLine &line);

} // namespace rire_host
