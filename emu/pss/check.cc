#include "emu/pss/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace emu::pss::check {
namespace {

// LMDB's on-disk records as a 32-bit process writes them (size_t and page
// numbers are 4 bytes). A meta page is a page header followed by the meta
// record; pages 0 and 1 are the two meta pages.
static_assert(sizeof(std::size_t) == 4, "the store layout below is the 32-bit one");

struct PageHeader {
    uint32_t pgno;
    uint16_t pad;
    uint16_t flags;
    uint16_t lower;
    uint16_t upper;
};
static_assert(offsetof(PageHeader, flags) == 6 && sizeof(PageHeader) == 12);

struct DbRecord {
    uint32_t pad; // the free-page database keeps the page size here
    uint16_t flags;
    uint16_t depth;
    uint32_t branch_pages;
    uint32_t leaf_pages;
    uint32_t overflow_pages;
    uint32_t entries;
    uint32_t root;
};
static_assert(offsetof(DbRecord, depth) == 6 && offsetof(DbRecord, root) == 24 &&
              sizeof(DbRecord) == 28);

struct Meta {
    uint32_t magic;
    uint32_t version;
    uint32_t address;
    uint32_t mapsize;
    DbRecord dbs[2]; // the free-page database, then the main database
    uint32_t last_pg;
    uint32_t txnid;
};
static_assert(offsetof(Meta, dbs) == 16 && offsetof(Meta, last_pg) == 72 &&
              offsetof(Meta, txnid) == 76 && sizeof(Meta) == 80);

constexpr uint32_t kMagic = 0xBEEFC0DE;
constexpr uint32_t kVersion = 1;
constexpr uint16_t kMetaPageFlag = 0x08;
constexpr uint32_t kNoPage = 0xFFFFFFFF;
constexpr uint32_t kMinPageSize = 512, kMaxPageSize = 65536;
constexpr uint16_t kMaxDepth = 32; // LMDB's cursor stack
constexpr const char *kDbNames[2] = {"free-page", "main"};

// Keys of the bookkeeping database; values are u64 little-endian.
constexpr const char kCountKey[] = "count:";
constexpr const char kTxnKey[] = "txn";

std::string lmdb(int rc) {
    return mdb_strerror(rc);
}

std::string page_fault(int i, const std::string &what) {
    return "meta page " + std::to_string(i) + " " + what;
}

std::optional<std::string> check_db(int i, const Meta &m, int db) {
    const DbRecord &d = m.dbs[db];
    const std::string name = std::string("the ") + kDbNames[db] + " database";
    if (d.root != kNoPage && (d.root < 2 || d.root > m.last_pg))
        return page_fault(i, "names page " + std::to_string(d.root) + " as the root of " + name +
                                 ", outside pages 2.." + std::to_string(m.last_pg) + " (" +
                                 lmdb(MDB_CORRUPTED) + ")");
    if (d.depth > kMaxDepth ||
        uint64_t{d.branch_pages} + d.leaf_pages + d.overflow_pages > uint64_t{m.last_pg} + 1)
        return page_fault(i,
                          "gives impossible sizes for " + name + " (" + lmdb(MDB_CORRUPTED) + ")");
    return std::nullopt;
}

// One meta page, read from `fd` at page i of `psize` bytes.
std::optional<std::string> check_meta(int fd, int i, uint32_t psize, uint64_t size,
                                      uint32_t *page_size) {
    unsigned char buf[sizeof(PageHeader) + sizeof(Meta)];
    const uint64_t at = uint64_t{psize} * i;
    if (pread(fd, buf, sizeof buf, static_cast<off_t>(at)) != static_cast<ssize_t>(sizeof buf))
        return "the file is " + std::to_string(size) + " bytes, too short for meta page " +
               std::to_string(i) + " (" + lmdb(MDB_INVALID) + ")";
    PageHeader h;
    Meta m;
    std::memcpy(&h, buf, sizeof h);
    std::memcpy(&m, buf + sizeof h, sizeof m);
    if (!(h.flags & kMetaPageFlag) || h.pgno != static_cast<uint32_t>(i) || m.magic != kMagic)
        return page_fault(i, "is not an LMDB meta page (" + lmdb(MDB_INVALID) + ")");
    if (m.version != kVersion)
        return page_fault(i, "has format version " + std::to_string(m.version) + " (" +
                                 lmdb(MDB_VERSION_MISMATCH) + ")");
    *page_size = m.dbs[0].pad;
    if (*page_size < kMinPageSize || *page_size > kMaxPageSize || (*page_size & (*page_size - 1)))
        return page_fault(i, "gives a page size of " + std::to_string(*page_size) + " (" +
                                 lmdb(MDB_INVALID) + ")");
    if (i == 1 && *page_size != psize)
        return page_fault(i, "gives a page size of " + std::to_string(*page_size) +
                                 ", meta page 0 one of " + std::to_string(psize) + " (" +
                                 lmdb(MDB_INVALID) + ")");
    const uint64_t needed = (uint64_t{m.last_pg} + 1) * *page_size;
    if (m.last_pg < 1 || needed > size)
        return page_fault(i, "names page " + std::to_string(m.last_pg) +
                                 " as the last, which needs " + std::to_string(needed) +
                                 " bytes; the file has " + std::to_string(size) +
                                 ": it is truncated");
    for (int db = 0; db < 2; db++)
        if (auto fault = check_db(i, m, db))
            return fault;
    return std::nullopt;
}

uint64_t le64(const MDB_val &v) {
    uint64_t x = 0;
    for (std::size_t i = 0; i < v.mv_size && i < 8; i++)
        x |= uint64_t{static_cast<const unsigned char *>(v.mv_data)[i]} << (8 * i);
    return x;
}

// What the bookkeeping database says: record counts by database, and the
// transaction that wrote it.
struct Book {
    bool present = false;
    uint64_t txn = 0;
    std::map<std::string, uint64_t> counts;

    void take(const MDB_val &k, const MDB_val &v) {
        const std::string key(static_cast<const char *>(k.mv_data), k.mv_size);
        present = true;
        if (key == kTxnKey)
            txn = le64(v);
        else if (key.rfind(kCountKey, 0) == 0)
            counts[key.substr(sizeof kCountKey - 1)] = le64(v);
    }
};

// Walks the database `name`, counting its records into *count; hands each
// record of the bookkeeping database to *book.
std::optional<std::string> walk_db(MDB_txn *txn, const std::string &name, uint64_t *count,
                                   Book *book) {
    MDB_dbi dbi;
    MDB_cursor *c;
    int rc = mdb_dbi_open(txn, name.c_str(), 0, &dbi);
    if (rc == 0)
        rc = mdb_cursor_open(txn, dbi, &c);
    if (rc != 0)
        return "database " + name + " cannot be opened (" + lmdb(rc) + ")";
    MDB_val k, v;
    *count = 0;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT), ++*count)
        if (name == kBookDb)
            book->take(k, v);
    mdb_cursor_close(c);
    if (rc != MDB_NOTFOUND)
        return "database " + name + " cannot be read past record " + std::to_string(*count) + " (" +
               lmdb(rc) + ")";
    MDB_stat st;
    if ((rc = mdb_stat(txn, dbi, &st)) != 0)
        return "database " + name + " cannot be opened (" + lmdb(rc) + ")";
    if (st.ms_entries != *count)
        return "database " + name + " yields " + std::to_string(*count) + " records but counts " +
               std::to_string(st.ms_entries) + " (" + lmdb(MDB_CORRUPTED) + ")";
    return std::nullopt;
}

// The named databases, each checked to have its root page inside the file
// before LMDB is asked to open it.
std::optional<std::string> database_names(MDB_txn *txn, uint32_t last_pg,
                                          std::vector<std::string> *names) {
    MDB_dbi main;
    MDB_cursor *c;
    int rc = mdb_dbi_open(txn, nullptr, 0, &main);
    if (rc == 0)
        rc = mdb_cursor_open(txn, main, &c);
    if (rc != 0)
        return "the main database cannot be opened (" + lmdb(rc) + ")";
    MDB_val k, v;
    std::optional<std::string> fault;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0 && !fault;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
        names->emplace_back(static_cast<const char *>(k.mv_data), k.mv_size);
        DbRecord d;
        if (v.mv_size != sizeof d)
            fault = "the main database names " + names->back() + " with no database record (" +
                    lmdb(MDB_INCOMPATIBLE) + ")";
        else if (std::memcpy(&d, v.mv_data, sizeof d); d.root != kNoPage && d.root > last_pg)
            fault = "database " + names->back() + " has its root at page " +
                    std::to_string(d.root) + ", past the last page " + std::to_string(last_pg) +
                    " (" + lmdb(MDB_CORRUPTED) + ")";
    }
    mdb_cursor_close(c);
    if (!fault && rc != MDB_NOTFOUND)
        fault = "the main database cannot be read (" + lmdb(rc) + ")";
    return fault;
}

std::optional<std::string> compare(const Book &book, const std::map<std::string, uint64_t> &found,
                                   MDB_env *env) {
    const std::string by_last = " (the last write, transaction " + std::to_string(book.txn);
    for (const auto &[name, count] : book.counts) {
        const auto it = found.find(name);
        if (it == found.end())
            return "database " + name + " is missing" + by_last + ", left " +
                   std::to_string(count) + " records): records are lost";
        if (it->second != count)
            return "database " + name + " holds " + std::to_string(it->second) + " records" +
                   by_last + ", left " + std::to_string(count) + "): records are lost";
    }
    MDB_envinfo info;
    mdb_env_info(env, &info);
    if (info.me_last_txnid != book.txn)
        return "the last transaction is " + std::to_string(info.me_last_txnid) +
               ", but the store's bookkeeping was written by transaction " +
               std::to_string(book.txn) + ": a write went past it or was lost";
    return std::nullopt;
}

std::optional<std::string> walk_all(MDB_env *env, MDB_txn *txn) {
    MDB_envinfo info;
    mdb_env_info(env, &info);
    std::vector<std::string> names;
    if (auto fault = database_names(txn, static_cast<uint32_t>(info.me_last_pgno), &names))
        return fault;
    Book book;
    std::map<std::string, uint64_t> found;
    for (const std::string &name : names) {
        uint64_t count = 0;
        if (auto fault = walk_db(txn, name, &count, &book))
            return fault;
        found[name] = count;
    }
    return book.present ? compare(book, found, env) : std::nullopt;
}

int put_u64(MDB_txn *txn, MDB_dbi book, const std::string &key, uint64_t value) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; i++)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    MDB_val k{key.size(), const_cast<char *>(key.data())};
    MDB_val v{sizeof bytes, bytes};
    return mdb_put(txn, book, &k, &v, 0);
}

} // namespace

std::optional<std::string> file(const std::filesystem::path &data_mdb) {
    const int fd = open(data_mdb.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT
                   ? std::nullopt
                   : std::optional<std::string>("it cannot be read (" +
                                                std::string(std::strerror(errno)) + ")");
    const off_t end = lseek(fd, 0, SEEK_END);
    const uint64_t size = end < 0 ? 0 : static_cast<uint64_t>(end);
    std::optional<std::string> fault;
    uint32_t psize = 0, psize1 = 0;
    if (size == 0)
        fault = "the file is empty";
    else if (!(fault = check_meta(fd, 0, 0, size, &psize)))
        fault = check_meta(fd, 1, psize, size, &psize1);
    close(fd);
    return fault;
}

std::optional<std::string> walk(MDB_env *env) {
    MDB_txn *txn;
    if (const int rc = mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn); rc != 0)
        return "it cannot be read (" + lmdb(rc) + ")";
    auto fault = walk_all(env, txn);
    mdb_txn_abort(txn);
    return fault;
}

int record(MDB_txn *txn, MDB_dbi book, const std::map<std::string, MDB_dbi> &dbis) {
    for (const auto &[name, dbi] : dbis) {
        MDB_stat st;
        int rc = mdb_stat(txn, dbi, &st);
        if (rc == 0 && name != kBookDb)
            rc = put_u64(txn, book, kCountKey + name, st.ms_entries);
        if (rc != 0)
            return rc;
    }
    return put_u64(txn, book, kTxnKey, mdb_txn_id(txn));
}

std::filesystem::path move_aside(const std::filesystem::path &data_mdb) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string base = data_mdb.string() + ".damaged-" + stamp;
    std::filesystem::path to = base;
    for (int n = 2; std::filesystem::exists(to); n++)
        to = base + "-" + std::to_string(n);
    std::filesystem::rename(data_mdb, to);
    return to;
}

} // namespace emu::pss::check
