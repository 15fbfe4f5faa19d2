// The host's PSS framework and store behind plugin/host/pss.h, on LMDB
// (framework: emu/pss/pss.cc; the LMDB store: emu/pss/store.h).
//
// Framework. fu_global identifies the one context (vdc_num kVdcNum, vdc.impl
// pointing at the emulator's state). Services are registered through
// fu_init_arg_add_pss_service with an InitArg that the host passes to the
// plugin's pss_open_file; each service is one LMDB named database of the
// service's name. fu_vdc_add_pss_data / fu_vdc_add_pss_key_to_delete queue an
// update holding only the caller's datum addresses; flush() later reads the
// keys and values through them, applies the whole queue in one LMDB write
// transaction and, after the commit, calls the commit hook (the plugin's
// pss_buf_commit). All fu_ and pss2_ results: 0 for success, else an Error.
//
// Store. One LMDB environment in the state directory; a committed flush
// survives SIGKILL under every sync policy (Sync below). Its map starts at 1 MiB and doubles
// whenever a transaction needs more; a commit the file system has no room
// for fails like any LMDB failure (emu/base/disk.h). Records of every database
// are kept in ascending key order: 4-byte keys as little-endian u32,
// numerically; keys of other lengths by (length, bytes), so shorter keys
// sort before 4-byte ones and longer keys after them. records() and
// snapshot() list them so.
//
// Walk order. In which order a cursor walk presents the records is the
// emulator's choice (the plugin's recovery rebuilds its request queue in
// that order): ascending key, the default; descending; or shuffled from a
// seed, the same seed giving the same order of the same keys. Other than
// ascending, the first move takes the database's keys in that order and
// every next move seeks the next of them, skipping keys deleted since, so a
// record written after the first move is not visited. The order is run
// configuration: a process restart (reset()) keeps it.
//
// Reading. One cursor per service, moved by pss2_move2location. Reads share
// one LMDB read transaction, opened by the first read after a write and kept
// until the next write (a flush that applies updates, a raw update, a new
// database): while it lasts, a walk's next record is one cursor step; after
// a write the cursor seeks the record after the key it stood on. Each move
// copies the record into buffers owned by the service that stay valid until
// its cursor moves again: the key buffer holds exactly the key's bytes; a
// value is handed out zero-padded by 8 bytes, so a value shorter than its
// header reads as zeros. The value's datum len is its real length, and its
// real bytes are registered as the TLV read extent of the service (slot =
// PSS type, see emu/services/tlv.h).
//
// Process death (reset/close_store) drops registrations, the update queue,
// cursors, statistics and the commit hook; LMDB keeps what was committed.
//
// Faults (emu/base/faults.h): registration, lookup, queueing a write or a deletion
// refused with kErrRefused; a lookup that succeeds with handle 0, which names
// no service; a cursor move onto a record that is there refused with
// kErrRefused; a key or value fetch failed with kErrInjected.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "emu/base/bytes.h"
#include "plugin/host/pss.h"

namespace emu::pss {

using base::bytes::Bytes;

enum Error : int {
    kErrNoService = 0x5e0001,  // type or handle names no registered service
    kErrRefused = 0x5e0002,    // refused by the fault table
    kErrEndOfData = 0x5e0003,  // the cursor moved past the last record
    kErrNoRecord = 0x5e0004,   // the cursor stands on no record
    kErrBadWhere = 0x5e0005,   // pss2_move2location location other than first/next
    kErrBadContext = 0x5e0006, // vdc number or context is not fu_global's
    kErrBadArg = 0x5e0007,     // null or invalid argument
    kErrInjected = 0x5e0008,   // key/value fetch failed by the fault table
    kErrStore = 0x5e0009,      // LMDB failure (see last_store_error())
    kErrNoStore = 0x5e000a,    // no store is open
    kErrUnusable = 0x5e000b,   // the store's file is damaged (see last_store_error())
};

constexpr uint32_t kFuMagic = 0x46550001;
constexpr uint16_t kVdcNum = 1;
constexpr uint32_t kHandleBase = 0x100; // a service's handle is kHandleBase + type
constexpr std::size_t kValuePadding = 8;

// The descriptor (pss_service_arg). fu_global_pss_service_default_arg fills
// it with zeros: the framework reads only word 0 (the service's type) and
// word 2 (its name) and gives the other words, the plugin's words 1, 9 and 10
// included, no meaning; registration journals words 0, 1, 9 and 10 as given.

// The framework initialisation argument that the host hands to the plugin's
// pss_open_file; `registered` lists the types registered through it, in order.
struct InitArg {
    static constexpr uint32_t kMagic = 0x46554941;
    uint32_t magic = kMagic;
    std::vector<uint32_t> registered;
};

enum class Kind { kWrite, kDelete };

// A queued update decoded through its datum addresses at the time of asking.
struct Pending {
    Kind kind;
    uint32_t service;
    Bytes key;
    Bytes value; // empty for a deletion
};

using Records = std::vector<std::pair<Bytes, Bytes>>;

// How far a commit goes before it returns (LMDB's sync flags). Under each,
// a commit's pages are in the kernel's page cache when it returns, so every
// commit survives the death of the process; they differ on a power loss or
// a crash of the system:
//   kFull  the data pages, then the meta page, reach the disk at every
//          commit: every commit survives;
//   kMeta  the data pages reach the disk, the meta page later
//          (MDB_NOMETASYNC): the last commit may be undone, the store stays
//          whole;
//   kNone  nothing is synced (MDB_NOSYNC): the kernel writes the pages back
//          when it chooses, so recent commits may be lost and, where the
//          file system reorders writes, the store damaged. A commit writes
//          through LMDB's map (MDB_WRITEMAP, once the map's space is
//          reserved), with no system call.
enum class Sync { kFull, kMeta, kNone };

// Opens (creating if needed) the LMDB store in `dir` after checking it
// (emu/pss/check.h), committing under `sync`; 0, kErrUnusable when the
// file is damaged (it is left as it was), or kErrStore. A store of format 1
// gets the checksums of its records first. Every commit of the store also
// writes the checksums of the records it writes and its bookkeeping, which
// snapshot() leaves out; every read checks the record it hands out against
// its checksum (kErrStore).
int open_store(const std::filesystem::path &dir, Sync sync);
// reset(), then closes the store.
void close_store();
// Drops the framework's in-memory state: services, queue, cursors, stats.
void reset();

enum class Order { kAscending, kDescending, kShuffle };
struct WalkOrder {
    Order order = Order::kAscending;
    uint32_t seed = 0; // kShuffle only
};
// The order of every walk from the next first move on; WalkOrder{} is the default.
void set_walk_order(WalkOrder order);
const std::string &last_store_error();

// Applies the queued updates in order in one write transaction, commits, then
// calls the commit hook and empties the queue. A key of length 0 or above the
// store's limit, or a null data address with a nonzero length, is skipped and
// counted as rejected. On an LMDB failure nothing is applied, the queue is
// kept (a later flush retries), the hook is not called, and kErrStore is
// returned. An empty queue still calls the hook. Deleting a missing key is no
// error. A successful flush is journalled as "fu_pss_commit" (applied,
// rejected) just before the hook runs.
int flush();
void set_commit_hook(std::function<int()> hook);

// Queries for tests and tools.
std::vector<Pending> pending();
std::size_t pending_count();
std::size_t pending_count(Kind kind); // the queued updates of one kind
void discard_pending();
// Registered services, type -> name.
std::map<uint32_t, std::string> services();
// Every record of the named database in key order (empty when it is absent).
Records records(const std::string &name);
Records records(uint32_t type); // by registered type; empty when unregistered
// Every named database of the store but its bookkeeping.
std::map<std::string, Records> snapshot();

// Direct store access for tests that plant data; creates the named database
// if needed. The type forms need the service to be registered; the list
// form writes the value under every key in one transaction. 0 or an Error.
int put_raw(const std::string &name, const Bytes &key, const Bytes &value);
int put_raw(uint32_t type, const Bytes &key, const Bytes &value);
int put_raw(uint32_t type, const std::vector<Bytes> &keys, const Bytes &value);
int delete_raw(const std::string &name, const Bytes &key);
int delete_raw(uint32_t type, const Bytes &key);

} // namespace emu::pss
