#include "tools/rire-host/manual.h"

#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace rire_host::manual {
namespace {

using Block = std::vector<std::string>;

// The usage text cut at its blank lines.
std::vector<Block> blocks_of(const std::string &usage) {
    std::vector<Block> blocks(1);
    std::istringstream in(usage);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            if (!blocks.back().empty())
                blocks.emplace_back();
            continue;
        }
        blocks.back().push_back(line);
    }
    if (blocks.back().empty())
        blocks.pop_back();
    return blocks;
}

bool starts_with(const std::string &s, const std::string &prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool is_option_line(const std::string &line) {
    return starts_with(line, "  -");
}

bool is_options(const Block &b) {
    return !b.empty() && is_option_line(b.front());
}

bool is_synopsis(const Block &b) {
    return !b.empty() && starts_with(b.front(), "usage:");
}

bool is_exit_status(const Block &b) {
    return !b.empty() && b.front() == "Exit status:";
}

std::string trimmed(const std::string &s) {
    const size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// "  --state DIR    state directory": the names and value before the first
// two blanks after the text begins, the help after them.
Option option_of_line(const std::string &line) {
    Option o;
    const std::string text = trimmed(line);
    const size_t gap = text.find("  ");
    std::istringstream head(text.substr(0, gap));
    for (std::string word; head >> word;) {
        if (!word.empty() && word.back() == ',')
            word.pop_back();
        if (starts_with(word, "-"))
            o.names.push_back(word);
        else
            o.value = word;
    }
    if (gap != std::string::npos)
        o.help = trimmed(text.substr(gap));
    return o;
}

// The command lines of the synopsis, without "usage:".
Block synopsis_lines(const Block &b) {
    Block lines;
    for (const std::string &line : b)
        lines.push_back(trimmed(starts_with(line, "usage:") ? line.substr(6) : line));
    return lines;
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

void man_options(const std::string &usage, std::ostream &out) {
    out << ".SH OPTIONS\n";
    for (const Option &o : options_of(usage)) {
        std::string names;
        for (const std::string &n : o.names)
            names += (names.empty() ? "" : ", ") + n;
        out << ".TP\n.B " << roff(names)
            << (o.value.empty() ? "" : " \\fI" + roff(o.value) + "\\fR") << "\n"
            << roff(o.help) << "\n";
    }
    for (const Block &b : blocks_of(usage))
        if (is_options(b))
            for (const std::string &line : b)
                if (!starts_with(line, " "))
                    out << ".PP\n" << roff(line) << "\n";
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

void completion_options(const std::string &usage, std::ostream &out) {
    std::string all, valued;
    for (const Option &o : options_of(usage))
        for (const std::string &n : o.names) {
            all += n + " ";
            if (!o.value.empty())
                valued += n + " ";
        }
    // A subcommand's options are the --words of its synopsis line.
    std::map<std::string, std::string> subcommands;
    for (const Block &b : blocks_of(usage))
        if (is_synopsis(b))
            for (const std::string &line : synopsis_lines(b)) {
                std::istringstream words(line);
                std::string tool, sub;
                words >> tool >> sub;
                if (sub.empty() || sub[0] == '-' || sub[0] == '[')
                    continue;
                std::string opts;
                for (std::string w; words >> w;)
                    if (starts_with(w, "[--"))
                        opts += w.substr(1, w.find_first_of(" ]") - 1) + " ";
                subcommands[sub] = opts;
            }
    out << "_rire_host_options='" << all << "'\n";
    out << "_rire_host_valued='" << valued << "'\n";
    out << "_rire_host_subcommands='";
    for (const auto &[sub, opts] : subcommands)
        out << sub << " ";
    out << "'\n_rire_host_subcommand_options() {\n    case \"$1\" in\n";
    for (const auto &[sub, opts] : subcommands)
        out << "    " << sub << ") echo '" << opts << "' ;;\n";
    out << "    esac\n}\n";
}

} // namespace

std::vector<Option> options_of(const std::string &usage) {
    std::vector<Option> options;
    for (const Block &b : blocks_of(usage)) {
        if (!is_options(b))
            continue;
        for (const std::string &line : b) {
            if (is_option_line(line))
                options.push_back(option_of_line(line));
            else if (starts_with(line, " ") && !options.empty())
                options.back().help += (options.back().help.empty() ? "" : " ") + trimmed(line);
        }
    }
    return options;
}

std::string man_page(const std::string &usage, const VerbTable &verbs, const std::string &version) {
    std::ostringstream out;
    out << ".TH RIRE\\-HOST 1 \"\" \"rire\\-host " << roff(version) << "\" \"User Commands\"\n"
        << ".SH NAME\nrire\\-host \\- run scenarios and transcript tests against the ORSK "
           "platform plugin in the host emulator\n";
    const std::vector<Block> blocks = blocks_of(usage);
    for (const Block &b : blocks)
        if (is_synopsis(b)) {
            out << ".SH SYNOPSIS\n.nf\n";
            for (const std::string &line : synopsis_lines(b))
                out << roff(line) << "\n";
            out << ".fi\n";
        }
    out << ".SH DESCRIPTION\n";
    for (const Block &b : blocks) {
        if (is_synopsis(b) || is_options(b) || is_exit_status(b))
            continue;
        out << ".PP\n";
        for (size_t i = 0; i < b.size(); i++) {
            std::string line = b[i];
            // The verbs --help goes on with are COMMANDS below.
            if (i + 1 == b.size() && line.ends_with(" Commands:"))
                line.resize(line.size() - std::string(" Commands:").size());
            out << roff(line) << "\n";
        }
    }
    man_options(usage, out);
    for (const Block &b : blocks)
        if (is_exit_status(b)) {
            out << ".SH EXIT STATUS\n.nf\n";
            for (size_t i = 1; i < b.size(); i++)
                out << roff(trimmed(b[i])) << "\n";
            out << ".fi\n";
        }
    man_commands(verbs, out);
    out << ".SH FILES\n.TP\n.I ~/.rire_host_history\nthe prompt's history\n"
        << ".SH SEE ALSO\n.BR lmdb (3)\n";
    return out.str();
}

std::string bash_completion(const std::string &usage, const VerbTable &verbs) {
    std::ostringstream out;
    out << "# bash completion for rire-host; made by `rire-host --completion bash`.\n";
    completion_options(usage, out);
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

int run(int argc, char **argv, const std::string &usage, const VerbTable &verbs,
        const std::string &version) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "--manpage" && argc == 2) {
        std::cout << man_page(usage, verbs, version);
        return 0;
    }
    if (what == "--completion" && argc == 3 && std::string(argv[2]) == "bash") {
        std::cout << bash_completion(usage, verbs);
        return 0;
    }
    std::cerr << "usage: rire-host --manpage | --completion bash\n";
    return 2;
}

} // namespace rire_host::manual
