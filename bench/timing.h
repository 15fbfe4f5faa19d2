// What every figure of rire-bench shares: the clock, the script-readable
// summary, a measurement run in a child process, and the plugin booted in
// the emulator with the two operations of the held-DI road.
//
// The summary is the lines a script reads, printed last: "ratio NAME VALUE"
// for each figure beside its floor or goal, then "peak-rss-mib N".
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "emu/loader/plugin.h"
#include "plugin/include/rire_orsk_platform_api.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Operations per timed lap: ~40 arena bytes per link update, ~12 per completion.
constexpr uint32_t kLap = 1000;

// A fresh directory of this run, for every figure's state; removed at the
// end. Runs side by side do not share it.
const fs::path &work_dir();

[[noreturn]] void die(const std::string &why);
// Adds "ratio NAME VALUE" to the summary.
void summarize(const std::string &name, double value);
// Prints the summary and the peak RSS of this process and its children.
void print_summary();

// Runs `measure` in a forked child and returns what it returned: the child
// starts from this process's heap as it is, and leaves this process's store
// and heap alone. T is copied through a pipe, so it holds plain values.
template <class T, class F> T in_child(F measure) {
    int fds[2];
    T out{};
    const pid_t child = pipe(fds) == 0 ? fork() : -1;
    if (child == 0) {
        out = measure();
        _exit(write(fds[1], &out, sizeof out) == sizeof out ? 0 : 1);
    }
    int status = 1;
    if (child < 0 || read(fds[0], &out, sizeof out) != sizeof out ||
        waitpid(child, &status, 0) < 0 || status != 0)
        die("the measuring child failed");
    close(fds[0]);
    close(fds[1]);
    return out;
}

// The plugin, booted on work_dir() as the switch boots it (emu/boot.h).
std::unique_ptr<emu::loader::Plugin> &plugin();
rire_orsk_platform_api &api();
// Loads a fresh plugin and boots it; the host starts if it is not running.
void boot();
// A link update of case 5: request req_id takes DI `di`.
void link(uint32_t req_id, uint32_t di);
// The answer to request req_id.
void done(uint32_t req_id);
// Drops the queued PSS updates, the arena and the records in memory; returns
// the number of event-log records dropped.
std::size_t settle();

} // namespace bench
