// rire-host as a user runs it: a separate process given a scenario and a
// state directory, judged by what it prints and by its exit code.
#include <fcntl.h>
#include <lmdb.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
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
    std::string_view line;
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
    {"df-update add ordinal=3 opc=-2147483649", 29,
     "opc: -2147483649 is out of range (-2147483648..2147483647)"},
    {"df-update add ordinal=3 oifs=0-4294967295", 30,
     "oifs: 0-4294967295 makes the list longer than 65536 elements"},
    {"df-update add ordinal=3 oifs=1,-5-3", 32, "oifs: '-5' is not a number"},
    {std::string_view("flush\0 now", 10), 6,
     "stray byte \\x00: a scenario is printable ASCII text"},
    {"\xEF\xBB\xBF"
     "flush",
     1, "byte-order mark \\xEF\\xBB\\xBF: save the scenario without one"},
    {"frobnicate-the-switch-until-it-gives-up-and-then-some", 1,
     "unknown verb 'frobnicate-the-switch-until-it-gives-up-\u2026'"},
    {"help frob", 6, "help: no verb 'frob'"},
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
        script += std::string(bad.line) + "\r\n# a comment\nflush\r\n";
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
                  "  recovered 0 pending-DI records and 1 hardware-update record: 1 request "
                  "rebuilt, 1 index reserved again\n"
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
    EXPECT_EQ(r.out,
              std::string(kBootLine) + "rire# hw-done id=5\n  result 1\n  no request changed\n");

    r = run({"--state", state().string(), "-"}, "flush\nbogus\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "<stdin>:2:1: error: unknown verb 'bogus'\n");
}

TEST_F(Cli, JsonFormatGivesOneObjectPerLineAndNothingOnStandardError) {
    std::ofstream(scenario()) << "link-update req=7 type=1 old-index=12 old-di=300 new-di=400\n"
                                 "dump queue\nflush\n";
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
{"type":"command","line":3,"text":"flush"}
{"type":"flush","committed":0,"writes":0,"deletes":0,"scheduled":false}
)");
    r = run({"--format", "json", "--state", state().string()}, "flush\nbogus\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, R"({"type":"error","file":"<stdin>","line":2,"column":1,"message":)"
                     R"("unknown verb 'bogus'"})"
                     "\n");
}

// Records are shown as the sink received them, the source line, "ERROR:" and
// the trailing blank included; console lines follow the command's own output.
TEST_F(Cli, LogOptionPrintsEachCommandsRecordsAsReceivedAndConsoleLinesWhole) {
    std::ofstream(scenario()) << "oiflist-hw-done type=3\noiflist-hw-done type=1\n"
                                 "debug on level=trace\nhw-done id=5\n";
    const Outcome r = run({"--log", "--state", state().string(), scenario().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const size_t first = r.out.find("rire# ");
    ASSERT_NE(first, std::string::npos) << r.out;
    EXPECT_TRUE(r.out.starts_with(kBootLine));
    EXPECT_TRUE(contains(r.out.substr(0, first), "  trace \"rire_orsk_pss_open_file(")) << r.out;
    const std::vector<std::string> out = lines(r.out.substr(first));
    ASSERT_EQ(out.size(), 10u) << r.out;
    EXPECT_EQ(out[0], "rire# oiflist-hw-done type=3");
    EXPECT_TRUE(out[1].starts_with("  error \"rire_orsk_oiflist_hw_update_done(")) << out[1];
    EXPECT_TRUE(out[1].ends_with("):ERROR: rire_orsk_oiflist_hw_update_done: OIF list type "
                                 "unknown: 3 \\n\""))
        << out[1];
    EXPECT_EQ(out[2], "rire# oiflist-hw-done type=1");
    EXPECT_EQ(out[5], "rire# hw-done id=5");
    EXPECT_EQ(out[6], "  result 1");
    EXPECT_EQ(out[7], "  no request changed");
    EXPECT_TRUE(contains(out[8], "hw_update done opcode:MTS_OPC_HW_UPDATE_DONE(75777)")) << out[8];
    EXPECT_TRUE(out[9].starts_with("  trace \"rire_orsk_hw_update_done(")) << out[9];
}

TEST_F(Cli, HelpDocumentsTheLanguageAndEveryVerbGroup) {
    for (const char *option : {"--help", "-h", "help"}) {
        const Outcome r = run({option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_TRUE(contains(r.out, "usage: rire-host [OPTIONS] [SCENARIO | -]")) << option;
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
    const Outcome verb = run({"help", "dump", "pss"});
    EXPECT_EQ(verb.out, "  dump pss [db=hw_update|pending_di]\n      the records stored in PSS\n"
                        "        db: only this database\n");
    EXPECT_TRUE(run({"--version"}).out.starts_with("rire-host ")) << verb.out;
}

TEST_F(Cli, BadCommandLineExitsTwoWithAHint) {
    const std::string hint = "try rire-host --help\n";
    const std::string missing = (dir_.path() / "missing.scn").string();
    std::ofstream(scenario()) << "flush\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
        int status = 2;
    } cases[] = {
        {{"--bogus"}, "rire-host: The following argument was not expected: --bogus\n" + hint},
        {{"--state"}, "rire-host: --state: 1 required DIR missing\n" + hint},
        {{"--log-files=0"}, "rire-host: --log-files: bad value 0\n" + hint},
        {{"a.scn", "b.scn"}, "rire-host: one scenario at a time (a.scn, b.scn)\n" + hint},
        {{"help", "frob"}, "rire-host: no verb 'frob'\n" + hint},
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
                  "  recovered 0 pending-DI records and 1 hardware-update record: 1 request "
                  "rebuilt, 2 indexes reserved again\n"
                  "rire# dump queue\n"
                  "  hw_update_req_q: 1 request\n"
                  "    req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 14, "
                  "ref 1)\n"
                  "rire# hw-done id=7\n"
                  "  result 1\n"
                  "  request 7 done, released DI 300, DI 310\n"
                  "  scheduled flush: committed 1 update: 1 delete\n"
                  "rire# flush\n"
                  "  committed 0 updates\n"
                  "rire# dump queue\n"
                  "  hw_update_req_q: 0 requests\n"
                  "rire# dump pss\n"
                  "  pending_di (20): 0 records\n"
                  "  hw_update (21): 0 records\n");
}

TEST_F(Cli, UpdatesNotFlushedDieWithTheProcessAndAreCountedAtTheEnd) {
    const Outcome first = run_script(
        "pss schedule manual\nlink-update req=7 type=1 old-index=12 old-di=300 new-di=400\n");
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.err, "rire-host: 1 PSS update still queued at the end and never flushed: "
                         "the process loses them\n");
    const Outcome second = run_script("dump queue\n");
    EXPECT_EQ(second.out, std::string(kRecoveredBootLine) +
                              "  recovered 0 pending-DI records and 0 hardware-update records: 0 "
                              "requests rebuilt, 0 indexes reserved again\n"
                              "rire# dump queue\n  hw_update_req_q: 0 requests\n");
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

// inspect reads every record of a store a scenario wrote, decoded and raw,
// without the plugin, and leaves every file of the directory as it was.
TEST_F(Cli, InspectPrintsEveryRecordAndWritesNothing) {
    ASSERT_EQ(run_script("pending-di-insert type=2 index=6 state=1 ref=1 dis=300:40\n" +
                         std::string(kValidPrefix) + "oiflist-exists type=1 index=12\n")
                  .status,
              0);
    auto files = [this] {
        std::map<std::string, std::string> all;
        for (const auto &entry : std::filesystem::directory_iterator(state()))
            all[entry.path().filename().string()] = read_file(entry.path());
        return all;
    };
    const auto was = files();
    const Outcome r = run({"inspect", "--raw", "--tail", "1", state().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 10u) << r.out;
    EXPECT_EQ(out[0], "state " + state().string() + " (read-only)");
    EXPECT_EQ(out[1], "  pending_di (20): 1 record");
    EXPECT_EQ(out[2], "    oiflist 6 type 2 state 1, 1 held: DI 300 (oiflist 40)");
    EXPECT_TRUE(out[3].starts_with("      key 06000200  value ")) << out[3];
    EXPECT_EQ(out[4], "  hw_update (21): 1 record");
    EXPECT_EQ(out[5], "    req_id 7 type 1, 1 held: DI 300 (oiflist 12)");
    EXPECT_EQ(out[7], "  live oiflists of the platform-independent layer: 1: type 1 index 12");
    EXPECT_TRUE(out[8].starts_with("  events.log: last 1 of ")) << out[8];
    EXPECT_EQ(files(), was);
    EXPECT_EQ(run({"inspect", (state() / "none").string()}).status, 2);
}

// A page of the file that holds `bytes`; the file must hold them once.
size_t page_holding(const std::string &file, const std::string &bytes) {
    constexpr size_t kPage = 4096;
    std::vector<size_t> pages;
    for (size_t at = file.find(bytes); at != std::string::npos; at = file.find(bytes, at + 1))
        pages.push_back(at / kPage);
    EXPECT_EQ(pages.size(), 1u);
    return pages.empty() ? 0 : pages[0];
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
    ASSERT_EQ(mdb_env_create(&env), 0);
    ASSERT_EQ(mdb_env_set_maxdbs(env, 8), 0);
    ASSERT_EQ(mdb_env_open(env, dir.c_str(), MDB_NOTLS, 0644), 0);
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
    // The payload of req_id 7's oif TLV: DI 300 of oiflist 12.
    const size_t record_page = page_holding(healthy, std::string("\x2c\x01\0\0\x0c\0\0\0", 8));
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
        {"record page zeroed",
         [&] { overwrite(file, record_page * 4096, std::string(4096, '\0')); },
         "database hw_update cannot be read past record 0 (MDB_CORRUPTED: Located page was wrong "
         "type)"},
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

TEST_F(Cli, SecondProcessOnABusyStateIsRefusedUntilTheFirstDies) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        try {
            emu::host_start({state()});
        } catch (...) {
            _exit(2);
        }
        if (write(fds[1], "S", 1) != 1)
            _exit(3);
        for (;;)
            pause();
    }
    close(fds[1]);
    char started;
    ASSERT_EQ(read(fds[0], &started, 1), 1);
    close(fds[0]);

    const Outcome busy = run_script("flush\n");
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "state " + state().string() + " is in use by process " +
                            std::to_string(first) + "\n");
    EXPECT_EQ(busy.out, "");

    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    const Outcome next = run_script("flush\n");
    EXPECT_EQ(next.status, 0) << next.err;
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

} // namespace
} // namespace rire_test
