#include "tools/rire-host/manual.h"

#include "tools/rire-host/options.h"

#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace rire_host::manual {
namespace {

using options::kCommands;
using options::kOptions;

// "--state DIR", "--help, -h".
std::string option_head(const options::Option &o) {
    return std::string(o.name) + (o.id == options::Id::kHelp ? ", -h" : "");
}

std::string option_help(const options::Option &o) {
    return std::string(o.help) + (o.fallback ? " (default " + std::string(o.fallback) + ")" : "");
}

// roff text: a backslash as \e, a leading dot or quote kept from reading as
// a request, every hyphen a minus sign (options and verbs are typed as is).
std::string roff(const std::string &text) {
    std::string out = (!text.empty() && (text[0] == '.' || text[0] == '\'')) ? "\\&" : "";
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

void man_options(std::ostream &out) {
    out << ".SH OPTIONS\n"
           "Options take their value as \\-\\-opt VALUE or \\-\\-opt=VALUE, before or after "
           "the command's words.\n";
    for (const options::Option &o : kOptions)
        out << ".TP\n.B " << roff(option_head(o))
            << (o.value ? " \\fI" + roff(o.value) + "\\fR" : "") << "\n"
            << roff(option_help(o)) << "\n";
}

void man_commands(const VerbTable &verbs, std::ostream &out) {
    out << ".SH COMMANDS\n"
           "A scenario is one command per line; `rire\\-host help VERB' prints one.\n";
    for (const VerbSpec &v : verbs.all()) {
        out << ".TP\n.B " << roff(verb_synopsis(v)) << "\n";
        std::istringstream help(v.help);
        for (std::string line; std::getline(help, line);)
            out << roff(line) << "\n";
        for (const ParamSpec &p : v.params)
            if (p.help && *p.help)
                out << ".br\n\\fI" << roff(p.key) << "\\fR: " << roff(p.help) << "\n";
    }
}

// Bash words: the verb table as the case arms of a function that prints what
// may follow `help WORDS...`.
void completion_verbs(const VerbTable &verbs, std::ostream &out) {
    std::set<std::string> first_words;
    std::map<std::string, std::set<std::string>> second_words;
    for (const VerbSpec &v : verbs.all()) {
        const size_t blank = v.name.find(' ');
        first_words.insert(v.name.substr(0, blank));
        if (blank != std::string::npos)
            second_words[v.name.substr(0, blank)].insert(v.name.substr(blank + 1));
    }
    out << "_rire_host_after_help() {\n    case \"$*\" in\n";
    out << "    '')\n        echo '";
    for (const std::string &w : first_words)
        out << w << " ";
    out << "' ;;\n";
    for (const auto &[first, seconds] : second_words) {
        out << "    '" << first << "')\n        echo '";
        for (const std::string &w : seconds)
            out << w << " ";
        out << "' ;;\n";
    }
    for (const VerbSpec &v : verbs.all()) {
        out << "    '" << v.name << "')\n        echo '";
        for (const char *w : v.choice.words)
            out << w << " ";
        for (const ParamSpec &p : v.params)
            out << p.key << "= ";
        out << "' ;;\n";
    }
    out << "    esac\n}\n";
}

void completion_options(std::ostream &out) {
    std::string all, valued;
    for (const options::Option &o : kOptions) {
        all += std::string(o.name) + " ";
        if (o.value)
            valued += std::string(o.name) + " ";
    }
    out << "_rire_host_options='" << all << "-h'\n";
    out << "_rire_host_valued='" << valued << "'\n";
    out << "_rire_host_subcommands='";
    for (const options::CommandSpec &c : kCommands)
        if (*c.name)
            out << c.name << " ";
    out << "'\n_rire_host_subcommand_options() {\n    case \"$1\" in\n";
    for (const options::CommandSpec &c : kCommands) {
        if (!*c.name)
            continue;
        out << "    " << c.name << ") echo '";
        for (const options::Option &o : kOptions)
            if (o.commands & c.command)
                out << o.name << " ";
        out << "' ;;\n";
    }
    out << "    esac\n}\n";
}

} // namespace

std::string man_page(const VerbTable &verbs, const std::string &version) {
    std::ostringstream out;
    out << ".TH RIRE\\-HOST 1 \"\" \"rire\\-host " << roff(version) << "\" \"User Commands\"\n"
        << ".SH NAME\nrire\\-host \\- run scenarios and transcript tests against the ORSK "
           "platform plugin in the host emulator\n"
        << ".SH SYNOPSIS\n.nf\n";
    for (const options::CommandSpec &c : kCommands)
        out << roff("rire-host " + std::string(c.name) + (*c.name ? " " : "") + "[OPTIONS] " +
                    c.operands)
            << "\n";
    out << ".fi\n.SH DESCRIPTION\n"
           "rire\\-host boots the ORSK platform plugin in an emulator of every host service it "
           "calls and drives it through a scenario, one host event per line.\n";
    for (const options::CommandSpec &c : kCommands)
        out << ".TP\n.B " << (*c.name ? roff(c.name) : "SCENARIO") << "\n" << roff(c.help) << "\n";
    man_options(out);
    out << ".SH EXIT STATUS\n";
    for (const options::ExitStatus &e : options::kExitStatuses)
        out << ".TP\n.B " << e.code << "\n" << roff(e.meaning) << "\n";
    man_commands(verbs, out);
    out << ".SH FILES\n.TP\n.I ~/.rire_host_history\nthe prompt's history\n"
        << ".SH SEE ALSO\n.BR lmdb (3)\n";
    return out.str();
}

std::string bash_completion(const VerbTable &verbs) {
    std::ostringstream out;
    out << "# bash completion for rire-host; made by `rire-host --completion bash`.\n";
    completion_options(out);
    completion_verbs(verbs, out);
    out << R"bash(_rire_host() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local i sub='' after=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ -n $sub ]]; then
            after+=("${COMP_WORDS[i]}")
        elif [[ " $_rire_host_subcommands " == *" ${COMP_WORDS[i]} "* ]]; then
            sub=${COMP_WORDS[i]}
        fi
    done
    if [[ $sub == help ]]; then
        COMPREPLY=($(compgen -W "$(_rire_host_after_help "${after[@]}")" -- "$cur"))
        [[ $cur == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    case $prev in
    --state) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --plugin) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W 'text json' -- "$cur")); return ;;
    esac
    [[ " $_rire_host_valued " == *" $prev "* ]] && return
    if [[ -n $sub ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$(_rire_host_subcommand_options "$sub")" -- "$cur"))
        else
            COMPREPLY=($(compgen -d -- "$cur"))
        fi
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$_rire_host_options" -- "$cur"))
    else
        COMPREPLY=($(compgen -W "$_rire_host_subcommands" -- "$cur") $(compgen -f -- "$cur"))
    fi
}
complete -F _rire_host rire-host
)bash";
    return out.str();
}

int run(int argc, char **argv, const VerbTable &verbs, const std::string &version) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "--manpage" && argc == 2) {
        std::cout << man_page(verbs, version);
        return 0;
    }
    if (what == "--completion" && argc == 3 && std::string(argv[2]) == "bash") {
        std::cout << bash_completion(verbs);
        return 0;
    }
    std::cerr << "usage: rire-host --manpage | --completion bash\n";
    return 2;
}

} // namespace rire_host::manual
