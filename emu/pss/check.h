// Checks that the PSS store (emu/pss/store.h) can be trusted before the
// framework uses it, and keeps the record that lets a later process tell an
// empty database from a lost one. LMDB keeps no page checksums: a truncated
// file makes its map fault (SIGBUS) and a damaged page makes a database read
// as shorter than it was, so the caller has to look for both.
//
// Before mapping, file() reads the two meta pages with pread and checks them
// (page flag, magic, version, page size, page numbers) and the file's size
// against the last page each names. After opening, walk() reads every record
// of every database and compares what it finds with the bookkeeping record:
// the database kBookDb, written by record() inside every write transaction
// of the store, holds for each database its record count and the id of the
// last transaction that wrote it. A store without bookkeeping (written by an
// earlier emulator) is checked for readability only.
//
// file() and walk() return the fault, worded for a user who has to decide
// what to do with the file (LMDB errors by their mdb_strerror name), or
// nothing when the store is fine. Neither writes to the store.
#pragma once

#include <lmdb.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace emu::pss::check {

// The bookkeeping database; no PSS service may take its name.
inline constexpr const char *kBookDb = "@store";

// An absent file is fine (a new store).
std::optional<std::string> file(const std::filesystem::path &data_mdb);
// Reads the whole store in one read transaction.
std::optional<std::string> walk(MDB_env *env);
// Writes the record counts of `dbis` (name -> handle) and this transaction's
// id into kBookDb (`book`); an LMDB error code, or 0.
int record(MDB_txn *txn, MDB_dbi book, const std::map<std::string, MDB_dbi> &dbis);
// Renames data.mdb to data.mdb.damaged-YYYYMMDD-HHMMSS (with -2, -3 ... when
// that name is taken) and returns the new path; throws std::filesystem_error.
std::filesystem::path move_aside(const std::filesystem::path &data_mdb);

} // namespace emu::pss::check
