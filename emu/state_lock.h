// One process per state directory. acquire() takes an exclusive flock on
// <dir>/host.pid and writes the process id into it; the lock lasts until
// release() or the death of the process, whatever kills it, so a lock file
// left by a killed process never blocks the next one. The file itself stays.
// A second process (or a second acquire in this one, while the first is held)
// is refused with the holder's process id. A process id that cannot be
// written (a file system without room) is noted (emu::base::disk::failed); the
// lock holds all the same.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace emu::state_lock {

inline constexpr const char *kFileName = "host.pid";

struct Result {
    bool ok = false;
    pid_t holder = 0; // when refused: the process that holds the lock (0 if unknown)
    int error = 0;    // when the lock file cannot be opened or locked: the errno
};

// Creates the directory if needed. Holds at most one lock: acquiring again
// releases the previous one first.
Result acquire(const std::filesystem::path &dir);
void release();

} // namespace emu::state_lock
