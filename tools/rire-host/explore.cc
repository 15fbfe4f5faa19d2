#include "tools/rire-host/explore.h"

#include "tools/rire-host/command_line.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "emu/base/faults.h"
#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/pending_di.h"
#include "tools/rire-host/check.h"
#include "tools/rire-host/explore_generator.h"
#include "tools/rire-host/explore_view.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host::explore {
namespace {

using transcript::kNewProcess;

struct Options {
    uint64_t seed = 1;
    double seconds = 0;
    uint64_t runs = 0;
    uint32_t steps = 200;
    bool faults = false;
    std::string out = "explore-divergence.t";
    std::string state;
    Format format = Format::kText;
    std::string plugin;
    bool plant = false; // the self-test of explore: the model forgets repeated holds
};

// --- one history against the model --------------------------------------------

struct Totals {
    uint64_t runs = 0, steps = 0, restarts = 0, processes = 0, kills = 0, faults_fired = 0;
};
// The counts a process of a run adds up; `runs` is the runner's own.
constexpr uint64_t Totals::*kProcessCounts[] = {
    &Totals::steps, &Totals::restarts, &Totals::processes, &Totals::kills, &Totals::faults_fired};

struct Outcome {
    bool diverged = false;
    size_t step = 0; // the line that diverged, 0-based
    Difference difference;
};

// The store as emu::pss::snapshot() lists it: what one process leaves the next.
using Store = std::map<std::string, emu::pss::Records>;

// Where a process of a run starts: on a fresh state directory (no stores),
// or at line `at`, after a "%% new process" line, on the store the process
// before it left: one state, or the two a process killed in a flush may
// leave (none of the flush, all of it).
struct Start {
    size_t at = 0;
    std::vector<Store> stores;
};

// What a process of a run tells the runner: at the end of the history or at
// its divergence (kEnd), at a "%% new process" line (kNewProcess), or as its
// last words when a fault kills it inside a flush (kKilled).
struct Report {
    enum Kind : uint8_t { kEnd, kNewProcess, kKilled } kind = kEnd;
    size_t at = 0;                  // the new process line, or the step killed
    std::vector<std::string> lines; // the history, with the lines it drew
    uint64_t rng = 0;               // the generator's state
    Totals totals;                  // this process's counts
    Outcome outcome;
    std::vector<Store> stores; // what the next process may find
};

// A report crosses the pipe as numbers and length-prefixed texts.
class Writer {
  public:
    void num(uint64_t n) { out_.append(reinterpret_cast<const char *>(&n), sizeof n); }
    void text(std::string_view s) {
        num(s.size());
        out_.append(s);
    }
    void bytes(const emu::base::bytes::Bytes &b) {
        text({reinterpret_cast<const char *>(b.data()), b.size()});
    }
    const std::string &out() const { return out_; }

  private:
    std::string out_;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    uint64_t num() {
        uint64_t n = 0;
        std::memcpy(&n, take(sizeof n).data(), sizeof n);
        return n;
    }
    std::string text() { return std::string(take(num())); }
    emu::base::bytes::Bytes bytes() {
        const std::string_view b = take(num());
        return {b.begin(), b.end()};
    }

  private:
    std::string_view take(uint64_t n) {
        if (n > in_.size() - at_)
            throw std::runtime_error("a process of the run sent a cut report");
        at_ += n;
        return in_.substr(at_ - n, n);
    }
    std::string_view in_;
    size_t at_ = 0;
};

std::string encode(const Report &r) {
    Writer w;
    w.num(r.kind);
    w.num(r.at);
    w.num(r.lines.size());
    for (const std::string &line : r.lines)
        w.text(line);
    w.num(r.rng);
    for (uint64_t Totals::*count : kProcessCounts)
        w.num(r.totals.*count);
    w.num(r.outcome.diverged);
    w.num(r.outcome.step);
    for (const std::string *s :
         {&r.outcome.difference.wanted, &r.outcome.difference.got, &r.outcome.difference.expect})
        w.text(*s);
    w.num(r.stores.size());
    for (const Store &store : r.stores) {
        w.num(store.size());
        for (const auto &[name, records] : store) {
            w.text(name);
            w.num(records.size());
            for (const auto &[key, value] : records) {
                w.bytes(key);
                w.bytes(value);
            }
        }
    }
    return w.out();
}

Report decode(std::string_view in) {
    Reader rd(in);
    Report r;
    r.kind = static_cast<Report::Kind>(rd.num());
    r.at = rd.num();
    for (uint64_t n = rd.num(); n > 0; n--)
        r.lines.push_back(rd.text());
    r.rng = rd.num();
    for (uint64_t Totals::*count : kProcessCounts)
        r.totals.*count = rd.num();
    r.outcome.diverged = rd.num() != 0;
    r.outcome.step = rd.num();
    for (std::string *s :
         {&r.outcome.difference.wanted, &r.outcome.difference.got, &r.outcome.difference.expect})
        *s = rd.text();
    for (uint64_t n = rd.num(); n > 0; n--) {
        Store &store = r.stores.emplace_back();
        for (uint64_t dbs = rd.num(); dbs > 0; dbs--) {
            emu::pss::Records &records = store[rd.text()];
            for (uint64_t k = rd.num(); k > 0; k--) {
                emu::base::bytes::Bytes key = rd.bytes();
                records.emplace_back(std::move(key), rd.bytes());
            }
        }
    }
    return r;
}

// The store `s` with the framework's queued updates applied, as a flush
// that commits applies them.
Store with_queued(Store s) {
    const auto names = emu::pss::services();
    for (const emu::pss::Pending &p : emu::pss::pending()) {
        const auto name = names.find(p.service);
        if (name == names.end() || p.key.empty())
            continue;
        emu::pss::Records &records = s[name->second];
        std::erase_if(records, [&](const auto &r) { return r.first == p.key; });
        if (p.kind == emu::pss::Kind::kWrite)
            records.emplace_back(p.key, p.value);
    }
    return s;
}

// A database's records by key, so that stores compare whatever their order.
std::map<emu::base::bytes::Bytes, emu::base::bytes::Bytes> by_key(const Store &s,
                                                                  const std::string &name) {
    const auto records = s.find(name);
    return records == s.end() ? std::map<emu::base::bytes::Bytes, emu::base::bytes::Bytes>{}
                              : std::map(records->second.begin(), records->second.end());
}

// The first record where `got` is not `want`, as the expectation that
// states the wanted one; nothing when the stores hold the same records.
std::optional<Difference> store_difference(const Store &want, const Store &got) {
    std::set<std::string> names;
    for (const Store *s : {&want, &got})
        for (const auto &entry : *s)
            names.insert(entry.first);
    const auto services = emu::pss::services();
    for (const std::string &name : names) {
        uint32_t service = 0;
        for (const auto &[type, n] : services)
            service = n == name ? type : service;
        const auto w = by_key(want, name), g = by_key(got, name);
        auto record = [&](const emu::base::bytes::Bytes &key) {
            return "record db=" + name +
                   " key=" + std::to_string(decode_key(service, key).value_or(0));
        };
        auto bytes = [](const emu::base::bytes::Bytes &b) {
            return " bytes=0x" + emu::base::bytes::hex(b.data(), b.size(), b.size());
        };
        for (const auto &[key, value] : w)
            if (const auto it = g.find(key); it == g.end() || it->second != value)
                return Difference{record(key) + bytes(value),
                                  it == g.end() ? "no " + record(key)
                                                : record(key) + bytes(it->second),
                                  "expect " + record(key) + bytes(value)};
        for (const auto &[key, value] : g)
            if (!w.contains(key))
                return Difference{"no " + record(key), record(key) + bytes(value),
                                  "expect no-" + record(key)};
    }
    return std::nullopt;
}

// Refusals the plugin always reports, with the error records each brings: a
// refused write (the framework call's and the write's own), a refused
// deletion, a TLV refused while encoding (the utility's and the write's).
constexpr std::pair<emu::base::faults::Id, uint32_t> kReported[] = {
    {emu::base::faults::Id::kPssWriteRefuse, 2},
    {emu::base::faults::Id::kPssDeleteRefuse, 1},
    {emu::base::faults::Id::kTlvAddRefuse, 2},
};

// The firings of each fault-table row so far.
std::vector<uint64_t> firings() {
    std::vector<uint64_t> n;
    for (const auto &row : emu::base::faults::rows())
        n.push_back(emu::base::faults::fired(row.id));
    return n;
}

// The host faults the forwarding handlers meet, the plugin's failed
// allocations and a refused or empty service lookup: the model predicts all they do
// (explore_model.h), so a step they decide is checked in full; but which allocation of a shuffled
// recovery walk fails only the host knows.
bool modelled(emu::base::faults::Id id, bool walk_known) {
    using emu::base::faults::Id;
    return id == Id::kImLoopbackError || id == Id::kL3lifProgramError ||
           id == Id::kPdbModinfoError || id == Id::kHeartbeatSendError ||
           id == Id::kPssLookupRefuse || id == Id::kPssLookupZero ||
           (id == Id::kLibcMallocFail && walk_known);
}

uint64_t faults_fired() {
    uint64_t n = 0;
    for (const auto &row : emu::base::faults::rows())
        n += emu::base::faults::fired(row.id);
    return n;
}

uint32_t errors_in(const std::vector<Logged> &log) {
    return static_cast<uint32_t>(
        std::count_if(log.begin(), log.end(), [](const Logged &l) { return l.error; }));
}

// The text of an expectation's count of error records.
std::string errors_expect(uint32_t n) {
    return n == 0 ? "expect no-log error" : "expect log error count=" + std::to_string(n);
}

uint64_t unmodelled_fired(bool walk_known) {
    uint64_t n = 0;
    for (const auto &row : emu::base::faults::rows())
        if (!modelled(row.id, walk_known))
            n += emu::base::faults::fired(row.id);
    return n;
}

// Writes the report whole to `fd`.
void send(int fd, const Report &r) {
    const std::string text = encode(r);
    for (size_t at = 0; at < text.size();) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n <= 0)
            return;
        at += static_cast<size_t>(n);
    }
}

// What a child leaves where the runner reads it even when the child dies
// without a word (a crash): the line it runs and the lines it drew, one
// after another with a newline each. Shared memory, so keeping it costs no
// system call.
struct Journal {
    static constexpr size_t kBytes = 1 << 20;
    uint64_t running = 0; // the line running, 1-based; 0 before the first
    uint64_t used = 0;    // bytes of `drawn`
    char drawn[kBytes - 2 * sizeof(uint64_t)];

    void draw(const std::string &line) {
        if (line.size() + 1 <= sizeof drawn - used) {
            std::memcpy(drawn + used, line.data(), line.size());
            drawn[used + line.size()] = '\n';
            used += line.size() + 1;
        }
    }
};

// One process of a run, inside the child process the runner forked for it:
// boots on the state directory (fresh, or as a new process on the store the
// one before left), runs lines from the history, drawing more when asked,
// comparing after each, and stops at the first divergence, at the end, or
// at a "%% new process" line, the end of this process.
class Process {
  public:
    Process(const Options &o, const VerbTable &verbs) : o_(o), verbs_(verbs) {}

    Report run(const std::string &dir, std::vector<std::string> lines, const Start &from,
               bool drawing, uint64_t rng_state, int fd, Journal &journal) {
        Rng rng(rng_state);
        Generator gen(rng, o_.faults);
        std::vector<std::string> drained;
        auto draw = [&](const Model &m, size_t i) -> std::optional<std::string> {
            if (i < o_.steps)
                return gen.next(m);
            if (drained.empty())
                drained = gen.drain(m);
            const size_t at = i - o_.steps;
            return at < drained.size() ? std::optional<std::string>(drained[at]) : std::nullopt;
        };
        lines_ = &lines;
        emu::base::faults::set_last_words([&] { last_words(rng, fd); });
        Report r;
        r.kind = Report::kEnd;
        if (auto d = from.stores.empty() ? first_boot(dir) : new_process(dir, lines, from))
            r.outcome = Outcome{true, from.stores.empty() ? 0 : from.at - 1, *d};
        for (size_t i = from.at; !r.outcome.diverged; i++) {
            if (i == lines.size()) {
                const auto line = drawing ? draw(model_, i) : std::nullopt;
                if (!line)
                    break;
                lines.push_back(*line);
                journal.draw(*line);
            }
            if (lines[i] == kNewProcess) {
                r = Report{Report::kNewProcess, i, {}, 0, {}, {}, {emu::pss::snapshot()}};
                break;
            }
            totals_.steps++;
            current_ = i;
            journal.running = i + 1;
            if (auto d = step(lines[i], static_cast<int>(i) + 1))
                r.outcome = Outcome{true, i, *d};
        }
        emu::base::faults::set_last_words(nullptr);
        if (session_)
            session_->end_run();
        session_.reset();
        r.lines = std::move(lines);
        r.rng = rng.state();
        r.totals = totals_;
        return r;
    }

  private:
    bool start(const std::string &dir) {
        session_.reset();
        output_ = make_output(Format::kText, sink_, sink_);
        SessionOptions so;
        so.state_dir = dir;
        so.plugin_path = o_.plugin;
        session_ = std::make_unique<Session>(so, *output_);
        std::string error;
        return session_->start(&error);
    }

    std::optional<Difference> first_boot(const std::string &dir) {
        model_.plant_fault(o_.plant);
        if (!start(dir))
            return Difference{"the plugin boots", "it did not", ""};
        last_ = observe(*session_);
        return std::nullopt;
    }

    // A new process on the store the one before left: it must hold one of
    // `from.stores`; the model goes on from the committed records it holds
    // and the live oiflists the history declared, which outlive processes.
    std::optional<Difference>
    new_process(const std::string &dir, const std::vector<std::string> &lines, const Start &from) {
        totals_.processes++;
        totals_.steps++;
        model_.plant_fault(o_.plant);
        for (size_t i = 0; i < from.at; i++)
            if (lines[i].starts_with("oiflist-exists ")) {
                auto parsed = parse_line(0, lines[i], verbs_);
                if (const auto *cmd = std::get_if<Command>(&parsed))
                    model_.declare_oiflist(cmd->args.u32("type"), cmd->args.u32("index"));
            }
        if (!start(dir))
            return Difference{"the plugin boots", "it did not", ""};
        sink_.str("");
        const Store found = emu::pss::snapshot();
        if (std::none_of(from.stores.begin(), from.stores.end(),
                         [&](const Store &s) { return !store_difference(s, found); })) {
            Difference d = *store_difference(from.stores.back(), found);
            if (from.stores.size() > 1)
                d.wanted = "the killed flush applied whole or not at all: " + d.wanted;
            return d;
        }
        const View observed = observe(*session_);
        model_.adopt(committed(observed), {});
        model_.restart(walk_);
        logged_ = model_.take_log();
        const uint32_t errors = errors_in(logged_);
        if (auto d = check_heap(false))
            return d;
        if (session_->verdict().window_errors().size() != errors)
            return Difference{std::to_string(errors) + " error records at boot",
                              std::to_string(session_->verdict().window_errors().size()),
                              errors_expect(errors)};
        if (auto d = check_log(walk_ == Model::Walk::kUnordered))
            return d;
        last_ = observed;
        return compare(model_.view(), last_, true);
    }

    // Said inside the flush a fault kills: the store the step started from,
    // and that store with every update the flush was applying.
    void last_words(const Rng &rng, int fd) {
        Report r{Report::kKilled, current_, *lines_, rng.state(), totals_, {}, {}};
        r.lines.resize(current_ + 1);
        r.stores = {before_kill_, with_queued(before_kill_)};
        send(fd, r);
    }

    std::optional<Difference> step(const std::string &line, int number) {
        auto parsed = parse_line(number, line, verbs_);
        auto *cmd = std::get_if<Command>(&parsed);
        if (cmd == nullptr)
            return Difference{"a scenario line", "cannot parse: " + line, ""};
        // What the last step left is what this one starts from.
        const View before = std::move(last_);
        const bool walk_known = !verb_restarts(*cmd) || walk_ != Model::Walk::kUnordered;
        const uint64_t fired_before = faults_fired();
        const uint64_t unmodelled_before = unmodelled_fired(walk_known);
        const std::vector<uint64_t> rows_before = firings();
        const auto wanted_result = apply(*cmd);
        if (emu::base::faults::is_on(emu::base::faults::Id::kPssCommitKill))
            before_kill_ = emu::pss::snapshot();
        session_->begin_command("explore", number, false);
        try {
            cmd->verb->run(*session_, cmd->args);
        } catch (const std::exception &e) {
            return Difference{"the command runs", e.what(), ""};
        }
        session_->end_command();
        // The automatic schedule commits after every command, which also
        // empties the arena.
        if (!manual_)
            model_.flush();
        sink_.str("");
        // `fault reset` zeroes the counts.
        const uint64_t now = faults_fired();
        totals_.faults_fired += now >= fired_before ? now - fired_before : now;
        const uint64_t unmodelled = unmodelled_fired(walk_known);
        const uint64_t fired =
            unmodelled >= unmodelled_before ? unmodelled - unmodelled_before : unmodelled;
        // Only recovery and live oiflists take indexes.
        const bool bitmaps = verb_restarts(*cmd) || cmd->verb->name == "oiflist-exists";
        last_ = observe(*session_, bitmaps);
        if (!bitmaps)
            for (uint32_t type : {1u, 2u})
                last_.allocated[type] = before.allocated[type];
        // Only a DF update asks the interface manager; a restart forgets.
        if (bitmaps || cmd->verb->name == "df-update")
            observe_queries(&last_, model_.view());
        else
            last_.queries = before.queries;
        const View &got = last_;
        if (auto d = check_heap(fired != 0))
            return d;
        if (fired != 0) {
            if (auto d = check_reported(*cmd, rows_before))
                return d;
            return check_faulted(*cmd, before, got);
        }
        if (auto d = check_errors())
            return d;
        if (auto d = check_released())
            return d;
        // A shuffled walk visits the records in an order only the host knows.
        const bool shuffled = verb_restarts(*cmd) && walk_ == Model::Walk::kUnordered;
        if (auto d = check_log(shuffled))
            return d;
        if (wanted_result && session_->last_result() != wanted_result)
            return Difference{"result " + std::to_string(*wanted_result),
                              "result " + std::to_string(session_->last_result().value_or(0)),
                              "expect result value=" + std::to_string(*wanted_result)};
        auto d = compare(model_.view(), got, !shuffled);
        if (!d && shuffled)
            model_.take_order(got.requests);
        return d;
    }

    static bool verb_restarts(const Command &cmd) {
        return cmd.verb->name == "restart" || cmd.verb->name == "recover";
    }

    // The model's side of one command: the result the host should see, when
    // the command has one the model knows; the records it should log go to
    // logged_.
    std::optional<uint32_t> apply(const Command &cmd) {
        released_.clear();
        const std::optional<uint32_t> result = apply_model(cmd);
        logged_ = model_.take_log();
        expected_errors_ = errors_in(logged_);
        return result;
    }

    std::optional<uint32_t> apply_model(const Command &cmd) {
        const Args &a = cmd.args;
        const std::string &verb = cmd.verb->name;
        if (std::optional<uint32_t> result; apply_stateless(cmd, &result))
            return result;
        if (verb == "link-update")
            return model_.link_update(a.u32("req"), a.u32("type"), a.u32("old-index"),
                                      a.u32("old-di"), a.u32("new-index"), a.u32("new-di"));
        if (verb == "hw-done") {
            model_.answer(a.u32("opcode", 0x12801), a.u32("id"), &released_);
        } else if (verb == "swap") {
            model_.swap(a.u32("old"), a.u32("new"));
        } else if (verb == "pending-di-insert") {
            model_.pending_insert(a.u32("type"), a.u32("index"),
                                  a.has("state") ? std::optional(a.u32("state")) : std::nullopt,
                                  a.has("dis") ? a.pairs("dis") : std::vector<Pair>{});
        } else if (verb == "pending-di-delete") {
            model_.pending_delete(a.u32("type"), a.u32("index"));
        } else if (verb == "flush") {
            model_.flush();
        } else if (verb == "pss schedule") {
            manual_ = a.choice() == "manual";
        } else if (verb == "pss order") {
            walk_ = a.choice() == "ascending"    ? Model::Walk::kAscending
                    : a.choice() == "descending" ? Model::Walk::kDescending
                                                 : Model::Walk::kUnordered;
        } else if (verb == "arena fill") {
            model_.arena_fill(a.u32("free"));
        } else if (verb == "oiflist-exists") {
            model_.declare_oiflist(a.u32("type"), a.u32("index"));
        } else if (verb == "fault reset") {
            model_.host_faults_off();
        } else if (verb == "restart") {
            totals_.restarts++;
            model_.restart(walk_);
        } else if (verb == "recover") {
            model_.recover(walk_);
        }
        return std::nullopt;
    }

    // The stateless callbacks (the forwarding handlers, the oiflist callbacks
    // that hold nothing, the opcode check) and the host around them. True for
    // a callback, whose result (where it has one) goes to *result.
    bool apply_stateless(const Command &cmd, std::optional<uint32_t> *result) {
        const Args &a = cmd.args;
        const std::string &verb = cmd.verb->name;
        if (verb == "df-update") {
            const int32_t opc = a.has("opc") ? a.i32("opc") : a.choice() == "add" ? 1 : 0;
            *result = model_.df_update(static_cast<uint8_t>(a.u32("ordinal")), opc, a.list("oifs"));
        } else if (verb == "igmp-snoop" || verb == "omf") {
            const std::set<uint32_t> vlans(a.list("vlans").begin(), a.list("vlans").end());
            *result = model_.vlan_config(verb == "igmp-snoop", vlans, a.choice() == "enable");
        } else if (verb == "lc-download") {
            *result = model_.lc_download(static_cast<uint8_t>(a.u32("slot")), a.i32("db"));
        } else if (verb == "oiflist-alloc") {
            *result = model_.oiflist_alloc(a.u32("p5"), a.u32("p9"), a.u32("p10"));
        } else if (verb == "opc-check") {
            *result = 0;
        } else if (verb == "oiflist-hw-done") {
            model_.oiflist_hw_done(a.u32("type"));
        } else if (verb == "oiflist-di-update") {
            *result = Model::oiflist_di_update();
        } else if (verb == "oiflist-delete") {
            model_.oiflist_delete(a.u32("type"), a.u32("index"), a.u32("di"));
        } else {
            apply_host(cmd);
            return false;
        }
        return true;
    }

    // The host around the forwarding handlers.
    void apply_host(const Command &cmd) {
        const Args &a = cmd.args;
        const std::string &verb = cmd.verb->name;
        const auto slot_index = [&a] { return static_cast<uint8_t>(a.u32("slot") - 1); };
        if (verb == "interface add") {
            const std::string kind = a.name("kind", "other");
            model_.interface_add(a.u32("ifindex"), kind == "loopback0"  ? Model::Kind::kLoopback0
                                                   : kind == "loopback" ? Model::Kind::kLoopback
                                                                        : Model::Kind::kOther);
        } else if (verb == "interface error" || verb == "fault im.loopback.error") {
            model_.interface_error(a.u32("ifindex"),
                                   a.has("status") ? a.i32("status") : a.i32("code"),
                                   a.u32("after"));
        } else if (verb == "fault l3lif.program.error") {
            model_.property_error(a.u32("ifindex"), a.i32("code"));
        } else if (verb == "module") {
            model_.module(slot_index(), a.choice() == "empty"
                                            ? std::nullopt
                                            : std::optional<uint16_t>(a.u32("card")));
        } else if (verb == "fault pdb.modinfo.error") {
            model_.module_error(slot_index(), a.i32("code"));
        } else if (verb == "fault heartbeat.send.error") {
            model_.heartbeat_error(a.u32("after"), a.i32("code"));
        } else if (verb == "fault pss.lookup.refuse") {
            model_.lookup_refused(a.name("service") == "hw_update" ? kHw : kPending);
        } else if (verb == "fault pss.lookup.zero") {
            model_.lookup_zero(a.name("service") == "hw_update" ? kHw : kPending);
        } else if (verb == "fault libc.malloc.fail") {
            model_.malloc_fault(a.u32("after"));
        }
    }

    // The plugin's heap: no block lost, and (unless a fault decided the
    // step) exactly the blocks the model's requests and host records hold.
    std::optional<Difference> check_heap(bool faulted) {
        const emu::loader::Plugin::Census c = emu::heap_census(session_->plugin());
        if (c.lost != 0)
            return Difference{"no heap block lost", std::to_string(c.lost) + " heap blocks lost",
                              "expect heap lost=0"};
        const uint32_t live = session_->plugin().heap().live();
        if (!faulted && live != model_.live_blocks())
            return Difference{std::to_string(model_.live_blocks()) + " live heap blocks",
                              std::to_string(live) + " live heap blocks",
                              "expect heap live=" + std::to_string(model_.live_blocks())};
        return std::nullopt;
    }

    // The DIs the last answer released, in order, as its trace records name
    // them: the one place the order of release shows.
    std::optional<Difference> check_released() {
        const auto got = released_dis(*session_);
        if (!got || *got == released_)
            return std::nullopt;
        auto text = [](const std::vector<uint32_t> &dis) {
            std::string t;
            for (uint32_t di : dis)
                t += (t.empty() ? "" : ",") + std::to_string(di);
            return t;
        };
        return Difference{"released dis=" + text(released_), "released dis=" + text(*got),
                          "expect released dis=" + text(released_)};
    }

    // The records of the step, in order; after a shuffled walk, in any order.
    std::optional<Difference> check_log(bool shuffled) {
        std::vector<Logged> got = logged(*session_);
        if (shuffled) {
            auto by_text = [](const Logged &a, const Logged &b) {
                return std::tie(a.func, a.text, a.error) < std::tie(b.func, b.text, b.error);
            };
            std::sort(logged_.begin(), logged_.end(), by_text);
            std::sort(got.begin(), got.end(), by_text);
        }
        return compare_log(logged_, got);
    }

    std::optional<Difference> check_errors() {
        const auto &errors = session_->verdict().window_errors();
        if (errors.size() == expected_errors_)
            return std::nullopt;
        // One line: the transcript's comment quotes it.
        std::string first = errors.empty() ? "" : errors.front();
        while (!first.empty() && std::isspace(static_cast<unsigned char>(first.back())))
            first.pop_back();
        return Difference{std::to_string(expected_errors_) + " error records",
                          errors.empty() ? "none" : "error \"" + first + "\"",
                          errors_expect(expected_errors_)};
    }

    // A step a fault decided: the invariants that hold whatever fired, then
    // the model starts again from what the plugin shows.
    // When only refusals the plugin always reports fired (outside recovery,
    // whose own records the fault changes), each brings its error records.
    std::optional<Difference> check_reported(const Command &cmd,
                                             const std::vector<uint64_t> &rows_before) {
        if (verb_restarts(cmd) || rows_before != rows_before_reset(rows_before))
            return std::nullopt;
        const std::vector<uint64_t> now = firings();
        // Those of the step itself (an arena out of room, say) come on top.
        uint64_t wanted = expected_errors_;
        for (size_t i = 0; i < now.size(); i++) {
            const uint64_t n = now[i] - rows_before[i];
            if (n == 0)
                continue;
            const auto *r =
                std::find_if(std::begin(kReported), std::end(kReported), [&](const auto &k) {
                    return k.first == emu::base::faults::rows()[i].id;
                });
            if (r == std::end(kReported))
                return std::nullopt;
            wanted += n * r->second;
        }
        const size_t got = session_->verdict().window_errors().size();
        if (got == wanted)
            return std::nullopt;
        return Difference{std::to_string(wanted) + " error records for the refusals",
                          std::to_string(got), errors_expect(static_cast<uint32_t>(wanted))};
    }

    // `rows_before`, or zeros where `fault reset` zeroed the counts since.
    static std::vector<uint64_t> rows_before_reset(const std::vector<uint64_t> &rows_before) {
        const std::vector<uint64_t> now = firings();
        for (size_t i = 0; i < now.size(); i++)
            if (now[i] < rows_before[i])
                return now;
        return rows_before;
    }

    std::optional<Difference> check_faulted(const Command &cmd, const View &before,
                                            const View &got) {
        const std::string &verb = cmd.verb->name;
        const bool stored_same = got.stored[kHw] == before.stored[kHw] &&
                                 got.stored[kPending] == before.stored[kPending];
        if (verb == "restart" && !stored_same) {
            Difference d = *compare(committed(before), committed(got), true);
            d.wanted = "the committed records kept across the restart: " + d.wanted;
            return d;
        }
        if (verb == "flush" && !stored_same) {
            Model whole;
            whole.adopt(before, {});
            whole.flush();
            if (auto d = compare(committed(whole.view()), committed(got), true)) {
                d->wanted = "a flush applied whole or not at all: " + d->wanted;
                return d;
            }
        }
        Model::HostRecords host;
        for (const auto &[key, rec] : emu::rire::pending_di::all()) {
            HostRecord &h = host[key];
            h.state = rec->state;
            for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(rec->hold_q.head); e;
                 e = e->next)
                h.held.push_back({e->di, e->oiflist_index, e->ref_count});
        }
        model_.adopt(got, std::move(host));
        // An allocation that recovery under a fault did not make leaves the
        // model's count behind: it takes the host's.
        std::optional<uint32_t> malloc_after;
        for (const auto &[id, setting] : emu::base::faults::active())
            if (id == emu::base::faults::Id::kLibcMallocFail)
                malloc_after = setting.count;
        model_.malloc_fault(malloc_after);
        return std::nullopt;
    }

    // The committed records of a view, and nothing else of it.
    static View committed(const View &v) {
        View c;
        for (Db db : {kHw, kPending})
            c.stored[db] = v.stored[db];
        return c;
    }

    const Options &o_;
    const VerbTable &verbs_;
    Totals totals_;
    Model model_;
    bool manual_ = false;
    Model::Walk walk_ = Model::Walk::kAscending;
    uint32_t expected_errors_ = 0;
    std::vector<uint32_t> released_; // by the last answer, in order
    std::vector<Logged> logged_;     // by the last command, as the model predicts them
    View last_;                      // the plugin's state after the last step
    std::stringstream sink_;
    std::unique_ptr<Output> output_;
    std::unique_ptr<Session> session_;
    std::vector<std::string> *lines_ = nullptr;
    size_t current_ = 0; // the line running
    Store before_kill_;  // the store the line started from, while a kill is armed
};

// --- the runner -------------------------------------------------------------------

// Runs histories, each process of a run in a child process forked from this
// one, which never loads the plugin or starts the host: every process of a
// history boots as a new process does (emu/boot.h: the plugin loaded afresh)
// on the store the one before left, and a fault can kill it inside a flush.
class Runner {
  public:
    Runner(const Options &o, const VerbTable &verbs, Totals &totals)
        : o_(o), verbs_(verbs), totals_(totals), rng_(o.seed) {
        void *shared = mmap(nullptr, sizeof(Journal), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED)
            throw std::runtime_error("cannot map the journal of the run's processes");
        journal_ = static_cast<Journal *>(shared);
    }
    ~Runner() { munmap(journal_, sizeof(Journal)); }
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    // Runs `lines` on a fresh state directory; with `drawing`, the generator
    // draws more until the history ends. After a process killed in a flush
    // the history goes on at the next "%% new process" line (one is put
    // right after the killed line when none follows): the lines between are
    // what the killed process never ran. `tick` runs after each process.
    Outcome run(std::vector<std::string> *lines, bool drawing,
                const std::function<void()> &tick = {}) {
        const std::string dir = state_dir();
        Start from;
        Outcome out;
        for (;;) {
            Report r = process(dir, *lines, from, drawing);
            if (tick)
                tick();
            rng_ = r.rng;
            for (uint64_t Totals::*count : kProcessCounts)
                totals_.*count += r.totals.*count;
            if (r.kind == Report::kEnd) {
                *lines = std::move(r.lines);
                out = r.outcome;
                break;
            }
            if (r.kind == Report::kKilled) {
                totals_.kills++;
                std::vector<std::string> rest(lines->begin() + std::min(r.at + 1, lines->size()),
                                              lines->end());
                const auto next = std::find(rest.begin(), rest.end(), kNewProcess);
                if (next == rest.end())
                    r.lines.push_back(kNewProcess);
                r.lines.insert(r.lines.end(), next, rest.end());
                r.at++;
            }
            *lines = std::move(r.lines);
            from = Start{r.at + 1, std::move(r.stores)};
        }
        std::filesystem::remove_all(dir);
        return out;
    }

  private:
    std::string state_dir() const {
        std::string dir = o_.state;
        if (dir.empty()) {
            // A RAM file system where there is one: a commit's fsync is
            // LMDB's business, and it would cost most of the time.
            std::error_code ec;
            const std::filesystem::path shm = "/dev/shm";
            const auto base = std::filesystem::is_directory(shm, ec)
                                  ? shm
                                  : std::filesystem::temp_directory_path();
            dir = (base / "rire-explore-XXXXXX").string();
            if (mkdtemp(dir.data()) == nullptr)
                throw std::runtime_error("cannot make a state directory: " + dir);
        }
        if (!o_.state.empty())
            std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        return dir;
    }

    // One process of the run in a child process, and its report; a child
    // that dies other than by a kill fault, or exits other than with 0 (a
    // crash, a sanitizer's report, a failed leak check), ends the run as a
    // divergence at the last line known.
    Report process(const std::string &dir, const std::vector<std::string> &lines, const Start &from,
                   bool drawing) {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("cannot make a pipe for a process of the run");
        std::cout.flush();
        std::cerr.flush();
        journal_->running = journal_->used = 0;
        const pid_t pid = fork();
        if (pid < 0)
            throw std::runtime_error("cannot start a process of the run");
        if (pid == 0) {
            close(fds[0]);
            int code = 0;
            try {
                Process p(o_, verbs_);
                send(fds[1], p.run(dir, lines, from, drawing, rng_, fds[1], *journal_));
            } catch (const std::exception &e) {
                std::cerr << "rire-host explore: " << e.what() << "\n";
                code = 2;
            }
            close(fds[1]);
            std::exit(code);
        }
        close(fds[1]);
        std::string text;
        char buf[16384];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
            text.append(buf, static_cast<size_t>(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        if (!text.empty() && (killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0))) {
            Report r = decode(text);
            if ((r.kind == Report::kKilled) == killed)
                return r;
        }
        // What the journal says: the lines drawn, and the line that ran last.
        Report r;
        r.lines = lines;
        std::istringstream drawn(std::string(journal_->drawn, journal_->used));
        for (std::string line; std::getline(drawn, line);)
            r.lines.push_back(line);
        r.rng = rng_;
        const std::string how =
            WIFSIGNALED(status) ? "it died of signal " + std::to_string(WTERMSIG(status))
                                : "it exited with status " + std::to_string(WEXITSTATUS(status));
        const size_t step = journal_->running != 0 ? journal_->running - 1
                            : from.stores.empty()  ? 0
                                                   : from.at - 1;
        r.lines.resize(std::min(r.lines.size(), step + 1));
        r.outcome = Outcome{true, step, Difference{"the process ends normally", how, ""}};
        return r;
    }

    const Options &o_;
    const VerbTable &verbs_;
    Totals &totals_;
    uint64_t rng_; // the generator's state between processes and runs
    Journal *journal_;
};

// --- shrinking -------------------------------------------------------------------

// Calls `f` with each number that is a value or a list element of `line`
// (after '=', ',' or ':').
void for_numbers(const std::string &line, const std::function<void(uint64_t)> &f) {
    for (size_t i = 1; i < line.size(); i++)
        if (std::isdigit(static_cast<unsigned char>(line[i])) && std::strchr("=,:", line[i - 1])) {
            size_t end = i;
            while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])))
                end++;
            f(std::stoull(line.substr(i, end - i)));
            i = end;
        }
}

// `line` with every such number `from` written as `to`.
std::string renumbered(const std::string &line, uint64_t from, uint64_t to) {
    std::string out;
    for (size_t i = 0; i < line.size();) {
        if (i > 0 && std::isdigit(static_cast<unsigned char>(line[i])) &&
            std::strchr("=,:", line[i - 1])) {
            size_t end = i;
            while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])))
                end++;
            const std::string digits = line.substr(i, end - i);
            out += std::stoull(digits) == from ? std::to_string(to) : digits;
            i = end;
        } else {
            out += line[i++];
        }
    }
    return out;
}

// Drops runs of lines, halving their length down to single lines, while the
// history still diverges; then makes each number smaller where it can.
std::vector<std::string> shrink(std::vector<std::string> lines, Runner &runner,
                                std::chrono::steady_clock::time_point deadline) {
    auto diverges = [&](std::vector<std::string> candidate, std::vector<std::string> *kept) {
        const Outcome o = runner.run(&candidate, false);
        if (!o.diverged)
            return false;
        candidate.resize(o.step + 1);
        *kept = std::move(candidate);
        return true;
    };
    auto in_time = [&] { return std::chrono::steady_clock::now() < deadline; };
    for (size_t chunk = lines.size() / 2; chunk >= 1 && in_time(); chunk /= 2)
        for (size_t i = 0; i < lines.size() && in_time();) {
            std::vector<std::string> candidate = lines;
            candidate.erase(candidate.begin() + i,
                            candidate.begin() + std::min(lines.size(), i + chunk));
            if (!diverges(candidate, &lines))
                i += chunk;
        }
    // Each number, wherever it stands, made smaller at once: one DI or id
    // often appears on several lines.
    std::set<uint64_t> numbers;
    for (const std::string &line : lines)
        for_numbers(line, [&](uint64_t n) { numbers.insert(n); });
    for (auto it = numbers.rbegin(); it != numbers.rend() && in_time(); ++it)
        for (uint64_t smaller : {1, 2, 3}) {
            if (*it <= smaller)
                break;
            std::vector<std::string> candidate = lines;
            for (std::string &line : candidate)
                line = renumbered(line, *it, smaller);
            if (diverges(candidate, &lines))
                break;
        }
    return lines;
}

// Writes the shrunk history as a transcript test and fills in the output the
// plugin gives (rire-host --check --update): the run fails on the `expect`
// line, so --check fails until the fault is fixed.
void write_transcript(const Options &o, const std::vector<std::string> &lines, const Difference &d,
                      size_t step, uint64_t run) {
    {
        std::ofstream f(o.out);
        f << "# rire-host explore --seed " << o.seed << (o.faults ? " --faults" : "") << ": run "
          << run << " diverged at step " << step << ", shrunk.\n"
          << "# The model wanted: " << d.wanted << "\n"
          << "# The plugin did:   " << d.got << "\n";
        for (const std::string &line : lines)
            f << line << "\n";
        if (!d.expect.empty())
            f << d.expect << "\n";
        else
            f << "dump queue\n";
    }
    std::stringstream quiet;
    auto *out = std::cout.rdbuf(quiet.rdbuf());
    auto *err = std::cerr.rdbuf(quiet.rdbuf());
    transcript::Runner runner;
    runner.options = {"--plugin", o.plugin};
    transcript::check(runner, {o.out}, true);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
}

// --- reporting ---------------------------------------------------------------------

class Progress {
  public:
    explicit Progress(const Totals &t) : t_(t), tty_(isatty(STDERR_FILENO) != 0) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    double rate() const { return seconds() > 0 ? t_.steps / seconds() : 0; }
    std::string line() const {
        char text[200];
        std::snprintf(text, sizeof text,
                      "runs %llu, steps %llu (%.0f steps/s), restarts %llu, new processes %llu, "
                      "kills %llu, faults fired %llu",
                      static_cast<unsigned long long>(t_.runs),
                      static_cast<unsigned long long>(t_.steps), rate(),
                      static_cast<unsigned long long>(t_.restarts),
                      static_cast<unsigned long long>(t_.processes),
                      static_cast<unsigned long long>(t_.kills),
                      static_cast<unsigned long long>(t_.faults_fired));
        return text;
    }
    void tick() {
        if (!tty_ || std::chrono::steady_clock::now() < next_)
            return;
        next_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        std::cerr << "\rexplore: " << line() << "\033[K" << std::flush;
    }
    void done() const {
        if (tty_)
            std::cerr << "\r\033[K";
    }
    Fields fields() const {
        return {{"runs", t_.runs},         {"steps", t_.steps},
                {"seconds", seconds()},    {"steps_per_second", rate()},
                {"restarts", t_.restarts}, {"new_processes", t_.processes},
                {"kills", t_.kills},       {"faults_fired", t_.faults_fired}};
    }

  private:
    const Totals &t_;
    bool tty_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point next_ = start_;
};

// The explore command's options (options.h) into `o`.
Options options_of(const CommandLine &line, const std::string &default_plugin) {
    using options::Id;
    Options o;
    o.seed = line.number(Id::kSeed);
    o.seconds = line.has(Id::kTime) ? static_cast<double>(line.number(Id::kTime)) : 0;
    o.runs = line.has(Id::kTime) ? 0 : line.number(Id::kRuns);
    o.steps = static_cast<uint32_t>(line.number(Id::kSteps));
    o.faults = line.has(Id::kFaults);
    o.out = line.text(Id::kOut);
    o.state = line.has(Id::kState) ? line.text(Id::kState) : "";
    o.format = format_of(line);
    o.plugin = line.has(Id::kPlugin) ? line.text(Id::kPlugin) : default_plugin;
    o.plant = line.has(Id::kPlantModelFault);
    return o;
}

} // namespace

int run(const CommandLine &line, const std::string &default_plugin) {
    const Options o = options_of(line, default_plugin);
    const VerbTable verbs = all_verbs();
    auto out = make_output(o.format, std::cout, std::cerr);
    Totals totals;
    Progress progress(totals);
    Runner runner(o, verbs, totals);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
    auto more = [&] {
        return o.runs != 0 ? totals.runs < o.runs : std::chrono::steady_clock::now() < end;
    };
    while (more()) {
        totals.runs++;
        std::vector<std::string> lines;
        const Outcome first = runner.run(&lines, true, [&] { progress.tick(); });
        if (!first.diverged)
            continue;
        progress.done();
        const Totals found = totals;
        lines.resize(first.step + 1);
        const auto shrunk =
            shrink(lines, runner, std::chrono::steady_clock::now() + std::chrono::seconds(30));
        // The shrunk history's own divergence is the one its file states.
        std::vector<std::string> again = shrunk;
        const Outcome last = runner.run(&again, false);
        const Difference &d = last.diverged ? last.difference : first.difference;
        write_transcript(o, shrunk, d, first.step + 1, found.runs);
        totals = found;
        out->record("divergence",
                    {{"seed", o.seed},
                     {"run", found.runs},
                     {"step", first.step + 1},
                     {"wanted", d.wanted},
                     {"got", d.got},
                     {"lines", shrunk.size()},
                     {"file", o.out}},
                    "explore: seed " + std::to_string(o.seed) + " run " +
                        std::to_string(found.runs) + " step " + std::to_string(first.step + 1) +
                        ": the model wanted " + d.wanted + ", the plugin did " + d.got + "; " +
                        counted(shrunk.size(), "line") + " in " + o.out + "\n");
        out->record("summary", progress.fields(), "explore: " + progress.line() + "\n");
        return 1;
    }
    progress.done();
    out->record("summary", progress.fields(), "explore: " + progress.line() + ", no divergence\n");
    return 0;
}

} // namespace rire_host::explore
