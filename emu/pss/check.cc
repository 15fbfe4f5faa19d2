#include "emu/pss/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "emu/base/bytes.h"
#include "emu/pss/pages.h"

namespace emu::pss::check {
namespace {

using pages::DbRecord;
using pages::kMaxDepth;
using pages::kNoPage;
using pages::Meta;
using pages::PageHeader;

constexpr uint32_t kMagic = 0xBEEFC0DE;
constexpr uint32_t kVersion = 1;
constexpr uint16_t kMetaPageFlag = 0x08;
constexpr uint32_t kMinPageSize = 512, kMaxPageSize = 65536;
constexpr const char *kDbNames[2] = {"free-page", "main"};

// Keys of the bookkeeping database; values are u64 little-endian.
constexpr const char kCountKey[] = "count:";
constexpr const char kTxnKey[] = "txn";
constexpr const char kFormatKey[] = "format";
constexpr const char kSumKey[] = "sum";
constexpr uint64_t kFormat = 2; // records with checksums
// Damaged records named in a fault; the others are counted.
constexpr std::size_t kNamedRecords = 8;

// CRC-32C eight bytes a step ("slicing by 8"): kCrcTables[k][b] is the CRC
// of byte b followed by k zero bytes, so the eight table reads of a step do
// not wait on each other as a bytewise loop's do. Every commit sums its
// records and the bookkeeping, a few hundred bytes.
constexpr auto kCrcTables = [] {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0x82F63B78 ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; k++)
        for (uint32_t i = 0; i < 256; i++)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xff];
    return t;
}();

} // namespace

uint32_t crc32c(uint32_t crc, const void *data, std::size_t n) {
    static_assert(std::endian::native == std::endian::little);
    const auto &t = kCrcTables;
    const auto *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, sizeof lo);
        std::memcpy(&hi, p + 4, sizeof hi);
        lo ^= crc;
        crc = t[7][lo & 0xff] ^ t[6][(lo >> 8) & 0xff] ^ t[5][(lo >> 16) & 0xff] ^ t[4][lo >> 24] ^
              t[3][hi & 0xff] ^ t[2][(hi >> 8) & 0xff] ^ t[1][(hi >> 16) & 0xff] ^ t[0][hi >> 24];
    }
    for (; n > 0; n--)
        crc = t[0][(crc ^ *p++) & 0xff] ^ (crc >> 8);
    return ~crc;
}

namespace {

uint32_t record_sum(const MDB_val &k, const MDB_val &v) {
    return crc32c(crc32c(0, k.mv_data, k.mv_size), v.mv_data, v.mv_size);
}

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
std::optional<std::string> check_meta(int fd, int i, uint32_t psize, uint64_t size, Meta *out) {
    PageHeader h;
    Meta &m = *out;
    if (!pages::read_meta(fd, i, psize, &h, &m))
        return "the file is " + std::to_string(size) + " bytes, too short for meta page " +
               std::to_string(i) + " (" + lmdb(MDB_INVALID) + ")";
    if (!(h.flags & kMetaPageFlag) || h.pgno != static_cast<uint32_t>(i) || m.magic != kMagic)
        return page_fault(i, "is not an LMDB meta page (" + lmdb(MDB_INVALID) + ")");
    if (m.version != kVersion)
        return page_fault(i, "has format version " + std::to_string(m.version) + " (" +
                                 lmdb(MDB_VERSION_MISMATCH) + ")");
    const uint32_t page_size = m.dbs[0].pad;
    if (page_size < kMinPageSize || page_size > kMaxPageSize || (page_size & (page_size - 1)))
        return page_fault(i, "gives a page size of " + std::to_string(page_size) + " (" +
                                 lmdb(MDB_INVALID) + ")");
    if (i == 1 && page_size != psize)
        return page_fault(i, "gives a page size of " + std::to_string(page_size) +
                                 ", meta page 0 one of " + std::to_string(psize) + " (" +
                                 lmdb(MDB_INVALID) + ")");
    const uint64_t needed = (uint64_t{m.last_pg} + 1) * page_size;
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

// Transaction T writes meta page T & 1, so the two pages hold T and T - 1
// (both 0 before the first commit).
std::optional<std::string> check_txnids(const Meta &m0, const Meta &m1) {
    const uint32_t t0 = m0.txnid, t1 = m1.txnid;
    if ((t0 == 0 && t1 == 0) || ((t0 & 1) == 0 && (t1 & 1) == 1 && (t0 - t1 == 1 || t1 - t0 == 1)))
        return std::nullopt;
    return "meta pages 0 and 1 name transactions " + std::to_string(t0) + " and " +
           std::to_string(t1) + ", not two in a row (" + lmdb(MDB_CORRUPTED) + ")";
}

uint64_t le64(const MDB_val &v) {
    uint64_t x = 0;
    for (std::size_t i = 0; i < v.mv_size && i < 8; i++)
        x |= uint64_t{static_cast<const unsigned char *>(v.mv_data)[i]} << (8 * i);
    return x;
}

// What the bookkeeping database says.
struct Book {
    bool present = false;
    uint64_t txn = 0, format = 1, sum = 0;
    uint32_t computed = 0; // the CRC-32C of its records but kSumKey
    std::map<std::string, uint64_t> counts;

    void take(const MDB_val &k, const MDB_val &v) {
        const std::string key(static_cast<const char *>(k.mv_data), k.mv_size);
        present = true;
        if (key == kSumKey) {
            sum = le64(v);
            return;
        }
        computed = crc32c(crc32c(computed, k.mv_data, k.mv_size), v.mv_data, v.mv_size);
        if (key == kTxnKey)
            txn = le64(v);
        else if (key == kFormatKey)
            format = le64(v);
        else if (key.rfind(kCountKey, 0) == 0)
            counts[key.substr(sizeof kCountKey - 1)] = le64(v);
    }
};

// What one database holds: its record count and its records that do not
// match their checksums.
struct Found {
    uint64_t count = 0;
    std::vector<std::string> damaged; // "DB key HEX"
};

// Walks the database `name`, checking each record against `sums` when that
// is open; hands each record of the bookkeeping database to *book.
std::optional<std::string> walk_db(MDB_txn *txn, const std::string &name, MDB_dbi *sums,
                                   Found *found, Book *book) {
    MDB_dbi dbi;
    MDB_cursor *c;
    int rc = mdb_dbi_open(txn, name.c_str(), 0, &dbi);
    if (rc == 0)
        rc = mdb_cursor_open(txn, dbi, &c);
    if (rc != 0)
        return "database " + name + " cannot be opened (" + lmdb(rc) + ")";
    MDB_val k, v;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT), ++found->count) {
        if (name == kBookDb)
            book->take(k, v);
        else if (sums != nullptr && !matches(txn, *sums, k, v))
            found->damaged.push_back(name + " key " + base::bytes::hex(k.mv_data, k.mv_size, 16));
    }
    mdb_cursor_close(c);
    if (rc != MDB_NOTFOUND)
        return "database " + name + " cannot be read past record " + std::to_string(found->count) +
               " (" + lmdb(rc) + ")";
    return std::nullopt;
}

std::optional<std::string> database_names(MDB_txn *txn, std::vector<std::string> *names) {
    MDB_dbi main;
    MDB_cursor *c;
    int rc = mdb_dbi_open(txn, nullptr, 0, &main);
    if (rc == 0)
        rc = mdb_cursor_open(txn, main, &c);
    if (rc != 0)
        return "the main database cannot be opened (" + lmdb(rc) + ")";
    MDB_val k, v;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
        names->emplace_back(static_cast<const char *>(k.mv_data), k.mv_size);
    mdb_cursor_close(c);
    if (rc != MDB_NOTFOUND)
        return "the main database cannot be read (" + lmdb(rc) + ")";
    return std::nullopt;
}

// Format 1 kept the counts and the transaction, without the bookkeeping's
// checksum and format.
std::optional<std::string> compare(const Book &book, const std::map<std::string, Found> &found,
                                   MDB_txn *txn, bool format1) {
    const std::string by_last = " (the last write, transaction " + std::to_string(book.txn);
    if (!format1 && book.sum != book.computed)
        return "the store's bookkeeping does not match its checksum";
    if (!format1 && book.format != kFormat)
        return "the store's bookkeeping gives format " + std::to_string(book.format);
    for (const auto &[name, count] : book.counts) {
        const auto it = found.find(name);
        if (it == found.end())
            return "database " + name + " is missing" + by_last + ", left " +
                   std::to_string(count) + " records): records are lost";
        if (it->second.count != count)
            return "database " + name + " holds " + std::to_string(it->second.count) + " records" +
                   by_last + ", left " + std::to_string(count) + "): records are lost";
    }
    if (mdb_txn_id(txn) != book.txn)
        return "the last transaction is " + std::to_string(mdb_txn_id(txn)) +
               ", but the store's bookkeeping was written by transaction " +
               std::to_string(book.txn) + ": a write went past it or was lost";
    return std::nullopt;
}

std::string damaged_records(const std::map<std::string, Found> &found) {
    std::vector<std::string> all;
    for (const auto &[name, f] : found)
        all.insert(all.end(), f.damaged.begin(), f.damaged.end());
    if (all.empty())
        return {};
    std::string text;
    for (std::size_t i = 0; i < all.size() && i < kNamedRecords; i++)
        text += (i ? ", " : "") + all[i];
    if (all.size() > kNamedRecords)
        text += " and " + std::to_string(all.size() - kNamedRecords) + " more";
    return std::to_string(all.size()) + (all.size() == 1 ? " record does" : " records do") +
           " not match " + (all.size() == 1 ? "its checksum: " : "their checksums: ") + text;
}

// Reads every database, each record against its checksum when the store
// has them.
Walked walk_all(MDB_txn *txn) {
    Walked w;
    std::vector<std::string> names;
    if ((w.fault = database_names(txn, &names)))
        return w;
    const auto has = [&names](const std::string &n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    const bool sums_kept = std::any_of(
        names.begin(), names.end(), [](const std::string &n) { return n.starts_with(kSumPrefix); });
    Book book;
    std::map<std::string, Found> found;
    for (const std::string &name : names) {
        MDB_dbi sums;
        const bool summed = !is_bookkeeping(name) && has(sum_db(name));
        if (!is_bookkeeping(name) && sums_kept && !summed)
            w.fault = "database " + name + " has no checksums";
        else if (summed && (mdb_dbi_open(txn, sum_db(name).c_str(), 0, &sums) != 0 ||
                            mdb_set_compare(txn, sums, compare_keys) != 0))
            w.fault = "the checksums of database " + name + " cannot be opened";
        else
            w.fault = walk_db(txn, name, summed ? &sums : nullptr, &found[name], &book);
        if (w.fault)
            return w;
    }
    const bool format1 = !sums_kept && book.format == 1;
    w.checksummed = !format1 || std::all_of(names.begin(), names.end(), is_bookkeeping);
    if (const std::string damaged = damaged_records(found); !damaged.empty())
        w.fault = damaged;
    else if (book.present || !format1)
        w.fault = compare(book, found, txn, format1);
    return w;
}

void le64_bytes(uint64_t value, unsigned char out[8]) {
    for (int i = 0; i < 8; i++)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

int put_u64(MDB_txn *txn, MDB_dbi book, const std::string &key, uint64_t value) {
    unsigned char bytes[8];
    le64_bytes(value, bytes);
    MDB_val k{key.size(), const_cast<char *>(key.data())};
    MDB_val v{sizeof bytes, bytes};
    return mdb_put(txn, book, &k, &v, 0);
}

// The checksum of the bookkeeping's records but kSumKey, in store order.
int book_sum(MDB_txn *txn, MDB_dbi book, uint32_t *sum) {
    MDB_cursor *c;
    if (const int rc = mdb_cursor_open(txn, book, &c); rc != 0)
        return rc;
    Book b;
    MDB_val k, v;
    int rc;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
        b.take(k, v);
    mdb_cursor_close(c);
    *sum = b.computed;
    return rc == MDB_NOTFOUND ? 0 : rc;
}

// A bookkeeping record as this transaction wants it: its key is `prefix`
// then `name`, so that no key is built for a commit that finds them all.
struct Entry {
    std::string_view prefix, name;
    uint64_t value;
    bool found = false; // the database holds a record of this key

    bool is(std::string_view key) const {
        return key.size() == prefix.size() + name.size() && key.starts_with(prefix) &&
               key.ends_with(name);
    }
    std::string key() const { return std::string(prefix) + std::string(name); }
};

// Walks the bookkeeping once: rewrites in place each record of `wanted` that
// holds another value and sums every record but kSumKey as it will read.
// *complete is false when a record of `wanted` is missing: the caller adds
// it, and the sum has to be taken again.
int update_book(MDB_txn *txn, MDB_dbi book, std::vector<Entry> *wanted, uint32_t *sum,
                bool *complete) {
    MDB_cursor *c;
    if (const int rc = mdb_cursor_open(txn, book, &c); rc != 0)
        return rc;
    uint32_t computed = 0;
    MDB_val k, v;
    int rc;
    for (rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
        const std::string_view key(static_cast<const char *>(k.mv_data), k.mv_size);
        if (key == kSumKey)
            continue;
        computed = crc32c(computed, k.mv_data, k.mv_size);
        const auto e =
            std::find_if(wanted->begin(), wanted->end(), [&](const Entry &w) { return w.is(key); });
        if (e == wanted->end()) {
            computed = crc32c(computed, v.mv_data, v.mv_size);
            continue;
        }
        e->found = true;
        unsigned char bytes[8];
        le64_bytes(e->value, bytes);
        MDB_val value{sizeof bytes, bytes};
        if ((v.mv_size != sizeof bytes || std::memcmp(v.mv_data, bytes, sizeof bytes) != 0) &&
            (rc = mdb_cursor_put(c, &k, &value, MDB_CURRENT)) != 0)
            break;
        computed = crc32c(computed, bytes, sizeof bytes);
    }
    mdb_cursor_close(c);
    *sum = computed;
    *complete = std::all_of(wanted->begin(), wanted->end(), [](const Entry &e) { return e.found; });
    return rc == MDB_NOTFOUND ? 0 : rc;
}

} // namespace

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
    Meta m0, m1;
    if (size == 0)
        fault = "the file is empty";
    else if (!(fault = check_meta(fd, 0, 0, size, &m0)) &&
             !(fault = check_meta(fd, 1, m0.dbs[0].pad, size, &m1)))
        fault = check_txnids(m0, m1);
    close(fd);
    return fault;
}

Walked walk(MDB_env *env, MDB_txn *txn) {
    int fd;
    MDB_stat st;
    Walked w;
    if (const int rc = mdb_env_get_fd(env, &fd); rc != 0 || mdb_env_stat(env, &st) != 0) {
        w.fault = "it cannot be read (" + lmdb(rc) + ")";
        return w;
    }
    const auto by_key = [](const void *a, std::size_t as, const void *b, std::size_t bs) {
        MDB_val x{as, const_cast<void *>(a)}, y{bs, const_cast<void *>(b)};
        return compare_keys(&x, &y);
    };
    const pages::Result r = pages::check(fd, st.ms_psize, mdb_txn_id(txn), by_key);
    if (r.moved || r.fault) {
        w.moved = r.moved;
        w.fault = r.fault;
        return w;
    }
    return walk_all(txn);
}

int record(MDB_txn *txn, MDB_dbi book, const std::map<std::string, MDB_dbi> &dbis) {
    std::vector<Entry> wanted;
    wanted.reserve(dbis.size() + 2);
    for (const auto &[name, dbi] : dbis) {
        MDB_stat st;
        if (const int rc = mdb_stat(txn, dbi, &st); rc != 0)
            return rc;
        if (name != kBookDb)
            wanted.push_back({kCountKey, name, st.ms_entries});
    }
    wanted.push_back({"", kTxnKey, mdb_txn_id(txn)});
    wanted.push_back({"", kFormatKey, kFormat});
    uint32_t sum;
    bool complete;
    int rc = update_book(txn, book, &wanted, &sum, &complete);
    if (rc == 0 && !complete) {
        for (const Entry &e : wanted)
            if (!e.found && (rc = put_u64(txn, book, e.key(), e.value)) != 0)
                return rc;
        rc = book_sum(txn, book, &sum);
    }
    return rc == 0 ? put_u64(txn, book, kSumKey, sum) : rc;
}

int put_sum(MDB_txn *txn, MDB_dbi sums, const MDB_val &k, const MDB_val &v) {
    unsigned char bytes[4];
    const uint32_t sum = record_sum(k, v);
    std::memcpy(bytes, &sum, sizeof bytes);
    MDB_val key = k, value{sizeof bytes, bytes};
    return mdb_put(txn, sums, &key, &value, 0);
}

bool matches(MDB_txn *txn, MDB_dbi sums, const MDB_val &k, const MDB_val &v) {
    MDB_val key = k, kept;
    uint32_t sum;
    if (mdb_get(txn, sums, &key, &kept) != 0 || kept.mv_size != sizeof sum)
        return false;
    std::memcpy(&sum, kept.mv_data, sizeof sum);
    return sum == record_sum(k, v);
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
