// Figures 1 and 2: link updates (case 5, a new request and DI each) and their
// completions with N requests outstanding (the request queue is a linear
// list), with and without the host's log sinks (the fastest of alternating
// runs each), beside the floor: the same records formatted as the logging
// statement must and handed to the sinks, with no plugin logic.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/floor_log.h"
#include "bench/timing.h"
#include "emu/log/log.h"

namespace bench {
namespace {

// Runs with the sinks on and off alternate, each kRoadRepeats times, and the
// fastest of each is kept: the run least disturbed by other load on a shared
// machine.
constexpr int kRoadRepeats = 5;

// One event-log record split back into what the plugin logged.
struct Logged {
    uint32_t level;
    std::string func, message;
    int line;
};

std::vector<Logged> logged_since(std::size_t mark) {
    std::vector<Logged> out;
    const auto &log = emu::log::event_log();
    for (std::size_t i = mark; i < log.size(); i++) {
        const std::string t(log[i].text);
        const std::size_t open = t.find('('), close = t.find(')', open);
        const std::size_t body = t.compare(close, 9, "):ERROR: ") == 0 ? close + 9 : close + 3;
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
Road run_road(uint32_t n, uint32_t min_ops, bool sinks) {
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
    if (plugin()->hw_update_req_q()->count != 0)
        die("requests left outstanding after the road");
    return {Seconds(spent).count() * 1e9 / total, double(records) / total,
            double(cpu) / CLOCKS_PER_SEC / Seconds(spent).count()};
}

// run_road() in a child process, so that both runs start from the same heap:
// at large N the queue walk is bound by cache misses and so by where malloc
// put the requests. The child leaves the LMDB store alone.
Road isolated(uint32_t n, uint32_t min_ops, bool sinks) {
    return in_child<Road>([&] { return run_road(n, min_ops, sinks); });
}

Road faster(const Road &a, const Road &b) {
    return a.ns_per_op <= b.ns_per_op ? a : b;
}

} // namespace

std::vector<double> road(const std::vector<uint32_t> &sizes, uint32_t min_ops) {
    emu::log::set_sinks_enabled(true);
    settle();
    link(1, 1);
    std::vector<Logged> records = logged_since(0);
    const std::size_t link_records = settle();
    done(1);
    for (Logged &r : logged_since(0))
        records.push_back(std::move(r));
    const std::size_t done_records = settle();
    std::printf(
        "1+2. Link update + completion, ns/op (PSS updates queued, not applied; journal off;\n"
        "     bare: host log sinks off; floor: the same records formatted by the logging\n"
        "     statement and handed to the sinks, no plugin logic; cpu%%: CPU/wall time, low\n"
        "     under other load; sinks and bare: the fastest of %d alternating runs each;\n"
        "     per record: the logging share over the event-log records of an operation).\n"
        "     Event-log records per link update: %zu, per completion: %zu.\n",
        kRoadRepeats, link_records, done_records);
    std::printf("%8s %12s %10s %10s %10s %15s %10s %12s %8s\n", "N", "ops/s(sinks)", "sinks",
                "bare", "floor", "logging share", "per record", "sinks/bare", "cpu%");
    run_road(1, 2 * kLap, false); // warm-up
    const double floor = road_floor(records, min_ops);
    std::vector<double> ns_per_op;
    for (uint32_t n : sizes) {
        const uint32_t ops = std::max(min_ops, 6 * n);
        Road sinks = isolated(n, ops, true), bare = isolated(n, ops, false);
        for (int i = 1; i < kRoadRepeats; i++) {
            sinks = faster(sinks, isolated(n, ops, true));
            bare = faster(bare, isolated(n, ops, false));
        }
        const double share = sinks.ns_per_op - bare.ns_per_op;
        std::printf("%8u %12.0f %10.0f %10.0f %10.0f %9.0f (%2.0f%%) %10.0f %11.2fx %4.0f/%.0f\n",
                    n, 1e9 / sinks.ns_per_op, sinks.ns_per_op, bare.ns_per_op, floor, share,
                    100.0 * share / sinks.ns_per_op, share / sinks.records_per_op,
                    sinks.ns_per_op / bare.ns_per_op, 100 * sinks.cpu_share, 100 * bare.cpu_share);
        summarize("link-update-n" + std::to_string(n), sinks.ns_per_op / bare.ns_per_op);
        ns_per_op.push_back(sinks.ns_per_op);
    }
    return ns_per_op;
}

} // namespace bench
