// The scenario language of rire-host.
//
// One command per line: a verb (one or two words), then positional words and
// key=value arguments in any order. '#' starts a comment; blank lines are
// skipped. Numbers are decimal or 0x-hex; lists are comma-separated, with
// ranges written a-b, kMaxListElements at most. A line is printable ASCII
// outside its comment; a CR before the line end is ignored. Every verb declares its arguments in a
// VerbSpec, and a whole script is checked against those declarations before anything runs, so a bad
// line is reported with its line and column and nothing is applied. A script is read and parsed
// once: the run takes the commands the check kept.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

namespace rire_host {

class Session;

enum class ArgKind {
    kU8,    // 0..255
    kU16,   // 0..65535
    kU32,   // 0..2^32-1
    kI32,   // signed 32-bit
    kDi,    // a DI: a number, "null" (0) or "invalid" (all ones)
    kList,  // u32 list with ranges: 1,2,10-20
    kPairs, // DI:oiflist-index pairs: 100:12,200:13
    kName,  // a word; one of ParamSpec::words when those are given
    kBytes, // hex bytes: 0x0900000000000000
};

// A list argument expands to this many numbers at most.
constexpr size_t kMaxListElements = 65536;
// A word quoted in an error message is cut after this many characters.
constexpr size_t kShownChars = 40;

// `text` as an error message shows a user's word: bytes outside printable
// ASCII escaped (\x00, \xEF), cut after kShownChars characters with "…".
std::string shown(const std::string &text);

struct ParamSpec {
    const char *key;
    ArgKind kind;
    bool required;
    const char *help;
    uint64_t max = 0; // upper bound for numbers and list elements; 0 means the kind's own
    std::vector<const char *> words = {}; // the words a kName accepts; empty: any word
};

// A set of words of which a command takes at most one (exactly one when
// `required`), e.g. add|delete.
struct ChoiceSpec {
    std::vector<const char *> words;
    bool required;
};

using Pair = std::pair<uint32_t, uint32_t>;
using Value = std::variant<uint64_t, int64_t, std::vector<uint32_t>, std::vector<Pair>, std::string,
                           std::vector<uint8_t>>;

// The checked arguments of one command: a few, kept in the order given and
// looked up by a walk, which costs less than a tree for so few.
class Args {
  public:
    bool has(std::string_view key) const { return find(key) != nullptr; }
    uint32_t u32(std::string_view key, uint32_t fallback = 0) const;
    int32_t i32(std::string_view key, int32_t fallback = 0) const;
    const std::vector<uint32_t> &list(std::string_view key) const;
    const std::vector<Pair> &pairs(std::string_view key) const;
    std::string name(std::string_view key, const std::string &fallback = {}) const;
    std::optional<std::vector<uint8_t>> bytes(std::string_view key) const;
    // The positional word given, or empty.
    const std::string &choice() const { return choice_; }
    bool empty() const { return values_.empty(); }
    // Gives `key` its value; the check has made sure it is not given twice.
    void set(std::string key, Value value) {
        values_.emplace_back(std::move(key), std::move(value));
    }

    std::string choice_;

  private:
    const Value *find(std::string_view key) const;

    std::vector<std::pair<std::string, Value>> values_;
};

using Handler = std::function<void(Session &, const Args &)>;
// A verb's own rule across its arguments, checked with the rest of the script
// before anything runs: the fault's text, or nothing when the command is fine.
using Check = std::function<std::optional<std::string>(const Args &)>;

struct VerbSpec {
    std::string name; // "flush", "dump queue"
    std::vector<ParamSpec> params;
    ChoiceSpec choice;
    const char *help;
    Handler run;
    Check check = {};
    std::string group = {}; // set by VerbTable::add: what the verb is for, in `help`
};

class VerbTable {
  public:
    // The verbs added from now on are listed under `name` in the help index.
    void group(std::string name) { group_ = std::move(name); }
    void add(VerbSpec verb);
    const VerbSpec *find(const std::string &name) const;
    // True when `word` begins a two-word verb ("dump", "show").
    bool is_prefix(const std::string &word) const;
    const std::vector<VerbSpec> &all() const { return verbs_; }
    // The first word of every verb, once, in table order.
    std::vector<std::string> first_words() const;
    // The second words of the verbs `word` begins ("dump" -> queue, pss, ...).
    std::vector<std::string> subcommands(const std::string &word) const;

  private:
    std::vector<VerbSpec> verbs_;
    // Looked up for every scenario line: hashed.
    std::unordered_map<std::string, std::size_t> by_name_; // the first verb of a name
    std::unordered_set<std::string> prefixes_;             // the words before a blank of a name
    std::string group_;
};

// Why `words` names no verb, with the nearest verb or the subcommands of its
// first word: "unknown verb 'hw-dnoe'; did you mean 'hw-done'?".
std::string no_verb(const VerbTable &verbs, const std::string &words);

struct Command {
    int line;
    std::string text; // the source line, comment stripped and trimmed
    const VerbSpec *verb;
    Args args;
};

struct ScriptError {
    int line;
    int column;
    std::string message;
};

// Parses and checks one line: nothing for a blank or comment line, else the
// command or the line's first fault. A "help" verb, when the table has one,
// takes any words: they name the verbs whose help (describe) goes into the
// command's "text" argument.
std::variant<std::monostate, Command, ScriptError> parse_line(int number, const std::string &line,
                                                              const VerbTable &verbs);

// A script checked whole: its first commands, kept so that they are not read
// or parsed again to run them, and where the rest starts when it did not all
// fit. A scenario of millions of lines so runs in bounded memory.
struct Script {
    std::deque<Command> commands;
    std::optional<std::streampos> rest; // the line after the last command kept
    int rest_line = 0;                  // its number
};
// Commands kept at most when the stream can be read again from a position
// (about 600 bytes each); standard input is kept whole.
constexpr size_t kKeptCommands = 1 << 16;

// Reads a whole script, checking every line: the script, or nothing when a
// line is bad, after each bad line went to `report`.
std::optional<Script> read_script(std::istream &in, const VerbTable &verbs,
                                  const std::function<void(const ScriptError &)> &report);

// What Tab may complete the last word of `before` (the line up to the cursor)
// to: a verb, a subcommand ("dump q" -> "queue"), a verb's choice word, its
// argument keys with their '=' ("re" -> "req=") or the words a key takes
// ("db=h" -> "db=hw_update"); whole words, in table order.
std::vector<std::string> completions(const VerbTable &verbs, const std::string &before);

// The language reference, built from the verb table: the index (verb_index)
// when `topic` is empty, every verb in full for "all", else the verb it names or, for a first word
// such as "dump", every verb it begins. Nothing when `topic` names no verb.
std::optional<std::string> describe(const VerbTable &verbs, const std::string &topic = {});
// The index `help` prints: one line per verb, grouped by purpose; a first
// word with many verbs (the faults) is one line naming them.
std::string verb_index(const VerbTable &verbs);
// One verb's line of that help: "link-update req=u32 ... [opcode=u32]".
std::string verb_synopsis(const VerbSpec &verb);

} // namespace rire_host
