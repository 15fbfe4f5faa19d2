// The generator of `rire-host explore`: the scenario lines of a history,
// drawn from a seeded PRNG and the model of what the plugin holds
// (explore_model.h). The same seed draws the same lines on any machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/rire-host/explore_model.h"

namespace rire_host::explore {

// splitmix64: the same numbers on every machine and standard library.
class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t state() const { return s_; }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t per_mille) { return below(1000) < per_mille; }
    template <class T, size_t N> T pick(const T (&options)[N]) { return options[below(N)]; }

  private:
    uint64_t s_;
};

// Draws scenario lines from small pools of ids, DIs and indexes, so that
// requests, DIs and indexes meet each other often.
class Generator {
  public:
    Generator(Rng &rng, bool faults) : rng_(rng), faults_(faults) {}

    std::string next(const Model &model);

    // The end of a run: faults off, every request answered, every record
    // deleted, flushed.
    std::vector<std::string> drain(const Model &model);

  private:
    static std::string num(uint64_t n) { return std::to_string(n); }
    uint32_t type() { return 1 + rng_.below(2); }
    uint32_t id() { return 1 + rng_.below(10); }
    uint32_t index();
    std::string di();
    std::string link_update();
    // Mostly an outstanding request with an answer opcode; else an unknown
    // opcode, or an id nobody holds.
    std::string answer(const Model &model);
    // From an outstanding id (mostly) onto a fresh id or one in use.
    std::string swap(const Model &model);
    // Rarely a record of more held DIs than a stored record describes.
    std::string pending_insert();
    // The forwarding handlers and the host around them, with the host's own
    // refusals (the model predicts those, so they are drawn without --faults
    // too): a few interfaces and slots meet often; rarely a list long enough
    // for heartbeats.
    std::string forwarding();
    std::string df_update();
    // A VLAN set: the edges of bytes and words, rarely all of them.
    std::string vlans();
    // DIs 1..n, each on an index of the pool.
    std::string many_dis(uint32_t n);
    // The PSS arena a few bytes short of full under the manual schedule, so
    // that the next writes and deletes meet its end: mostly at once (`arena
    // fill`, which commits first), sometimes by a few dozen large records
    // written again and again, one of them sized to leave a few bytes.
    std::string fill_arena(const Model &model);
    std::string fault();

    static constexpr uint32_t kMaxDis = 255; // what a stored record describes
    Rng &rng_;
    bool faults_;
    uint32_t fill_ = 0; // the next step of an arena fill, 0 when none runs
};

} // namespace rire_host::explore
