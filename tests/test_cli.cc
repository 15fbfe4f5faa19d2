// rire-host as a user runs it: a separate process given a scenario and a
// state directory, judged by what it prints and by its exit code.
#include <fcntl.h>
#include <lmdb.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "emu/pss/view.h"
#include "emu/state_lock.h"
#include "tests/harness.h"
#include "tools/rire-host/script.h"

namespace rire_test {
namespace {

struct Outcome {
    int status; // exit code, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

class Cli : public ::testing::Test {
  protected:
    // Runs rire-host with `args`; standard input reads `input`.
    Outcome run(const std::vector<std::string> &args, const std::string &input = "") {
        const auto in = dir_.path() / "stdin", out = dir_.path() / "stdout",
                   err = dir_.path() / "stderr";
        std::ofstream(in) << input;
        // An i386 program started from an emulated one needs the launcher too.
        std::vector<char *> argv;
        if (*RIRE_LAUNCHER)
            argv.push_back(const_cast<char *>(RIRE_LAUNCHER));
        argv.push_back(const_cast<char *>(RIRE_HOST_PATH));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(in.c_str(), O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
    }

    // Runs `script` from a scenario file on the state directory.
    Outcome run_script(const std::string &script) {
        std::ofstream(scenario()) << script;
        return run({"--state", state().string(), scenario().string()});
    }

    std::filesystem::path state() const { return dir_.path() / "state"; }
    std::filesystem::path scenario() const { return dir_.path() / "scenario.scn"; }

    TempDir dir_;
};

constexpr const char *kBootLine = "booted zarided_kelda_orsk_platform.so: PSS open status 0\n";

// Two lines that hold a DI and commit it.
constexpr const char *kValidPrefix =
    "link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400\n"
    "flush\n";

// Every message of a bad command line, in its one style, pinned here once.
TEST_F(Cli, BadCommandLineExitsTwoWithAHint) {
    const std::string hint = "try rire-host --help\n";
    const std::string missing = (dir_.path() / "missing.scn").string();
    std::ofstream(scenario()) << "flush\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
        int status = 2;
    } cases[] = {
        {{"--stat"}, "rire-host: unknown option '--stat'; did you mean '--state'?\n" + hint},
        {{"--state"}, "rire-host: --state: needs DIR\n" + hint},
        {{"--state", scenario().string(), scenario().string()},
         "rire-host: --state: " + scenario().string() + " is not a directory\n" + hint},
        {{"--state", (dir_.path() / "no/such/state").string(), scenario().string()},
         "rire-host: --state: " + (dir_.path() / "no/such").string() +
             " does not exist (--state-create-parents creates it)\n" + hint},
        {{"--log-files=0"}, "rire-host: --log-files: 0 is below the minimum, 1\n" + hint},
        {{"--log-size", "10"}, "rire-host: --log-size: 10 is below the minimum, 16384\n" + hint},
        {{"--part", "0"}, "rire-host: --part: 0 is below the minimum, 1\n" + hint},
        {{"--format", "xml"}, "rire-host: --format: 'xml' is not one of text, json\n" + hint},
        {{"--strict=yes"}, "rire-host: --strict: takes no value\n" + hint},
        {{"--raw", "a.scn"}, "rire-host: --raw: only for inspect\n" + hint},
        {{"inspect", "--tail", "abc", "x"}, "rire-host: --tail: 'abc' is not a number\n" + hint},
        {{"inspect"}, "rire-host: inspect: needs DIR\n" + hint},
        {{"inspect", dir_.path().string()},
         "rire-host: inspect: " + dir_.path().string() + " is not a state directory\n"},
        {{"check"}, "rire-host: check: needs transcript files (FILE.t...)\n" + hint},
        {{"hlep"}, "rire-host: hlep: no such scenario; did you mean 'rire-host help'?\n" + hint},
        {{"a.scn", "b.scn"}, "rire-host: one scenario at a time (a.scn, b.scn)\n" + hint},
        {{"help", "hw-don"},
         "rire-host: help: unknown verb 'hw-don'; did you mean 'hw-done'?\n" + hint},
        {{missing}, "rire-host: cannot read " + missing + ": No such file or directory\n"},
        {{dir_.path().string()},
         "rire-host: " + dir_.path().string() + " is a directory, not a scenario\n"},
        // Not the temporary copy that the emulator loads.
        {{"--state=" + state().string(), "--plugin=" + scenario().string(), scenario().string()},
         "rire-host: " + scenario().string() + " is no 32-bit little-endian ELF object\n",
         1},
    };
    for (const auto &c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

// A scenario on standard input runs as one read from a file would, and its
// bad lines are reported under the name <stdin>.
TEST_F(Cli, StandardInputIsTheScenarioWhenNoneOrDashIsNamed) {
    const std::string script = "link-update req=7 type=1 old-di=300 new-di=400\ndump queue\n";
    const std::string from_file = run_script(script).out;
    for (const char *dash : {"", "-"}) {
        SCOPED_TRACE(*dash ? "dash" : "none");
        std::vector<std::string> args = {"--state", (dir_.path() / "stdin-state").string()};
        if (*dash)
            args.push_back(dash);
        std::filesystem::remove_all(args[1]);
        const Outcome r = run(args, script);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, from_file);
        const Outcome bad = run(args, "flush\nbogus\n");
        EXPECT_EQ(bad.status, 2);
        EXPECT_TRUE(bad.err.starts_with("<stdin>:2:1: error: ")) << bad.err;
    }
}

// A scenario longer than the commands rire-host keeps from its check runs
// every line, the ones past them read again, and a bad line at its very end
// still stops it before anything runs.
TEST_F(Cli, LongScenarioRunsEveryLineAndIsCheckedWholeFirst) {
    std::string script;
    for (size_t i = 0; i < rire_host::kKeptCommands; i++)
        script += "pss schedule manual\n";
    script += "link-update req=7 type=1 old-di=300 new-di=400\ndump queue\n";
    const Outcome r = run_script(script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, "rire# "), rire_host::kKeptCommands + 2);
    EXPECT_TRUE(contains(r.out, "req_id 7 type 1, 1 held: DI 300"))
        << r.out.substr(r.out.size() - 300);

    const Outcome bad = run_script(script + "bogus\n");
    EXPECT_EQ(bad.status, 2);
    EXPECT_FALSE(contains(bad.out, "rire# "));
    EXPECT_TRUE(
        contains(bad.err, ":" + std::to_string(rire_host::kKeptCommands + 3) + ":1: error: "))
        << bad.err;
}

// JSON Lines: every command, result, flush and dump record is one object on
// standard output, and a bad line is an error record there too.
TEST_F(Cli, JsonFormatGivesOneObjectPerLineAndNothingOnStandardError) {
    std::ofstream(scenario()) << "link-update req=7 type=1 old-index=12 old-di=300 new-di=400\n"
                                 "dump queue\n";
    Outcome r = run({"--format=json", "--state", state().string(), scenario().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              R"({"type":"boot","plugin":"zarided_kelda_orsk_platform.so","pss_open_status":0,)"
              R"("recovered":false}
{"type":"command","line":1,"text":"link-update req=7 type=1 old-index=12 old-di=300 new-di=400"}
{"type":"result","value":1,"held":true}
{"type":"flush","committed":1,"writes":1,"deletes":0,"scheduled":true}
{"type":"command","line":2,"text":"dump queue"}
{"type":"queue","count":1}
{"type":"request","req_id":7,"req_type":1,"held":[{"di":300,"oiflist":12,"ref":1}]}
)");
    std::ofstream(scenario()) << "flush\nhw-done id=x\n";
    r = run({"--format", "json", scenario().string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with(R"({"type":"error","file":")" + scenario().string() +
                                  R"(","line":2,"column":12,"message":")"))
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

// --log prints each command's log records right under its output, as the
// host's event log received them; without it, none are printed.
TEST_F(Cli, LogOptionPrintsEachCommandsRecordsUnderIt) {
    std::ofstream(scenario()) << "oiflist-hw-done type=3\nflush\n";
    const Outcome quiet = run({"--state", state().string(), scenario().string()});
    EXPECT_FALSE(contains(quiet.out, "rire_orsk_")) << quiet.out;
    const Outcome r = run({"--log", "--state", state().string(), scenario().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "rire# oiflist-hw-done type=3\n"
                                "  error \"rire_orsk_oiflist_hw_update_done("))
        << r.out;
    EXPECT_TRUE(r.out.ends_with("rire# flush\n  committed 0 updates\n")) << r.out;
}

// A second rire-host on a state directory whose lock is held stops before
// booting, naming the holder; once the lock is let go the directory is free.
TEST_F(Cli, BusyStateIsRefusedNamingItsHolder) {
    ASSERT_TRUE(emu::state_lock::acquire(state()).ok);
    const Outcome busy = run_script("flush\n");
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "state " + state().string() + " is in use by process " +
                            std::to_string(getpid()) + "\n");
    EXPECT_EQ(busy.out, "");
    emu::state_lock::release();
    EXPECT_EQ(run_script("flush\n").status, 0);
}

// One scenario, restarted in-process and by a second process on the same
// state, ends in the same state: every dump after the restart agrees.
TEST_F(Cli, RestartInProcessAndBySecondProcessEndTheSame) {
    const std::string before =
        "pending-di-insert type=1 index=5 state=1 ref=1 dis=100:12,200:13\n"
        "link-update req=21 type=1 old-index=90 old-di=900 new-index=91 new-di=910\n"
        "oiflist-exists type=1 index=12\noiflist-exists type=1 index=90\n"
        "pss schedule manual\n"
        "link-update req=22 type=1 old-index=95 old-di=950 new-index=96 new-di=960\n";
    const std::string after = "dump queue\ndump pss\ndump pending\ndump stats all\n"
                              "dump bitmap type=1\ndump bitmap type=2\nshow interfaces\n";
    auto dumps = [](const std::string &out) { return out.substr(out.find("rire# dump queue")); };
    const Outcome one = run_script(before + "restart\n" + after);
    ASSERT_EQ(one.status, 0) << one.err;
    std::filesystem::remove_all(state());
    ASSERT_EQ(run_script(before).status, 0);
    const Outcome two = run_script(after);
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(dumps(one.out), dumps(two.out));
    EXPECT_TRUE(contains(two.out, "num_index_realloc 2\n")) << two.out;
}

// inspect shows, without the plugin, the records a scenario stored just as
// its own dump showed them, the live oiflists and the event log's last
// lines, and changes no byte of the directory.
TEST_F(Cli, InspectShowsTheStoredStateAndWritesNothing) {
    const Outcome wrote =
        run_script("pending-di-insert type=2 index=6 state=1 ref=1 dis=300:40\n" +
                   std::string(kValidPrefix) + "oiflist-exists type=1 index=12\ndump pss\n");
    ASSERT_EQ(wrote.status, 0) << wrote.err;
    const std::string dumped = wrote.out.substr(wrote.out.rfind("rire# dump pss\n") + 15);
    auto files = [this] {
        std::map<std::string, std::string> all;
        for (const auto &entry : std::filesystem::directory_iterator(state()))
            if (entry.path().filename() != "lock.mdb") // inspect's reader slot
                all[entry.path().filename().string()] = read_file(entry.path());
        return all;
    };
    const auto was = files();
    const Outcome r = run({"inspect", "--raw", "--tail", "1", state().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string head = "state " + state().string() + " (read-only)\n" + dumped +
                             "  live oiflists of the platform-independent layer: 1: type 1 "
                             "index 12\n  events.log: last 1 of ";
    EXPECT_TRUE(r.out.starts_with(head)) << r.out;
    EXPECT_EQ(std::count(r.out.begin() + head.size(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(files(), was);
}

void overwrite(const std::filesystem::path &path, size_t at, const std::string &bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Empties hw_update behind the store's back, leaving every page readable.
void drop_hw_update_records(const std::filesystem::path &dir) {
    MDB_env *env;
    MDB_txn *txn;
    MDB_dbi dbi;
    ASSERT_EQ(emu::pss::view::open_env(dir, MDB_NOTLS, &env), 0);
    ASSERT_EQ(mdb_txn_begin(env, nullptr, 0, &txn), 0);
    ASSERT_EQ(mdb_dbi_open(txn, "hw_update", 0, &dbi), 0);
    ASSERT_EQ(mdb_drop(txn, dbi, 0), 0);
    ASSERT_EQ(mdb_txn_commit(txn), 0);
    mdb_env_close(env);
}

// Each damage stops the run before anything is used, names the file and the
// cause, and leaves the file byte for byte as it was; the option to start
// afresh keeps the damaged file under another name.
TEST_F(Cli, DamagedStoreStopsTheRunAndIsLeftAsItWas) {
    ASSERT_EQ(run_script(kValidPrefix).status, 0);
    const auto file = state() / "data.mdb";
    const std::string healthy = read_file(file);
    const struct {
        const char *damage;
        std::function<void()> apply;
        const char *cause;
    } cases[] = {
        {"truncated to 8 KiB", [&] { std::filesystem::resize_file(file, 8192); },
         "the file has 8192: it is truncated"},
        {"truncated to 12 KiB", [&] { std::filesystem::resize_file(file, 12288); },
         "the file has 12288: it is truncated"},
        {"header overwritten", [&] { overwrite(file, 12, "garbage!"); },
         "meta page 0 is not an LMDB meta page (MDB_INVALID: File is not an LMDB file)"},
        {"records dropped", [&] { drop_hw_update_records(state()); },
         "database hw_update holds 0 records (the last write, transaction"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.damage);
        std::ofstream(file, std::ios::binary) << healthy;
        c.apply();
        const std::string damaged = read_file(file);
        const Outcome r = run_script("dump pss\n");
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(
            r.err.starts_with("rire-host: the PSS store " + file.string() + " cannot be used: "))
            << r.err;
        EXPECT_TRUE(contains(r.err, c.cause)) << r.err;
        EXPECT_EQ(read_file(file), damaged);
        const Outcome inspected = run({"inspect", state().string()});
        EXPECT_EQ(inspected.status, 3);
        EXPECT_TRUE(contains(inspected.err, c.cause)) << inspected.err;
        EXPECT_EQ(read_file(file), damaged);
    }

    const std::string damaged = read_file(file);
    const Outcome fresh =
        run({"--move-damaged-store", "--state", state().string(), scenario().string()});
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_TRUE(fresh.out.starts_with(std::string(kBootLine) + "rire# dump pss\n")) << fresh.out;
    std::vector<std::filesystem::path> kept;
    for (const auto &entry : std::filesystem::directory_iterator(state()))
        if (entry.path().filename().string().starts_with("data.mdb.damaged-"))
            kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(read_file(kept[0]), damaged);
    EXPECT_TRUE(contains(fresh.err, "moved it to " + kept[0].string())) << fresh.err;
}

// Each new DI rewrites its request whole, so 130 DIs held on one request
// between two flushes outgrow the 64 KiB arena: the plugin drops the writes
// that no longer fit, and rire-host says so after each and at the end.
TEST_F(Cli, AbandonedPssUpdatesAreWarnedAndSummedAndStrictFails) {
    std::string script;
    for (int i = 1; i <= 130; i++)
        script += "link-update req=7 type=1 old-index=" + std::to_string(i) +
                  " old-di=" + std::to_string(i) + " new-di=4000\n";
    std::ofstream(scenario()) << "pss schedule manual\n" << script << "flush\n";
    const std::string warning =
        "  warning: the plugin gave up a PSS update: the scratch arena is full\n";
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "--strict" : "default");
        const auto dir = dir_.path() / (strict ? "strict" : "default");
        std::vector<std::string> args = {"--state", dir.string(), scenario().string()};
        if (strict)
            args.insert(args.begin(), "--strict");
        const Outcome r = run(args);
        EXPECT_EQ(r.status, strict ? 1 : 0);
        EXPECT_TRUE(contains(r.out, "old-di=123 new-di=4000\n  result 1 (held)\nrire# ")) << r.out;
        EXPECT_TRUE(contains(r.out, "old-di=124 new-di=4000\n  result 1 (held)\n" + warning))
            << r.out;
        size_t warnings = 0;
        for (size_t at = r.out.find(warning); at != std::string::npos;
             at = r.out.find(warning, at + 1))
            warnings++;
        EXPECT_EQ(warnings, 7u);
        const std::string summary =
            "rire-host: the plugin gave up 7 PSS updates: 7 because the scratch arena is full\n";
        if (!strict) {
            EXPECT_EQ(r.err, summary);
            continue;
        }
        // Each give-up is two error records, named with the line that caused it.
        EXPECT_TRUE(r.err.starts_with(summary + "rire-host: --strict: 14 failures:\n  " +
                                      scenario().string() +
                                      ":125: the plugin logged an error: "
                                      "rire_orsk_pss_buf_allocate("))
            << r.err;
    }
}

// A state directory on a 600 KiB tmpfs, for real. The event log fills it and
// stops, saying so once; the run goes on to the end. Once the file system is
// full to its last block, a new process recovers and answers, says what it
// cannot write and fails --strict; a commit that needs room is refused, its
// updates kept queued; inspect finds the store as last committed. Needs a
// process allowed to mount a tmpfs (root, outside a restricted container).
TEST_F(Cli, FullFileSystemIsReportedNeverASignal) {
    const auto mnt = dir_.path() / "small";
    std::filesystem::create_directory(mnt);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=600k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs on " << mnt << ": " << std::strerror(errno);
    struct Unmount {
        std::filesystem::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{mnt};
    const auto state = mnt / "state";
    const auto run_on_state = [&](const std::string &script, bool strict = false) {
        std::ofstream(scenario()) << script;
        std::vector<std::string> args = {"--state", state.string(), scenario().string()};
        if (strict)
            args.insert(args.begin(), "--strict");
        return run(args);
    };
    const std::string stopped = "  warning: events.log: no space left on device (" +
                                (state / "events.log").string() + ")\n";

    std::string script;
    for (int i = 1; i <= 1500; i++)
        script += "link-update req=" + std::to_string(i) +
                  " type=1 old-index=12 old-di=300 new-index=13 new-di=400\nhw-done id=" +
                  std::to_string(i) + "\n";
    script += "link-update req=9001 type=1 old-index=20 old-di=301 new-index=21 new-di=401\n";
    Outcome r = run_on_state(script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.out, stopped), 1u) << r.out.substr(0, 2000);
    EXPECT_TRUE(r.out.ends_with("new-di=401\n  result 1 (held)\n"
                                "  scheduled flush: committed 1 update: 1 write\n"));
    EXPECT_TRUE(r.err.starts_with("rire-host: events.log missed ")) << r.err;

    {
        std::ofstream fill(mnt / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()) && fill.flush()) {
        }
    }
    r = run_on_state("dump queue\nshow oif\noiflist-exists type=1 index=30\n", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "1 request rebuilt")) << r.out;
    EXPECT_TRUE(contains(r.out, stopped)) << r.out;
    EXPECT_TRUE(contains(r.out, "req_id 9001 type 1, 1 held: DI 301")) << r.out;
    EXPECT_TRUE(contains(r.out, "rire# show oif\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "  warning: pi-oiflists: no space left on device (")) << r.out;
    EXPECT_TRUE(contains(r.err, "  boot: events.log: no space left on device (")) << r.err;

    script = "pss schedule manual\n";
    for (int i = 1; i <= 1000; i++)
        script += "link-update req=" + std::to_string(i) +
                  " type=1 old-index=" + std::to_string(i) +
                  " old-di=300 new-index=13 new-di=400\n";
    r = run_on_state(script + "flush\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "  flush refused: data.mdb: ")) << r.out;
    EXPECT_TRUE(
        contains(r.out, " (" + (state / "data.mdb").string() + "); 1000 updates stay queued\n"))
        << r.out;

    r = run({"inspect", state.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "  hw_update (21): 1 record\n    req_id 9001 ")) << r.out;
}

// A transcript with one wrong expected line: --check prints the unified diff
// and fails; --update writes the output in, and the file then passes.
TEST_F(Cli, CheckPrintsTheDiffOfAWrongTranscriptAndUpdateFixesIt) {
    const auto file = dir_.path() / "one.t";
    const std::string right = "  booted zarided_kelda_orsk_platform.so: PSS open status 0\n"
                              "hw-done id=5\n"
                              "    result 1\n"
                              "    no request changed\n"
                              "%% new process\n"
                              "  booted zarided_kelda_orsk_platform.so: PSS open status 0, "
                              "recovered from PSS\n"
                              "    recovered 0 pending-DI records and 0 hardware-update records: 0 "
                              "requests rebuilt, 0 indexes reserved again\n"
                              "flush\n"
                              "    committed 0 updates\n";
    std::string wrong = right;
    wrong.replace(wrong.find("result 1"), 8, "result 2");
    std::ofstream(file) << wrong;
    const Outcome r = run({"--check", file.string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "--- " + file.string() + "\n+++ " + file.string() +
                         " (actual)\n"
                         "@@ -1,6 +1,6 @@\n"
                         "   booted zarided_kelda_orsk_platform.so: PSS open status 0\n"
                         " hw-done id=5\n"
                         "-    result 2\n"
                         "+    result 1\n"
                         "     no request changed\n"
                         " %% new process\n"
                         "   booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered "
                         "from PSS\n"
                         "1 transcript checked, 1 differ\n");

    EXPECT_EQ(run({"--check", "--update", file.string()}).status, 0);
    EXPECT_EQ(read_file(file), right);
    EXPECT_EQ(run({"--check", file.string()}).status, 0);
}

// A run that ends with an exit status other than 0 passes --check only
// where the file declares it ("#! exit N"): --update names a file it wrote
// a failure into and fails; "#! strict" makes a file run with --strict; an
// unreadable file or a bad directive is named and counted as failed.
TEST_F(Cli, CheckFailsATranscriptThatEndsOtherThanItDeclares) {
    const auto file = dir_.path() / "one.t";
    const std::string name = file.string();
    const std::string script = "hw-done id=5 opcode=75780\nexpect result value=2\n";
    std::ofstream(file) << script;
    const Outcome wrote = run({"--check", "--update", name});
    EXPECT_EQ(wrote.status, 1);
    EXPECT_EQ(wrote.err, "rire-host: " + name +
                             ": wrote a failing run into it: exit status 1, declared 0 (add "
                             "\"#! exit 1\" if that failure is what it tests)\n");
    EXPECT_TRUE(contains(read_file(file), "expectation failed")) << read_file(file);
    const Outcome again = run({"--check", name});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "1 transcript checked, 1 failed\n");
    EXPECT_TRUE(contains(again.err, ": exit status 1, declared 0 (")) << again.err;

    const struct {
        std::string directives;
        int status;
        std::string err;
    } cases[] = {
        {"#! exit 1\n", 0, ""},
        {"#! exit 2\n", 1, "rire-host: " + name + ": exit status 1, declared 2\n"},
        {"#! strcit\n", 1,
         name + ":1: error: no such directive: #! strcit (\"#! strict\", \"#! exit N\")\n"},
        {"#! strict\n#! exit 1\n", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.directives);
        std::ofstream(file) << c.directives << script;
        run({"--check", "--update", name});
        const Outcome r = run({"--check", name});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
    // The last good case ran under --strict: the unknown opcode's error record fails it.
    EXPECT_TRUE(contains(read_file(file), "--strict: 1 failure")) << read_file(file);

    const std::string missing = (dir_.path() / "nosuch.t").string();
    const Outcome r = run({"--check", missing});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "0 transcripts checked, 1 cannot be read\n");
    EXPECT_EQ(r.err, "rire-host: cannot read " + missing + ": No such file or directory\n");
}

} // namespace
} // namespace rire_test
