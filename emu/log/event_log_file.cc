#include "emu/log/event_log_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <x86intrin.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <utility>

#include "emu/base/disk.h"
#include "emu/log/text.h"
#include "plugin/include/rire_orsk_log.h"

namespace emu::log {
namespace {

// Bytes mapped at a time; the file grows by this much. Each window unmapped
// interrupts the writer's core to flush its TLB, so larger windows cost the
// writer less; but a file system with less room than a window stops the
// file, and after a crash up to two windows past the last line are not text.
constexpr std::size_t kWindow = 1024 * 1024;
constexpr int64_t kMillisecond = 1000000;
// The longest line: stamp, tag, the longest record text with every byte
// escaped, newline; and the NUL after it.
constexpr std::size_t kMaxLine = 24 + 32 + 2 * (RIRE_ORSK_EVENT_TEXT_SIZE - 1) + 1 + 1;
static_assert(EventLogFile::kMinFileBytes >= 4 * kMaxLine);

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

int64_t wall_ns() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Wall-clock time from the time-stamp counter. Reading the wall clock is a
// system call where no vDSO serves it (about a microsecond under an
// emulator); the counter is one instruction. Until the counter's rate is
// known the wall clock answers, and the ticks of the first kCalibrateNs of
// those readings give the rate, so a process pays no calibration at start;
// then the rate is refined whenever the wall clock is read again, once a
// second of ticks has passed. Integer arithmetic only: an emulator runs
// floating point in software.
class TscClock {
  public:
    TscClock() : base_tsc_(__rdtsc()), base_ns_(wall_ns()) {}
    int64_t now_ns() {
        const uint64_t ticks = __rdtsc() - base_tsc_;
        if (ticks > resync_ticks_) // every time until the rate is known
            return resync();
        return base_ns_ + static_cast<int64_t>((ticks * ns_per_tick_) >> kShift);
    }

  private:
    static constexpr int64_t kCalibrateNs = 2000000;
    static constexpr uint64_t kResyncNs = 1000000000;
    // ns_per_tick_ is fixed point with kShift fraction bits; a second of
    // ticks times it stays within 64 bits for counters up to ~30 GHz.
    static constexpr unsigned kShift = 24;

    void set_rate(int64_t ns, uint64_t tsc) {
        if (tsc > base_tsc_ && ns > base_ns_)
            ns_per_tick_ = (static_cast<uint64_t>(ns - base_ns_) << kShift) / (tsc - base_tsc_);
        if (ns_per_tick_ == 0)
            ns_per_tick_ = 1;
        resync_ticks_ = (kResyncNs << kShift) / ns_per_tick_;
    }
    // The wall clock, read now. The base moves to it once the ticks since
    // the base span enough time to measure the rate by, or when the clock
    // went back.
    int64_t resync() {
        const uint64_t tsc = __rdtsc();
        const int64_t ns = wall_ns();
        const int64_t span = ns - base_ns_;
        if (span >= kCalibrateNs)
            set_rate(ns, tsc);
        if (span >= kCalibrateNs || span < 0) {
            base_tsc_ = tsc;
            base_ns_ = ns;
        }
        return ns;
    }

    uint64_t base_tsc_;
    int64_t base_ns_;
    uint64_t ns_per_tick_ = 0;
    uint64_t resync_ticks_ = 0;
};

int64_t now_ns() {
    static TscClock clock;
    return clock.now_ns();
}

const char *level_name(uint32_t level) {
    switch (level) {
    case RIRE_ORSK_LOG_LEVEL_TRACE:
        return "trace";
    case RIRE_ORSK_LOG_LEVEL_ERROR:
        return "error";
    default:
        return "event";
    }
}

// The text without its trailing newlines, inner newlines as "\n". Most
// texts have none: copied whole, then copied again a run between newlines
// at a time when it has.
char *write_text(char *out, const char *text, std::size_t len) {
    if (!copy_text(out, text, len))
        return out + len;
    while (len > 0 && text[len - 1] == '\n')
        len--;
    for (const char *end = text + len; text < end;) {
        const auto *nl = static_cast<const char *>(std::memchr(text, '\n', end - text));
        const std::size_t run = (nl != nullptr ? nl : end) - text;
        std::memcpy(out, text, run);
        out += run;
        text += run;
        if (nl != nullptr) {
            *out++ = '\\';
            *out++ = 'n';
            text++;
        }
    }
    return out;
}

// Offset of the first NUL byte of an open file, or its size.
std::size_t text_end(int fd) {
    char block[64 * 1024];
    std::size_t off = 0;
    for (ssize_t n; (n = pread(fd, block, sizeof block, off)) > 0; off += n)
        if (const void *nul = std::memchr(block, 0, n))
            return off + (static_cast<const char *>(nul) - block);
    return off;
}

} // namespace

bool EventLogFile::open(const std::filesystem::path &dir) {
    close();
    window_error_ = stopped_ = 0;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    path_ = dir / "events.log";
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    // A crash leaves NUL bytes after the last whole line, and maybe a torn
    // line behind the first of them: cut both.
    pos_ = text_end(fd_);
    return cut_and_map();
}

// Cuts the file at pos_ and asks for the window there, so that it is ready
// by the first line, unless that line rotates the file first.
bool EventLogFile::cut_and_map() {
    size_ = pos_;
    if (ftruncate(fd_, static_cast<off_t>(pos_)) != 0)
        return false;
    if (pos_ + kMaxLine <= limits_.max_bytes)
        request_window(pos_);
    return true;
}

void EventLogFile::close() {
    if (fd_ < 0)
        return;
    unmap();
    ahead_.drop();
    if (ftruncate(fd_, static_cast<off_t>(pos_)) != 0)
        std::perror(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool EventLogFile::set_limits(const Limits &limits) {
    if (limits.max_bytes < kMinFileBytes || limits.files == 0)
        return false;
    if (limits == limits_)
        return true;
    limits_ = limits;
    // The window in use may reach past the new size: map it again.
    if (fd_ >= 0) {
        unmap();
        ahead_.drop();
        window_error_ = 0;
        if (!cut_and_map())
            std::perror(path_.c_str());
    }
    return true;
}

void EventLogFile::unmap() {
    ahead_.release(std::exchange(window_, {}));
}

// Asks for the window from the page of `off` once its growth of the file is
// charged; the thread unmaps `done`, a window the writer has left, whether
// or not the new one is asked for.
void EventLogFile::request_window(std::size_t off, MapAhead::Window done) {
    off = off / page_size() * page_size();
    const std::size_t len = std::min(kWindow, limits_.max_bytes - off);
    window_error_ = base::disk::charge(off + len > size_ ? off + len - size_ : 0);
    if (window_error_ != 0) {
        ahead_.release(done);
        return;
    }
    size_ = std::max(size_, off + len);
    ahead_.request(fd_, off, len, done, std::exchange(retired_, -1));
}

// Moves to the window asked for, or, when it does not hold the next line, to
// one from the page of pos_ unless the one asked for failed; then asks for
// the one after it, which starts at the page where a line too long for this
// one would start. The window left is unmapped by the thread.
bool EventLogFile::next_window() {
    MapAhead::Window done = std::exchange(window_, {});
    MapAhead::Window w = ahead_.take();
    if (w.map != nullptr && (w.off > pos_ || pos_ + kMaxLine > w.off + w.len)) {
        ahead_.release(w);
        w = {};
    }
    if (w.map == nullptr && w.error == 0 && window_error_ == 0) {
        request_window(pos_, std::exchange(done, {}));
        w = ahead_.take();
    }
    if (w.error != 0)
        window_error_ = w.error;
    if (w.map == nullptr) {
        ahead_.release(done);
        return false;
    }
    window_ = w;
    const std::size_t end = w.off + w.len;
    if (end < limits_.max_bytes)
        request_window(end - kMaxLine, std::exchange(done, {}));
    else
        ahead_.release(done);
    return true;
}

std::filesystem::path EventLogFile::rotated_name(unsigned k) const {
    return k == 0 ? path_ : std::filesystem::path(path_.string() + "." + std::to_string(k));
}

// Moves every file down a name and gives the oldest the name events.log, by
// exchanges of two names (RENAME_EXCHANGE): a crash between two leaves every
// file, in another order. A name missing on the way is skipped. False, with
// nothing moved, where the file system cannot exchange names.
bool EventLogFile::cycle_names() const {
    for (unsigned k = limits_.files - 1; k > 0; k--) {
        const std::filesystem::path older = rotated_name(k), newer = rotated_name(k - 1);
        if (renameat2(AT_FDCWD, older.c_str(), AT_FDCWD, newer.c_str(), RENAME_EXCHANGE) == 0)
            continue;
        if (errno == ENOENT)
            ::rename(older.c_str(), newer.c_str());
        else if (k == limits_.files - 1)
            return false;
    }
    return true;
}

// events.log -> events.log.1 -> ... -> events.log.<files-1>, and the oldest
// file, its lines dropped, becomes events.log: its blocks and its pages in
// the page cache are written again rather than freed and allocated again
// (milliseconds for 16 MiB). Its first byte turns NUL before any name
// moves, so from then on it reads as empty (append() keeps a NUL after the
// last line; what follows it is not the log's). Where that cannot be (no
// oldest file yet, a file system that cannot exchange names) the oldest is
// dropped and events.log starts afresh: a descriptor of the dropped file
// leaves freeing its pages to the map-ahead thread, which closes it once
// the fresh file's first window is ready.
bool EventLogFile::rotate() {
    const std::filesystem::path dir = path_.parent_path();
    close();
    const unsigned oldest = limits_.files - 1;
    const int reused = ::open(rotated_name(oldest).c_str(), O_RDWR | O_CLOEXEC);
    if (reused >= 0 && pwrite(reused, "", 1, 0) == 1 && cycle_names())
        return reuse(reused);
    if (reused >= 0)
        ::close(reused);
    retired_ = ::open(rotated_name(oldest).c_str(), O_RDONLY | O_CLOEXEC);
    std::error_code ec;
    if (oldest == 0)
        std::filesystem::remove(path_, ec);
    for (unsigned k = oldest; k > 0; k--)
        std::filesystem::rename(rotated_name(k - 1), rotated_name(k), ec);
    const bool opened = open(dir);
    if (retired_ >= 0)
        ::close(std::exchange(retired_, -1)); // no window asked for
    return opened;
}

// Writes events.log from its start again, through `fd`, a file whose first
// byte is NUL.
bool EventLogFile::reuse(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    window_error_ = stopped_ = 0;
    pos_ = 0;
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > limits_.max_bytes && ftruncate(fd_, static_cast<off_t>(limits_.max_bytes)) == 0)
        size_ = limits_.max_bytes;
    request_window(0);
    return true;
}

// 0 when the window mapped has room for a line at pos_, else why it has not.
int EventLogFile::ensure_room() {
    if (pos_ + kMaxLine > limits_.max_bytes && !rotate())
        return errno != 0 ? errno : EIO;
    if ((window_.map != nullptr && pos_ + kMaxLine <= window_.off + window_.len) || next_window())
        return 0;
    return window_error_ != 0 ? window_error_ : ENOMEM; // else mapping the window failed
}

void EventLogFile::stop(int error) {
    stopped_ = error;
    base::disk::failed(path_, error);
}

void EventLogFile::set_stamp(int64_t ns) {
    constexpr int64_t kSecond = 1000000000;
    if (ns < sec_ns_ || ns - sec_ns_ >= kSecond) {
        const std::time_t sec = static_cast<std::time_t>(ns / kSecond);
        std::tm tm{};
        gmtime_r(&sec, &tm);
        std::strftime(head_, kStampLen - 4, "%Y-%m-%dT%H:%M:%S.", &tm);
        sec_ns_ = sec * kSecond;
    }
    const uint32_t ms = static_cast<uint32_t>(ns - sec_ns_) / uint32_t{kMillisecond};
    char *out = head_ + kStampLen - 5;
    *out++ = static_cast<char>('0' + ms / 100);
    *out++ = static_cast<char>('0' + ms / 10 % 10);
    *out++ = static_cast<char>('0' + ms % 10);
    *out++ = 'Z';
    *out++ = ' ';
    ms_ns_ = sec_ns_ + ms * kMillisecond;
}

void EventLogFile::set_tag(uint32_t level) {
    head_len_ = kStampLen +
                static_cast<std::size_t>(std::snprintf(head_ + kStampLen, sizeof head_ - kStampLen,
                                                       "%s(%u) ", level_name(level), level));
    head_level_ = level;
}

bool EventLogFile::append(uint32_t level, const char *text, std::size_t len) {
    if (stopped_ != 0)
        return false;
    if (fd_ < 0)
        return true;
    if (const int error = ensure_room(); error != 0) {
        stop(error);
        return false;
    }
    len = std::min<std::size_t>(len, RIRE_ORSK_EVENT_TEXT_SIZE - 1);
    char *const line = window_.map + (pos_ - window_.off);
    if (const int64_t ns = now_ns(); ns < ms_ns_ || ns - ms_ns_ >= kMillisecond)
        set_stamp(ns);
    if (head_len_ == 0 || level != head_level_)
        set_tag(level);
    // The line is written from its second byte on, with a NUL after it, then
    // published by its first: until then a reader finds a NUL where the line
    // starts.
    copy_text(line + 1, head_ + 1, head_len_ - 1);
    char *out = write_text(line + head_len_, text, len);
    *out++ = '\n';
    *out = '\0';
    std::atomic_ref<char>(*line).store(head_[0], std::memory_order_release);
    pos_ += out - line;
    return true;
}

std::vector<std::string> EventLogFile::read_lines(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    bytes.resize(bytes.rfind('\n') == std::string::npos ? 0 : bytes.rfind('\n') + 1);
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; at < bytes.size(); at = nl + 1) {
        nl = bytes.find('\n', at);
        lines.push_back(bytes.substr(at, nl - at));
    }
    return lines;
}

} // namespace emu::log
