// emu::base::disk: the emulator's own writes to the state directory, so that a file
// system without room is an error the host reports and survives, never a
// signal. A page of a shared file mapping that the file system cannot back
// kills the process with SIGBUS when it is touched; space reserved before
// the page is mapped (posix_fallocate) makes the same shortage an ENOSPC of
// the reservation. So every file the emulator maps or writes takes its space
// here first: events.log a window at a time, LMDB's lock file once, host.pid
// and pi-oiflists whole, data.mdb's map whole where commits write through it
// (emu/pss/pss.h, Sync::kNone). Where LMDB writes data.mdb with write calls,
// its commit returns their ENOSPC. The store asks charge() before each commit.
//
// The fault table's disk.full row (emu/base/faults.h) is the seam: while it is
// on, every reservation, commit and file write here first takes its bytes
// from the row's budget (after=BYTES), and one that does not fit fails with
// ENOSPC before the file system is asked. A reservation takes the bytes by
// which it grows the file, a commit the bytes of its keys and values, a file
// written whole its length.
//
// A file that could not be written is noted (failed()): the host goes on
// without it, and the notes tell a tool what to say.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace emu::base::disk {

// Space for bytes [off, off + len) of the open file `fd`, which then holds at
// least off + len bytes. 0, or the error (ENOSPC).
int reserve(int fd, std::size_t off, std::size_t len);
// reserve() in two steps, for one made on a thread of its own (the fault
// table is the main thread's): charge() the bytes by which it grows the
// file, then allocate() them on any thread.
int allocate(int fd, std::size_t off, std::size_t len);
// reserve() of the first `len` bytes of `file`, created if needed.
int reserve_file(const std::filesystem::path &file, std::size_t len);
// Whether `bytes` more bytes fit, for a write the caller cannot reserve
// ahead (an LMDB commit): 0, or ENOSPC when the disk.full row says no.
int charge(std::size_t bytes);
// Makes `text` the whole of `file`: written to FILE.new, then renamed over
// it. 0, or the error, `file` left as it was and FILE.new removed.
int replace(const std::filesystem::path &file, std::string_view text);

// "NAME: what (PATH)", the first word of `what` in lower case when it is a
// capitalised word: "events.log: no space left on device (DIR/events.log)".
std::string describe(const std::filesystem::path &file, std::string_view what);

// A file of the state directory that could not be written.
struct Failure {
    std::filesystem::path file;
    int error;                   // an errno
    std::string message() const; // describe() of the error's text
};

// Notes a failure. The host notes each file at most once per cause: the
// event log when it stops, the others at each write that fails.
void failed(const std::filesystem::path &file, int error);
// The failures noted since the host started or restarted, in order.
const std::vector<Failure> &failures();
void clear_failures();

} // namespace emu::base::disk
