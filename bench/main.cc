// rire-bench [--quick]: the real plugin in the host emulator, timed on
//   1. link updates (case 5, a new request and DI each) and their completions
//      with N requests outstanding;
//   2. the same with and without the host's log sinks, beside the floor of
//      the logging;
//   3. recovery of stored requests beside its floor;
//   4. peak RSS over many link updates and completions;
//   5. rire-host on long scenarios, per operation beside the road's.
// Each figure is a file of its own (bench/figures.h); bench/README.md says
// how they are measured. It ends with lines a script can read:
// "ratio NAME VALUE", "peak-rss-mib N".
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/timing.h"
#include "emu/boot.h"

int main(int argc, char **argv) {
    using namespace bench;
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (argc > 2 || (argc == 2 && !quick))
        die("usage: rire-bench [--quick]");
    work_dir(); // made here, so that the forked children share it
    // First, while no store is open in this process: the children start clean.
    const Memory memory = bench::memory(10000, quick ? 100000 : 1000000);
    boot();
    const std::vector<double> road_ns =
        road(quick ? std::vector<uint32_t>{1, 100, 1000} : std::vector<uint32_t>{1, 1000, 10000},
             quick ? 20000 : 200000);
    emu::host_end(plugin());
    recovery(quick ? std::vector<uint32_t>{1000, 10000}
                   : std::vector<uint32_t>{1000, 10000, 100000});
    print_memory(memory);
    scenario({10000, 100000}, road_ns.front());
    fs::remove_all(work_dir());
    print_summary();
    return 0;
}
