#include "tools/rire-host/script.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "plugin/include/rire_orsk_records.h"

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
    const size_t end = std::min(comment_at(line), line.size());
    size_t i = 0;
    while (i < end) {
        if (is_blank(line[i])) {
            i++;
            continue;
        }
        Token t{"", static_cast<int>(i) + 1};
        bool quoted = false;
        for (; i < end && (quoted || !is_blank(line[i])); i++) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                t.text += line[i];
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
            return Failure{0, quoted(text) + " is not one of " + joined(p.words)};
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

// Checks one line's tokens against its verb; the first fault wins.
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
                return error(t.column, "unexpected word " + quoted(t.text) + " for " + verb.name +
                                           (verb.choice.words.empty()
                                                ? std::string()
                                                : " (expected " + choices_text(verb) + ")"));
            if (!args->choice_.empty())
                return error(t.column, quoted(t.text) + " conflicts with " + quoted(args->choice_));
            args->choice_ = t.text;
            continue;
        }
        const std::string key = t.text.substr(0, eq);
        const ParamSpec *p = find_param(verb, key);
        if (p == nullptr)
            return error(t.column, "unknown argument " + quoted(key) + " for " + verb.name);
        if (args->has(key))
            return error(t.column, "argument " + quoted(key) + " given twice");
        Value v;
        if (auto f = parse_value(*p, t.text.substr(eq + 1), &v))
            return error(t.column + static_cast<int>(eq) + 1 + f->column_offset,
                         key + ": " + f->message);
        args->values_[key] = std::move(v);
    }
    const int verb_column = tokens[0].column;
    for (const ParamSpec &p : verb.params)
        if (p.required && !args->has(p.key))
            return error(verb_column, verb.name + " needs " + p.key + "=");
    if (verb.choice.required && args->choice_.empty())
        return error(verb_column, verb.name + " needs one of " + choices_text(verb));
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

uint32_t Args::u32(const std::string &key, uint32_t fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : static_cast<uint32_t>(std::get<uint64_t>(it->second));
}

int32_t Args::i32(const std::string &key, int32_t fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : static_cast<int32_t>(std::get<int64_t>(it->second));
}

const std::vector<uint32_t> &Args::list(const std::string &key) const {
    static const std::vector<uint32_t> empty;
    auto it = values_.find(key);
    return it == values_.end() ? empty : std::get<std::vector<uint32_t>>(it->second);
}

const std::vector<Pair> &Args::pairs(const std::string &key) const {
    static const std::vector<Pair> empty;
    auto it = values_.find(key);
    return it == values_.end() ? empty : std::get<std::vector<Pair>>(it->second);
}

std::string Args::name(const std::string &key, const std::string &fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : std::get<std::string>(it->second);
}

std::optional<std::vector<uint8_t>> Args::bytes(const std::string &key) const {
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return std::get<std::vector<uint8_t>>(it->second);
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
    verbs_.push_back(std::move(verb));
}

const VerbSpec *VerbTable::find(const std::string &name) const {
    for (const VerbSpec &v : verbs_)
        if (v.name == name)
            return &v;
    return nullptr;
}

bool VerbTable::is_prefix(const std::string &word) const {
    const std::string prefix = word + " ";
    return std::any_of(verbs_.begin(), verbs_.end(),
                       [&](const VerbSpec &v) { return v.name.rfind(prefix, 0) == 0; });
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
        return ScriptError{number, tokens[1].column, "help: no verb " + quoted(topic)};
    Command cmd{number, trim(line.substr(0, line.find('#'))), &help, {}};
    cmd.args.values_["text"] = std::move(*text);
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
            return ScriptError{number, column, quoted(name) + " needs a known subcommand"};
        }
        name += " " + tokens[1].text;
        first = 2;
    }
    const VerbSpec *verb = verbs.find(name);
    if (verb != nullptr && name == "help")
        return help_command(number, line, tokens, *verb, verbs);
    if (verb == nullptr)
        return ScriptError{number, tokens[0].column, "unknown verb " + quoted(name)};
    Command cmd{number, trim(line.substr(0, comment_at(line))), verb, {}};
    if (auto e = check_command(number, tokens, first, *verb, &cmd.args))
        return *e;
    return cmd;
}

size_t check_script(std::istream &in, const VerbTable &verbs,
                    const std::function<void(const ScriptError &)> &report, std::ostream *copy) {
    size_t bad = 0;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        if (copy != nullptr)
            *copy << line << '\n';
        if (auto r = parse_line(number, line, verbs); auto *e = std::get_if<ScriptError>(&r)) {
            report(*e);
            bad++;
        }
    }
    return bad;
}

std::optional<Command> ScriptReader::next() {
    for (std::string line; std::getline(in_, line);) {
        auto r = parse_line(++number_, line, verbs_);
        if (auto *cmd = std::get_if<Command>(&r))
            return std::move(*cmd);
    }
    return std::nullopt;
}

namespace {

void describe_verb(const VerbSpec &v, std::ostream &out) {
    out << "  " << verb_synopsis(v) << "\n";
    std::istringstream help(v.help);
    for (std::string line; std::getline(help, line);)
        out << "      " << line << "\n";
    for (const ParamSpec &p : v.params)
        if (p.help && *p.help)
            out << "        " << p.key << ": " << p.help << "\n";
}

} // namespace

std::string verb_synopsis(const VerbSpec &v) {
    static const char *kinds[] = {"0..255", "0..65535",     "u32",  "i32",  "DI|null|invalid",
                                  "list",   "DI:index,...", "word", "0xHEX"};
    std::ostringstream out;
    out << v.name;
    if (!v.choice.words.empty())
        out << (v.choice.required ? " " : " [") << choices_text(v)
            << (v.choice.required ? "" : "]");
    for (const ParamSpec &p : v.params)
        out << (p.required ? " " : " [") << p.key << "="
            << (p.words.empty() ? kinds[static_cast<int>(p.kind)] : joined(p.words))
            << (p.required ? "" : "]");
    return out.str();
}

std::optional<std::string> describe(const VerbTable &verbs, const std::string &topic) {
    std::ostringstream out;
    for (const VerbSpec &v : verbs.all())
        if (topic.empty() || v.name == topic || v.name.rfind(topic + " ", 0) == 0)
            describe_verb(v, out);
    if (out.str().empty())
        return std::nullopt;
    return out.str();
}

} // namespace rire_host
