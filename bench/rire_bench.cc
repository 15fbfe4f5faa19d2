// rire-bench [--quick]: the real plugin in the host emulator, timed on
//   1. link updates (case 5, a new request and DI each) and their completions
//      with N requests outstanding: the request queue is a linear list;
//   2. the same with and without the host's log sinks: the logging share;
//   3. recovery of stored requests beside a bare LMDB walk over the records.
#include <lmdb.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "emu/journal.h"
#include "emu/log.h"
#include "emu/mts.h"
#include "emu/plugin.h"
#include "emu/pss.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Operations per timed lap: ~40 arena bytes per link update, ~12 per completion.
constexpr uint32_t kLap = 1000;
// Requests written per flush when filling the store: ~200 arena bytes each.
constexpr uint32_t kWriteBatch = 250;
constexpr uint32_t kDisPerRequest = 4;
// Recovery is quadratic in the requests: when a probe of kProbe records
// predicts more than kRecoveryBudget seconds for the whole store, a sample
// taking about kSampleBudget seconds is timed and the whole extrapolated.
constexpr uint32_t kProbe = 10000;
constexpr double kRecoveryBudget = 60.0;
constexpr double kSampleBudget = 15.0;

const fs::path g_dir = fs::temp_directory_path() / "rire-bench";
std::unique_ptr<emu::Plugin> g_plugin;

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

void bench_road(const std::vector<uint32_t> &sizes, uint32_t min_ops) {
    emu::log::set_sinks_enabled(true);
    settle();
    link(1, 1);
    const size_t link_records = settle();
    done(1);
    const size_t done_records = settle();
    std::printf(
        "1+2. Link update + completion, ns/op (PSS updates queued, not applied; journal off;\n"
        "     bare: host log sinks off; cpu%%: CPU/wall time, low under other load). Event-log\n"
        "     records per link update: %zu, per completion: %zu.\n",
        link_records, done_records);
    std::printf("%8s %12s %10s %10s %15s %8s %8s\n", "N", "ops/s(sinks)", "sinks", "bare",
                "logging share", "rec/op", "cpu%");
    road(1, 2 * kLap, false); // warm-up
    for (uint32_t n : sizes) {
        const uint32_t ops = std::max(min_ops, 6 * n);
        const Road sinks = isolated(n, ops, true);
        const Road bare = isolated(n, ops, false);
        const double share = sinks.ns_per_op - bare.ns_per_op;
        std::printf("%8u %12.0f %10.0f %10.0f %9.0f (%2.0f%%) %8.1f %4.0f/%.0f\n", n,
                    1e9 / sinks.ns_per_op, sinks.ns_per_op, bare.ns_per_op, share,
                    100.0 * share / sinks.ns_per_op, sinks.records_per_op, 100 * sinks.cpu_share,
                    100 * bare.cpu_share);
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

// Records per second of read-only cursor walks over "hw_update", reading every
// byte. The host must be stopped: a process may open an environment only once.
double lmdb_walk_rate(const fs::path &dir, uint32_t expect, int walks) {
    MDB_env *env;
    MDB_txn *txn;
    MDB_dbi dbi;
    MDB_cursor *cur;
    if (mdb_env_create(&env) != 0 || mdb_env_set_maxdbs(env, 32) != 0 ||
        mdb_env_open(env, dir.c_str(), MDB_RDONLY | MDB_NOTLS, 0644) != 0)
        die("cannot open the LMDB environment in " + dir.string());
    const auto start = Clock::now();
    uint32_t count = 0, sum = 0;
    for (int i = 0; i < walks; i++) {
        if (mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn) != 0 ||
            mdb_dbi_open(txn, "hw_update", 0, &dbi) != 0 || mdb_cursor_open(txn, dbi, &cur) != 0)
            die("cannot read the hw_update database");
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

// Mean seconds to recover the first `sample` stored requests (a failing key
// fetch ends the walk there), each run followed by a restart.
double recover(uint32_t stored, uint32_t sample, bool sinks, int runs = 1) {
    double total = 0;
    for (int i = 0; i < runs; i++) {
        emu::log::set_sinks_enabled(sinks);
        emu::faults::clear(emu::faults::Id::kPssGetkeyFail);
        if (sample < stored)
            emu::faults::set(emu::faults::Id::kPssGetkeyFail,
                             {.target = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, .count = sample + 1});
        const auto start = Clock::now();
        api().pss_recover();
        total += Seconds(Clock::now() - start).count();
        if (const uint32_t got = g_plugin->hw_update_req_q()->count; got != sample)
            die("recovered " + std::to_string(got) + " of " + std::to_string(sample));
        emu::host_down(g_plugin);
        boot();
    }
    return total / runs;
}

void print_recovery(const std::string &label, double recs, double sinks, double bare, double walk) {
    std::printf("%16s %12.0f %12.0f %12.0f %9.0fx\n", label.c_str(), recs / sinks, recs / bare,
                walk, walk * sinks / recs);
}

void bench_recovery(const std::vector<uint32_t> &sizes) {
    std::printf("\n3. Recovery of stored requests, %u DIs each, records per second, journal off\n"
                "%16s %12s %12s %12s %10s\n",
                kDisPerRequest, "stored (timed)", "plugin/sinks", "plugin/bare", "LMDB walk",
                "LMDB/sinks");
    for (uint32_t n : sizes) {
        fs::remove_all(g_dir);
        boot();
        write_requests(n);
        g_plugin.reset();
        emu::host_stop();
        const double walk = lmdb_walk_rate(g_dir, n, n <= 10000 ? 20 : 3);
        boot();
        uint32_t sample = std::min(n, kProbe);
        const double scale = double(n) / sample;
        const double predicted = recover(n, sample, true) * scale * scale;
        sample = predicted <= kRecoveryBudget ? n : n * std::sqrt(kSampleBudget / predicted);
        const int runs = sample <= 1000 ? 20 : 1;
        const double sinks = recover(n, sample, true, runs), bare = recover(n, sample, false, runs);
        g_plugin.reset();
        emu::host_stop();
        print_recovery(std::to_string(n) + " (" + std::to_string(sample) + ")", sample, sinks, bare,
                       walk);
        if (sample == n)
            continue;
        const double grow = (double(n) / sample) * (double(n) / sample);
        print_recovery(std::to_string(n) + " (est.)", n, sinks * grow, bare * grow, walk);
        std::printf(
            "  All %u predicted at %.0f s (> %.0f s): timed the first %u; est. = x(%u/%u)^2\n", n,
            predicted, kRecoveryBudget, sample, n, sample);
    }
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (argc > 2 || (argc == 2 && !quick))
        die("usage: rire-bench [--quick]");
    emu::journal::set_enabled(false); // the emulator's call journal: no switch has one
    fs::remove_all(g_dir);
    boot();
    bench_road(quick ? std::vector<uint32_t>{1, 100, 1000} : std::vector<uint32_t>{1, 1000, 10000},
               quick ? 20000 : 200000);
    g_plugin.reset();
    emu::host_stop();
    bench_recovery(quick ? std::vector<uint32_t>{1000, 10000}
                         : std::vector<uint32_t>{1000, 100000});
    fs::remove_all(g_dir);
    return 0;
}
