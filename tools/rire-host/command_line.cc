#include "tools/rire-host/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tools/rire-host/suggest.h"

namespace rire_host {
namespace {

using options::Command;
using options::Kind;
using options::Option;

using options::option;

const Option *find_option(const std::string &name) {
    for (const Option &o : options::kOptions)
        if (name == o.name || (name == "-h" && o.id == options::Id::kHelp))
            return &o;
    return nullptr;
}

std::optional<uint64_t> parse_number(const std::string &text) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return v;
}

// Why `value` is not a value of `o`, or nothing.
std::optional<std::string> bad_value(const Option &o, const std::string &value) {
    const std::string quoted = "'" + value + "'";
    switch (o.kind) {
    case Kind::kFlag:
        return "takes no value";
    case Kind::kText:
        if (value.empty())
            return "needs " + std::string(o.value);
        return std::nullopt;
    case Kind::kNumber: {
        const auto n = parse_number(value);
        if (!n)
            return quoted + " is not a number";
        if (*n < o.min)
            return value + " is below the minimum, " + std::to_string(o.min);
        if (*n > o.max)
            return value + " is above the maximum, " + std::to_string(o.max);
        return std::nullopt;
    }
    case Kind::kChoice: {
        std::string choices = o.choices, listed;
        for (size_t start = 0, bar;; start = bar + 1) {
            bar = choices.find('|', start);
            const std::string word = choices.substr(start, bar - start);
            if (word == value)
                return std::nullopt;
            listed += (listed.empty() ? "" : ", ") + word;
            if (bar == std::string::npos)
                break;
        }
        return quoted + " is not one of " + listed;
    }
    }
    return std::nullopt;
}

std::vector<std::string> option_names() {
    std::vector<std::string> names;
    for (const Option &o : options::kOptions)
        names.push_back(o.name);
    return names;
}

std::vector<std::string> command_names() {
    std::vector<std::string> names;
    for (const auto &c : options::kCommands)
        if (*c.name)
            names.push_back(c.name);
    return names;
}

std::string served_by(unsigned commands) {
    std::string text;
    for (const auto &c : options::kCommands)
        if ((commands & c.command) != 0)
            text += (text.empty() ? "" : " or ") + std::string(*c.name ? c.name : "a run");
    return text;
}

// The operands a command needs, once the whole line is read.
std::string check_operands(const CommandLine &line) {
    const auto &ops = line.operands;
    switch (line.command) {
    case options::kCheck:
        return ops.empty() ? "check: needs transcript files (FILE.t...)" : "";
    case options::kInspect:
        if (ops.size() != 1)
            return ops.empty() ? "inspect: needs DIR" : "inspect: one DIR at a time";
        return "";
    case options::kExplore:
        if (!ops.empty())
            return "explore: takes no operand ('" + ops[0] + "')";
        if (line.has(options::Id::kTime) && line.has(options::Id::kRuns))
            return "explore: --time and --runs exclude each other";
        return "";
    case options::kRun: {
        if (ops.size() > 1)
            return "one scenario at a time (" + ops[0] + ", " + ops[1] + ")";
        std::error_code ec;
        if (ops.empty() || ops[0] == "-" || std::filesystem::exists(ops[0], ec))
            return "";
        if (const auto near = nearest(ops[0], command_names()))
            return ops[0] + ": no such scenario; did you mean 'rire-host " + *near + "'?";
        return "";
    }
    default:
        return "";
    }
}

// `text` filled into lines of 79 columns at most after `head`, the lines
// after the first indented by `indent`.
std::string wrapped(const std::string &text, const std::string &head, size_t indent) {
    constexpr size_t kWidth = 79;
    std::istringstream words(text);
    std::string out, line = head;
    for (std::string word; words >> word;) {
        if (line.size() > indent && line.back() != ' ' && line.size() + 1 + word.size() > kWidth) {
            out += line + "\n";
            line = std::string(indent, ' ');
        }
        line += (line.back() == ' ' ? "" : " ") + word;
    }
    return out + line + "\n";
}

} // namespace

std::string CommandLine::text(options::Id id) const {
    if (auto it = given.find(id); it != given.end())
        return it->second;
    const char *fallback = option(id).fallback;
    return fallback ? fallback : "";
}

uint64_t CommandLine::number(options::Id id) const {
    return parse_number(text(id)).value_or(0);
}

Parsed parse_command_line(int argc, char **argv) {
    CommandLine line;
    bool options_end = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
            const bool first = line.operands.empty() && line.command == options::kRun;
            Command named = options::kRun;
            for (const auto &c : options::kCommands)
                if (first && *c.name && arg == c.name)
                    named = c.command;
            if (named != options::kRun)
                line.command = named;
            else
                line.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const Option *o = find_option(name);
        if (o == nullptr)
            return {{}, "unknown option '" + name + "'" + did_you_mean(name, option_names())};
        std::string value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        else if (o->kind != Kind::kFlag && i + 1 < argc)
            value = argv[++i];
        else if (o->kind != Kind::kFlag)
            return {{}, name + ": needs " + o->value};
        if (eq != std::string::npos || o->kind != Kind::kFlag)
            if (auto fault = bad_value(*o, value))
                return {{}, name + ": " + *fault};
        line.given[o->id] = value;
        if (o->id == options::Id::kCheck)
            line.command = options::kCheck;
    }
    if (line.has(options::Id::kHelp) || line.has(options::Id::kVersion))
        return {line, ""};
    for (const auto &[id, value] : line.given)
        if ((option(id).commands & line.command) == 0)
            return {{},
                    std::string(option(id).name) + ": only for " + served_by(option(id).commands)};
    if (auto fault = check_operands(line); !fault.empty())
        return {{}, fault};
    return {line, ""};
}

std::string usage(Command command) {
    std::ostringstream out;
    const char *lead = "usage: ";
    for (const auto &c : options::kCommands)
        if (command == options::kRun || c.command == command) {
            out << lead << "rire-host " << c.name << (*c.name ? " " : "") << "[OPTIONS] "
                << c.operands << "\n";
            lead = "       ";
        }
    out << "\n";
    for (const auto &c : options::kCommands)
        if (command == options::kRun || c.command == command) {
            out << wrapped(c.help, "  " + std::string(*c.name ? c.name : "SCENARIO") + ": ", 4);
        }
    out << "\noptions (--opt VALUE or --opt=VALUE):\n";
    constexpr size_t kColumn = 28;
    for (const Option &o : options::kOptions) {
        if (command != options::kRun && (o.commands & command) == 0)
            continue;
        std::string head = "  " + std::string(o.name) + (o.value ? " " + std::string(o.value) : "");
        head.resize(std::max(kColumn, head.size() + 2), ' ');
        std::string help = o.help;
        if (o.fallback)
            help += " (default " + std::string(o.fallback) + ")";
        if (command == options::kRun && (o.commands & options::kRun) == 0)
            help += " [" + served_by(o.commands) + "]";
        out << wrapped(help, head, kColumn);
    }
    if (command == options::kRun || command == options::kCheck) {
        out << "\n";
        for (const options::ExitStatus &e : options::kExitStatuses)
            out << wrapped(e.meaning,
                           (e.code == 0 ? "exit status " : "            ") +
                               std::to_string(e.code) + "  ",
                           15);
    }
    if (command == options::kRun)
        out << "\nThe scenario language: rire-host help (one line per verb), rire-host help "
               "VERB.\n";
    return out.str();
}

Format format_of(const CommandLine &line) {
    return line.text(options::Id::kFormat) == "json" ? Format::kJson : Format::kText;
}

std::vector<std::string> passed_on(const CommandLine &line) {
    std::vector<std::string> args;
    for (const Option &o : options::kOptions)
        if (o.passed_on && line.has(o.id)) {
            args.push_back(o.name);
            if (o.kind != Kind::kFlag)
                args.push_back(line.text(o.id));
        }
    return args;
}

} // namespace rire_host
