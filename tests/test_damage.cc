// Damage anywhere in a store file: rire-host, as a user runs it, either
// reads the state that was stored or refuses the store by name (exit 3),
// never dies of a signal and never boots into another state; `inspect`
// never reports a store in use as damaged. The store fuzzer's corpus
// replays here too.
//
// RIRE_DAMAGE_COPIES (default 120) and RIRE_DAMAGE_SEED (default 1) size and
// seed the damage campaign; RIRE_LIVE_INSPECTS (default 30) counts the
// inspects of a store in use.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "fuzz/store_input.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

struct Outcome {
    int status; // exit code, or -1 when a signal ended the process
    std::string out, err;
};

unsigned setting(const char *name, unsigned fallback) {
    const char *v = std::getenv(name);
    return v != nullptr ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

class StoreDamage : public ::testing::Test {
  protected:
    // Starts rire-host with `args`, its output into files of the test.
    pid_t start(const std::vector<std::string> &args, const std::string &name) {
        std::vector<char *> argv;
        if (*RIRE_LAUNCHER)
            argv.push_back(const_cast<char *>(RIRE_LAUNCHER));
        argv.push_back(const_cast<char *>(RIRE_HOST_PATH));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const std::string out = (dir_.path() / (name + ".out")).string(),
                          err = (dir_.path() / (name + ".err")).string();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    Outcome finish(pid_t pid, const std::string &name) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                rire_fuzz::read_bytes(dir_.path() / (name + ".out")),
                rire_fuzz::read_bytes(dir_.path() / (name + ".err"))};
    }
    Outcome run(const std::vector<std::string> &args) { return finish(start(args, "run"), "run"); }

    // A scenario file holding `text`.
    std::string scenario(const std::string &name, const std::string &text) {
        const auto path = dir_.path() / name;
        std::ofstream(path) << text;
        return path.string();
    }

    // Stores `n` hardware-update requests of one held DI each in `state`.
    void store_requests(const std::filesystem::path &state, uint32_t n) {
        std::string text = "pss schedule manual\n";
        for (uint32_t req = 1; req <= n; req++)
            text += "link-update req=" + std::to_string(req) +
                    " type=1 old-index=12 old-di=" + std::to_string(300 + req % 4000) +
                    " new-index=13 new-di=400\n" + (req % 100 == 0 || req == n ? "flush\n" : "");
        ASSERT_EQ(run({"--state", state.string(), scenario("store.scn", text)}).status, 0);
    }

    // What inspect and a boot say of `state`.
    std::pair<Outcome, Outcome> look(const std::filesystem::path &state) {
        return {run({"inspect", state.string()}),
                run({"--state", state.string(), scenario("boot.scn", "dump queue\n")})};
    }

    TempDir dir_;
};

// Each copy of a store of 2,500 requests gets 1 to 8 random bytes on random
// pages, as a disk or a copy would damage it, and some a lock file of
// random bytes. Inspect and a boot then read
// the stored state (the bytes hit unused space) or refuse the file by name,
// left as it was; neither dies of a signal or reads another state.
TEST_F(StoreDamage, RandomBytesOnRandomPagesAreHarmlessOrRefusedByName) {
    const unsigned copies = setting("RIRE_DAMAGE_COPIES", 120);
    const auto state = dir_.path() / "state", copy = dir_.path() / "copy";
    store_requests(state, 2500);
    const std::string stored = rire_fuzz::read_bytes(state / "data.mdb");
    const uint32_t page = 4096, pages = static_cast<uint32_t>(stored.size() / page);
    const auto place = [&copy](const std::string &bytes) {
        std::filesystem::remove_all(copy);
        std::filesystem::create_directories(copy);
        std::ofstream(copy / "data.mdb", std::ios::binary) << bytes;
    };
    place(stored);
    const auto [inspected, booted] = look(copy);
    ASSERT_EQ(inspected.status, 0) << inspected.err;
    ASSERT_EQ(booted.status, 0) << booted.err;
    ASSERT_NE(booted.out.find("2500 hardware-update records"), std::string::npos) << booted.out;

    std::mt19937 rng(setting("RIRE_DAMAGE_SEED", 1));
    unsigned harmless = 0, refused = 0;
    for (unsigned i = 0; i < copies; i++) {
        std::string bytes = stored;
        std::string what = "copy " + std::to_string(i) + ":";
        for (uint32_t n = 1 + rng() % 8; n > 0; n--) {
            const uint32_t at = rng() % pages * page + rng() % page;
            bytes[at] = static_cast<char>(rng());
            what += " " + std::to_string(at);
        }
        SCOPED_TRACE(what);
        place(bytes);
        // Every fourth copy gets a lock file of random bytes as well.
        if (i % 4 == 3) {
            std::string lock(rng() % 16384, '\0');
            for (char &c : lock)
                c = static_cast<char>(rng());
            std::ofstream(copy / "lock.mdb", std::ios::binary) << lock;
        }
        const auto [seen, boot] = look(copy);
        const std::string named =
            "the PSS store " + (copy / "data.mdb").string() + " cannot be used: ";
        for (const Outcome *o : {&seen, &boot}) {
            ASSERT_NE(o->status, -1) << "a signal";
            ASSERT_TRUE(o->status == 0 || o->status == 3) << o->err;
            if (o->status == 3) {
                EXPECT_NE(o->err.find(named), std::string::npos) << o->err;
            }
        }
        if (boot.status == 3) {
            EXPECT_EQ(rire_fuzz::read_bytes(copy / "data.mdb"), bytes) << "a refused file changed";
        }
        if (seen.status == 0) {
            EXPECT_EQ(seen.out, inspected.out) << "inspect read another state";
        }
        if (boot.status == 0) {
            EXPECT_EQ(boot.out, booted.out) << "the boot read another state";
        }
        (boot.status == 0 ? harmless : refused)++;
    }
    std::printf("%u copies: %u read the stored state, %u refused by name; 0 signals, 0 other "
                "states\n",
                copies, harmless, refused);
}

// One flipped byte of a record's value: the boot names the record, and
// --move-damaged-store still starts afresh.
TEST_F(StoreDamage, RecordThatNoLongerMatchesItsChecksumIsNamed) {
    const auto state = dir_.path() / "state";
    store_requests(state, 3);
    std::string bytes = rire_fuzz::read_bytes(state / "data.mdb");
    // Request 2's value holds its DI, 302, as u16 LE.
    const auto at = bytes.find(std::string("\x2e\x01", 2));
    ASSERT_NE(at, std::string::npos);
    bytes[at] ^= 0x40;
    std::ofstream(state / "data.mdb", std::ios::binary) << bytes;
    const auto [seen, boot] = look(state);
    for (const Outcome *o : {&seen, &boot}) {
        EXPECT_EQ(o->status, 3);
        EXPECT_NE(o->err.find("1 record does not match its checksum: hw_update key 02000000"),
                  std::string::npos)
            << o->err;
    }
    const Outcome fresh = run(
        {"--move-damaged-store", "--state", state.string(), scenario("boot.scn", "dump queue\n")});
    EXPECT_EQ(fresh.status, 0) << fresh.err;
}

// Inspects of a store that a rire-host is writing all read one committed
// state each: no false alarm.
TEST_F(StoreDamage, InspectOfAStoreInUseNeverReportsDamage) {
    const unsigned inspects = setting("RIRE_LIVE_INSPECTS", 30);
    const auto state = dir_.path() / "state";
    store_requests(state, 10);
    std::string text;
    for (uint32_t req = 1; req <= 100000; req++)
        text += "link-update req=" + std::to_string(req) +
                " type=1 old-index=12 old-di=" + std::to_string(300 + req % 4000) +
                " new-index=13 new-di=400\nhw-done id=" + std::to_string(req) + " opcode=0x12801\n";
    const pid_t writer = start({"--state", state.string(), scenario("w.scn", text)}, "writer");
    unsigned alarms = 0;
    for (unsigned i = 0; i < inspects; i++) {
        const Outcome o = run({"inspect", "--tail", "0", state.string()});
        EXPECT_EQ(o.status, 0) << o.err;
        alarms += o.status != 0;
    }
    kill(writer, SIGKILL);
    finish(writer, "writer");
    std::printf("%u inspects of a store in use: %u false alarms\n", inspects, alarms);
}

// Every saved store fuzz input is read or refused alike by inspect and a boot.
TEST_F(StoreDamage, EveryStoreFuzzInputIsReadOrRefused) {
    const auto corpus = std::filesystem::path(RIRE_SOURCE_DIR) / "fuzz" / "store" / "corpus";
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(corpus))
        files.push_back(entry.path());
    ASSERT_FALSE(files.empty()) << corpus;
    for (const auto &path : files) {
        const std::string input = rire_fuzz::read_bytes(path);
        EXPECT_EQ(rire_fuzz::open_store_input(dir_.path() / "fuzz",
                                              reinterpret_cast<const uint8_t *>(input.data()),
                                              input.size()),
                  "")
            << path.filename();
    }
}

} // namespace
} // namespace rire_test
