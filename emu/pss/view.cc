#include "emu/pss/view.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "emu/base/bytes.h"
#include "emu/pss/check.h"
#include "emu/pss/pages.h"

namespace emu::pss::view {
namespace {

// Reads of a store that find a fault while a writer commits, before it is
// reported; a writer commits in well under the pause between two.
constexpr int kReads = 4;
// Reads that found their meta page rewritten, before that is reported.
constexpr int kMoves = 50;
constexpr auto kPause = std::chrono::milliseconds(20);

bool is_damage(int rc) {
    return rc == MDB_INVALID || rc == MDB_VERSION_MISMATCH || rc == MDB_CORRUPTED ||
           rc == MDB_PAGE_NOTFOUND || rc == MDB_INCOMPATIBLE;
}

// The records of the named database, or of the main one (null).
Records read_db(MDB_txn *txn, const char *name) {
    Records out;
    MDB_dbi dbi;
    MDB_cursor *c;
    if (mdb_dbi_open(txn, name, 0, &dbi) != 0 || mdb_cursor_open(txn, dbi, &c) != 0)
        return out;
    MDB_val k, v;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
        out.emplace_back(base::bytes::copy(k.mv_data, k.mv_size),
                         base::bytes::copy(v.mv_data, v.mv_size));
    mdb_cursor_close(c);
    return out;
}

// One read of the store, in one read transaction; *moved when a writer
// rewrote its meta page before it was checked.
Snapshot read_once(const std::filesystem::path &dir, bool *moved) {
    Snapshot s;
    const auto fail = [&s](Snapshot::Status status, const std::string &fault) {
        s.status = status;
        s.fault = fault;
        return s;
    };
    if (auto fault = check::file(dir / "data.mdb"))
        return fail(Snapshot::kDamaged, *fault);
    MDB_env *env;
    int rc = open_env(dir, MDB_RDONLY | MDB_NOTLS, &env);
    if (rc == EACCES || rc == EROFS)
        rc = open_env(dir, MDB_RDONLY | MDB_NOTLS | MDB_NOLOCK, &env);
    if (rc != 0)
        return fail(is_damage(rc) ? Snapshot::kDamaged : Snapshot::kFailed, mdb_strerror(rc));
    MDB_txn *txn;
    if ((rc = mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn)) != 0) {
        // A writer grew the store past the map since it was opened.
        *moved = rc == MDB_MAP_RESIZED;
        mdb_env_close(env);
        return fail(*moved ? Snapshot::kDamaged : Snapshot::kFailed, mdb_strerror(rc));
    }
    const check::Walked w = check::walk(env, txn);
    *moved = w.moved;
    if (w.fault || w.moved)
        fail(Snapshot::kDamaged,
             w.fault.value_or("meta page " + std::to_string(mdb_txn_id(txn) & 1) +
                              " does not hold transaction " + std::to_string(mdb_txn_id(txn))));
    else {
        s.checksummed = w.checksummed;
        s.txn = mdb_txn_id(txn);
        for (const Records &names = read_db(txn, nullptr); const auto &[key, value] : names)
            if (const std::string name(key.begin(), key.end()); !check::is_bookkeeping(name))
                s.dbs[name] = read_db(txn, name.c_str());
    }
    mdb_txn_abort(txn);
    mdb_env_close(env);
    return s;
}

// The transaction ids of both meta pages, read without LMDB: a store that
// keeps them across a read that found a fault was not written meanwhile.
uint64_t commits(const std::filesystem::path &dir) {
    const int fd = open((dir / "data.mdb").c_str(), O_RDONLY | O_CLOEXEC);
    pages::PageHeader h;
    pages::Meta m0{}, m1{};
    if (fd >= 0 && pages::read_meta(fd, 0, 0, &h, &m0))
        pages::read_meta(fd, 1, m0.dbs[0].pad, &h, &m1);
    if (fd >= 0)
        close(fd);
    return uint64_t{m0.txnid} << 32 | m1.txnid;
}

} // namespace

int open_env(const std::filesystem::path &dir, unsigned flags, MDB_env **env) {
    int rc = mdb_env_create(env);
    if (rc != 0)
        return rc;
    if ((rc = mdb_env_set_maxdbs(*env, kMaxDbs)) != 0 ||
        (rc = mdb_env_set_mapsize(*env, kFirstMapSize)) != 0 ||
        (rc = mdb_env_open(*env, dir.c_str(), flags, 0644)) != 0) {
        mdb_env_close(*env);
        *env = nullptr;
    }
    return rc;
}

Snapshot read(const std::filesystem::path &dir) {
    Snapshot s;
    for (int faults = 0, moves = 0; faults < kReads && moves < kMoves;) {
        bool moved = false;
        const uint64_t before = commits(dir);
        s = read_once(dir, &moved);
        if (s.status != Snapshot::kDamaged || (!moved && commits(dir) == before))
            return s;
        if (moved)
            moves++;
        else if (++faults < kReads)
            std::this_thread::sleep_for(kPause);
    }
    return s;
}

} // namespace emu::pss::view
