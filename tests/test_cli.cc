// rire-host as a user runs it: a separate process given a scenario and a
// state directory, judged by what it prints and by its exit code.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/harness.h"

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
constexpr const char *kRecoveredBootLine =
    "booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS\n";

// Two valid lines that would hold a DI and commit it, were they run.
constexpr const char *kValidPrefix =
    "link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400\n"
    "flush\n";

struct BadLine {
    const char *line;
    int column;
    const char *message;
};

const BadLine kBadLines[] = {
    {"frobnicate now", 1, "unknown verb 'frobnicate'"},
    {"dump foo", 6, "'dump' needs a known subcommand"},
    {"dump", 1, "'dump' needs a known subcommand"},
    {"flush now=1", 7, "unknown argument 'now' for flush"},
    {"swap old=1 new", 12, "unexpected word 'new' for swap"},
    {"hw-done opcode=0x12801", 1, "hw-done needs id="},
    {"link-update req=1 type=1 old-di=5", 1, "link-update needs new-di="},
    {"hw-done id=12x", 12, "id: '12x' is not a number"},
    {"hw-done id=-1", 12, "id: '-1' is not a number"},
    {"hw-done id=0x", 12, "id: '0x' is not a number"},
    {"hw-done id=4294967296", 12, "id: 4294967296 is out of range (at most 4294967295)"},
    {"pending-di-insert type=256 index=1", 24, "type: 256 is out of range (at most 255)"},
    {"pending-di-insert type=1 index=1 dis=100:12,7", 45, "dis: '7' is not DI:oiflist-index"},
    {"pending-di-insert type=1 index=1 dis=65536:12", 38,
     "dis: 65536 is out of range (at most 65535)"},
    {"igmp-snoop enable vlans=1-3,4096", 29, "vlans: 4096 is out of range (at most 4095)"},
    {"omf enable vlans=10-4096", 21, "vlans: 4096 is out of range (at most 4095)"},
    {"omf enable vlans=5-3", 18, "vlans: range 5-3 runs backwards"},
    {"df-update add ordinal=3 opc=2147483648", 29,
     "opc: 2147483648 is out of range (at most 2147483647)"},
    {"link-update req=1 type=1 old-di=nil new-di=5", 33,
     "old-di: 'nil' is not a number; a DI is a number, null or invalid"},
    {"hw-done id=1 id=2", 14, "argument 'id' given twice"},
    {"igmp-snoop enable disable vlans=1", 19, "'disable' conflicts with 'enable'"},
    {"igmp-snoop vlans=1", 1, "igmp-snoop needs one of enable|disable"},
    {"igmp-snoop on vlans=1", 12, "unexpected word 'on' for igmp-snoop (expected enable|disable)"},
    {"show oif cookie=0x0g", 19, "cookie: '0g' is not a hex byte"},
    {"show oif cookie=0x123", 17, "cookie: bytes need an even number of hex digits"},
    {"show oif cookie=1234", 17, "cookie: bytes are written 0x followed by hex digits"},
    {"interface add ifindex=1 kind=tunnel", 30,
     "kind: 'tunnel' is not one of loopback0|loopback|other"},
    {"module slot=3", 1, "module: give either card= or empty"},
    {"module empty slot=3 card=38", 1, "module: give either card= or empty"},
    {"df-update ordinal=3 oifs=1", 1, "df-update: give either add|delete or opc="},
    {"show oif tag=1", 1, "show oif: tag= and value= go together"},
    {"  debug on level=verbose", 18, "level: 'verbose' is not one of trace|error|all"},
};

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// One script holds every bad line, each followed by a valid one: each bad
// line gets its own report, and not even the valid lines before it run.
TEST_F(Cli, BadLinesAreReportedAtFileLineColumnAndNothingRuns) {
    std::string script = kValidPrefix;
    for (const BadLine &bad : kBadLines)
        script += std::string(bad.line) + "\n# a comment\nflush\n";
    const Outcome r = run_script(script);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(state())) << "the host was started";

    const std::vector<std::string> errors = lines(r.err);
    ASSERT_EQ(errors.size(), std::size(kBadLines)) << r.err;
    for (size_t i = 0; i < errors.size(); i++) {
        const BadLine &bad = kBadLines[i];
        EXPECT_EQ(errors[i], scenario().string() + ":" + std::to_string(3 + 3 * i) + ":" +
                                 std::to_string(bad.column) + ": error: " + bad.message)
            << bad.line;
    }
}

TEST_F(Cli, BadScriptLeavesAnExistingStoreUntouched) {
    ASSERT_EQ(run_script(kValidPrefix).status, 0);
    const Outcome bad = run_script("hw-done id=7\nflush\nrestart\nhw-done id=\n");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, scenario().string() + ":4:12: error: id: '' is not a number\n");
    EXPECT_EQ(bad.out, "");

    const Outcome after = run_script("dump pss db=hw_update\n");
    EXPECT_EQ(after.out,
              std::string(kRecoveredBootLine) +
                  "rire# dump pss db=hw_update\n"
                  "  hw_update (21): 1 record\n"
                  "    req_id 7 type 1, 1 held: DI 300 (oiflist 12)\n"
                  "      key 07000000  value 00000000010101010008002c0100000c00000000\n");
}

TEST_F(Cli, DiWordsNullAndInvalidAreAcceptedAndHoldNothing) {
    const Outcome r = run_script("link-update req=1 type=1 old-di=null new-di=invalid\n"
                                 "link-update req=1 type=1 old-di=invalid new-di=0x190\n"
                                 "link-update req=1 type=1 old-di=0x12c new-di=null\n"
                                 "dump queue\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kBootLine) +
                         "rire# link-update req=1 type=1 old-di=null new-di=invalid\n"
                         "rire# link-update req=1 type=1 old-di=invalid new-di=0x190\n"
                         "rire# link-update req=1 type=1 old-di=0x12c new-di=null\n"
                         "rire# dump queue\n"
                         "  hw_update_req_q: 0 requests\n");
}

TEST_F(Cli, CommandsEchoWithoutCommentsAndBlankLinesAreSkipped) {
    const Outcome r = run_script("# the header\n\n   \n  flush   # commit nothing\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kBootLine) + "rire# flush\n  committed 0 updates\n");
}

TEST_F(Cli, StandardInputIsTheScenarioWhenNoneIsNamed) {
    Outcome r = run({"--state", state().string()}, "hw-done id=5\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kBootLine) + "rire# hw-done id=5\n  result 1\n");

    r = run({"--state", state().string(), "-"}, "flush\nbogus\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "<stdin>:2:1: error: unknown verb 'bogus'\n");
}

TEST_F(Cli, LogOptionPrintsEachCommandsRecordsAfterItWithoutSourceLines) {
    std::ofstream(scenario()) << "oiflist-hw-done type=3\noiflist-hw-done type=1\n"
                                 "oiflist-delete type=1 index=5 di=null\n";
    const Outcome r = run({"--log", "--state", state().string(), scenario().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const size_t first = r.out.find("rire# ");
    ASSERT_NE(first, std::string::npos) << r.out;
    EXPECT_TRUE(r.out.starts_with(kBootLine));
    EXPECT_TRUE(contains(r.out.substr(0, first), "  trace rire_orsk_pss_open_file: ")) << r.out;
    EXPECT_EQ(r.out.substr(first),
              "rire# oiflist-hw-done type=3\n"
              "  error rire_orsk_oiflist_hw_update_done: OIF list type unknown: 3\n"
              "rire# oiflist-hw-done type=1\n"
              "rire# oiflist-delete type=1 index=5 di=null\n"
              "  trace rire_orsk_oiflist_delete: oiflist type 1 index 5 dest-index 0\n");
}

TEST_F(Cli, HelpDocumentsTheLanguageAndEveryVerbGroup) {
    for (const char *option : {"--help", "-h"}) {
        const Outcome r = run({option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_TRUE(contains(r.out, "usage: rire-host [--state DIR]")) << option;
        EXPECT_TRUE(contains(r.out, "FILE:LINE:COLUMN")) << option;
        for (const char *verb : {"  flush\n",
                                 "  restart\n",
                                 "  log\n",
                                 "  dump queue\n",
                                 "  dump pss [db=",
                                 "  link-update req=u32 type=u32",
                                 "  swap old=u32 new=u32",
                                 "  hw-done id=u32",
                                 "  pending-di-insert type=0..255",
                                 "  oiflist-exists [gone]",
                                 "  dump bitmap type=u32",
                                 "  interface add ifindex=u32",
                                 "  df-update [add|delete] ordinal=0..255",
                                 "  igmp-snoop enable|disable vlans=list",
                                 "  omf enable|disable",
                                 "  lc-download slot=0..255 db=i32",
                                 "  show oif [index=u32]",
                                 "  show command id=i32",
                                 "  show pending type=u32 index=u32",
                                 "  show interfaces\n"})
            EXPECT_TRUE(contains(r.out, verb)) << option << " lacks " << verb;
    }
}

TEST_F(Cli, BadCommandLineExitsTwoWithAHint) {
    const std::string hint = "try rire-host --help\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--bogus"}, "rire-host: unknown option --bogus\n" + hint},
        {{"--state"}, "rire-host: --state needs a value\n" + hint},
        {{"a.scn", "b.scn"}, "rire-host: one scenario at a time (a.scn, b.scn)\n" + hint},
    };
    for (const auto &c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    const auto missing = dir_.path() / "missing.scn";
    const Outcome r = run({"--state", state().string(), missing.string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "rire-host: cannot read " + missing.string() + "\n");
}

TEST_F(Cli, SecondProcessRecoversFlushedHoldsAndCompletesThem) {
    const Outcome first =
        run_script("link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400\n"
                   "link-update req=7 type=1 old-index=14 old-di=310 new-index=13 new-di=400\n"
                   "flush\n");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(first.out.starts_with(kBootLine)) << first.out;

    const Outcome second = run_script("dump queue\nhw-done id=7\nflush\ndump queue\ndump pss\n");
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out,
              std::string(kRecoveredBootLine) +
                  "rire# dump queue\n"
                  "  hw_update_req_q: 1 request\n"
                  "    req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 14, "
                  "ref 1)\n"
                  "rire# hw-done id=7\n"
                  "  result 1\n"
                  "rire# flush\n"
                  "  committed 1 update\n"
                  "rire# dump queue\n"
                  "  hw_update_req_q: 0 requests\n"
                  "rire# dump pss\n"
                  "  pending_di (20): 0 records\n"
                  "  hw_update (21): 0 records\n");
}

TEST_F(Cli, UpdatesNotFlushedDieWithTheProcess) {
    ASSERT_EQ(run_script("link-update req=7 type=1 old-index=12 old-di=300 new-di=400\n").status,
              0);
    const Outcome second = run_script("dump queue\n");
    EXPECT_EQ(second.out, std::string(kRecoveredBootLine) +
                              "rire# dump queue\n  hw_update_req_q: 0 requests\n");
}

} // namespace
} // namespace rire_test
