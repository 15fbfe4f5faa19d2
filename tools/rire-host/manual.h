// The manual of rire-host: the man page rire-host(1) and the bash completion
// script, made at build time (rire-host --manpage, rire-host --completion
// bash) from the command and option tables (options.h) and the verb table
// that --help and help print, so that neither can say something they do not.
#pragma once

#include <string>

#include "tools/rire-host/script.h"

namespace rire_host::manual {

// rire-host(1) in roff.
std::string man_page(const VerbTable &verbs, const std::string &version);

// A bash completion script for the options, the commands and, after `help`,
// the verbs and each verb's argument names.
std::string bash_completion(const VerbTable &verbs);

// rire-host --manpage, rire-host --completion bash: prints one; an exit status.
int run(int argc, char **argv, const VerbTable &verbs, const std::string &version);

} // namespace rire_host::manual
