#include "emu/log/map_ahead.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <mutex>
#include <utility>

#include "emu/base/disk.h"

namespace emu::log {
namespace {

// Every MapAhead, so that fork() can stop their threads; the mutex is held
// across the fork.
std::mutex g_all_mutex;
MapAhead *g_all = nullptr;

// Writes `len` zero bytes at `off` of `fd`, as far as the file takes them:
// the pages are zero already, so a write that fails changes nothing.
void write_zeros(int fd, std::size_t off, std::size_t len) {
    static const char kZeros[64 * 1024] = {};
    for (ssize_t n = 0; len > 0; off += n, len -= n)
        if ((n = pwrite(fd, kZeros, std::min(len, sizeof kZeros), static_cast<off_t>(off))) <= 0)
            return;
}

// Maps every page of `w` for writing, changing no byte. One system call
// does it, without a trap per page and without writing a byte (Linux 5.14
// on; EINVAL before). Touching the pages after it costs a few instructions
// a page where it worked, and faults them in where it did not, or where an
// emulator took the advice as a mere hint: a compare-exchange of 0 with 0
// writes nothing new, whatever the writer puts there meanwhile.
void fault_in(const MapAhead::Window &w) {
    if (w.map == nullptr)
        return;
    madvise(w.map, w.len, MADV_POPULATE_WRITE);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t at = 0; at < w.len; at += page) {
        char zero = 0;
        std::atomic_ref<char>(w.map[at]).compare_exchange_strong(zero, 0,
                                                                 std::memory_order_relaxed);
    }
}

void unmap(const MapAhead::Window &w) {
    if (w.map != nullptr)
        munmap(w.map, w.len);
}

} // namespace

MapAhead::MapAhead() {
    static const int registered = pthread_atfork(pause_all, resume_all, refault_all);
    static_cast<void>(registered);
    const std::lock_guard lock(g_all_mutex);
    next_ = g_all;
    g_all = this;
}

MapAhead::~MapAhead() {
    drop();
    pause();
    const std::lock_guard lock(g_all_mutex);
    MapAhead **at = &g_all;
    while (*at != this)
        at = &(*at)->next_;
    *at = next_;
}

void MapAhead::pause_all() {
    g_all_mutex.lock();
    for (MapAhead *m = g_all; m != nullptr; m = m->next_)
        m->pause();
}

void MapAhead::resume_all() {
    g_all_mutex.unlock();
}

void MapAhead::refault_all() {
    for (MapAhead *m = g_all; m != nullptr; m = m->next_) {
        fault_in(m->in_use_);
        if (m->state_.load(std::memory_order_relaxed) == kReady)
            fault_in(m->window_);
    }
    resume_all();
}

// Stops the thread once it has finished the window in progress; a window it
// finished stays ready to take.
void MapAhead::pause() {
    if (thread_ == nullptr)
        return;
    uint32_t state;
    while ((state = state_.load(std::memory_order_acquire)) == kRequested)
        state_.wait(kRequested, std::memory_order_acquire);
    state_.store(kStop, std::memory_order_relaxed);
    state_.notify_all();
    thread_->join();
    thread_.reset();
    state_.store(state, std::memory_order_relaxed);
}

void MapAhead::request(int fd, std::size_t off, std::size_t len, Window done, int retire) {
    drop();
    hand_back(done);
    fd_ = fd;
    window_ = {nullptr, off, len};
    done_ = done;
    retire_ = retire;
    state_.store(kRequested, std::memory_order_release);
    if (thread_ != nullptr) {
        state_.notify_all();
        return;
    }
    // The thread takes no signal: one meant for the process (a ctrl-C at the
    // prompt) must interrupt the thread that waits for it.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        thread_ = std::make_unique<std::thread>(&MapAhead::serve, this);
    } catch (const std::exception &) {
        // No thread (no memory for one): no window, and the rest done here.
        state_.store(kIdle, std::memory_order_relaxed);
        unmap(done);
        if (retire >= 0)
            close(retire);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

MapAhead::Window MapAhead::take_ready() {
    uint32_t state;
    while ((state = state_.load(std::memory_order_acquire)) == kRequested)
        state_.wait(kRequested, std::memory_order_acquire);
    if (state != kReady)
        return {};
    state_.store(kIdle, std::memory_order_relaxed);
    return window_;
}

MapAhead::Window MapAhead::take() {
    const Window w = take_ready();
    if (w.map != nullptr)
        in_use_ = w;
    return w;
}

void MapAhead::release(Window w) {
    hand_back(w);
    unmap(w);
}

void MapAhead::hand_back(const Window &w) {
    if (w.map == in_use_.map)
        in_use_ = {};
}

void MapAhead::drop() {
    unmap(take_ready());
}

void MapAhead::serve() {
    for (uint32_t state; (state = state_.load(std::memory_order_acquire)) != kStop;) {
        if (state != kRequested) {
            state_.wait(state, std::memory_order_acquire);
            continue;
        }
        prepare();
        const Window done = std::exchange(done_, {});
        const int retire = std::exchange(retire_, -1);
        state_.store(kReady, std::memory_order_release);
        state_.notify_all();
        unmap(done);
        if (retire >= 0)
            close(retire);
    }
}

void MapAhead::prepare() {
    // The pages from the file's end on are new to it; those before it hold
    // its text, or, in a file reused by rotation, older text past its end.
    struct stat st {};
    const std::size_t size = fstat(fd_, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    if ((window_.error = base::disk::allocate(fd_, window_.off, window_.len)) != 0)
        return;
    void *map = mmap(nullptr, window_.len, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                     static_cast<off_t>(window_.off));
    if (map == MAP_FAILED) {
        window_.error = errno;
        return;
    }
    window_.map = static_cast<char *>(map);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t fresh = (std::max(size, window_.off) - window_.off + page - 1) / page * page;
    // New pages enter the page cache through a write of the zeros they hold
    // already: that costs the kernel about a third less than faulting them
    // in through the map, and it runs outside the writer's address space.
    if (fresh < window_.len)
        write_zeros(fd_, window_.off + fresh, window_.len - fresh);
    fault_in(window_);
}

} // namespace emu::log
