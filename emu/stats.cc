#include "emu/stats.h"

#include <array>
#include <bit>
#include <iterator>

namespace emu::stats {
namespace {
// Word i of the record is kNames[i].
constexpr std::string_view kNames[] = {
    "num_recovery_runs",          // 0
    "num_route_restored",         // 1
    "num_route_restore_failed",   // 2
    "num_oiflist_restored",       // 3
    "num_oiflist_restore_failed", // 4
    "num_oif_restored",           // 5
    "num_oif_restore_failed",     // 6
    "num_di_restored",            // 7
    "num_di_restore_failed",      // 8
    "num_rpf_restored",           // 9
    "num_rpf_restore_failed",     // 10
    "num_df_restored",            // 11
    "num_df_restore_failed",      // 12
    "num_vrf_restored",           // 13
    "num_vrf_restore_failed",     // 14
    "num_stale_route_purged",     // 15
    "num_stale_oiflist_purged",   // 16
    "num_index_realloc",          // 17
    "num_index_realloc_failed",   // 18
    "num_pss_read_errors",        // 19
    "num_pending_di_restored",    // 20
    "num_hw_update_req_restored", // 21
    "num_hw_update_req_failed",   // 22
    "num_recovery_complete",      // 23
};
static_assert(std::size(kNames) == kWordCount, "one name per word of the record");
} // namespace

std::vector<Counter> named() {
    const auto words = std::bit_cast<std::array<uint32_t, kWordCount>>(rire_pss_recovery_stats);
    std::vector<Counter> counters;
    counters.reserve(kWordCount);
    for (std::size_t i = 0; i < kWordCount; ++i)
        counters.push_back(Counter{kNames[i], words[i]});
    return counters;
}

void reset() {
    rire_pss_recovery_stats = rire_pss_recovery_stats_t{};
}

} // namespace emu::stats

rire_pss_recovery_stats_t rire_pss_recovery_stats;
