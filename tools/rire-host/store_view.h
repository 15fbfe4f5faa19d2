// `rire-host inspect DIR`: what a state directory holds, read without the
// plugin. The store is read through the emulator's read-only view
// (emu/pss/view.h): one committed transaction, checked whole, registered
// in LMDB's lock file, so it neither waits for nor blocks a rire-host
// running on DIR; the state lock is not taken, and no file of DIR but
// lock.mdb is written. Prints every record of every
// database, decoded with the one record decoder (tools/rire-host/records.h),
// the platform-independent layer's live oiflists, and the last lines of
// events.log.
#pragma once

#include <cstddef>
#include <filesystem>

#include "tools/rire-host/output.h"

namespace rire_host {

struct InspectOptions {
    std::filesystem::path dir;
    bool raw = false; // also each record's key and value bytes, whole
    size_t tail = 20; // lines of events.log shown, newest last
};

// Exit status: 0, 2 when DIR is no state directory (none of data.mdb,
// events.log, host.pid, pi-oiflists in it), 3 when the store is damaged, 1
// when LMDB cannot open it. Errors are notices of `out`.
int inspect(const InspectOptions &options, Output &out);

} // namespace rire_host
