// The figures of rire-bench, one file each; main.cc runs them in order.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

// 1+2. The held-DI road: link updates and their completions with N requests
// outstanding, with the host's log sinks on and off, beside the floor of
// its logging (road.cc). Returns ns per operation with the sinks on, for
// each N.
std::vector<double> road(const std::vector<uint32_t> &sizes, uint32_t min_ops);
// 3. Recovery of stored requests beside its floor (recovery.cc).
void recovery(const std::vector<uint32_t> &sizes);
// 4. Peak RSS of a process running link updates and completions
// (memory.cc): measured first, while no store is open in this process;
// printed by print_memory().
struct Memory {
    uint32_t small, large;
    long small_kib, large_kib;
};
Memory memory(uint32_t small, uint32_t large);
void print_memory(const Memory &m);
// 5. rire-host on generated scenarios of link updates and answers, per
// operation beside the road's (scenario.cc).
void scenario(const std::vector<uint32_t> &sizes, double road_ns_per_op);

} // namespace bench
