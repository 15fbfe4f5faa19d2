// Crash safety: a process killed at any moment leaves the store exactly as
// one of its flushes committed it, never half a flush, and without the
// updates it had queued but not flushed; the next process recovers from it.
// Its events.log holds every record logged before the kill, whole. That
// holds under the default sync policy, which syncs nothing; the policies
// that sync are seen making their sync calls.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>

#include "emu/boot.h"
#include "emu/host.h"
#include "emu/rire/pending_di.h"
#include "emu/services/mts.h"
#include "tests/harness.h"

// Every sync call of the process, counted. A program's own definitions come
// before the C library's, so LMDB's calls land here and go on to the kernel.
std::atomic<int> g_sync_calls{0};

extern "C" int fdatasync(int fd) {
    g_sync_calls++;
    return static_cast<int>(syscall(SYS_fdatasync, fd));
}

extern "C" int fsync(int fd) {
    g_sync_calls++;
    return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace rire_test {
namespace {

// One host event of the deterministic workload.
struct Op {
    enum Kind { kLink, kSwap, kDone, kPendingInsert, kPendingDelete, kFlush } kind;
    uint32_t a = 0, b = 0, c = 0, d = 0;
};

// The workload: link updates, swaps, completions and pending-DI writes, with
// a flush every few events; the same seed gives the same events.
std::vector<Op> workload(uint32_t seed, int length) {
    std::mt19937 rng(seed);
    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    std::vector<Op> ops;
    uint32_t fresh_id = 1000;
    for (int i = 0; i < length; i++) {
        const uint32_t r = pick(0, 99);
        if (r < 45)
            ops.push_back({Op::kLink, pick(1, 12), pick(1, 2), pick(1, 200), pick(1, 50)});
        else if (r < 55)
            ops.push_back({Op::kSwap, pick(1, 12), fresh_id++});
        else if (r < 68)
            ops.push_back({Op::kDone, pick(1, 12)});
        else if (r < 80)
            ops.push_back({Op::kPendingInsert, 0, pick(1, 2), pick(1, 30), pick(1, 50)});
        else if (r < 86)
            ops.push_back({Op::kPendingDelete, 0, pick(1, 2), pick(1, 30)});
        else
            ops.push_back({Op::kFlush});
    }
    ops.push_back({Op::kFlush});
    return ops;
}

// A booted host and plugin on a state directory, with the host's pending-DI
// records; runs workload events.
class Process {
  public:
    explicit Process(const std::filesystem::path &dir) {
        emu::Booted b = emu::host_up({dir, RIRE_PLUGIN_PATH});
        plugin_ = std::move(b.plugin);
        if (!plugin_)
            throw std::runtime_error("cannot boot the plugin: " + b.error);
        if (b.open_status != 0)
            throw std::runtime_error("pss_open_file failed");
    }
    ~Process() { emu::host_end(plugin_); }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    rire_orsk_platform_api &api() { return *plugin_->api(); }
    queue_hdr &request_queue() { return *plugin_->hw_update_req_q(); }

    // Runs one event; true when it was a flush.
    bool run(const Op &op) {
        switch (op.kind) {
        case Op::kLink:
            api().oiflist_link_update(op.a, op.b, op.c, op.d, 0, 400);
            break;
        case Op::kSwap: {
            mts_msg old_msg = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, op.a);
            mts_msg new_msg = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, op.b);
            api().hw_update_req_swap(&old_msg, &new_msg);
            break;
        }
        case Op::kDone: {
            mts_msg answer = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, op.a);
            api().hw_update_done(&answer);
            break;
        }
        case Op::kPendingInsert: {
            rire_orsk_di_req &rec = emu::rire::pending_di::get(op.b, op.c);
            rec.state = RIRE_DI_REQ_STATE_PENDING_HW_UPDATE;
            uint32_t is_new;
            plugin_->fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue")(
                &rec.hold_q, op.d, op.c + 1, &is_new);
            plugin_->fn<decltype(&rire_orsk_pss_insert_pending_di_info)>(
                "rire_orsk_pss_insert_pending_di_info")(static_cast<uint8_t>(op.b), &rec);
            break;
        }
        case Op::kPendingDelete: {
            uint32_t index = op.c;
            plugin_->fn<decltype(&rire_orsk_pss_delete_pending_di_info)>(
                "rire_orsk_pss_delete_pending_di_info")(static_cast<uint8_t>(op.b), &index);
            emu::rire::pending_di::drop(*plugin_, op.b, op.c);
            break;
        }
        case Op::kFlush:
            if (emu::pss::flush() != 0)
                throw std::runtime_error("flush failed: " + emu::pss::last_store_error());
            return true;
        }
        return false;
    }

  private:
    std::unique_ptr<emu::loader::Plugin> plugin_;
};

using Store = std::map<std::string, emu::pss::Records>;

// Updates the child queues after its last flush and never flushes.
const std::vector<Op> kUnflushed = {{Op::kLink, 1, 1, 7, 9},
                                    {Op::kLink, 2000, 2, 8, 10},
                                    {Op::kDone, 2},
                                    {Op::kPendingDelete, 0, 1, 5}};

// The lines of <dir>/events.log without their timestamps.
std::vector<std::string> logged(const std::filesystem::path &dir) {
    std::vector<std::string> lines = emu::log::EventLogFile::read_lines(dir / "events.log");
    for (std::string &line : lines)
        line.erase(0, line.find(' ') + 1);
    return lines;
}

// Progress bytes the child writes to the parent.
constexpr char kBooted = 'B';
constexpr char kFlushed = 'F';
constexpr char kQueuedUnflushed = 'D';

// The child: runs the workload, reporting each flush, then queues more
// updates it never flushes and waits to be killed.
[[noreturn]] void run_child(const std::filesystem::path &dir, const std::vector<Op> &ops, int out) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The plugin's temporary copy goes with the state directory, which the
    // parent removes: the killed child cannot delete it.
    setenv("TMPDIR", dir.c_str(), 1);
    try {
        Process p(dir);
        auto report = [out](char c) {
            if (write(out, &c, 1) != 1)
                _exit(3);
        };
        report(kBooted);
        for (const Op &op : ops)
            if (p.run(op))
                report(kFlushed);
        for (const Op &op : kUnflushed)
            p.run(op);
        report(kQueuedUnflushed);
        for (;;)
            pause();
    } catch (...) {
        _exit(2);
    }
}

class CrashSafety : public ::testing::Test {
  protected:
    void TearDown() override { emu::host_stop(); }
};

TEST_F(CrashSafety, KilledProcessLeavesExactlyOneCommittedState) {
    constexpr uint32_t kSeed = 7031;
    constexpr int kRounds = 16;
    const std::vector<Op> ops = workload(kSeed, 240);

    // The committed states: the store after boot and after each flush, with
    // the number of event-log records logged by then. The time between
    // flushes scales the kill delays, so that kills land on either side of a
    // commit and inside it.
    std::vector<Store> committed;
    std::vector<size_t> records_at;
    std::vector<std::string> all_records;
    std::chrono::steady_clock::duration busy{};
    {
        TempDir dir;
        {
            Process p(dir.path());
            committed.push_back(emu::pss::snapshot());
            records_at.push_back(emu::log::event_log().size());
            for (const Op &op : ops) {
                const auto start = std::chrono::steady_clock::now();
                const bool flushed = p.run(op);
                busy += std::chrono::steady_clock::now() - start;
                if (flushed) {
                    committed.push_back(emu::pss::snapshot());
                    records_at.push_back(emu::log::event_log().size());
                }
            }
            for (const Op &op : kUnflushed)
                p.run(op);
        }
        all_records = logged(dir.path());
    }
    const auto max_delay_us = static_cast<unsigned>(
        2 * std::chrono::duration_cast<std::chrono::microseconds>(busy).count() / committed.size());
    ASSERT_GT(committed.size(), 10u);
    ASSERT_FALSE(committed.back().at("hw_update").empty());

    std::mt19937 rng(kSeed);
    for (int round = 0; round < kRounds; round++) {
        // The last round waits for the unflushed updates and kills without delay.
        const bool to_the_end = round == kRounds - 1;
        const size_t target =
            to_the_end ? committed.size()
                       : std::uniform_int_distribution<size_t>(0, committed.size() - 1)(rng);
        const unsigned delay_us =
            to_the_end ? 0 : std::uniform_int_distribution<unsigned>(0, max_delay_us)(rng);
        SCOPED_TRACE("round " + std::to_string(round) + ": kill after flush " +
                     std::to_string(target) + " + " + std::to_string(delay_us) + " us");

        TempDir dir;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            run_child(dir.path(), ops, fds[1]);
        close(fds[1]);
        size_t flushed = 0;
        bool booted = false, queued = false;
        for (char c; !queued && (!booted || flushed < target) && read(fds[0], &c, 1) == 1;) {
            booted |= c == kBooted;
            flushed += c == kFlushed;
            queued |= c == kQueuedUnflushed;
        }
        close(fds[0]);
        usleep(delay_us);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the child ended on its own, status " << status;
        ASSERT_TRUE(booted);
        ASSERT_TRUE(!to_the_end || queued);

        // Every record logged before the last flush reported is in the file,
        // and the file holds whole records of the run and nothing else.
        const std::vector<std::string> records = logged(dir.path());
        EXPECT_GE(records.size(), to_the_end ? all_records.size() : records_at[flushed]);
        ASSERT_LE(records.size(), all_records.size());
        EXPECT_TRUE(std::equal(records.begin(), records.end(), all_records.begin()));

        // A new process recovers from what the killed one left.
        Process p(dir.path());
        const Store store = emu::pss::snapshot();
        p.api().pss_recover();
        EXPECT_TRUE(emu::pss::pending().empty());
        size_t match = committed.size();
        for (size_t i = flushed; i < committed.size() && match == committed.size(); i++)
            if (committed[i] == store)
                match = i;
        ASSERT_LT(match, committed.size())
            << "the store is no state committed at or after flush " << flushed;
        if (to_the_end) {
            EXPECT_EQ(store, committed.back());
        }

        // Every stored request, and only those, is rebuilt, in key order.
        std::vector<uint32_t> stored_ids, rebuilt_ids;
        for (const auto &[key, value] : store.at("hw_update"))
            stored_ids.push_back(key[0] | key[1] << 8 | key[2] << 16 | uint32_t{key[3]} << 24);
        for (auto *r = static_cast<rire_orsk_hw_update_req *>(p.request_queue().head); r;
             r = r->next)
            rebuilt_ids.push_back(r->req_id);
        EXPECT_EQ(rebuilt_ids, stored_ids);
    }
}

// The temporary copies of the plugin in `dir`.
size_t plugin_copies(const std::filesystem::path &dir) {
    size_t n = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        n += entry.path().filename().string().starts_with("rire-plugin-");
    return n;
}

// A killed process cannot delete its copy of the plugin; the next process
// that loads the plugin from the same temporary directory does.
TEST_F(CrashSafety, NextProcessRemovesTheCopyOfAKilledOne) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t killed = fork();
    ASSERT_GE(killed, 0);
    if (killed == 0)
        run_child(dir.path(), {}, fds[1]);
    close(fds[1]);
    char c = 0;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    close(fds[0]);
    kill(killed, SIGKILL);
    ASSERT_EQ(waitpid(killed, nullptr, 0), killed);
    ASSERT_EQ(plugin_copies(dir.path()), 1u);

    const pid_t next = fork();
    ASSERT_GE(next, 0);
    if (next == 0) {
        setenv("TMPDIR", dir.path().c_str(), 1);
        { Process p(dir.path()); }
        _exit(plugin_copies(dir.path()) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(next, &status, 0), next);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Sync calls made by `commits` store commits under `sync`.
int syncs_of_commits(emu::pss::Sync sync, int commits) {
    TempDir dir;
    emu::host_start({.state_dir = dir.path(), .sync = sync});
    EXPECT_EQ(emu::pss::put_raw("hw_update", {1, 0, 0, 0}, {1}), 0); // creates the database
    const int before = g_sync_calls;
    for (int i = 0; i < commits; i++)
        EXPECT_EQ(emu::pss::put_raw("hw_update", {1, 0, 0, 0}, {static_cast<uint8_t>(i)}), 0);
    const int calls = g_sync_calls - before;
    emu::host_stop();
    return calls;
}

// The data of each commit is synced under kFull and kMeta (kFull then also
// writes the meta page through, which no sync call shows); kNone syncs
// nothing, and the crash test above passes under it.
TEST_F(CrashSafety, SyncPoliciesSyncEachCommitOrNothing) {
    constexpr int kCommits = 5;
    EXPECT_EQ(syncs_of_commits(emu::pss::Sync::kFull, kCommits), kCommits);
    EXPECT_EQ(syncs_of_commits(emu::pss::Sync::kMeta, kCommits), kCommits);
    EXPECT_EQ(syncs_of_commits(emu::pss::Sync::kNone, kCommits), 0);
}

} // namespace
} // namespace rire_test
