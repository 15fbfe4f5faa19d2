#include "tools/rire-host/script.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <sstream>

#include "plugin/include/rire_orsk_records.h"
#include "tools/rire-host/suggest.h"

namespace rire_host {
namespace {

struct Token {
    std::string text;
    int column; // 1-based
};

// Where the comment of a line starts: its first '#' outside double quotes.
size_t comment_at(const std::string &line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '#' && !quoted)
            return i;
    }
    return std::string::npos;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Words split at blanks; a double-quoted part of a word keeps its blanks and
// '#', and loses its quotes: text="a b" is the word text=a b.
std::vector<Token> tokenize(const std::string &line) {
    std::vector<Token> tokens;
    tokens.reserve(8); // a verb and its arguments, without growing
    const size_t end = std::min(comment_at(line), line.size());
    size_t i = 0;
    while (i < end) {
        if (is_blank(line[i])) {
            i++;
            continue;
        }
        Token t{"", static_cast<int>(i) + 1};
        bool quoted = false;
        while (i < end && (quoted || !is_blank(line[i]))) {
            if (line[i] == '"') {
                quoted = !quoted;
                i++;
                continue;
            }
            const size_t run = i; // up to the next quote, or blank outside quotes
            while (i < end && line[i] != '"' && (quoted || !is_blank(line[i])))
                i++;
            t.text.append(line, run, i - run);
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

std::string quoted(const std::string &text) {
    return "'" + shown(text) + "'";
}

// The first byte of `line` outside a comment that is not printable ASCII, a
// blank or the CR of a CR LF line end.
std::optional<ScriptError> stray_byte(int number, const std::string &line) {
    static const std::string kBom = "\xEF\xBB\xBF";
    if (line.rfind(kBom, 0) == 0)
        return ScriptError{number, 1,
                           "byte-order mark " + shown(kBom) +
                               ": save the scenario "
                               "without one"};
    for (size_t i = 0; i < line.size() && line[i] != '#'; i++) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if ((c < 0x20 && c != '\t' && c != '\r') || c >= 0x7F)
            return ScriptError{number, static_cast<int>(i) + 1,
                               "stray byte " + shown(line.substr(i, 1)) +
                                   ": a scenario is printable ASCII text"};
    }
    return std::nullopt;
}

struct Failure {
    int column_offset; // within the value
    std::string message;
};

std::optional<uint64_t> parse_number(const std::string &text) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return v;
}

uint64_t kind_max(ArgKind kind) {
    switch (kind) {
    case ArgKind::kU8:
        return 0xFF;
    case ArgKind::kU16:
        return 0xFFFF;
    default:
        return 0xFFFFFFFFull;
    }
}

std::optional<Failure> bounded(const std::string &text, uint64_t max, uint64_t *out) {
    auto v = parse_number(text);
    if (!v && text.size() > 1 && text[0] == '-' && parse_number(text.substr(1)))
        return Failure{0, shown(text) + " is out of range (0.." + std::to_string(max) + ")"};
    if (!v)
        return Failure{0, quoted(text) + " is not a number"};
    if (*v > max)
        return Failure{0, shown(text) + " is out of range (at most " + std::to_string(max) + ")"};
    *out = *v;
    return std::nullopt;
}

std::optional<Failure> parse_signed(const std::string &text, int64_t *out) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    uint64_t magnitude = 0;
    if (!parse_number(digits))
        return Failure{0, quoted(text) + " is not a number"};
    if (bounded(digits, negative ? 0x80000000ull : 0x7FFFFFFFull, &magnitude))
        return Failure{0, shown(text) + " is out of range (-2147483648..2147483647)"};
    *out = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return std::nullopt;
}

// Splits on commas, reporting each element with its offset in `text`.
std::vector<std::pair<std::string, int>> split_list(const std::string &text) {
    std::vector<std::pair<std::string, int>> parts;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        parts.push_back({text.substr(start, comma - start), static_cast<int>(start)});
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return parts;
}

std::optional<Failure> parse_list(const std::string &text, uint64_t max,
                                  std::vector<uint32_t> *out) {
    if (text.empty())
        return std::nullopt; // "vlans=" is the empty set
    for (auto &[part, offset] : split_list(text)) {
        // A dash in front is a sign, which parse_number refuses with the number.
        size_t dash = part.find('-', 1);
        uint64_t lo = 0, hi = 0;
        if (auto f = bounded(part.substr(0, dash), max, &lo))
            return Failure{offset, f->message};
        hi = lo;
        if (dash != std::string::npos) {
            if (auto f = bounded(part.substr(dash + 1), max, &hi))
                return Failure{offset + static_cast<int>(dash) + 1, f->message};
            if (hi < lo)
                return Failure{offset, "range " + shown(part) + " runs backwards"};
        }
        if (hi - lo >= kMaxListElements - out->size())
            return Failure{offset, shown(part) + " makes the list longer than " +
                                       std::to_string(kMaxListElements) + " elements"};
        for (uint64_t v = lo; v <= hi; v++)
            out->push_back(static_cast<uint32_t>(v));
    }
    return std::nullopt;
}

std::optional<Failure> parse_pairs(const std::string &text, std::vector<Pair> *out) {
    for (auto &[part, offset] : split_list(text)) {
        size_t colon = part.find(':');
        if (colon == std::string::npos)
            return Failure{offset, quoted(part) + " is not DI:oiflist-index"};
        uint64_t di = 0, index = 0;
        if (auto f = bounded(part.substr(0, colon), 0xFFFF, &di))
            return Failure{offset, f->message};
        if (auto f = bounded(part.substr(colon + 1), 0xFFFFFFFFull, &index))
            return Failure{offset + static_cast<int>(colon) + 1, f->message};
        out->push_back({static_cast<uint32_t>(di), static_cast<uint32_t>(index)});
    }
    return std::nullopt;
}

std::optional<Failure> parse_bytes(const std::string &text, std::vector<uint8_t> *out) {
    if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return Failure{0, "bytes are written 0x followed by hex digits"};
    const std::string digits = text.substr(2);
    if (digits.empty() || digits.size() % 2 != 0)
        return Failure{0, "bytes need an even number of hex digits"};
    for (size_t i = 0; i < digits.size(); i += 2) {
        char *end = nullptr;
        std::string two = digits.substr(i, 2);
        long v = std::strtol(two.c_str(), &end, 16);
        if (*end != '\0')
            return Failure{static_cast<int>(i) + 2, quoted(two) + " is not a hex byte"};
        out->push_back(static_cast<uint8_t>(v));
    }
    return std::nullopt;
}

bool one_of(const std::vector<const char *> &words, const std::string &word) {
    return std::any_of(words.begin(), words.end(), [&](const char *w) { return word == w; });
}

std::string joined(const std::vector<const char *> &words) {
    std::string text;
    for (const char *w : words)
        text += (text.empty() ? "" : "|") + std::string(w);
    return text;
}

std::optional<Failure> parse_value(const ParamSpec &p, const std::string &text, Value *out) {
    const uint64_t max = p.max != 0 ? p.max : kind_max(p.kind);
    switch (p.kind) {
    case ArgKind::kU8:
    case ArgKind::kU16:
    case ArgKind::kU32: {
        uint64_t v = 0;
        if (auto f = bounded(text, max, &v))
            return f;
        *out = v;
        return std::nullopt;
    }
    case ArgKind::kI32: {
        int64_t v = 0;
        if (auto f = parse_signed(text, &v))
            return f;
        *out = v;
        return std::nullopt;
    }
    case ArgKind::kDi: {
        if (text == "null" || text == "invalid") {
            *out = uint64_t{text == "null" ? RIRE_DI_NULL : RIRE_DI_INVALID};
            return std::nullopt;
        }
        uint64_t v = 0;
        if (auto f = bounded(text, max, &v))
            return Failure{0, f->message + "; a DI is a number, null or invalid"};
        *out = v;
        return std::nullopt;
    }
    case ArgKind::kList: {
        std::vector<uint32_t> v;
        if (auto f = parse_list(text, max, &v))
            return f;
        *out = std::move(v);
        return std::nullopt;
    }
    case ArgKind::kPairs: {
        std::vector<Pair> v;
        if (auto f = parse_pairs(text, &v))
            return f;
        *out = std::move(v);
        return std::nullopt;
    }
    case ArgKind::kName:
        if (text.empty())
            return Failure{0, "empty value"};
        if (!p.words.empty() && !one_of(p.words, text))
            return Failure{0, quoted(text) + " is not one of " + joined(p.words) +
                                  did_you_mean(text, {p.words.begin(), p.words.end()})};
        *out = text;
        return std::nullopt;
    case ArgKind::kBytes: {
        std::vector<uint8_t> v;
        if (auto f = parse_bytes(text, &v))
            return f;
        *out = std::move(v);
        return std::nullopt;
    }
    }
    return Failure{0, "unsupported argument kind"};
}

const ParamSpec *find_param(const VerbSpec &verb, const std::string &key) {
    for (const ParamSpec &p : verb.params)
        if (key == p.key)
            return &p;
    return nullptr;
}

bool is_choice(const VerbSpec &verb, const std::string &word) {
    return one_of(verb.choice.words, word);
}

std::string choices_text(const VerbSpec &verb) {
    return joined(verb.choice.words);
}

// The keys a verb takes, as written: "old=", "new=".
std::vector<std::string> keys_of(const VerbSpec &verb) {
    std::vector<std::string> keys;
    for (const ParamSpec &p : verb.params)
        keys.push_back(std::string(p.key) + "=");
    return keys;
}

std::string listed(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

// A word without '=' that is not one of the verb's choices: the nearest
// choice or key, and what the verb takes.
std::string unexpected_word(const VerbSpec &verb, const std::string &word) {
    std::vector<std::string> takes(verb.choice.words.begin(), verb.choice.words.end());
    for (const std::string &key : keys_of(verb))
        takes.push_back(key);
    std::string text = "unexpected word " + quoted(word) + " for " + verb.name;
    if (takes.empty())
        return text + " (it takes nothing)";
    const auto near = nearest(word, takes);
    const auto key = nearest(word + "=", takes);
    if (near || key)
        return text + "; did you mean '" + (key ? *key : *near) + "'?";
    return text + (verb.choice.words.empty() ? "" : " (expected " + choices_text(verb) + ")");
}

std::string unknown_key(const VerbSpec &verb, const std::string &key) {
    const std::vector<std::string> keys = keys_of(verb);
    const std::string text = "unknown argument " + quoted(key) + " for " + verb.name;
    if (keys.empty())
        return text + " (it takes none)";
    if (const auto near = nearest(key + "=", keys))
        return text + "; did you mean '" + *near + "'?";
    return text + " (it takes " + listed(keys) + ")";
}

// Checks one line's tokens against its verb; the first fault wins, but every
// missing argument is named at once.
std::optional<ScriptError> check_command(int line, const std::vector<Token> &tokens, size_t first,
                                         const VerbSpec &verb, Args *args) {
    auto error = [line](int column, std::string message) {
        return ScriptError{line, column, std::move(message)};
    };
    for (size_t i = first; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        size_t eq = t.text.find('=');
        if (eq == std::string::npos) {
            if (!is_choice(verb, t.text))
                return error(t.column, unexpected_word(verb, t.text));
            if (!args->choice_.empty())
                return error(t.column, quoted(t.text) + " conflicts with " + quoted(args->choice_));
            args->choice_ = t.text;
            continue;
        }
        std::string key = t.text.substr(0, eq);
        const ParamSpec *p = find_param(verb, key);
        if (p == nullptr)
            return error(t.column, unknown_key(verb, key));
        if (args->has(key))
            return error(t.column, "argument " + quoted(key) + " given twice");
        Value v;
        if (auto f = parse_value(*p, t.text.substr(eq + 1), &v))
            return error(t.column + static_cast<int>(eq) + 1 + f->column_offset,
                         key + ": " + f->message);
        args->set(std::move(key), std::move(v));
    }
    const int verb_column = tokens[0].column;
    std::vector<std::string> missing;
    for (const ParamSpec &p : verb.params)
        if (p.required && !args->has(p.key))
            missing.push_back(std::string(p.key) + "=");
    if (verb.choice.required && args->choice_.empty())
        missing.push_back("one of " + choices_text(verb));
    if (!missing.empty())
        return error(verb_column, verb.name + " needs " + listed(missing));
    if (verb.check)
        if (auto fault = verb.check(*args))
            return error(verb_column, verb.name + ": " + *fault);
    return std::nullopt;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

} // namespace

const Value *Args::find(std::string_view key) const {
    for (const auto &[k, v] : values_)
        if (k == key)
            return &v;
    return nullptr;
}

uint32_t Args::u32(std::string_view key, uint32_t fallback) const {
    const Value *v = find(key);
    return v == nullptr ? fallback : static_cast<uint32_t>(std::get<uint64_t>(*v));
}

int32_t Args::i32(std::string_view key, int32_t fallback) const {
    const Value *v = find(key);
    return v == nullptr ? fallback : static_cast<int32_t>(std::get<int64_t>(*v));
}

const std::vector<uint32_t> &Args::list(std::string_view key) const {
    static const std::vector<uint32_t> empty;
    const Value *v = find(key);
    return v == nullptr ? empty : std::get<std::vector<uint32_t>>(*v);
}

const std::vector<Pair> &Args::pairs(std::string_view key) const {
    static const std::vector<Pair> empty;
    const Value *v = find(key);
    return v == nullptr ? empty : std::get<std::vector<Pair>>(*v);
}

std::string Args::name(std::string_view key, const std::string &fallback) const {
    const Value *v = find(key);
    return v == nullptr ? fallback : std::get<std::string>(*v);
}

std::optional<std::vector<uint8_t>> Args::bytes(std::string_view key) const {
    const Value *v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return std::get<std::vector<uint8_t>>(*v);
}

std::string shown(const std::string &text) {
    static const char *kDigits = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (i == kShownChars)
            return out + "\u2026";
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += std::string("\\x") + kDigits[c >> 4] + kDigits[c & 0xF];
    }
    return out;
}

void VerbTable::add(VerbSpec verb) {
    verb.group = group_;
    by_name_.emplace(verb.name, verbs_.size());
    for (size_t blank = verb.name.find(' '); blank != std::string::npos;
         blank = verb.name.find(' ', blank + 1))
        prefixes_.insert(verb.name.substr(0, blank));
    verbs_.push_back(std::move(verb));
}

std::vector<std::string> VerbTable::first_words() const {
    std::vector<std::string> words;
    for (const VerbSpec &v : verbs_)
        if (std::string word = v.name.substr(0, v.name.find(' '));
            std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(std::move(word));
    return words;
}

std::vector<std::string> VerbTable::subcommands(const std::string &word) const {
    std::vector<std::string> words;
    const std::string prefix = word + " ";
    for (const VerbSpec &v : verbs_)
        if (v.name.starts_with(prefix))
            words.push_back(v.name.substr(prefix.size()));
    return words;
}

std::string no_verb(const VerbTable &verbs, const std::string &words) {
    const size_t blank = words.find(' ');
    const std::string first = words.substr(0, blank);
    if (verbs.is_prefix(first)) {
        const auto subs = verbs.subcommands(first);
        std::string choices;
        for (const std::string &sub : subs)
            choices += (choices.empty() ? "" : "|") + sub;
        if (blank == std::string::npos)
            return quoted(first) + " needs a subcommand, one of " + choices;
        const std::string sub = words.substr(blank + 1);
        const auto near = nearest(sub, subs);
        return "unknown verb " + quoted(words) +
               (near ? "; did you mean '" + first + " " + *near + "'?" : "") + " (" + first +
               " takes " + choices + ")";
    }
    const auto near = nearest(first, verbs.first_words());
    return "unknown verb " + quoted(words) +
           (near ? "; did you mean '" + *near + "'?" : " (help lists the verbs)");
}

const VerbSpec *VerbTable::find(const std::string &name) const {
    const auto at = by_name_.find(name);
    return at == by_name_.end() ? nullptr : &verbs_[at->second];
}

bool VerbTable::is_prefix(const std::string &word) const {
    return prefixes_.contains(word);
}

namespace {

// "help [VERB]" looks its text up when the line is checked, so that the
// command needs nothing but its arguments when it runs.
std::variant<std::monostate, Command, ScriptError> help_command(int number, const std::string &line,
                                                                const std::vector<Token> &tokens,
                                                                const VerbSpec &help,
                                                                const VerbTable &verbs) {
    std::string topic;
    for (size_t i = 1; i < tokens.size(); i++)
        topic += (i == 1 ? "" : " ") + tokens[i].text;
    auto text = describe(verbs, topic);
    if (!text)
        return ScriptError{number, tokens[1].column, "help: " + no_verb(verbs, topic)};
    Command cmd{number, trim(line.substr(0, line.find('#'))), &help, {}};
    cmd.args.set("text", std::move(*text));
    return cmd;
}

} // namespace

std::variant<std::monostate, Command, ScriptError> parse_line(int number, const std::string &line,
                                                              const VerbTable &verbs) {
    if (auto e = stray_byte(number, line))
        return *e;
    std::vector<Token> tokens = tokenize(line);
    if (tokens.empty())
        return std::monostate{};
    std::string name = tokens[0].text;
    size_t first = 1;
    if (verbs.is_prefix(name)) {
        if (tokens.size() < 2 || !verbs.find(name + " " + tokens[1].text)) {
            int column = tokens.size() < 2 ? tokens[0].column : tokens[1].column;
            return ScriptError{
                number, column,
                no_verb(verbs, tokens.size() < 2 ? name : name + " " + tokens[1].text)};
        }
        name += " " + tokens[1].text;
        first = 2;
    }
    const VerbSpec *verb = verbs.find(name);
    if (verb != nullptr && name == "help")
        return help_command(number, line, tokens, *verb, verbs);
    if (verb == nullptr)
        return ScriptError{number, tokens[0].column, no_verb(verbs, name)};
    Command cmd{number, trim(line.substr(0, comment_at(line))), verb, {}};
    if (auto e = check_command(number, tokens, first, *verb, &cmd.args))
        return *e;
    return cmd;
}

std::optional<Script> read_script(std::istream &in, const VerbTable &verbs,
                                  const std::function<void(const ScriptError &)> &report) {
    Script script;
    const bool seekable = in.tellg() != std::streampos(-1);
    bool bad = false;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        auto r = parse_line(number, line, verbs);
        if (auto *cmd = std::get_if<Command>(&r); cmd != nullptr && !bad && !script.rest) {
            script.commands.push_back(std::move(*cmd));
            if (seekable && script.commands.size() == kKeptCommands) {
                script.rest = in.tellg();
                script.rest_line = number + 1;
            }
        } else if (auto *e = std::get_if<ScriptError>(&r)) {
            report(*e);
            bad = true;
        }
    }
    if (bad)
        return std::nullopt;
    return script;
}

namespace {

// "word-3" -> "word-", for keys that differ only by their number.
std::string numbered_stem(const std::string &key) {
    const size_t digits = key.find_last_not_of("0123456789");
    return digits + 1 < key.size() && key[digits] == '-' ? key.substr(0, digits + 1) : "";
}

void describe_verb(const VerbSpec &v, std::ostream &out) {
    out << "  " << verb_synopsis(v) << "\n";
    std::istringstream help(v.help);
    for (std::string line; std::getline(help, line);)
        out << "      " << line << "\n";
    for (const ParamSpec &p : v.params)
        if (p.help && *p.help)
            out << "        " << p.key << ": " << p.help << "\n";
}

// What a verb is for, in a line of the index: its help's first clause, or
// its first words up to kWidth characters.
std::string summary(const char *text, size_t width) {
    std::string s = text ? text : "";
    std::replace(s.begin(), s.end(), '\n', ' ');
    const size_t clause = std::min({s.find(": "), s.find("; "), s.find(" (")});
    if (clause != std::string::npos && clause <= width && clause >= width / 3)
        return s.substr(0, clause);
    if (s.size() <= width)
        return s;
    return s.substr(0, s.rfind(' ', width)) + " ...";
}

} // namespace

std::vector<std::string> completions(const VerbTable &verbs, const std::string &before) {
    std::vector<Token> tokens = tokenize(before);
    if (before.empty() || is_blank(before.back()))
        tokens.push_back({"", static_cast<int>(before.size()) + 1});
    const std::string typed = tokens.back().text;
    tokens.pop_back();
    std::vector<std::string> words;
    if (tokens.empty() || (tokens.size() == 1 && tokens[0].text == "help"))
        words = verbs.first_words();
    else if (tokens.size() == 1 && verbs.is_prefix(tokens[0].text))
        words = verbs.subcommands(tokens[0].text);
    else if (tokens.size() == 2 && tokens[0].text == "help")
        words = verbs.subcommands(tokens[1].text);
    else {
        const bool two = verbs.is_prefix(tokens[0].text) && tokens.size() > 1;
        const VerbSpec *verb =
            verbs.find(two ? tokens[0].text + " " + tokens[1].text : tokens[0].text);
        if (verb == nullptr)
            return {};
        const size_t eq = typed.find('=');
        const ParamSpec *p =
            eq == std::string::npos ? nullptr : find_param(*verb, typed.substr(0, eq));
        if (p != nullptr) // a key's value, when the key takes words
            for (const char *word : p->words)
                words.push_back(typed.substr(0, eq + 1) + word);
        if (eq == std::string::npos) {
            words.assign(verb->choice.words.begin(), verb->choice.words.end());
            for (const std::string &key : keys_of(*verb))
                words.push_back(key);
        }
    }
    std::vector<std::string> matches;
    for (const std::string &word : words)
        if (word.starts_with(typed))
            matches.push_back(word);
    return matches;
}

std::string verb_index(const VerbTable &verbs) {
    constexpr size_t kFolded = 15; // a first word with more verbs gets one line
    constexpr size_t kWidth = 22;
    std::ostringstream out;
    std::string group;
    std::set<std::string> folded;
    for (const VerbSpec &v : verbs.all()) {
        if (v.group != group)
            out << (group.empty() ? "" : "\n") << (group = v.group) << ":\n";
        const std::string first = v.name.substr(0, v.name.find(' '));
        const size_t many = verbs.subcommands(first).size();
        std::string name = v.name, help = summary(v.help, 78 - kWidth - 2);
        if (many > kFolded) {
            if (!folded.insert(first).second)
                continue;
            name = first + " ...";
            help = std::to_string(many) + " verbs: help " + first;
        }
        name.resize(std::max(kWidth, name.size() + 1), ' ');
        out << "  " << name << help << "\n";
    }
    out << "\nhelp VERB shows a verb's arguments; help dump, help expect: every verb of a word.\n";
    return out.str();
}

std::string verb_synopsis(const VerbSpec &v) {
    static const char *kinds[] = {"0..255", "0..65535",     "u32",  "i32",  "DI|null|invalid",
                                  "list",   "DI:index,...", "word", "0xHEX"};
    std::ostringstream out;
    out << v.name;
    if (!v.choice.words.empty())
        out << (v.choice.required ? " " : " [") << choices_text(v)
            << (v.choice.required ? "" : "]");
    std::set<std::string> stems; // numbered keys are shown once, as word-N
    for (const ParamSpec &p : v.params) {
        const std::string stem = numbered_stem(p.key);
        if (!stem.empty() && !stems.insert(stem).second)
            continue;
        out << (p.required ? " " : " [") << (stem.empty() ? p.key : stem + "N") << "="
            << (p.words.empty() ? kinds[static_cast<int>(p.kind)] : joined(p.words))
            << (p.required ? "" : "]");
    }
    return out.str();
}

std::optional<std::string> describe(const VerbTable &verbs, const std::string &topic) {
    if (topic.empty())
        return verb_index(verbs);
    std::ostringstream out;
    for (const VerbSpec &v : verbs.all())
        if (topic == "all" || v.name == topic || v.name.rfind(topic + " ", 0) == 0)
            describe_verb(v, out);
    if (out.str().empty())
        return std::nullopt;
    return out.str();
}

} // namespace rire_host
