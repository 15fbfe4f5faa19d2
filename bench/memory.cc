// Figure 4: peak RSS of a process running many link updates and
// completions with the sinks on, flushing to the store now and then.
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "bench/figures.h"
#include "bench/timing.h"
#include "emu/host.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"

namespace bench {
namespace {

constexpr uint32_t kFlushEvery = 100;

// Peak RSS in KiB of a fresh process (forked before any store is opened, so
// that LMDB is never used across a fork) that runs `ops` link updates and
// completions with the sinks on, flushing to the store every kFlushEvery
// operations.
long memory_run(uint32_t ops) {
    return in_child<long>([ops] {
        emu::host_start({work_dir() / ("memory-" + std::to_string(ops))});
        boot();
        for (uint32_t op = 0; op < ops; op++) {
            const uint32_t req_id = 1 + op / 2;
            op % 2 == 0 ? link(req_id, 1 + req_id % 60000) : done(req_id);
            if ((op + 1) % kFlushEvery == 0 && emu::pss::flush() != 0)
                _exit(1);
            if ((op + 1) % kLap == 0)
                emu::log::clear();
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    });
}

} // namespace

Memory memory(uint32_t small, uint32_t large) {
    return {small, large, memory_run(small), memory_run(large)};
}

void print_memory(const Memory &m) {
    const auto [small, large, small_kib, large_kib] = m;
    std::printf("\n4. Peak RSS of a process running link updates + completions, sinks on, a flush\n"
                "   every %u operations\n"
                "%12u ops: %6.1f MiB\n%12u ops: %6.1f MiB (%.2fx)\n",
                kFlushEvery, small, small_kib / 1024.0, large, large_kib / 1024.0,
                double(large_kib) / small_kib);
    summarize("memory-" + std::to_string(large) + "-vs-" + std::to_string(small),
              double(large_kib) / small_kib);
}

} // namespace bench
