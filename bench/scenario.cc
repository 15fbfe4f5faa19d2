// Figure 5: rire-host on generated scenarios of link updates (case 5) and
// their answers, one request outstanding at a time as on the road at N = 1,
// with default options (a scheduled flush after every command that queued
// an update, the default sync policy) and a `flush` line every 100 lines.
// Wall time of the whole process (boot, parsing, dispatch, output to
// /dev/null, the store's commits), the fastest of kRuns, per operation and
// beside the road's ns per operation with the sinks on at N = 1.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/timing.h"

namespace bench {
namespace {

constexpr int kRuns = 3;
constexpr uint32_t kFlushEvery = 100;

// Writes a scenario of `ops` operations: link updates and answers in turn.
fs::path write_scenario(uint32_t ops) {
    const fs::path file = work_dir() / ("scenario-" + std::to_string(ops) + ".scn");
    fs::create_directories(work_dir());
    std::ofstream out(file);
    out << "# " << ops << " operations: link updates and their answers\n";
    for (uint32_t op = 0, lines = 0; op < ops; op++) {
        const uint32_t req = 1 + op / 2;
        if (op % 2 == 0)
            out << "link-update req=" << req << " type=1 old-index=" << 1 + req % 60000
                << " old-di=" << 1 + req % 30000 << " new-index=200 new-di=400\n";
        else
            out << "hw-done id=" << req << "\n";
        if (++lines % kFlushEvery == 0)
            out << "flush\n";
    }
    if (!out)
        die("cannot write " + file.string());
    return file;
}

// Seconds of one rire-host run of `file` on a fresh state directory, its
// output thrown away; dies when the run fails.
double run_host(const fs::path &file) {
    const fs::path state = work_dir() / "scenario-state";
    fs::remove_all(state);
    std::vector<std::string> words;
    if (RIRE_LAUNCHER[0] != '\0')
        words.push_back(RIRE_LAUNCHER);
    for (const char *w : {RIRE_HOST_PATH, "--state"})
        words.push_back(w);
    words.push_back(state.string());
    words.push_back(file.string());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 1;
    if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        die("rire-host failed on " + file.string());
    return Seconds(Clock::now() - start).count();
}

} // namespace

void scenario(const std::vector<uint32_t> &sizes, double road_ns_per_op) {
    std::printf("\n5. rire-host on a scenario of link updates and answers, default options, a\n"
                "   flush line every %u; whole process, the fastest of %d runs; beside the\n"
                "   road at N = 1 with the sinks on (%.0f ns/op)\n"
                "%12s %10s %12s %10s\n",
                kFlushEvery, kRuns, road_ns_per_op, "operations", "seconds", "ns/op", "/road");
    for (uint32_t ops : sizes) {
        const fs::path file = write_scenario(ops);
        double best = INFINITY;
        for (int run = 0; run < kRuns; run++)
            best = std::min(best, run_host(file));
        const double ns = best * 1e9 / ops;
        std::printf("%12u %10.2f %12.0f %9.2fx\n", ops, best, ns, ns / road_ns_per_op);
        summarize("scenario-" + std::to_string(ops), ns / road_ns_per_op);
    }
}

} // namespace bench
