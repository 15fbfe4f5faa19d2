// The manual of rire-host: the man page rire-host(1) and the bash completion
// script, made at build time (rire-host --manpage, rire-host --completion
// bash) from the usage text and the verb table that --help prints, so that
// neither can say something --help does not.
//
// The usage text is read by its layout: a first block of "usage:" lines, a
// block of options ("  --name VALUE  help", help lines indented under it),
// an "Exit status:" block, and paragraphs of description.
#pragma once

#include <string>
#include <vector>

#include "tools/rire-host/script.h"

namespace rire_host::manual {

struct Option {
    std::vector<std::string> names; // "-h", "--help"
    std::string value;              // "DIR", "text|json"; empty for a flag
    std::string help;               // its lines, joined by blanks
};

// The options the usage text lists. The manual reads options only here.
std::vector<Option> options_of(const std::string &usage);

// rire-host(1) in roff.
std::string man_page(const std::string &usage, const VerbTable &verbs, const std::string &version);

// A bash completion script for the options, the subcommands and, after
// `help`, the verbs and each verb's argument names.
std::string bash_completion(const std::string &usage, const VerbTable &verbs);

// rire-host --manpage, rire-host --completion bash: prints one; an exit status.
int run(int argc, char **argv, const std::string &usage, const VerbTable &verbs,
        const std::string &version);

} // namespace rire_host::manual
