// The host's debug facility behind plugin/host/log.h: the shared message buffer, the
// event history (with a per-subtype filter), the debug console (per-level
// switches, lines printed to a FILE* and kept in memory) and the service's
// persistent event log (kept in memory and, when a state directory is set,
// written to <state_dir>/events.log through emu::log::EventLogFile).
// What is kept in memory is bounded and addressed by sequence number, so a
// reader's mark stays valid: the history and the event log keep the newest
// records that fit in a number of bytes (emu::log::EventRing), the console
// the newest kConsoleCapacity lines (emu::base::Ring).
//
// An event record as the host receives it is a u32 level code followed by a
// NUL-terminated text; the record's length is passed separately and is kept
// as given. Every host operation records itself in emu::base::journal. A record
// costs no allocation and no string is built for it: its text is copied
// into the history, the event log and events.log; a filtered record and a
// console line nobody switched on cost one check each.
//
// The rings bound what can be read back, not what a reader can count on
// seeing: every error-level event-log record also goes, as it arrives, to
// the error listener, so a check that must see every error (rire-host's
// --strict, its dropped-update warnings) never reads a ring.
//
// Records (history, console lines, event log) are process memory: clear()
// drops them. Filters, debug switches, the history capacity, the console
// sink and the error listener are configuration and survive clear(); reset()
// restores all defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "emu/base/ring.h"
#include "emu/log/event_log_file.h"
#include "emu/log/event_ring.h"
#include "plugin/host/log.h"
#include "plugin/include/rire_orsk_log.h"

namespace emu::log {

// Bytes kept of the history and of the event log (a record takes its text
// and 16 bytes: the event log holds some 4,500 records, all of a command
// over every VLAN), few enough for a core's cache to hold both beside the
// plugin's own data; and the console lines kept.
constexpr std::size_t kDefaultHistoryCapacity = 64 * 1024;
constexpr std::size_t kEventLogCapacity = 512 * 1024;
constexpr std::size_t kConsoleCapacity = 4096;

// The longest record text kept: the plugin's event record holds at most this
// much before its terminator.
constexpr std::size_t kTextMax = RIRE_ORSK_EVENT_TEXT_SIZE - 1;

// Event history, oldest first; the newest records that fit in the capacity
// set (kDefaultHistoryCapacity bytes at start). Its records' uuid is 0.
const EventRing &history();
// Changes the capacity in bytes, dropping the oldest records that no longer fit.
void set_history_capacity(std::size_t capacity);

// A filtered subtype makes sdwrap_hist_event_subtype_check answer nonzero.
void filter_subtype(uint32_t subtype, bool filtered);
// Switches console output at `level` on or off (default off).
void set_debug(uint32_t level, bool on);

// Console lines printed by buginf, "<modname>: <text>", without the final
// newline that the console receives; the newest kConsoleCapacity.
const base::Ring<std::string> &console_lines();
// Where buginf prints; null prints nowhere (lines are still kept). Default stderr.
void set_console(std::FILE *sink);

// The persistent event log, in call order; the newest records that fit in
// kEventLogCapacity bytes.
const EventRing &event_log();
// Hears every event-log record at error level when it arrives, whatever the
// ring keeps; an empty function stops it. One listener at a time.
void on_error_record(std::function<void(const Event &)> listener);
// Appends the event log to <dir>/events.log from now on (creating the
// directory and the file if needed); an empty path stops the file output.
// Returns false when the file cannot be opened.
bool set_state_dir(const std::filesystem::path &dir);
// Records events.log did not take since the host started because it had
// stopped (EventLogFile: a file system without room).
uint64_t event_file_missed();
// Size and number of the event-log files (EventLogFile::Limits); false, and
// nothing changed, for limits EventLogFile refuses. Configuration: survives
// clear() and set_state_dir().
bool set_event_file_limits(const EventLogFile::Limits &limits);

// Switches all of the above on or off (default on): off, every sdwrap_
// operation and buginf returns at once, keeping, printing, writing and
// journalling nothing; the subtype check answers "not filtered" and the debug
// check "off", so the plugin still formats its records as usual. The
// benchmark uses it to measure what the host's logging costs. A switch like
// the filters: it survives clear(), reset() turns the sinks back on.
void set_sinks_enabled(bool on);

// Drops the records in memory (history, console lines, event log).
void clear();
// Closes the event-log file; clear(), and filters, switches, capacity,
// console and event-file limits back to their defaults.
void reset();

} // namespace emu::log
