// emu::log::EventLogFile: the service's persistent event log as a text file,
// <dir>/events.log, one line per record:
//
//     2024-05-01T12:34:56.789Z trace(104) rire_orsk_x(12): text
//
// (the record's trailing newlines dropped, inner ones written as "\n").
//
// A record costs no system call: lines are copied into a shared mapping of
// the file, so a line is in the file (the kernel's page cache) as soon as
// append() returns and survives the death of the process. A NUL byte always
// follows the last line, and the first byte of a line is stored last, so a
// reader that stops at the first NUL byte sees whole lines only
// (read_lines() does). The file grows a window at a time, each allocated,
// mapped and faulted in ahead of the writer by an emu::log::MapAhead
// thread, which also unmaps the windows left. After a crash the file goes
// on past that NUL (NUL bytes up to two windows, or older text in a file
// reused by rotation), which the next open() trims; a clean close() leaves
// plain text. The time of a record is one read of the CPU's time-stamp
// counter, kept in step with the wall clock about once a second.
//
// Space: each window's bytes are charged and allocated (emu/base/disk.h)
// before it is mapped, so a file system without room never faults the
// writer. When the file cannot grow, or its next window cannot be mapped,
// it stops: append() takes no line from then on, and the failure is noted
// once (emu::base::disk::failed). The next open() (a restart, or
// set_state_dir) tries again.
//
// Rotation: a line that could take events.log past max_bytes first moves it
// to events.log.1 (.1 to .2, and so on); `files` counts events.log and its
// rotated files. The oldest file's lines are dropped, and the file itself
// becomes the new events.log, written over from its start. So the files
// never hold more than max_bytes * files bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "emu/log/map_ahead.h"

namespace emu::log {

class EventLogFile {
  public:
    struct Limits {
        std::size_t max_bytes = std::size_t{16} << 20;
        unsigned files = 4;
        bool operator==(const Limits &) const = default;
    };
    // The smallest max_bytes accepted: a few of the longest lines.
    static constexpr std::size_t kMinFileBytes = 16 * 1024;

    EventLogFile() = default;
    ~EventLogFile() { close(); }
    EventLogFile(const EventLogFile &) = delete;
    EventLogFile &operator=(const EventLogFile &) = delete;

    // Opens (creating if needed) <dir>/events.log to append to it, closing
    // any file open before. False when the file cannot be opened.
    bool open(const std::filesystem::path &dir);
    // Trims the file to its lines and closes it; nothing when none is open.
    void close();
    bool is_open() const { return fd_ >= 0; }
    // Takes effect from the next line; false (and nothing changed) when
    // max_bytes is below kMinFileBytes or files is 0.
    bool set_limits(const Limits &limits);
    const Limits &limits() const { return limits_; }

    // Writes one line; a text as long as the event record holds is written whole. False
    // when the file has stopped and the line is not in it.
    bool append(uint32_t level, const char *text, std::size_t len);
    // The errno that stopped the file, or 0.
    int stopped() const { return stopped_; }

    // The whole lines of one event-log file, without their newlines.
    static std::vector<std::string> read_lines(const std::filesystem::path &file);

  private:
    int ensure_room();
    void stop(int error);
    bool cut_and_map();
    bool rotate();
    bool reuse(int fd);
    std::filesystem::path rotated_name(unsigned k) const;
    bool cycle_names() const;
    void request_window(std::size_t off, MapAhead::Window done = {});
    bool next_window();
    void unmap();
    void set_stamp(int64_t ns);
    void set_tag(uint32_t level);

    Limits limits_;
    std::filesystem::path path_;
    int fd_ = -1;
    int retired_ = -1;        // the oldest file while rotate() drops it, for ahead_ to free
    MapAhead::Window window_; // in use: file bytes [off, off + len) at map
    MapAhead ahead_;          // maps the window after it
    std::size_t pos_ = 0;     // file offset of the next line
    std::size_t size_ = 0;    // the file's size, with the windows asked for
    int window_error_ = 0;    // why the last window asked for failed
    int stopped_ = 0;         // why the file takes no more lines
    // The start of a line, "YYYY-MM-DDTHH:MM:SS.mmmZ trace(104) ", kept for the
    // millisecond and the level of the last line: most lines copy it whole.
    static constexpr std::size_t kStampLen = 25;
    char head_[kStampLen + 32] = {};
    std::size_t head_len_ = 0; // 0 until a tag is set
    int64_t sec_ns_ = -1;      // the second of the stamp, in ns since the epoch
    int64_t ms_ns_ = -1;       // its millisecond
    uint32_t head_level_ = 0;
};

} // namespace emu::log
