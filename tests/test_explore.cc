// rire-host explore as a user runs it: the same seed draws the same
// histories (processes killed in a flush included), a planted fault of the
// model is found and shrunk to a short transcript that --check fails on, and
// bad usage exits 2.
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "tests/harness.h"

namespace rire_test {
namespace {

struct Ran {
    int status;
    std::string out;
};

class Explore : public ::testing::Test {
  protected:
    Ran run(const std::string &args) {
        const auto out = dir_.path() / "stdout";
        const std::string launcher = *RIRE_LAUNCHER ? std::string(RIRE_LAUNCHER) + " " : "";
        const int status = std::system(
            (launcher + RIRE_HOST_PATH + " " + args + " >" + out.string() + " 2>&1").c_str());
        std::ifstream in(out);
        std::ostringstream text;
        text << in.rdbuf();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
    }
    // The number a JSON summary gives `field`.
    static std::string field(const std::string &json, const std::string &name) {
        const std::string key = "\"" + name + "\":";
        const size_t at = json.find(key);
        if (at == std::string::npos)
            return "";
        const size_t from = at + key.size();
        return json.substr(from, json.find_first_not_of("0123456789", from) - from);
    }

    TempDir dir_;
};

TEST_F(Explore, SameSeedSameHistoriesAndNoDivergence) {
    const std::string args = "explore --seed 4 --runs 4 --faults --format json";
    const Ran a = run(args), b = run(args);
    ASSERT_EQ(a.status, 0) << a.out;
    ASSERT_EQ(b.status, 0) << b.out;
    for (const char *name : {"runs", "steps", "restarts", "new_processes", "kills", "faults_fired"})
        EXPECT_EQ(field(a.out, name), field(b.out, name)) << name;
    EXPECT_NE(field(a.out, "faults_fired"), "0");
    EXPECT_NE(field(a.out, "kills"), "0");
    EXPECT_NE(run("explore --seed 5 --runs 4 --faults --format json").out, a.out);
}

TEST_F(Explore, PlantedFaultShrinksToAFailingTranscript) {
    const std::string file = (dir_.path() / "found.t").string();
    const Ran r = run("explore --seed 1 --runs 5 --plant-model-fault --out " + file);
    ASSERT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("explore: seed 1 run 1 step "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the model wanted request req="), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" in " + file), std::string::npos) << r.out;
    std::ifstream in(file);
    int commands = 0;
    bool expect = false;
    for (std::string line; std::getline(in, line);) {
        commands += !line.empty() && line[0] != ' ' && line[0] != '#';
        expect = expect || line.starts_with("expect request");
    }
    EXPECT_TRUE(expect);
    EXPECT_LE(commands, 15);
    EXPECT_EQ(run("--check " + file).status, 1);
}

TEST_F(Explore, BadUsageExitsTwo) {
    EXPECT_EQ(run("explore --steps 0").status, 2);
    EXPECT_EQ(run("explore --time 5 --runs 2").status, 2);
    EXPECT_EQ(run("explore --format xml").status, 2);
}

} // namespace
} // namespace rire_test
