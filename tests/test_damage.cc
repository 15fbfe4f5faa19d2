// Damage anywhere in a store file: rire-host, as a user runs it, either
// reads the state that was stored or refuses the store by name (exit 3),
// never dies of a signal and never boots into another state; `inspect`
// never reports a store in use as damaged. The store fuzzer's corpus
// replays here too.
//
// RIRE_DAMAGE_COPIES (default 120) and RIRE_DAMAGE_SEED (default 1) size and
// seed the damage campaign; RIRE_LIVE_INSPECTS (default 30) counts the
// inspects of a store in use.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include "emu/pss/check.h"
#include "fuzz/store_input.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

struct Outcome {
    int status; // exit code, or -1 when a signal ended the process
    std::string out, err;
};

unsigned setting(const char *name, unsigned fallback) {
    return std::getenv(name) ? std::strtoul(std::getenv(name), nullptr, 10) : fallback;
}

// A scenario of link updates for requests from..to, each followed by its
// completion when `done`.
std::string requests(uint32_t from, uint32_t to, bool done) {
    std::string text;
    for (uint32_t req = from; req <= to; req++)
        text += "link-update req=" + std::to_string(req) +
                " type=1 old-index=12 old-di=" + std::to_string(300 + req % 4000) +
                " new-index=13 new-di=400\n" +
                (done ? "hw-done id=" + std::to_string(req) + " opcode=0x12801\n" : "");
    return text;
}

class StoreDamage : public ::testing::Test {
  protected:
    // Runs rire-host with `args` (and a scenario file of the text
    // `scenario`) through the shell, its output into files named after
    // `name`; `then` follows the command (" &" runs it in the background).
    Outcome run(const std::string &args, const std::string &scenario = "",
                const std::string &name = "run", const std::string &then = "") {
        const std::string at = (dir_.path() / name).string();
        std::string command =
            "exec " + std::string(RIRE_LAUNCHER) + " " + RIRE_HOST_PATH + " " + args;
        if (!scenario.empty())
            std::ofstream(at + ".scn") << scenario, command += " " + at + ".scn";
        const int status =
            std::system((command + " >" + at + ".out 2>" + at + ".err" + then).c_str());
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128; // 128 + N: signal N
        return {code >= 128 ? -1 : code, rire_fuzz::read_bytes(at + ".out"),
                rire_fuzz::read_bytes(at + ".err")};
    }

    // Stores requests 1..n in `state`, committed by the hundred.
    void store_requests(const std::filesystem::path &state, uint32_t n) {
        std::string text = "pss schedule manual\n";
        for (uint32_t from = 1; from <= n; from += 100)
            text += requests(from, std::min(n, from + 99), false) + "flush\n";
        ASSERT_EQ(run("--state " + state.string(), text).status, 0);
    }

    // What inspect and a boot say of `state`.
    std::pair<Outcome, Outcome> look(const std::filesystem::path &state) {
        return {run("inspect " + state.string()), run("--state " + state.string(), "dump queue\n")};
    }

    TempDir dir_;
};

// A store of 2,500 requests with one record damaged is refused, naming the
// record. Then each copy of it gets 1 to 8 random bytes on random
// pages, as a disk or a copy would damage it, and every fourth one a lock
// file of random bytes. Inspect and a boot then read the stored state (the
// bytes hit unused space) or refuse the file by name, left as it was;
// neither dies of a signal or reads another state.
TEST_F(StoreDamage, RandomBytesOnRandomPagesAreHarmlessOrRefusedByName) {
    const unsigned copies = setting("RIRE_DAMAGE_COPIES", 120);
    const auto state = dir_.path() / "state", copy = dir_.path() / "copy";
    store_requests(state, 2500);
    const std::string stored = rire_fuzz::read_bytes(state / "data.mdb");
    const auto place = [&copy](const std::string &bytes, const std::string &lock) {
        std::filesystem::remove_all(copy);
        std::filesystem::create_directories(copy);
        std::ofstream(copy / "data.mdb", std::ios::binary) << bytes;
        if (!lock.empty())
            std::ofstream(copy / "lock.mdb", std::ios::binary) << lock;
    };
    place(stored, "");
    const auto [inspected, booted] = look(copy);
    ASSERT_EQ(inspected.status + booted.status, 0) << inspected.err << booted.err;
    ASSERT_NE(booted.out.find("2500 hardware-update records"), std::string::npos) << booted.out;
    // A flipped bit of request 2's value (its DI, 302): both name the record.
    std::string flipped = stored;
    flipped[flipped.find(std::string("\x00\x08\x00\x2e\x01\x00\x00\x0c", 8)) + 3] ^= 0x40;
    place(flipped, "");
    for (const auto [seen, boot] = look(copy); const Outcome *o : {&seen, &boot})
        EXPECT_TRUE(o->status == 3 &&
                    o->err.find(": 1 record does not match its checksum: hw_update key "
                                "02000000\n") != std::string::npos)
            << o->err;

    std::mt19937 rng(setting("RIRE_DAMAGE_SEED", 1));
    const std::string named = "the PSS store " + (copy / "data.mdb").string() + " cannot be used";
    unsigned refused = 0;
    for (unsigned i = 0; i < copies; i++) {
        std::string bytes = stored, lock(i % 4 == 3 ? 1 + rng() % 16384 : 0, '\0'), what;
        for (uint32_t n = 1 + rng() % 8; n > 0; n--) {
            const uint32_t at = rng() % stored.size();
            bytes[at] = static_cast<char>(rng());
            what += " " + std::to_string(at);
        }
        for (char &c : lock)
            c = static_cast<char>(rng());
        SCOPED_TRACE("copy " + std::to_string(i) + ", bytes at" + what);
        place(bytes, lock);
        const auto [seen, boot] = look(copy);
        for (const auto &[o, undamaged] : {std::pair{&seen, &inspected}, {&boot, &booted}}) {
            ASSERT_TRUE(o->status == 0 || o->status == 3) << o->status << o->err;
            EXPECT_TRUE(o->status == 0 ? o->out == undamaged->out
                                       : o->err.find(named) != std::string::npos)
                << "exit 0 with another state, or a refusal without the file's name: " << o->err;
        }
        EXPECT_TRUE(boot.status == 0 || rire_fuzz::read_bytes(copy / "data.mdb") == bytes)
            << "a refused file changed";
        refused += boot.status == 3;
    }
    std::printf("%u copies: %u read the stored state, %u refused by name\n", copies,
                copies - refused, refused);
}

// Inspects of a store that a rire-host is writing each read one committed
// state: no false alarm, and the states move on.
TEST_F(StoreDamage, InspectOfAStoreInUseNeverReportsDamage) {
    const unsigned inspects = setting("RIRE_LIVE_INSPECTS", 30);
    const auto state = dir_.path() / "state";
    store_requests(state, 10);
    run("--state " + state.string(), requests(1, 100000, true), "writer",
        " & echo $! >" + (dir_.path() / "writer.pid").string());
    // Once the writer answers its first command, it commits after each.
    for (int i = 0; i < 1000 && rire_fuzz::read_bytes(dir_.path() / "writer.out").size() < 4096;
         i++)
        usleep(10000);
    std::set<std::string> states;
    for (unsigned i = 0; i < inspects; i++) {
        const Outcome o = run("inspect --tail 0 " + state.string());
        EXPECT_EQ(o.status, 0) << o.err;
        states.insert(o.out);
    }
    kill(std::stoi(rire_fuzz::read_bytes(dir_.path() / "writer.pid")), SIGKILL);
    EXPECT_GT(states.size(), 1u);
    std::printf("%u inspects of a store in use: 0 false alarms, %zu states\n", inspects,
                states.size());
}

// Every saved store fuzz input is read or refused alike by inspect and a boot.
TEST_F(StoreDamage, EveryStoreFuzzInputIsReadOrRefused) {
    const auto corpus = std::filesystem::path(RIRE_SOURCE_DIR) / "fuzz" / "store" / "corpus";
    std::size_t inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(corpus)) {
        ++inputs;
        const std::string input = rire_fuzz::read_bytes(entry.path());
        EXPECT_EQ(rire_fuzz::open_store_input(dir_.path() / "fuzz",
                                              reinterpret_cast<const uint8_t *>(input.data()),
                                              input.size()),
                  "")
            << entry.path().filename();
    }
    EXPECT_GT(inputs, 0u) << corpus;
}

// The stores' checksums are CRC-32C as its definition computes it, a bit at
// a time, so that a store checks the same whatever wrote it: the standard
// check value, then seeded bytes of every length up to 80 at every offset
// into a word, summed whole and in two parts.
TEST(StoreChecksums, AreTheCrc32cOfTheirBytes) {
    const auto bitwise = [](const unsigned char *p, size_t n) {
        uint32_t crc = ~0u;
        while (n-- > 0) {
            crc ^= *p++;
            for (int k = 0; k < 8; k++)
                crc = (crc & 1) ? 0x82F63B78 ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    EXPECT_EQ(emu::pss::check::crc32c(0, "123456789", 9), 0xE3069283u);
    std::mt19937 rng(32);
    unsigned char bytes[96];
    for (size_t n = 0; n <= 80; n++)
        for (size_t at = 0; at < 8; at++) {
            for (unsigned char &b : bytes)
                b = static_cast<unsigned char>(rng());
            const uint32_t want = bitwise(bytes + at, n);
            ASSERT_EQ(emu::pss::check::crc32c(0, bytes + at, n), want) << n << " at " << at;
            const size_t cut = n / 3;
            ASSERT_EQ(emu::pss::check::crc32c(emu::pss::check::crc32c(0, bytes + at, cut),
                                              bytes + at + cut, n - cut),
                      want);
        }
}

} // namespace
} // namespace rire_test
