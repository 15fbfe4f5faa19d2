#include "tools/rire-host/explore.h"

#include "tools/rire-host/command_line.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "emu/base/faults.h"
#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/pending_di.h"
#include "tools/rire-host/check.h"
#include "tools/rire-host/explore_view.h"
#include "tools/rire-host/session.h"
#include "tools/rire-host/verbs.h"

namespace rire_host::explore {
namespace {

constexpr const char *kNewProcess = "%% new process";
// The trace record of each DI an answer releases.
constexpr std::string_view kReleaseTrace = "processing DI:";

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

// splitmix64: the same numbers on every machine and standard library.
class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t per_mille) { return below(1000) < per_mille; }
    template <class T, size_t N> T pick(const T (&options)[N]) { return options[below(N)]; }

  private:
    uint64_t s_;
};

// --- the generator -------------------------------------------------------------

// Draws scenario lines from small pools of ids, DIs and indexes, so that
// requests, DIs and indexes meet each other often.
class Generator {
  public:
    Generator(Rng &rng, bool faults) : rng_(rng), faults_(faults) {}

    std::string next(const Model &model) {
        const uint32_t roll = rng_.below(1000);
        if (roll < 380)
            return link_update();
        if (roll < 560)
            return answer(model);
        if (roll < 610)
            return swap(model);
        if (roll < 670)
            return pending_insert();
        if (roll < 710)
            return "pending-di-delete type=" + num(type()) + " index=" + num(index());
        if (roll < 810)
            return "flush";
        if (roll < 830)
            return rng_.chance(700) ? "pss schedule manual" : "pss schedule auto";
        if (roll < 845)
            return "oiflist-exists type=" + num(type()) + " index=" + num(index());
        if (roll < 862)
            return "restart";
        if (roll < 865)
            return "recover";
        if (roll < 870)
            return kNewProcess;
        if (!faults_)
            return link_update();
        if (roll < 930)
            return fault();
        if (roll < 960)
            return "fault reset";
        const char *orders[] = {"ascending", "descending", "shuffle"};
        const std::string order = rng_.pick(orders);
        return "pss order " + order + (order == "shuffle" ? " seed=" + num(rng_.below(100)) : "");
    }

    // The end of a run: faults off, every request answered, every record
    // deleted, flushed.
    std::vector<std::string> drain(const Model &model) {
        std::vector<std::string> lines;
        if (faults_)
            lines.push_back("fault reset");
        for (const Req &r : model.view().requests)
            lines.push_back("hw-done id=" + num(r.id));
        for (Db db : {kHw, kPending})
            for (const auto &[key, rec] : model.view().stored[db])
                lines.push_back(db == kHw ? "hw-done id=" + num(key)
                                          : "pending-di-delete type=" + num(key >> 16) +
                                                " index=" + num(key & 0xFFFF));
        for (const Update &u : model.view().queued)
            if (u.db == kPending && u.value)
                lines.push_back("pending-di-delete type=" + num(u.key >> 16) +
                                " index=" + num(u.key & 0xFFFF));
        lines.push_back("flush");
        return lines;
    }

  private:
    static std::string num(uint64_t n) { return std::to_string(n); }
    uint32_t type() { return 1 + rng_.below(2); }
    uint32_t id() { return 1 + rng_.below(10); }
    uint32_t index() {
        const uint32_t rare[] = {0, 65534, 65535};
        return rng_.chance(20) ? rng_.pick(rare) : 1 + rng_.below(12);
    }
    std::string di() {
        const char *special[] = {"null", "invalid"};
        if (rng_.chance(250))
            return rng_.pick(special);
        return num(rng_.chance(10) ? 65535 : 1 + rng_.below(16));
    }
    std::string link_update() {
        return "link-update req=" + num(id()) + " type=" + num(type()) +
               " old-index=" + num(index()) + " old-di=" + di() + " new-index=" + num(index()) +
               " new-di=" + di();
    }
    // Mostly an outstanding request with an answer opcode; else an unknown
    // opcode, or an id nobody holds.
    std::string answer(const Model &model) {
        const auto &requests = model.view().requests;
        const uint32_t id_ =
            !requests.empty() && rng_.chance(800) ? requests[rng_.below(requests.size())].id : id();
        const uint32_t answers[] = {0x12801, 0x12802, 0x12803, 0x12827, 0x12828};
        const uint32_t unknown[] = {0x12800, 0x12804, 0x12826, 0x12829, 0};
        const uint32_t opcode = rng_.chance(850) ? rng_.pick(answers) : rng_.pick(unknown);
        return "hw-done id=" + num(id_) + " opcode=" + num(opcode);
    }
    // From an outstanding id (mostly) onto a fresh id or one in use.
    std::string swap(const Model &model) {
        const auto &requests = model.view().requests;
        const uint32_t from =
            !requests.empty() && rng_.chance(800) ? requests[rng_.below(requests.size())].id : id();
        const uint32_t to = rng_.chance(500) ? 11 + rng_.below(30) : id();
        return "swap old=" + num(from) + " new=" + num(to);
    }
    std::string pending_insert() {
        std::string dis;
        for (uint32_t n = rng_.below(4); n > 0; n--)
            dis += (dis.empty() ? "" : ",") + num(1 + rng_.below(16)) + ":" + num(index());
        return "pending-di-insert type=" + num(type()) + " index=" + num(1 + rng_.below(12)) +
               " state=" + num(rng_.below(3)) + (dis.empty() ? "" : " dis=" + dis);
    }
    std::string fault() {
        const char *services[] = {"hw_update", "pending_di"};
        const std::string service = rng_.pick(services);
        switch (rng_.below(11)) {
        case 0:
            return "fault libc.malloc.fail after=" + num(rng_.below(6));
        case 1:
            return "fault pss.write.refuse service=" + service;
        case 2:
            return "fault pss.delete.refuse service=" + service;
        case 3:
            return "fault tlv.add.refuse after=" + num(rng_.below(4));
        case 4:
            return "fault index.realloc.error code=" + num(1 + rng_.below(3));
        case 5:
            return "fault pss.lookup.refuse service=" + service;
        case 9:
            return "fault pss.lookup.zero service=" + service;
        case 10:
            return "fault pss.getkey.fail service=" + service + " at=" + num(1 + rng_.below(3));
        case 6:
            return "fault pss.getvalue.fail service=" + service + " at=" + num(1 + rng_.below(3));
        case 7:
            return "fault tlv.next.fail at=" + num(1 + rng_.below(2));
        default:
            return "fault pss.move.refuse service=" + service + " at=" + num(1 + rng_.below(3));
        }
    }

    Rng &rng_;
    bool faults_;
};

// --- one history against the model --------------------------------------------

struct Totals {
    uint64_t runs = 0, steps = 0, restarts = 0, processes = 0, faults_fired = 0;
};

struct Outcome {
    bool diverged = false;
    size_t step = 0; // the line that diverged, 0-based
    Difference difference;
};

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

uint64_t faults_fired() {
    uint64_t n = 0;
    for (const auto &row : emu::base::faults::rows())
        n += emu::base::faults::fired(row.id);
    return n;
}

// Runs lines on a fresh state directory, comparing after each; stops at the
// first divergence. `on_step` sees the model before each line is drawn (the
// generator's hook); it returns the next line, or nothing to stop.
class Replay {
  public:
    Replay(const Options &o, const VerbTable &verbs, Totals &totals)
        : o_(o), verbs_(verbs), totals_(totals) {}

    Outcome run(std::vector<std::string> *lines,
                const std::function<std::optional<std::string>(const Model &, size_t)> &draw) {
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
        Outcome out = run_in(dir, lines, draw);
        std::filesystem::remove_all(dir);
        return out;
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

    Outcome run_in(const std::string &dir, std::vector<std::string> *lines,
                   const std::function<std::optional<std::string>(const Model &, size_t)> &draw) {
        model_ = Model{};
        model_.plant_fault(o_.plant);
        manual_ = false;
        walk_ = Model::Walk::kAscending;
        emu::pss::set_walk_order({});
        Outcome out;
        if (!start(dir))
            return diverged(0, {"the plugin boots", "it did not", ""});
        last_ = observe(*session_);
        for (size_t i = 0;; i++) {
            if (i == lines->size()) {
                const auto line = draw ? draw(model_, i) : std::nullopt;
                if (!line)
                    break;
                lines->push_back(*line);
            }
            totals_.steps++;
            if (auto d = step(dir, (*lines)[i], static_cast<int>(i) + 1)) {
                out = diverged(i, *d);
                break;
            }
        }
        if (session_)
            session_->end_run();
        session_.reset();
        sink_.str("");
        return out;
    }

    static Outcome diverged(size_t step, Difference d) { return Outcome{true, step, std::move(d)}; }

    std::optional<Difference> step(const std::string &dir, const std::string &line, int number) {
        if (line == kNewProcess)
            return new_process(dir);
        auto parsed = parse_line(number, line, verbs_);
        auto *cmd = std::get_if<Command>(&parsed);
        if (cmd == nullptr)
            return Difference{"a scenario line", "cannot parse: " + line, ""};
        // What the last step left is what this one starts from.
        const View before = std::move(last_);
        const uint64_t fired_before = faults_fired();
        const std::vector<uint64_t> rows_before = firings();
        const auto wanted_result = apply(*cmd);
        session_->begin_command("explore", number, false);
        try {
            cmd->verb->run(*session_, cmd->args);
        } catch (const std::exception &e) {
            return Difference{"the command runs", e.what(), ""};
        }
        session_->end_command();
        if (!manual_ && !model_.view().queued.empty())
            model_.flush();
        sink_.str("");
        // `fault reset` zeroes the counts.
        const uint64_t now = faults_fired();
        const uint64_t fired = now >= fired_before ? now - fired_before : now;
        totals_.faults_fired += fired;
        // Only recovery and live oiflists take indexes.
        const bool bitmaps = verb_restarts(*cmd) || cmd->verb->name == "oiflist-exists";
        last_ = observe(*session_, bitmaps);
        if (!bitmaps)
            for (uint32_t type : {1u, 2u})
                last_.allocated[type] = before.allocated[type];
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
        if (wanted_result && session_->last_result() != wanted_result)
            return Difference{"result " + std::to_string(*wanted_result),
                              "result " + std::to_string(session_->last_result().value_or(0)),
                              "expect result value=" + std::to_string(*wanted_result)};
        // A shuffled walk rebuilds the requests in an order only the host knows.
        const bool shuffled = verb_restarts(*cmd) && walk_ == Model::Walk::kUnordered;
        auto d = compare(model_.view(), got, !shuffled);
        if (!d && shuffled)
            model_.take_order(got.requests);
        return d;
    }

    static bool verb_restarts(const Command &cmd) {
        return cmd.verb->name == "restart" || cmd.verb->name == "recover";
    }

    // The model's side of one command; the result the host should see, when
    // the command has one the model knows.
    std::optional<uint32_t> apply(const Command &cmd) {
        const Args &a = cmd.args;
        const std::string &verb = cmd.verb->name;
        expected_errors_ = 0;
        released_.clear();
        if (verb == "link-update")
            return model_.link_update(a.u32("req"), a.u32("type"), a.u32("old-index"),
                                      a.u32("old-di"), a.u32("new-di"));
        if (verb == "hw-done") {
            released_.clear();
            if (!model_.answer(a.u32("opcode", 0x12801), a.u32("id"), &released_))
                expected_errors_ = 1;
        } else if (verb == "swap") {
            model_.swap(a.u32("old"), a.u32("new"));
        } else if (verb == "pending-di-insert") {
            model_.pending_insert(a.u32("type"), a.u32("index"), a.u32("state"),
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
        } else if (verb == "oiflist-exists") {
            model_.declare_oiflist(a.u32("type"), a.u32("index"));
        } else if (verb == "restart") {
            totals_.restarts++;
            expected_errors_ = model_.restart(walk_);
        } else if (verb == "recover") {
            expected_errors_ = model_.recover(walk_);
        }
        return std::nullopt;
    }

    std::optional<Difference> new_process(const std::string &dir) {
        totals_.processes++;
        session_->end_run();
        manual_ = false;
        walk_ = Model::Walk::kAscending;
        emu::pss::set_walk_order({});
        const uint32_t errors = model_.restart(walk_);
        if (!start(dir))
            return Difference{"the plugin boots", "it did not", ""};
        sink_.str("");
        if (auto d = check_heap(false))
            return d;
        if (session_->verdict().window_errors().size() != errors)
            return Difference{std::to_string(errors) + " error records at boot",
                              std::to_string(session_->verdict().window_errors().size()), ""};
        last_ = observe(*session_);
        return compare(model_.view(), last_, true);
    }

    // The plugin's heap: no block lost, and (unless a fault decided the
    // step) exactly the blocks the model's requests and host records hold.
    std::optional<Difference> check_heap(bool faulted) {
        const emu::loader::Plugin::Census c = emu::heap_census(session_->plugin());
        if (c.lost != 0)
            return Difference{"no heap block lost", std::to_string(c.lost) + " heap blocks lost",
                              "dump heap"};
        const uint32_t live = session_->plugin().heap().live();
        if (!faulted && live != model_.live_blocks())
            return Difference{std::to_string(model_.live_blocks()) + " live heap blocks",
                              std::to_string(live) + " live heap blocks", "dump heap"};
        return std::nullopt;
    }

    // The DIs the last answer released, in order, as its trace records name
    // them: the one place the order of release shows.
    std::optional<Difference> check_released() {
        const auto &log = emu::log::event_log();
        std::string got;
        for (size_t seq = std::max(session_->verdict().log_window(), log.first()); seq < log.size();
             seq++) {
            const std::string_view text = log[seq].text;
            if (const size_t at = text.find(kReleaseTrace); at != std::string_view::npos)
                got += (got.empty() ? "" : ",") +
                       std::to_string(std::atoi(text.data() + at + kReleaseTrace.size()));
        }
        std::string wanted;
        for (uint32_t di : released_)
            wanted += (wanted.empty() ? "" : ",") + std::to_string(di);
        if (wanted == got)
            return std::nullopt;
        return Difference{"released DIs " + (wanted.empty() ? "none" : wanted),
                          "released DIs " + (got.empty() ? "none" : got), ""};
    }

    std::optional<Difference> check_errors() {
        const auto &errors = session_->verdict().window_errors();
        if (errors.size() == expected_errors_)
            return std::nullopt;
        return Difference{std::to_string(expected_errors_) + " error records",
                          errors.empty() ? "none" : "error \"" + errors.front() + "\"",
                          expected_errors_ == 0 ? "expect no-log error" : ""};
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
        uint64_t wanted = 0;
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
                          std::to_string(got), ""};
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
        if (verb == "restart" && !stored_same)
            return Difference{"the committed records kept across the restart", "they changed", ""};
        if (verb == "flush" && !stored_same) {
            Model whole;
            whole.adopt(before, {});
            whole.flush();
            if (got.stored[kHw] != whole.view().stored[kHw] ||
                got.stored[kPending] != whole.view().stored[kPending])
                return Difference{"a flush applied whole or not at all", "applied in part", ""};
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
        return std::nullopt;
    }

    const Options &o_;
    const VerbTable &verbs_;
    Totals &totals_;
    Model model_;
    bool manual_ = false;
    Model::Walk walk_ = Model::Walk::kAscending;
    uint32_t expected_errors_ = 0;
    std::vector<uint32_t> released_; // by the last answer, in order
    View last_;                      // the plugin's state after the last step
    std::stringstream sink_;
    std::unique_ptr<Output> output_;
    std::unique_ptr<Session> session_;
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
std::vector<std::string> shrink(std::vector<std::string> lines, Replay &replay,
                                std::chrono::steady_clock::time_point deadline) {
    auto diverges = [&](std::vector<std::string> candidate, std::vector<std::string> *kept) {
        const Outcome o = replay.run(&candidate, nullptr);
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
                      "faults fired %llu",
                      static_cast<unsigned long long>(t_.runs),
                      static_cast<unsigned long long>(t_.steps), rate(),
                      static_cast<unsigned long long>(t_.restarts),
                      static_cast<unsigned long long>(t_.processes),
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
        return {{"runs", t_.runs},
                {"steps", t_.steps},
                {"seconds", seconds()},
                {"steps_per_second", rate()},
                {"restarts", t_.restarts},
                {"new_processes", t_.processes},
                {"faults_fired", t_.faults_fired}};
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
    Replay replay(o, verbs, totals);
    Rng rng(o.seed);
    Generator gen(rng, o.faults);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
    auto more = [&] {
        return o.runs != 0 ? totals.runs < o.runs : std::chrono::steady_clock::now() < end;
    };
    while (more()) {
        totals.runs++;
        std::vector<std::string> lines, drained;
        const Outcome first = replay.run(&lines, [&](const Model &m, size_t i) {
            progress.tick();
            if (i < o.steps)
                return std::optional<std::string>(gen.next(m));
            if (drained.empty())
                drained = gen.drain(m);
            const size_t at = i - o.steps;
            return at < drained.size() ? std::optional<std::string>(drained[at]) : std::nullopt;
        });
        if (!first.diverged)
            continue;
        progress.done();
        const Totals found = totals;
        lines.resize(first.step + 1);
        const auto shrunk =
            shrink(lines, replay, std::chrono::steady_clock::now() + std::chrono::seconds(30));
        // The shrunk history's own divergence is the one its file states.
        std::vector<std::string> again = shrunk;
        const Outcome last = replay.run(&again, nullptr);
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
