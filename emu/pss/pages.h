// LMDB's on-disk records as a 32-bit process writes them, and a check of
// every page one committed transaction of the PSS store reaches. LMDB trusts
// its file: it follows page numbers, node offsets and sizes as it finds
// them, so a damaged page would make it read outside its map or its page
// (a signal) or hand out bytes that are not a record. check() reads the
// pages itself with pread, never through a map, and looks at each before
// LMDB may: page numbers within the file and reached once, page kinds,
// node offsets and key and value sizes within their page, keys in order,
// all leaves at the database's depth, the database records' counts, and the
// free-page lists (sizes, page numbers, no page both free and in use).
//
// The transaction's pages must stay as they are while check() reads them:
// the caller holds a read transaction of `txnid` registered in the lock
// file (or is the only process on the store).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace emu::pss::pages {

static_assert(sizeof(std::size_t) == 4, "the store layout below is the 32-bit one");

struct PageHeader {
    uint32_t pgno;
    uint16_t pad;
    uint16_t flags;
    uint16_t lower; // an overflow page's page count is lower | upper << 16
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

// A meta page is a page header followed by this; pages 0 and 1 are the two
// meta pages, and transaction T's is page T & 1.
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

inline constexpr uint32_t kNoPage = 0xFFFFFFFF;
inline constexpr uint16_t kMaxDepth = 32;     // LMDB's cursor stack
inline constexpr uint16_t kIntegerKey = 0x08; // the free-page database's flag

// Reads meta page i (a page of `psize` bytes) of the file `fd`; false when
// the file is too short.
bool read_meta(int fd, int i, uint32_t psize, PageHeader *header, Meta *meta);

struct Result {
    bool moved = false;               // the meta page holds a later transaction now: read again
    std::optional<std::string> fault; // "page N (database D): what is wrong"
};
// Checks every page of the transaction `txnid` of the store in `fd`, whose
// pages are `psize` bytes. Keys of the named databases are ordered by `cmp`.
Result check(int fd, uint32_t psize, uint64_t txnid,
             int (*cmp)(const void *, std::size_t, const void *, std::size_t));

} // namespace emu::pss::pages
