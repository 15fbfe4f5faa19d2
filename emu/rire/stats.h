// The host's PSS recovery statistics, rire_pss_recovery_stats: 24 counters of
// 32 bits. The plugin increments three of them during recovery (words 17
// num_index_realloc, 20 num_pending_di_restored, 21 num_hw_update_req_restored);
// the emulator gives the other words no meaning and never writes them, so they
// carry no name but their place ("word 3"). The record is an object, not a
// call, so nothing here is journalled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host/rire.h"

namespace emu::rire::stats {

inline constexpr std::size_t kWordCount = sizeof(rire_pss_recovery_stats_t) / sizeof(uint32_t);

struct Counter {
    std::string name; // the plugin's name for its three words, else "word N"
    uint32_t value;
};

// Every counter with its name, in word order.
std::vector<Counter> named();
// Zeroes every counter.
void reset();

} // namespace emu::rire::stats
