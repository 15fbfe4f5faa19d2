// emu::log::MapAhead: the system calls of a file written through a shared
// mapping, made on a thread of its own so that the thread writing through it
// makes none and takes no page fault. For each window of the file asked for,
// the thread allocates its space, maps it and faults its pages in for
// writing; it also unmaps the window the writer has left, and closes a file
// that rotation dropped. A first write to a page of a shared file mapping
// costs tens of microseconds in a virtual machine, hundreds of times a short
// memcpy, and the last close of a large file already unlinked frees its
// pages, milliseconds of work.
//
// One window is asked for at a time: request() it, take() it (waiting while
// the thread still works on it). The caller has charged the window's growth
// of the file first (emu/base/disk.h); the thread maps the window only once
// its space is allocated, which makes the file reach its end: a page past
// the end, or one the file system cannot back, would kill the process when
// touched. The thread writes no byte the file held before: it brings the
// pages past the file's old end in with writes of the zeros they hold, and
// faults every page in for writing without changing a byte, so a line being
// written in the window's first page is never clobbered.
// No such thread lives across a fork (an emulator running the child could
// not start one of its own if it did): fork() first waits for the window in
// progress and stops the thread; the next request() in either process
// starts it again. A forked child gets no page table entries for a shared
// file mapping (the kernel leaves them to be faulted in again), so the child
// faults the window in use and the one ready in again before it goes on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace emu::log {

class MapAhead {
  public:
    struct Window {
        char *map = nullptr; // null when none was asked for, or it failed
        std::size_t off = 0, len = 0;
        int error = 0; // why it failed: the errno of its allocation or its mapping
    };

    MapAhead();
    ~MapAhead();
    MapAhead(const MapAhead &) = delete;
    MapAhead &operator=(const MapAhead &) = delete;

    // Starts preparing [off, off + len) of `fd` (mapped PROT_READ|PROT_WRITE,
    // MAP_SHARED, off page-aligned); any window asked for before and not
    // taken is dropped. Once the window is ready, the thread unmaps `done`,
    // the caller's last window (unless its map is null), and closes `retire`
    // (unless -1).
    void request(int fd, std::size_t off, std::size_t len, Window done, int retire);
    // The window asked for, once prepared, now the caller's: in use until
    // it comes back as a request's `done`, or through release(). An empty
    // Window when none was asked for, or it could not be prepared (or no
    // thread started for it).
    Window take();
    // Unmaps a window take() gave, now.
    void release(Window w);
    // Unmaps the window asked for, unless taken: before the file shrinks or
    // closes.
    void drop();

  private:
    enum State : uint32_t { kIdle, kRequested, kReady, kStop };
    static void pause_all();
    static void resume_all();
    static void refault_all();
    Window take_ready();
    // The caller no longer writes through `w`: it is not in use any more.
    void hand_back(const Window &w);
    void serve();
    void prepare();
    void pause();

    std::atomic<uint32_t> state_{kIdle};
    // The request, read by the thread while it is kRequested.
    int fd_ = -1;
    Window window_;
    Window done_;
    int retire_ = -1;
    Window in_use_; // the caller's, from take()
    std::unique_ptr<std::thread> thread_;
    MapAhead *next_ = nullptr; // the next of all MapAheads, for fork()
};

} // namespace emu::log
