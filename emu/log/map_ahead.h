// emu::log::MapAhead: maps the next window of a file on a thread of its own and
// faults its pages in for writing, so that the thread writing through the
// window later takes no page faults. A first write to a page of a shared file
// mapping costs tens of microseconds in a virtual machine, hundreds of
// times a short memcpy.
//
// One window is asked for at a time: request() it, take() it (waiting while
// the thread still works on it). The caller has reserved the window's space
// first (emu/base/disk.h), which makes the file reach its end: a page past the
// end, or one the file system cannot back, would kill the process when
// touched. The thread touches only the pages from `from` on, with writes
// of the zeros they hold, so a line being written there is never clobbered.
// No such thread lives across a fork (an emulator running the child could
// not start one of its own if it did): fork() first waits for the window in
// progress and stops the thread; the next request() in either process
// starts it again.
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
        char *map = nullptr; // null when none was asked for or mapping failed
        std::size_t off = 0, len = 0;
    };

    MapAhead();
    ~MapAhead();
    MapAhead(const MapAhead &) = delete;
    MapAhead &operator=(const MapAhead &) = delete;

    // Starts mapping [off, off + len) of `fd` (PROT_READ|PROT_WRITE,
    // MAP_SHARED, off page-aligned), touching the pages from file offset
    // `from`. Any window asked for before and not taken is dropped. With the
    // window ready, the thread closes `retire` (unless -1): the last close
    // of a large file already unlinked frees its pages, milliseconds of work
    // the writer does not wait for.
    void request(int fd, std::size_t off, std::size_t len, std::size_t from, int retire = -1);
    // The window asked for, once mapped, now the caller's to unmap; an empty
    // Window when none was asked for, or it could not be mapped (or no
    // thread started for it).
    Window take();
    // take(), unmapping the window: before the file shrinks or closes.
    void drop();

  private:
    enum State : uint32_t { kIdle, kRequested, kReady, kStop };
    static void pause_all();
    static void resume_all();
    void serve();
    void prepare();
    void pause();

    std::atomic<uint32_t> state_{kIdle};
    int fd_ = -1;
    int retire_ = -1;
    std::size_t from_ = 0;
    Window window_;
    std::unique_ptr<std::thread> thread_;
    MapAhead *next_ = nullptr; // the next of all MapAheads, for fork()
};

} // namespace emu::log
