#include "emu/pss_store.h"

#include <filesystem>
#include <map>

#include "emu/store_check.h"

namespace emu::pss {
namespace {

using store::load_datum;
using store::Update;

constexpr unsigned kMaxDbs = 32;
// The whole process lives in 4 GiB of address space: keep the map modest.
constexpr std::size_t kMapSize = std::size_t{256} << 20;

struct Store {
    MDB_env *env = nullptr;
    MDB_txn *reader = nullptr; // the read transaction, kept open from a read to the next write
    bool reading = false;      // reader is open
    uint64_t snapshot = 0;     // read transactions opened so far: the current one's number
    std::size_t max_key = 0;
    std::map<std::string, MDB_dbi> dbis;
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

// Commits a write transaction together with the store's bookkeeping
// (emu/store_check.h), so that every commit leaves the two in step.
int commit(MDB_txn *txn) {
    MDB_dbi book;
    int rc = mdb_dbi_open(txn, check::kBookDb, MDB_CREATE, &book);
    if (rc == 0)
        rc = mdb_set_compare(txn, book, compare_keys);
    if (rc == 0)
        rc = check::record(txn, book, g_store.dbis);
    if (rc != 0) {
        mdb_txn_abort(txn);
        return store_error("bookkeeping", rc);
    }
    rc = mdb_txn_commit(txn);
    return rc == 0 ? 0 : store_error("commit", rc);
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

// Begins a write transaction; the read transaction ends first.
int begin_write(MDB_txn **txn) {
    end_read();
    const int rc = mdb_txn_begin(g_store.env, nullptr, 0, txn);
    return rc == 0 ? 0 : store_error("begin", rc);
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
        out.emplace_back(bytes::copy(k.mv_data, k.mv_size), bytes::copy(v.mv_data, v.mv_size));
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
    MDB_txn *txn;
    int rc = begin_write(&txn);
    if (rc != 0)
        return rc;
    rc = mdb_dbi_open(txn, name.c_str(), 0, out);
    const bool creating = rc == MDB_NOTFOUND && create;
    if (creating)
        rc = mdb_dbi_open(txn, name.c_str(), MDB_CREATE, out);
    if (rc == 0)
        rc = mdb_set_compare(txn, *out, compare_keys);
    if (rc != 0) {
        mdb_txn_abort(txn);
        return rc == MDB_NOTFOUND ? kErrNoService : store_error("open database", rc);
    }
    g_store.dbis.emplace(name, *out);
    rc = creating ? commit(txn) : mdb_txn_commit(txn);
    if (rc != 0)
        g_store.dbis.erase(name);
    return rc == 0 || creating ? rc : store_error("commit", rc);
}

int apply(const std::vector<Update> &updates, uint64_t *applied, uint64_t *rejected) {
    MDB_txn *txn;
    int rc = begin_write(&txn);
    if (rc != 0)
        return rc;
    uint64_t done = 0, skipped = 0;
    for (const Update &u : updates) {
        if (!valid(u)) {
            ++skipped;
            continue;
        }
        if ((rc = apply_one(txn, u)) != 0) {
            mdb_txn_abort(txn);
            return store_error("update", rc);
        }
        ++done;
    }
    if ((rc = commit(txn)) != 0)
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
    MDB_txn *txn;
    int rc = begin_write(&txn);
    if (rc != 0)
        return rc;
    for (const Bytes &key : keys) {
        MDB_val k{key.size(), const_cast<uint8_t *>(key.data())};
        if (value == nullptr) {
            rc = mdb_del(txn, dbi, &k, nullptr);
            rc = rc == MDB_NOTFOUND ? 0 : rc;
        } else {
            MDB_val v{value->size(), const_cast<uint8_t *>(value->data())};
            rc = mdb_put(txn, dbi, &k, &v, 0);
        }
        if (rc != 0) {
            mdb_txn_abort(txn);
            return store_error("raw update", rc);
        }
    }
    return commit(txn);
}

} // namespace store

// Store check: the file before LMDB maps it, then every record once it is
// open (emu/store_check.h). A fault leaves the file as it was.
int open_store(const std::filesystem::path &dir) {
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
    MDB_env *env;
    int rc = mdb_env_create(&env);
    if (rc != 0)
        return store_error("create", rc);
    if ((rc = mdb_env_set_maxdbs(env, kMaxDbs)) != 0 ||
        (rc = mdb_env_set_mapsize(env, kMapSize)) != 0 ||
        (rc = mdb_env_open(env, dir.c_str(), MDB_NOTLS, 0644)) != 0) {
        mdb_env_close(env);
        return is_damage(rc) ? unusable(file, mdb_strerror(rc))
                             : store_error(("open " + file.string()).c_str(), rc);
    }
    if (auto fault = check::walk(env)) {
        mdb_env_close(env);
        return unusable(file, *fault);
    }
    g_store.env = env;
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
