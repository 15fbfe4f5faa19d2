// Checks that the PSS store (emu/pss/store.h) can be trusted before anything
// uses it, and keeps the bookkeeping that lets a later process tell a sound
// store from a damaged one. LMDB keeps no checksums and trusts its pages: a
// truncated file or a damaged page makes it fault (a signal) or read a
// record that was never written, so both are looked for here.
//
// Before mapping, file() reads the two meta pages with pread and checks them
// (page flag, magic, version, page size, page numbers, transaction ids) and
// the file's size against the last page each names. Once the store is open,
// walk() checks, in one read transaction, every page that transaction
// reaches (emu/pss/pages.h) before LMDB reads one, then reads every record
// of every database and compares it with the bookkeeping:
// - each database NAME has a checksum database "@sum:NAME" holding, under
//   the same key, the CRC-32C of the record's key and value;
// - the database "@store" holds each database's record count, the id of the
//   transaction that wrote it, the store's format (2: with checksums) and a
//   CRC-32C of its own other records.
// Both are written by record() and put_sum() in the transaction that writes
// the records. A store of format 1 (no "@store" format, no checksum
// databases: written by an earlier emulator) is checked without checksums
// and reported as such.
//
// Faults are worded for a user who has to decide what to do with the file
// (LMDB errors by their mdb_strerror name). Nothing here writes to the store
// but record() and put_sum(), inside the caller's write transaction.
#pragma once

#include <lmdb.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace emu::pss::check {

// The bookkeeping databases' names start with '@'; no PSS service may.
inline constexpr const char *kBookDb = "@store";
inline constexpr const char *kSumPrefix = "@sum:";
inline bool is_bookkeeping(const std::string &name) {
    return name.starts_with("@");
}
inline std::string sum_db(const std::string &name) {
    return kSumPrefix + name;
}

// The key order of every named database: 4-byte keys as little-endian u32,
// other keys by (length, bytes).
int compare_keys(const MDB_val *a, const MDB_val *b);

// An absent file is fine (a new store).
std::optional<std::string> file(const std::filesystem::path &data_mdb);

struct Walked {
    std::optional<std::string> fault;
    bool moved = false;      // a writer rewrote the transaction's meta page: read again
    bool checksummed = true; // false: format 1, records without checksums
};
// Checks the pages and reads the whole store in `txn`, a read transaction.
Walked walk(MDB_env *env, MDB_txn *txn);

// Writes the record counts of `dbis` (name -> handle), this transaction's
// id, the format and the bookkeeping's own checksum into kBookDb (`book`);
// an LMDB error code, or 0.
int record(MDB_txn *txn, MDB_dbi book, const std::map<std::string, MDB_dbi> &dbis);
// Writes the checksum of the record (k, v) into its checksum database.
int put_sum(MDB_txn *txn, MDB_dbi sums, const MDB_val &k, const MDB_val &v);
// Whether the record (k, v) matches the checksum kept for it.
bool matches(MDB_txn *txn, MDB_dbi sums, const MDB_val &k, const MDB_val &v);

// CRC-32C (Castagnoli) of `n` bytes, continuing from `crc` (0 to start):
// the checksum of every record and of the bookkeeping.
uint32_t crc32c(uint32_t crc, const void *data, std::size_t n);

// Renames data.mdb to data.mdb.damaged-YYYYMMDD-HHMMSS (with -2, -3 ... when
// that name is taken) and returns the new path; throws std::filesystem_error.
std::filesystem::path move_aside(const std::filesystem::path &data_mdb);

} // namespace emu::pss::check
