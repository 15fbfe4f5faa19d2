// The one place the emulator opens LMDB (the PSS store, emu/pss/store.h, and
// every read-only reader: `rire-host inspect`, the benchmark), with one set
// of limits, and a read-only view of a store that another process may be
// writing.
//
// read() takes one committed state whole: a read transaction registered in
// LMDB's lock file (readers never block the writer, and the writer keeps
// the transaction's pages until it ends), checked page by page and record
// by record (emu/pss/check.h) before a record is handed out. Registering
// writes the reader's slot to lock.mdb, creating the file when it is absent;
// where lock.mdb cannot be written the store is read without it. A fault
// found while a writer committed is reported only when a read of a later
// transaction finds it again, so a store in use is never reported as
// damaged for a write that was under way.
#pragma once

#include <lmdb.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

#include "emu/pss/pss.h"

namespace emu::pss::view {

inline constexpr unsigned kMaxDbs = 32; // services, their checksums, the bookkeeping
// The map starts small and grows when a writer needs more (emu/pss/store.cc):
// the whole process lives in 4 GiB of address space.
inline constexpr std::size_t kFirstMapSize = std::size_t{1} << 20;

// Opens the environment of DIR with the store's limits and `flags`
// (mdb_env_open's); LMDB's result, *env closed on failure.
int open_env(const std::filesystem::path &dir, unsigned flags, MDB_env **env);

struct Snapshot {
    enum Status { kRead, kDamaged, kFailed } status = kRead;
    std::string fault;                  // kDamaged: what is wrong; kFailed: LMDB's error
    bool checksummed = true;            // false: format 1, without checksums
    uint64_t txn = 0;                   // the transaction read
    std::map<std::string, Records> dbs; // every database but the bookkeeping
};
// Reads the store in DIR (data.mdb must exist).
Snapshot read(const std::filesystem::path &dir);

} // namespace emu::pss::view
