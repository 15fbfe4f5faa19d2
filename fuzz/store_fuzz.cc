// libFuzzer target: the store file itself. Each input is a whole data.mdb,
// opened and read as `rire-host inspect` and a boot do (fuzz/store_input.h);
// a fault is a crash, and a broken rule aborts, so libFuzzer keeps the input.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz/store_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("rire-store-fuzz-" + std::to_string(getpid()));
    const std::string error = rire_fuzz::open_store_input(dir, data, size);
    if (!error.empty()) {
        std::fprintf(stderr, "store rule broken: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
