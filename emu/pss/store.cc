#include "emu/pss/store.h"

#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>

#include "emu/base/disk.h"
#include "emu/pss/check.h"

namespace emu::pss {
namespace {

using store::load_datum;
using store::Update;

// The map starts small and doubles whenever a transaction finds it full
// (grow_map()): the whole process lives in 4 GiB of address space.
constexpr std::size_t kFirstMapSize = std::size_t{1} << 20;
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
    std::map<std::string, MDB_dbi> dbis;
    std::filesystem::path file; // data.mdb
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

int compare_keys(const MDB_val *a, const MDB_val *b) {
    if (a->mv_size != b->mv_size)
        return a->mv_size < b->mv_size ? -1 : 1;
    if (a->mv_size == sizeof(uint32_t)) {
        uint32_t x, y;
        std::memcpy(&x, a->mv_data, sizeof x);
        std::memcpy(&y, b->mv_data, sizeof y);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    return std::memcmp(a->mv_data, b->mv_data, a->mv_size);
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
        rc = mdb_set_compare(txn, book, compare_keys);
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

// Creates the named database: a write, committed with the bookkeeping,
// which counts the new database's records too.
int create_dbi(const std::string &name, MDB_dbi *out) {
    const int rc = write_txn(name.size(), [&](MDB_txn *txn) {
        int rc = mdb_dbi_open(txn, name.c_str(), MDB_CREATE, out);
        if (rc == 0)
            rc = mdb_set_compare(txn, *out, compare_keys);
        if (rc == 0)
            g_store.dbis[name] = *out;
        return rc;
    });
    if (rc != 0)
        g_store.dbis.erase(name);
    return rc;
}

int apply_one(MDB_txn *txn, const Update &u) {
    const pss_datum k = load_datum(u.key);
    MDB_val key{k.len, k.data};
    if (u.kind == Kind::kDelete) {
        const int rc = mdb_del(txn, u.dbi, &key, nullptr);
        return rc == MDB_NOTFOUND ? 0 : rc;
    }
    const pss_datum v = load_datum(u.value);
    MDB_val value{v.len, v.data};
    return mdb_put(txn, u.dbi, &key, &value, 0);
}

// Positions `c` on the record after `current`: its key, or the next one up.
int after(MDB_cursor *c, const pss_datum &current, MDB_val *k, MDB_val *v) {
    MDB_val at{current.len, current.data};
    *k = at;
    int rc = mdb_cursor_get(c, k, v, MDB_SET_RANGE);
    if (rc == 0 && compare_keys(k, &at) == 0)
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
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
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
        if (name != check::kBookDb)
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
    rc = mdb_dbi_open(txn, name.c_str(), 0, out);
    if (rc == 0)
        rc = mdb_set_compare(txn, *out, compare_keys);
    if (rc == 0)
        rc = mdb_txn_commit(txn);
    else
        mdb_txn_abort(txn);
    if (rc == MDB_NOTFOUND && create)
        return create_dbi(name, out);
    if (rc != 0)
        return rc == MDB_NOTFOUND ? kErrNoService : store_error("open database", rc);
    g_store.dbis.emplace(name, *out);
    return 0;
}

int apply(const std::vector<Update> &updates, uint64_t *applied, uint64_t *rejected) {
    std::size_t bytes = 0;
    for (const Update &u : updates)
        bytes += valid(u) ? record_bytes(u) : 0;
    uint64_t done = 0, skipped = 0;
    const int rc = write_txn(bytes, [&](MDB_txn *txn) {
        done = skipped = 0;
        for (const Update &u : updates) {
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
    return 0;
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
    return 0;
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
        for (const Bytes &key : keys) {
            MDB_val k{key.size(), const_cast<uint8_t *>(key.data())};
            int rc;
            if (value == nullptr) {
                rc = mdb_del(txn, dbi, &k, nullptr);
                rc = rc == MDB_NOTFOUND ? 0 : rc;
            } else {
                MDB_val v{value->size(), const_cast<uint8_t *>(value->data())};
                rc = mdb_put(txn, dbi, &k, &v, 0);
            }
            if (rc != 0)
                return rc;
        }
        return 0;
    });
}

} // namespace store

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
    int rc = mdb_env_create(&env);
    if (rc != 0)
        return store_error("create", rc);
    if ((rc = mdb_env_set_maxdbs(env, store::kMaxDatabases)) != 0 ||
        (rc = mdb_env_set_mapsize(env, kFirstMapSize)) != 0 ||
        (rc = mdb_env_open(env, dir.c_str(), MDB_NOTLS | sync_flags(sync), 0644)) != 0) {
        mdb_env_close(env);
        return is_damage(rc) ? unusable(file, mdb_strerror(rc))
                             : store_error(("open " + file.string()).c_str(), rc);
    }
    if (auto fault = check::walk(env)) {
        mdb_env_close(env);
        return unusable(file, *fault);
    }
    g_store.env = env;
    g_store.file = file;
    g_store.max_key = static_cast<std::size_t>(mdb_env_get_maxkeysize(env));
    return 0;
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
