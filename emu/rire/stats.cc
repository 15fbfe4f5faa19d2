#include "emu/rire/stats.h"

#include <array>
#include <bit>
#include <utility>

namespace emu::rire::stats {
namespace {
// The words the plugin counts in, by their place in the record.
constexpr std::pair<std::size_t, const char *> kNamed[] = {
    {17, "num_index_realloc"},
    {20, "num_pending_di_restored"},
    {21, "num_hw_update_req_restored"},
};

std::string name_of(std::size_t word) {
    for (const auto &[at, name] : kNamed)
        if (at == word)
            return name;
    return "word " + std::to_string(word);
}
} // namespace

std::vector<Counter> named() {
    const auto words = std::bit_cast<std::array<uint32_t, kWordCount>>(rire_pss_recovery_stats);
    std::vector<Counter> counters;
    counters.reserve(kWordCount);
    for (std::size_t i = 0; i < kWordCount; ++i)
        counters.push_back(Counter{name_of(i), words[i]});
    return counters;
}

void reset() {
    rire_pss_recovery_stats = rire_pss_recovery_stats_t{};
}

} // namespace emu::rire::stats

rire_pss_recovery_stats_t rire_pss_recovery_stats;
