// rire-bench [--quick]: the real plugin in the host emulator, timed on
//   1. link updates (case 5, a new request and DI each) and their completions
//      with N requests outstanding: the request queue is a linear list;
//   2. the same with and without the host's log sinks (the fastest of five
//      alternating runs each), beside the floor: the same records formatted
//      as the logging statement must and handed to the sinks, with no plugin
//      logic;
//   3. recovery of stored requests beside its floor: a bare LMDB walk over
//      the records with the logging, queue walks and allocations that
//      recovery must do for them, in the simplest code (the fastest of
//      alternating runs of each);
//   4. peak RSS over many link updates and completions.
// It ends with lines a script can read: "ratio NAME VALUE", "peak-rss-mib N".
#include <lmdb.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "emu/boot.h"
#include "emu/faults.h"
#include "emu/host.h"
#include "emu/log.h"
#include "emu/mts.h"
#include "emu/plugin.h"
#include "emu/pss.h"
#include "emu/store_view.h"
#include "plugin/host/log.h"
#include "plugin/include/rire_orsk_log.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Operations per timed lap: ~40 arena bytes per link update, ~12 per completion.
constexpr uint32_t kLap = 1000;
// Requests written per flush when filling the store: ~200 arena bytes each.
constexpr uint32_t kWriteBatch = 250;
constexpr uint32_t kDisPerRequest = 4;
// Runs with the sinks on and off alternate, each kRoadRepeats times, and the
// fastest of each is kept: the run least disturbed by other load on a shared
// machine.
constexpr int kRoadRepeats = 5;
// Recovery runs alternate the same way: kRecoveryRepeats of each up to
// kSmallStore requests, kLargeRecoveryRepeats above.
constexpr uint32_t kSmallStore = 1000;
constexpr int kRecoveryRepeats = 20, kLargeRecoveryRepeats = 3;
// Recovery is quadratic in the requests: when a probe of kProbe records
// predicts more than kRecoveryBudget seconds for the whole store, a sample
// taking about kSampleBudget seconds is timed and the whole extrapolated.
constexpr uint32_t kProbe = 10000;
constexpr double kRecoveryBudget = 60.0;
constexpr double kSampleBudget = 15.0;

const fs::path g_dir = fs::temp_directory_path() / "rire-bench";
std::unique_ptr<emu::Plugin> g_plugin;
// The script-readable summary, printed last.
std::vector<std::string> g_summary;

void summarize(const std::string &name, double value) {
    char line[96];
    std::snprintf(line, sizeof line, "ratio %s %.2f", name.c_str(), value);
    g_summary.push_back(line);
}

[[noreturn]] void die(const std::string &why) {
    std::fprintf(stderr, "rire-bench: %s\n", why.c_str());
    std::exit(1);
}

rire_orsk_platform_api &api() {
    return *g_plugin->api();
}

// Loads a fresh plugin and boots it as the switch does.
void boot() {
    emu::Booted b = emu::host_up({g_dir, RIRE_PLUGIN_PATH});
    g_plugin = std::move(b.plugin);
    if (!g_plugin)
        die("cannot boot " RIRE_PLUGIN_PATH ": " + b.error);
    if (b.open_status != 0)
        die("pss_open_file failed");
}

void link(uint32_t req_id, uint32_t di) {
    api().oiflist_link_update(req_id, 1, 1 + req_id % 65534, di, 200, 400);
}

void done(uint32_t req_id) {
    mts_msg msg = emu::mts::make(MTS_OPC_HW_UPDATE_DONE, req_id);
    api().hw_update_done(&msg);
}

// Drops the queued PSS updates, the arena and the records in memory; returns
// the number of event-log records dropped.
size_t settle() {
    const size_t records = emu::log::event_log().size();
    emu::pss::discard_pending();
    api().pss_buf_commit();
    emu::log::clear();
    return records;
}

// The logging statement as the plugin must run it, in the simplest code: the
// message formatted into rire_log_buf, then the event history (when not
// filtered), the debug console (when on) and the event log, each record
// wrapped with the function's name and line.
void floor_vlog(uint32_t level, const char *func, int line, const char *fmt, va_list ap) {
    struct {
        uint32_t level;
        char text[512];
    } rec;
    const char *wrapper = level == RIRE_ORSK_LOG_LEVEL_ERROR ? "%s(%d):ERROR: %s" : "%s(%d): %s";
    const auto wrap = [&] {
        rec.level = level;
        std::snprintf(rec.text, sizeof rec.text, wrapper, func, line, rire_log_buf);
        return static_cast<uint32_t>(std::strlen(rec.text) + 5);
    };
    std::vsnprintf(rire_log_buf, RIRE_LOG_BUF_SIZE, fmt, ap);
    if (sdwrap_hist_event_subtype_check(0x730000, level) == 0)
        sdwrap_hist_event(0x730000, wrap(), &rec);
    if (sdwrap_chk_int(level, 0, 0, 1) != 0)
        buginf(1, sdwrap_dbg_modname, 0, "%s(%d): %s", func, line, rire_log_buf);
    sdwrap_his_log_event_for_uuid_inst(384, 0x730000, 1, 0, wrap(), &rec);
}

__attribute__((format(printf, 4, 5))) void floor_log(uint32_t level, const char *func, int line,
                                                     const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    floor_vlog(level, func, line, fmt, ap);
    va_end(ap);
}

// One event-log record split back into what the plugin logged.
struct Logged {
    uint32_t level;
    std::string func, message;
    int line;
};

std::vector<Logged> logged_since(size_t mark) {
    std::vector<Logged> out;
    const auto &log = emu::log::event_log();
    for (size_t i = mark; i < log.size(); i++) {
        const std::string t(log[i].text());
        const size_t open = t.find('('), close = t.find(')', open);
        const size_t body = t.compare(close, 9, "):ERROR: ") == 0 ? close + 9 : close + 3;
        out.push_back(
            {log[i].level, t.substr(0, open), t.substr(body), std::atoi(t.c_str() + open + 1)});
    }
    return out;
}

// ns per operation of the floor of the held-DI road: the records of a link
// update and of a completion, half of each per operation, through floor_log.
double road_floor(const std::vector<Logged> &records, uint32_t min_ops) {
    emu::log::set_sinks_enabled(true);
    settle();
    const uint32_t rounds = min_ops / 2;
    Clock::duration spent{};
    for (uint32_t done = 0; done < rounds;) {
        const uint32_t lap = std::min(kLap / 2, rounds - done);
        const auto start = Clock::now();
        for (uint32_t i = 0; i < lap; i++)
            for (const Logged &r : records)
                floor_log(r.level, r.func.c_str(), r.line, "%s", r.message.c_str());
        spent += Clock::now() - start;
        done += lap;
        settle();
    }
    return Seconds(spent).count() * 1e9 / (2.0 * rounds);
}

struct Road {
    double ns_per_op, records_per_op, cpu_share; // cpu_share: CPU time / wall time
};

// Rounds of N link updates then their N completions, timed in laps, until at
// least min_ops operations were timed. With the host's log sinks (event log in
// memory and events.log, event history) off the plugin still formats records.
Road road(uint32_t n, uint32_t min_ops, bool sinks) {
    emu::log::set_sinks_enabled(sinks);
    settle();
    const uint32_t total = (min_ops + 2 * n - 1) / (2 * n) * (2 * n);
    Clock::duration spent{};
    std::clock_t cpu = 0;
    uint32_t op = 0;
    uint64_t records = 0;
    while (op < total) {
        const uint32_t end = std::min(op + kLap, total);
        const auto start = Clock::now();
        const std::clock_t cpu_start = std::clock();
        for (; op < end; op++) {
            const uint32_t pos = op % (2 * n), req_id = 1 + op / (2 * n) * n + pos % n;
            pos < n ? link(req_id, pos + 1) : done(req_id);
        }
        spent += Clock::now() - start;
        cpu += std::clock() - cpu_start;
        records += settle();
    }
    if (g_plugin->hw_update_req_q()->count != 0)
        die("requests left outstanding after the road");
    return {Seconds(spent).count() * 1e9 / total, double(records) / total,
            double(cpu) / CLOCKS_PER_SEC / Seconds(spent).count()};
}

// road() in a child process, so that both runs start from the same heap: at
// large N the queue walk is bound by cache misses and so by where malloc put
// the requests. The child leaves the LMDB store alone.
Road isolated(uint32_t n, uint32_t min_ops, bool sinks) {
    int fds[2];
    Road r{};
    const pid_t child = pipe(fds) == 0 ? fork() : -1;
    if (child == 0) {
        r = road(n, min_ops, sinks);
        _exit(write(fds[1], &r, sizeof r) == sizeof r ? 0 : 1);
    }
    int status = 1;
    if (child < 0 || read(fds[0], &r, sizeof r) != sizeof r || waitpid(child, &status, 0) < 0 ||
        status != 0)
        die("the measuring child failed");
    close(fds[0]);
    close(fds[1]);
    return r;
}

Road faster(const Road &a, const Road &b) {
    return a.ns_per_op <= b.ns_per_op ? a : b;
}

void bench_road(const std::vector<uint32_t> &sizes, uint32_t min_ops) {
    emu::log::set_sinks_enabled(true);
    settle();
    link(1, 1);
    std::vector<Logged> records = logged_since(0);
    const size_t link_records = settle();
    done(1);
    for (Logged &r : logged_since(0))
        records.push_back(std::move(r));
    const size_t done_records = settle();
    std::printf(
        "1+2. Link update + completion, ns/op (PSS updates queued, not applied; journal off;\n"
        "     bare: host log sinks off; floor: the same records formatted by the logging\n"
        "     statement and handed to the sinks, no plugin logic; cpu%%: CPU/wall time, low\n"
        "     under other load; sinks and bare: the fastest of %d alternating runs each).\n"
        "     Event-log records per link update: %zu, per completion: %zu.\n",
        kRoadRepeats, link_records, done_records);
    std::printf("%8s %12s %10s %10s %10s %15s %12s %8s\n", "N", "ops/s(sinks)", "sinks", "bare",
                "floor", "logging share", "sinks/bare", "cpu%");
    road(1, 2 * kLap, false); // warm-up
    const double floor = road_floor(records, min_ops);
    for (uint32_t n : sizes) {
        const uint32_t ops = std::max(min_ops, 6 * n);
        Road sinks = isolated(n, ops, true), bare = isolated(n, ops, false);
        for (int i = 1; i < kRoadRepeats; i++) {
            sinks = faster(sinks, isolated(n, ops, true));
            bare = faster(bare, isolated(n, ops, false));
        }
        const double share = sinks.ns_per_op - bare.ns_per_op;
        std::printf("%8u %12.0f %10.0f %10.0f %10.0f %9.0f (%2.0f%%) %11.2fx %4.0f/%.0f\n", n,
                    1e9 / sinks.ns_per_op, sinks.ns_per_op, bare.ns_per_op, floor, share,
                    100.0 * share / sinks.ns_per_op, sinks.ns_per_op / bare.ns_per_op,
                    100 * sinks.cpu_share, 100 * bare.cpu_share);
        summarize("link-update-n" + std::to_string(n), sinks.ns_per_op / bare.ns_per_op);
    }
}

// Stores n requests of kDisPerRequest DIs through the plugin's link updates.
// A fresh plugin after each batch keeps its queue short: recovery is what is
// measured here, not link updates into a queue of 100,000 requests.
void write_requests(uint32_t n) {
    emu::log::set_sinks_enabled(false);
    for (uint32_t req = 1; req <= n; req++) {
        for (uint32_t d = 0; d < kDisPerRequest; d++)
            link(req, 11 + d);
        if (req % kWriteBatch == 0 || req == n) {
            if (emu::pss::flush() != 0)
                die("flush: " + emu::pss::last_store_error());
            boot();
        }
    }
}

// The store of `dir`, opened read-only beside (never with) the host's own.
MDB_env *open_store_readonly(const fs::path &dir) {
    MDB_env *env;
    if (emu::pss::view::open_env(dir, MDB_RDONLY | MDB_NOTLS, &env) != 0)
        die("cannot open the LMDB environment in " + dir.string());
    return env;
}

// A cursor over "hw_update" in a fresh read transaction; the caller closes
// both.
MDB_cursor *open_hw_update_cursor(MDB_env *env, MDB_txn **txn) {
    MDB_dbi dbi;
    MDB_cursor *cur;
    if (mdb_txn_begin(env, nullptr, MDB_RDONLY, txn) != 0 ||
        mdb_dbi_open(*txn, "hw_update", 0, &dbi) != 0 || mdb_cursor_open(*txn, dbi, &cur) != 0)
        die("cannot read the hw_update database");
    return cur;
}

// Records per second of read-only cursor walks over "hw_update", reading every
// byte. The host must be stopped: a process may open an environment only once.
double lmdb_walk_rate(const fs::path &dir, uint32_t expect, int walks) {
    MDB_env *env = open_store_readonly(dir);
    const auto start = Clock::now();
    uint32_t count = 0, sum = 0;
    for (int i = 0; i < walks; i++) {
        MDB_txn *txn;
        MDB_cursor *cur = open_hw_update_cursor(env, &txn);
        MDB_val k, v;
        for (int rc = mdb_cursor_get(cur, &k, &v, MDB_FIRST); rc == 0;
             rc = mdb_cursor_get(cur, &k, &v, MDB_NEXT), count++) {
            const auto *key = static_cast<const uint8_t *>(k.mv_data);
            const auto *value = static_cast<const uint8_t *>(v.mv_data);
            sum = std::accumulate(value, value + v.mv_size,
                                  std::accumulate(key, key + k.mv_size, sum));
        }
        mdb_cursor_close(cur);
        mdb_txn_abort(txn);
    }
    const double t = Seconds(Clock::now() - start).count();
    mdb_env_close(env);
    if (count != expect * walks || sum == 0)
        die("the LMDB walks saw " + std::to_string(count) + " records");
    return count / t;
}

// The floor of recovery: what recovery must do for each stored request,
// in the simplest code. One cursor step and one read of the record; its
// logging (the iteration's trace, the record's, one per TLV, and per DI the
// three traces of adding it, plus one for a new request); the walk of the
// request queue with a visit callback per element, as the host's queue
// utility runs it, and of the hold queue; one allocation per request and per
// DI. Seconds of one run; the host must be stopped.
struct FloorHold {
    FloorHold *next;
    uint16_t di, ref_count;
    uint32_t oiflist_index;
};
struct FloorReq {
    FloorReq *next;
    uint32_t req_id;
    FloorHold *hold;
};

int floor_visit(void *elem, void *key) {
    return static_cast<FloorReq *>(elem)->req_id == *static_cast<uint32_t *>(key) ? 1 : 0;
}

// The visit callback, read through a volatile so that no compiler inlines it
// or specialises floor_find for it: each element costs a call through the
// pointer, as in the host's queue utility.
int (*volatile g_floor_visit)(void *, void *) = floor_visit;

__attribute__((noinline)) FloorReq *floor_find(FloorReq *head, uint32_t req_id,
                                               int (*visit)(void *, void *)) {
    for (FloorReq *r = head; r != nullptr; r = r->next)
        if (visit(r, &req_id) != 0)
            return r;
    return nullptr;
}

void floor_add_di(FloorReq **head, FloorReq **tail, uint32_t req_id, uint16_t di,
                  uint32_t oiflist_index) {
    constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
    FloorReq *req = floor_find(*head, req_id, g_floor_visit);
    if (req == nullptr) {
        req = static_cast<FloorReq *>(std::calloc(1, sizeof(FloorReq)));
        req->req_id = req_id;
        (*tail == nullptr ? *head : (*tail)->next) = req;
        *tail = req;
        floor_log(kTrace, "insert", 1, "%s: Inserted req_id:%d to pending hw_update\n", "insert",
                  req_id);
    }
    floor_log(kTrace, "add", 2, "%s: Adding DI:%d to hold_q for hw_update Req:%d\n", "add", di,
              req_id);
    FloorHold *h = req->hold;
    while (h != nullptr && h->di != di)
        h = h->next;
    if (h == nullptr) {
        h = static_cast<FloorHold *>(std::calloc(1, sizeof(FloorHold)));
        *h = {req->hold, di, 0, oiflist_index};
        req->hold = h;
        floor_log(kTrace, "enqueue", 3, "%s: Inserted DI:%d to the hold_q\n", "enqueue", di);
    }
    h->ref_count++;
    floor_log(kTrace, "enqueue", 4, "%s: DI:%d, ref_count:%d \n", "enqueue", di, h->ref_count);
}

double recovery_floor(const fs::path &dir, uint32_t expect) {
    constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
    constexpr size_t kTlvAt = 6, kTlvHeader = 5, kEntry = 8;
    emu::log::set_sinks_enabled(true);
    emu::log::set_state_dir(dir);
    MDB_env *env = open_store_readonly(dir);
    FloorReq *head = nullptr, *tail = nullptr;
    uint32_t count = 0;
    const auto start = Clock::now();
    MDB_txn *txn;
    MDB_cursor *cur = open_hw_update_cursor(env, &txn);
    MDB_val k, v;
    for (int rc = mdb_cursor_get(cur, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(cur, &k, &v, MDB_NEXT), count++) {
        floor_log(kTrace, "get", 5, "In %s\n", "get");
        uint32_t req_id;
        std::memcpy(&req_id, k.mv_data, sizeof req_id);
        const auto *value = static_cast<const uint8_t *>(v.mv_data);
        floor_log(kTrace, "recover", 6,
                  "%s Recovered data hw update req with id %d num_hold_di: %d\n", "recover", req_id,
                  value[5]);
        const uint8_t *payload = value + kTlvAt + kTlvHeader;
        for (uint32_t i = 0; i < value[5]; i++) {
            uint16_t di;
            uint32_t oiflist_index;
            std::memcpy(&di, payload + kEntry * i, sizeof di);
            std::memcpy(&oiflist_index, payload + kEntry * i + 4, sizeof oiflist_index);
            floor_add_di(&head, &tail, req_id, di, oiflist_index);
        }
        floor_log(kTrace, "decode", 7, "TLV type oif len:%d \n", value[5] * 8);
    }
    mdb_cursor_close(cur);
    mdb_txn_abort(txn);
    const double spent = Seconds(Clock::now() - start).count();
    if (count != expect)
        die("the floor walk saw " + std::to_string(count) + " records");
    for (FloorReq *r = head; r != nullptr;) {
        for (FloorHold *h = r->hold; h != nullptr;) {
            FloorHold *next = h->next;
            std::free(h);
            h = next;
        }
        FloorReq *next = r->next;
        std::free(r);
        r = next;
    }
    emu::log::clear();
    emu::log::set_state_dir({});
    mdb_env_close(env);
    return spent;
}

// Seconds to recover the first `sample` stored requests (a failing key fetch
// ends the walk there), followed by a restart.
double recover(uint32_t stored, uint32_t sample, bool sinks) {
    emu::log::set_sinks_enabled(sinks);
    emu::faults::clear(emu::faults::Id::kPssGetkeyFail);
    if (sample < stored)
        emu::faults::set(emu::faults::Id::kPssGetkeyFail,
                         {.target = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, .count = sample + 1});
    const auto start = Clock::now();
    api().pss_recover();
    const double spent = Seconds(Clock::now() - start).count();
    if (const uint32_t got = g_plugin->hw_update_req_q()->count; got != sample)
        die("recovered " + std::to_string(got) + " of " + std::to_string(sample));
    emu::host_down(g_plugin);
    boot();
    return spent;
}

void print_recovery(const std::string &label, double recs, double sinks, double bare, double floor,
                    double walk) {
    std::printf("%16s %12.0f %12.0f %12.0f %12.0f %10.2fx\n", label.c_str(), recs / sinks,
                recs / bare, recs / floor, walk, sinks / floor);
}

void bench_recovery(const std::vector<uint32_t> &sizes) {
    std::printf(
        "\n3. Recovery of stored requests, %u DIs each, records per second, journal off;\n"
        "   floor: LMDB walk + the logging, queue walks and allocations recovery must do;\n"
        "   plugin and floor: the fastest of alternating runs (%d up to %u requests, %d above)\n"
        "%16s %12s %12s %12s %12s %11s\n",
        kDisPerRequest, kRecoveryRepeats, kSmallStore, kLargeRecoveryRepeats, "stored (timed)",
        "plugin/sinks", "plugin/bare", "floor", "LMDB walk", "sinks/floor");
    for (uint32_t n : sizes) {
        fs::remove_all(g_dir);
        boot();
        write_requests(n);
        emu::host_end(g_plugin);
        const double walk = lmdb_walk_rate(g_dir, n, n <= 10000 ? 20 : 3);
        boot();
        uint32_t sample = std::min(n, kProbe);
        const double scale = double(n) / sample;
        const double predicted = recover(n, sample, true) * scale * scale;
        sample = predicted <= kRecoveryBudget ? n : n * std::sqrt(kSampleBudget / predicted);
        // Runs of the plugin with sinks on, off and of the floor alternate,
        // and the fastest of each is kept, as for the road.
        double sinks = INFINITY, bare = INFINITY, floor = INFINITY;
        const int runs = sample <= kSmallStore ? kRecoveryRepeats : kLargeRecoveryRepeats;
        for (int run = 0; run < runs; run++) {
            sinks = std::min(sinks, recover(n, sample, true));
            bare = std::min(bare, recover(n, sample, false));
            if (sample < n)
                continue;
            emu::host_end(g_plugin);
            floor = std::min(floor, recovery_floor(g_dir, n));
            boot();
        }
        emu::host_end(g_plugin);
        if (sample < n) {
            const double grow = (double(n) / sample) * (double(n) / sample);
            print_recovery(std::to_string(n) + " (est.)", n, sinks * grow, bare * grow,
                           sinks * grow, walk);
            std::printf("  All %u predicted at %.0f s (> %.0f s): timed the first %u; est. = "
                        "x(%u/%u)^2; no floor\n",
                        n, predicted, kRecoveryBudget, sample, n, sample);
            continue;
        }
        print_recovery(std::to_string(n), n, sinks, bare, floor, walk);
        summarize("recovery-" + std::to_string(n), sinks / floor);
    }
}

// Peak RSS in KiB of a fresh process (forked before any store is opened, so
// that LMDB is never used across a fork) that runs `ops` link updates and completions with the
// sinks on, flushing to the store every kFlushEvery operations.
long memory_run(uint32_t ops) {
    constexpr uint32_t kFlushEvery = 100;
    int fds[2];
    long kib = 0;
    const pid_t child = pipe(fds) == 0 ? fork() : -1;
    if (child == 0) {
        emu::host_start({g_dir / ("memory-" + std::to_string(ops))});
        boot();
        for (uint32_t op = 0; op < ops; op++) {
            const uint32_t req_id = 1 + op / 2;
            op % 2 == 0 ? link(req_id, 1 + req_id % 60000) : done(req_id);
            if ((op + 1) % kFlushEvery == 0 && emu::pss::flush() != 0)
                _exit(1);
            if ((op + 1) % kLap == 0)
                emu::log::clear();
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        kib = usage.ru_maxrss;
        _exit(write(fds[1], &kib, sizeof kib) == sizeof kib ? 0 : 1);
    }
    int status = 1;
    if (child < 0 || read(fds[0], &kib, sizeof kib) != sizeof kib ||
        waitpid(child, &status, 0) < 0 || status != 0)
        die("the memory run failed");
    close(fds[0]);
    close(fds[1]);
    return kib;
}

struct Memory {
    uint32_t small, large;
    long small_kib, large_kib;
};

void print_memory(const Memory &m) {
    const auto [small, large, small_kib, large_kib] = m;
    std::printf("\n4. Peak RSS of a process running link updates + completions, sinks on, a flush\n"
                "   every 100 operations\n"
                "%12u ops: %6.1f MiB\n%12u ops: %6.1f MiB (%.2fx)\n",
                small, small_kib / 1024.0, large, large_kib / 1024.0,
                double(large_kib) / small_kib);
    summarize("memory-" + std::to_string(large) + "-vs-" + std::to_string(small),
              double(large_kib) / small_kib);
}

long peak_rss_kib() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return std::max(self.ru_maxrss, children.ru_maxrss);
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (argc > 2 || (argc == 2 && !quick))
        die("usage: rire-bench [--quick]");
    fs::remove_all(g_dir);
    // First, while no store is open in this process: the children start clean.
    const uint32_t large = quick ? 100000 : 1000000;
    const Memory memory{10000, large, memory_run(10000), memory_run(large)};
    boot();
    bench_road(quick ? std::vector<uint32_t>{1, 100, 1000} : std::vector<uint32_t>{1, 1000, 10000},
               quick ? 20000 : 200000);
    emu::host_end(g_plugin);
    bench_recovery(quick ? std::vector<uint32_t>{1000, 10000}
                         : std::vector<uint32_t>{1000, 10000, 100000});
    print_memory(memory);
    fs::remove_all(g_dir);
    std::printf("\n");
    for (const std::string &line : g_summary)
        std::printf("%s\n", line.c_str());
    std::printf("peak-rss-mib %.0f\n", std::ceil(peak_rss_kib() / 1024.0));
    return 0;
}
