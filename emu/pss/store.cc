#include "emu/pss/store.h"

#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>

#include "emu/base/disk.h"
#include "emu/base/faults.h"
#include "emu/pss/check.h"
#include "emu/pss/view.h"

namespace emu::pss {
namespace {

using store::load_datum;
using store::Update;

// LMDB maps its lock file and writes its reader table through the map: the
// file's space is reserved before LMDB opens it. 126 readers of 64 bytes
// and the table's header take 8 KiB; LMDB takes a larger file as it is.
constexpr std::size_t kLockFileSize = 16 * 1024;

struct Store {
    MDB_env *env = nullptr;
    MDB_txn *reader = nullptr; // the read transaction, kept open from a read to the next write
    bool reading = false;      // reader is open
    uint64_t snapshot = 0;     // read transactions opened so far: the current one's number
    std::size_t max_key = 0;
    std::map<std::string, MDB_dbi> dbis; // the services' databases and their checksums
    std::map<MDB_dbi, MDB_dbi> sums;     // a service's database -> its checksums
    std::filesystem::path file;          // data.mdb
};

Store g_store;
std::string g_last_error;

int store_error(const char *what, int rc) {
    g_last_error = std::string(what) + ": " + mdb_strerror(rc);
    return kErrStore;
}

// LMDB's answers about the file's contents, as against its environment
// (permissions, memory, locks).
bool is_damage(int rc) {
    return rc == MDB_INVALID || rc == MDB_VERSION_MISMATCH || rc == MDB_CORRUPTED ||
           rc == MDB_PAGE_NOTFOUND || rc == MDB_INCOMPATIBLE;
}

int unusable(const std::filesystem::path &file, const std::string &fault) {
    g_last_error = "the PSS store " + file.string() + " cannot be used: " + fault;
    return kErrUnusable;
}

// A write that failed, named by the file: "data.mdb: LMDB's error (PATH)".
int write_error(const std::string &error) {
    g_last_error = base::disk::describe(g_store.file, error);
    return kErrStore;
}

// LMDB's text for a failed write. LMDB reports a write that came back short
// as EIO, which is what a file system that runs out of room midway does: so
// EIO on a file system with less than a page left says that too.
std::string failed_write(int rc) {
    std::string text = mdb_strerror(rc);
    struct statvfs fs {};
    if (rc == EIO && statvfs(g_store.file.parent_path().c_str(), &fs) == 0 &&
        uint64_t{fs.f_bavail} * fs.f_frsize < uint64_t(sysconf(_SC_PAGESIZE)))
        text += ": the file system is full";
    return text;
}

// Commits a write transaction together with the store's bookkeeping
// (emu/pss/check.h), so that every commit leaves the two in step. Returns
// LMDB's code.
int commit(MDB_txn *txn) {
    MDB_dbi book;
    int rc = mdb_dbi_open(txn, check::kBookDb, MDB_CREATE, &book);
    if (rc == 0)
        rc = mdb_set_compare(txn, book, check::compare_keys);
    if (rc == 0)
        rc = check::record(txn, book, g_store.dbis);
    if (rc != 0) {
        mdb_txn_abort(txn);
        return rc;
    }
    return mdb_txn_commit(txn);
}

// Opens the store's read transaction unless it is open already: what was
// committed before it is what every read sees until end_read().
int begin_read() {
    if (g_store.env == nullptr)
        return kErrNoStore;
    if (g_store.reading)
        return 0;
    const int rc = g_store.reader == nullptr
                       ? mdb_txn_begin(g_store.env, nullptr, MDB_RDONLY, &g_store.reader)
                       : mdb_txn_renew(g_store.reader);
    if (rc != 0)
        return store_error("read", rc);
    g_store.reading = true;
    ++g_store.snapshot;
    return 0;
}

// Closes the read transaction before a write, so that reads after the write
// see it and the old pages can be reused.
void end_read() {
    if (g_store.reading)
        mdb_txn_reset(g_store.reader);
    g_store.reading = false;
}

// Whether commits write through LMDB's map (see reopen_through_map).
bool writes_through_map(MDB_env *env) {
    unsigned flags = 0;
    return mdb_env_get_flags(env, &flags) == 0 && (flags & MDB_WRITEMAP) != 0;
}

// Doubles the map, between transactions. LMDB unmaps the old map before it
// maps the new one and cannot go back, so the address space is tried first.
// Empty, or why the map could not grow.
std::string grow_map() {
    MDB_envinfo info;
    mdb_env_info(g_store.env, &info);
    const std::size_t from = info.me_mapsize, to = from * 2;
    const auto mib = [](std::size_t n) { return std::to_string(n >> 20) + " MiB"; };
    const std::string cannot = "; the map cannot grow from " + mib(from) + " to " + mib(to) + ": ";
    void *probe =
        to > from ? mmap(nullptr, to, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
    if (probe == MAP_FAILED)
        return cannot + std::strerror(to > from ? errno : ENOMEM);
    munmap(probe, to);
    if (writes_through_map(g_store.env))
        if (const int error = base::disk::reserve_file(g_store.file, to); error != 0)
            return cannot + std::strerror(error);
    if (const int rc = mdb_env_set_mapsize(g_store.env, to); rc != 0) {
        // The old map is gone: nothing may read through this environment.
        mdb_env_close(g_store.env);
        g_store.env = nullptr;
        g_store.reader = nullptr;
        g_store.reading = false;
        g_store.dbis.clear();
        return cannot + mdb_strerror(rc) + "; the store is closed";
    }
    return {};
}

// Runs `body` in a write transaction and commits it; the read transaction
// ends first. The `bytes` it writes are asked of the file system once, up
// front (emu/base/disk.h). When LMDB finds the map full, in the body or at the
// commit, the map grows and the whole transaction runs again.
int write_txn(std::size_t bytes, const std::function<int(MDB_txn *)> &body) {
    if (const int error = base::disk::charge(bytes); error != 0)
        return write_error(mdb_strerror(error));
    while (g_store.env != nullptr) {
        end_read();
        MDB_txn *txn;
        int rc = mdb_txn_begin(g_store.env, nullptr, 0, &txn);
        if (rc == 0 && (rc = body(txn)) != 0)
            mdb_txn_abort(txn);
        else if (rc == 0)
            rc = commit(txn);
        if (rc == 0)
            return 0;
        if (rc != MDB_MAP_FULL)
            return write_error(failed_write(rc));
        if (const std::string failed = grow_map(); !failed.empty())
            return write_error(mdb_strerror(rc) + failed);
    }
    return kErrNoStore;
}

bool valid(const Update &u) {
    const pss_datum k = load_datum(u.key);
    if (k.data == nullptr || k.len == 0 || k.len > g_store.max_key)
        return false;
    if (u.kind == Kind::kDelete)
        return true;
    const pss_datum v = load_datum(u.value);
    return v.data != nullptr || v.len == 0;
}

// What an update asks of the file system: its key's and value's bytes.
std::size_t record_bytes(const Update &u) {
    const std::size_t key = load_datum(u.key).len;
    return u.kind == Kind::kDelete ? key : key + load_datum(u.value).len;
}

// Opens the named database and its checksums in `txn` (`flags`: 0 or
// MDB_CREATE), with our key order, and keeps both handles.
int open_pair(MDB_txn *txn, const std::string &name, unsigned flags, MDB_dbi *out) {
    const std::string sums = check::sum_db(name);
    MDB_dbi sum;
    int rc = mdb_dbi_open(txn, name.c_str(), flags, out);
    if (rc == 0)
        rc = mdb_set_compare(txn, *out, check::compare_keys);
    if (rc == 0)
        rc = mdb_dbi_open(txn, sums.c_str(), flags, &sum);
    if (rc == 0)
        rc = mdb_set_compare(txn, sum, check::compare_keys);
    if (rc != 0)
        return rc;
    g_store.dbis[name] = *out;
    g_store.dbis[sums] = sum;
    g_store.sums[*out] = sum;
    return 0;
}

// Writes the checksum of every record of `dbi` (a store of format 1 kept
// none).
int add_sums(MDB_txn *txn, MDB_dbi dbi) {
    MDB_cursor *c;
    if (const int rc = mdb_cursor_open(txn, dbi, &c); rc != 0)
        return rc;
    MDB_val k, v;
    int rc;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
        if ((rc = check::put_sum(txn, g_store.sums.at(dbi), k, v)) != 0)
            break;
    mdb_cursor_close(c);
    return rc == MDB_NOTFOUND ? 0 : rc;
}

// Creates the named databases with their checksums, or the checksums of
// existing ones: one write, committed with the bookkeeping, which counts
// their records too.
int create_dbis(const std::vector<std::string> &names, MDB_dbi *out) {
    const auto forget = [&names] {
        for (const std::string &name : names) {
            g_store.dbis.erase(name);
            g_store.dbis.erase(check::sum_db(name));
        }
    };
    std::size_t bytes = 0;
    for (const std::string &name : names)
        bytes += name.size();
    const int rc = write_txn(bytes, [&](MDB_txn *txn) {
        forget();
        for (const std::string &name : names)
            if (int rc = open_pair(txn, name, MDB_CREATE, out);
                rc != 0 || (rc = add_sums(txn, *out)))
                return rc;
        return 0;
    });
    if (rc != 0)
        forget();
    return rc;
}

// Writes or (value null) deletes a record and its checksum.
int write_record(MDB_txn *txn, MDB_dbi dbi, MDB_val key, MDB_val *value) {
    const MDB_dbi sums = g_store.sums.at(dbi);
    int rc;
    if (value == nullptr) {
        if ((rc = mdb_del(txn, dbi, &key, nullptr)) == 0)
            rc = mdb_del(txn, sums, &key, nullptr);
        return rc == MDB_NOTFOUND ? 0 : rc;
    }
    if ((rc = mdb_put(txn, dbi, &key, value, 0)) == 0)
        rc = check::put_sum(txn, sums, key, *value);
    return rc;
}

int apply_one(MDB_txn *txn, const Update &u) {
    const pss_datum k = load_datum(u.key);
    if (u.kind == Kind::kDelete)
        return write_record(txn, u.dbi, MDB_val{k.len, k.data}, nullptr);
    const pss_datum v = load_datum(u.value);
    MDB_val value{v.len, v.data};
    return write_record(txn, u.dbi, MDB_val{k.len, k.data}, &value);
}

// A record read is handed out only when it matches its checksum.
int verified(MDB_dbi dbi, const MDB_val &k, const MDB_val &v) {
    if (check::matches(g_store.reader, g_store.sums.at(dbi), k, v))
        return 0;
    std::string name;
    for (const auto &[n, d] : g_store.dbis)
        if (d == dbi)
            name = n;
    g_last_error = "record " + base::bytes::hex(k.mv_data, k.mv_size, 16) + " of database " + name +
                   " does not match its checksum";
    return kErrStore;
}

// Positions `c` on the record after `current`: its key, or the next one up.
int after(MDB_cursor *c, const pss_datum &current, MDB_val *k, MDB_val *v) {
    MDB_val at{current.len, current.data};
    *k = at;
    int rc = mdb_cursor_get(c, k, v, MDB_SET_RANGE);
    if (rc == 0 && check::compare_keys(k, &at) == 0)
        rc = mdb_cursor_get(c, k, v, MDB_NEXT);
    return rc;
}

// Opens the read transaction and brings the cursor into it; *placed tells
// whether it stood there already, on a record.
int enter_read(store::Cursor *cursor, MDB_dbi dbi, bool *placed) {
    if (const int rc = begin_read(); rc != 0)
        return rc;
    *placed = cursor->snapshot == g_store.snapshot;
    if (*placed)
        return 0;
    const int rc = cursor->cursor == nullptr ? mdb_cursor_open(g_store.reader, dbi, &cursor->cursor)
                                             : mdb_cursor_renew(g_store.reader, cursor->cursor);
    return rc == 0 ? 0 : store_error("cursor", rc);
}

Records read_all(MDB_dbi dbi) {
    Records out;
    MDB_cursor *c;
    if (begin_read() != 0 || mdb_cursor_open(g_store.reader, dbi, &c) != 0)
        return out;
    MDB_val k, v;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0 && verified(dbi, k, v) == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
        out.emplace_back(base::bytes::copy(k.mv_data, k.mv_size),
                         base::bytes::copy(v.mv_data, v.mv_size));
    mdb_cursor_close(c);
    return out;
}

std::vector<std::string> database_names() {
    std::vector<std::string> names;
    MDB_dbi main;
    MDB_cursor *c;
    if (begin_read() != 0 || mdb_dbi_open(g_store.reader, nullptr, 0, &main) != 0 ||
        mdb_cursor_open(g_store.reader, main, &c) != 0)
        return names;
    MDB_val k, v;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
        std::string name(static_cast<const char *>(k.mv_data), k.mv_size);
        if (!check::is_bookkeeping(name))
            names.push_back(std::move(name));
    }
    mdb_cursor_close(c);
    return names;
}

} // namespace

namespace store {

bool is_open() {
    return g_store.env != nullptr;
}

// Opens the named database once per environment; every open sets our key
// order. Creating one is a write, committed with the bookkeeping.
int open_dbi(const std::string &name, bool create, MDB_dbi *out) {
    if (g_store.env == nullptr)
        return kErrNoStore;
    if (const auto it = g_store.dbis.find(name); it != g_store.dbis.end()) {
        *out = it->second;
        return 0;
    }
    // An existing database opens in a transaction that writes nothing, so
    // it opens on a file system without room too.
    end_read();
    MDB_txn *txn;
    int rc = mdb_txn_begin(g_store.env, nullptr, 0, &txn);
    if (rc != 0)
        return store_error("begin", rc);
    rc = open_pair(txn, name, 0, out);
    if (rc == 0)
        rc = mdb_txn_commit(txn);
    else
        mdb_txn_abort(txn);
    if (rc == MDB_NOTFOUND && create)
        return create_dbis({name}, out);
    if (rc != 0)
        return rc == MDB_NOTFOUND ? kErrNoService : store_error("open database", rc);
    return 0;
}

int apply(const std::vector<Update> &updates, uint64_t *applied, uint64_t *rejected) {
    std::size_t bytes = 0;
    for (const Update &u : updates)
        bytes += valid(u) ? record_bytes(u) : 0;
    uint64_t done = 0, skipped = 0;
    const int rc = write_txn(bytes, [&](MDB_txn *txn) {
        done = skipped = 0;
        uint32_t position = 0;
        for (const Update &u : updates) {
            if (base::faults::fires(base::faults::Id::kPssCommitKill, 0, ++position))
                base::faults::die();
            if (!valid(u)) {
                ++skipped;
                continue;
            }
            if (const int rc = apply_one(txn, u); rc != 0)
                return rc;
            ++done;
        }
        return 0;
    });
    if (rc != 0)
        return rc;
    if (base::faults::fires(base::faults::Id::kPssCommitKill, 0,
                            static_cast<uint32_t>(updates.size()) + 1))
        base::faults::die();
    *applied += done;
    *rejected += skipped;
    return 0;
}

int move(Cursor *cursor, MDB_dbi dbi, bool first, const pss_datum &current, MDB_val *k,
         MDB_val *v) {
    bool placed;
    int rc = enter_read(cursor, dbi, &placed);
    if (rc != 0)
        return rc;
    if (first)
        rc = mdb_cursor_get(cursor->cursor, k, v, MDB_FIRST);
    else
        rc = placed ? mdb_cursor_get(cursor->cursor, k, v, MDB_NEXT)
                    : after(cursor->cursor, current, k, v);
    cursor->snapshot = rc == 0 ? g_store.snapshot : 0;
    if (rc != 0)
        return rc == MDB_NOTFOUND ? kErrEndOfData : store_error("move", rc);
    return verified(dbi, *k, *v);
}

int seek(Cursor *cursor, MDB_dbi dbi, const Bytes &key, MDB_val *k, MDB_val *v) {
    bool placed;
    int rc = enter_read(cursor, dbi, &placed);
    if (rc != 0)
        return rc;
    *k = MDB_val{key.size(), const_cast<uint8_t *>(key.data())};
    rc = mdb_cursor_get(cursor->cursor, k, v, MDB_SET_KEY);
    cursor->snapshot = rc == 0 ? g_store.snapshot : 0;
    if (rc != 0)
        return rc == MDB_NOTFOUND ? kErrNoRecord : store_error("seek", rc);
    return verified(dbi, *k, *v);
}

void close_cursor(Cursor *cursor) {
    if (cursor->cursor != nullptr)
        mdb_cursor_close(cursor->cursor);
    *cursor = Cursor{};
}

int write_raw(const std::string &name, const std::vector<Bytes> &keys, const Bytes *value) {
    MDB_dbi dbi;
    if (const int rc = open_dbi(name, true, &dbi); rc != 0)
        return rc;
    std::size_t bytes = 0;
    for (const Bytes &key : keys)
        bytes += key.size() + (value != nullptr ? value->size() : 0);
    return write_txn(bytes, [&](MDB_txn *txn) {
        MDB_val v{value != nullptr ? value->size() : 0,
                  value != nullptr ? const_cast<uint8_t *>(value->data()) : nullptr};
        for (const Bytes &key : keys)
            if (const int rc =
                    write_record(txn, dbi, {key.size(), const_cast<uint8_t *>(key.data())},
                                 value != nullptr ? &v : nullptr);
                rc != 0)
                return rc;
        return 0;
    });
}

} // namespace store

namespace {

// A store of format 1 (emu/pss/check.h) gets the checksums of all its
// records in one transaction before anything reads it.
int add_format2_sums() {
    const std::vector<std::string> names = database_names();
    MDB_dbi dbi;
    const int rc = create_dbis(names, &dbi);
    if (rc != 0)
        close_store();
    return rc;
}

} // namespace

// Store check: the file before LMDB maps it, then every record once it is
// open (emu/pss/check.h). A fault leaves the file as it was.
namespace {

// LMDB's environment flags for a sync policy.
unsigned sync_flags(Sync sync) {
    switch (sync) {
    case Sync::kFull:
        return 0;
    case Sync::kMeta:
        return MDB_NOMETASYNC;
    case Sync::kNone:
        break;
    }
    return MDB_NOSYNC;
}

// The whole map's space, reserved (emu/base/disk.h) so that a full file
// system is an error of the reservation, never a SIGBUS at a page of the map.
int reserve_map(MDB_env *env, const std::filesystem::path &file) {
    MDB_envinfo info;
    mdb_env_info(env, &info);
    return base::disk::reserve_file(file, info.me_mapsize);
}

// Opens the checked environment `*env` again so that commits write through
// LMDB's map (MDB_WRITEMAP), which saves every commit's system calls: only
// when nothing is synced (msync would sync the whole map) and once the map's
// space is reserved. LMDB grows the file to its map when it opens it so,
// which is why the store is checked first, through write calls: a store
// refused is left as it was. Where it is not reopened so, the store keeps
// writing with write calls. 0, or LMDB's error with no environment open.
int reopen_through_map(const std::filesystem::path &dir, Sync sync, MDB_env **env) {
    if (sync != Sync::kNone || reserve_map(*env, dir / "data.mdb") != 0)
        return 0;
    mdb_env_close(*env);
    const unsigned flags = MDB_NOTLS | sync_flags(sync);
    return view::open_env(dir, flags | MDB_WRITEMAP, env) == 0 ? 0
                                                               : view::open_env(dir, flags, env);
}

} // namespace

int open_store(const std::filesystem::path &dir, Sync sync) {
    close_store();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        g_last_error = "create " + dir.string() + ": " + ec.message();
        return kErrStore;
    }
    const std::filesystem::path file = dir / "data.mdb";
    if (auto fault = check::file(file))
        return unusable(file, *fault);
    if (const int error = base::disk::reserve_file(dir / "lock.mdb", kLockFileSize); error != 0)
        base::disk::failed(dir / "lock.mdb", error);
    MDB_env *env;
    if (const int rc = view::open_env(dir, MDB_NOTLS | sync_flags(sync), &env); rc != 0)
        return is_damage(rc) ? unusable(file, mdb_strerror(rc))
                             : store_error(("open " + file.string()).c_str(), rc);
    MDB_txn *txn;
    if (const int rc = mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn); rc != 0) {
        mdb_env_close(env);
        return store_error(("read " + file.string()).c_str(), rc);
    }
    // The process is the store's only writer: a rewritten meta page is damage.
    const check::Walked w = check::walk(env, txn);
    mdb_txn_abort(txn);
    if (w.fault || w.moved) {
        mdb_env_close(env);
        return unusable(file, w.fault.value_or("the meta page does not hold the last transaction"));
    }
    if (const int rc = reopen_through_map(dir, sync, &env); rc != 0)
        return store_error(("open " + file.string()).c_str(), rc);
    g_store.env = env;
    g_store.file = file;
    g_store.max_key = static_cast<std::size_t>(mdb_env_get_maxkeysize(env));
    return w.checksummed ? 0 : add_format2_sums();
}

void close_store() {
    reset();
    if (g_store.reader != nullptr)
        mdb_txn_abort(g_store.reader);
    if (g_store.env != nullptr)
        mdb_env_close(g_store.env);
    g_store = Store{};
}

const std::string &last_store_error() {
    return g_last_error;
}

Records records(const std::string &name) {
    MDB_dbi dbi;
    return store::open_dbi(name, false, &dbi) == 0 ? read_all(dbi) : Records{};
}

std::map<std::string, Records> snapshot() {
    std::map<std::string, Records> out;
    for (const std::string &name : database_names())
        out.emplace(name, records(name));
    return out;
}

int put_raw(const std::string &name, const Bytes &key, const Bytes &value) {
    return store::write_raw(name, {key}, &value);
}

int delete_raw(const std::string &name, const Bytes &key) {
    return store::write_raw(name, {key}, nullptr);
}

} // namespace emu::pss
