// The LMDB store under the PSS framework (emu/pss/pss.h): one environment in the
// state directory, one named database per service, 4-byte keys ordered as
// little-endian u32 and other keys by (length, bytes). The framework keeps
// services, the update queue and cursors; this module keeps the environment
// and does every LMDB call. Internal to the emulator's PSS: tests and tools
// use emu/pss/pss.h. Results: 0, or an emu::pss::Error (kErrStore with the reason
// in last_store_error()).
#pragma once

#include <lmdb.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emu/pss/pss.h"

namespace emu::pss::store {

// A queued update; its datums are read when the update is applied.
struct Update {
    Kind kind;
    uint32_t service;
    MDB_dbi dbi;
    pss_datum *key;
    pss_datum *value; // null for a deletion
};

// The plugin carves datums from an arena with no alignment, so a datum is
// read bytewise, never through a possibly misaligned pointer.
inline pss_datum load_datum(const pss_datum *d) {
    pss_datum out;
    std::memcpy(&out, static_cast<const void *>(d), sizeof out);
    return out;
}

bool is_open();
// The named database, opened once per environment (created when `create`);
// kErrNoService when it is absent and not to be created.
int open_dbi(const std::string &name, bool create, MDB_dbi *out);
// Applies the updates in order in one write transaction and commits. An
// update with an empty or oversized key, or null data with a nonzero length,
// is skipped and counted in *rejected. On failure nothing is applied, and
// last_store_error() names data.mdb and LMDB's error: a file system without
// room (emu/base/disk.h) is ENOSPC. A transaction that finds the map full grows
// it (doubling) and runs again; MDB_MAP_FULL means it could not grow.
int apply(const std::vector<Update> &updates, uint64_t *applied, uint64_t *rejected);
// A service's read cursor and the read transaction it was placed in. The
// store keeps one read transaction open from the first read until the next
// write, so while nothing is written a walk's next record is one cursor step.
struct Cursor {
    MDB_cursor *cursor = nullptr;
    uint64_t snapshot = 0; // the read transaction it stands in; 0 before the first move
};

// Moves the cursor (opened on first use) to the first record, or to the
// record after `current`: one step while the cursor still stands in the open
// read transaction, else a seek for `current`. kErrEndOfData past the last.
// *k and *v stay valid until the next store call.
int move(Cursor *cursor, MDB_dbi dbi, bool first, const pss_datum &current, MDB_val *k, MDB_val *v);
// Places the cursor on the record of `key`; kErrNoRecord when there is none.
int seek(Cursor *cursor, MDB_dbi dbi, const Bytes &key, MDB_val *k, MDB_val *v);
void close_cursor(Cursor *cursor);
// Writes `value` (not null) under every key, or deletes every key, in one
// transaction.
int write_raw(const std::string &name, const std::vector<Bytes> &keys, const Bytes *value);

} // namespace emu::pss::store
