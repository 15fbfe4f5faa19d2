#include "emu/pss/pages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace emu::pss::pages {
namespace {

constexpr uint16_t kBranch = 0x01, kLeaf = 0x02, kOverflow = 0x04, kMetaFlag = 0x08;
constexpr uint16_t kBigData = 0x01, kSubData = 0x02;
constexpr std::size_t kHeader = sizeof(PageHeader);
constexpr std::size_t kNodeHeader = 8; // data size or child page (4), flags (2), key size (2)
constexpr std::size_t kMaxKey = 511;   // LMDB's default key limit
constexpr uint32_t kFirstPage = 2;     // after the two meta pages

using Cmp = int (*)(const void *, std::size_t, const void *, std::size_t);

// The main database's order: bytes, then length.
int compare_names(const void *a, std::size_t as, const void *b, std::size_t bs) {
    const int r = std::memcmp(a, b, std::min(as, bs));
    return r != 0 ? r : (as < bs ? -1 : (as > bs ? 1 : 0));
}

// The free-page database's keys are transaction ids (4 bytes, checked).
int compare_ids(const void *a, std::size_t, const void *b, std::size_t) {
    uint32_t x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : (x > y ? 1 : 0);
}

uint32_t u32(const uint8_t *p) {
    uint32_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

uint16_t u16(const uint8_t *p) {
    uint16_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

enum class Kind { kFree, kMain, kNamed };
enum : uint8_t { kUnseen, kInTree, kFree };

struct Node {
    uint32_t size; // a leaf's data size, a branch's child page
    uint16_t flags;
    const uint8_t *key;
    std::size_t ksize;
    const uint8_t *data; // a leaf's value, or its first overflow page number
};

// Walks one database's tree, page by page, counting what it finds.
struct Walker {
    int fd;
    uint32_t psize, last_pg;
    std::vector<uint8_t> state; // per page
    std::vector<uint32_t> free_pages;
    std::vector<std::pair<std::string, DbRecord>> named; // from the main database

    // The database being walked.
    std::string db = "free-page";
    Kind kind = Kind::kFree;
    Cmp cmp = compare_ids;
    DbRecord found{};
    std::vector<uint8_t> last{}, bound{}; // the last key seen; the branch key the next must reach
    bool have_last = false, have_bound = false;

    std::string fault(uint32_t pgno, const std::string &what) const {
        return "page " + std::to_string(pgno) + " (database " + db + "): " + what;
    }

    bool read(uint32_t pgno, uint32_t count, std::vector<uint8_t> *buf) const {
        buf->resize(std::size_t{psize} * count);
        const ssize_t n =
            pread(fd, buf->data(), buf->size(), static_cast<off_t>(uint64_t{pgno} * psize));
        return n == static_cast<ssize_t>(buf->size());
    }

    // Takes pages pgno .. pgno+count-1 for the tree being walked.
    std::optional<std::string> take(uint32_t from, uint32_t pgno, uint32_t count) {
        if (pgno < kFirstPage || count == 0 || pgno > last_pg || count - 1 > last_pg - pgno)
            return fault(from, "names page " + std::to_string(pgno) + " outside pages " +
                                   std::to_string(kFirstPage) + ".." + std::to_string(last_pg));
        for (uint32_t p = pgno; p < pgno + count; p++) {
            if (state[p] != kUnseen)
                return fault(from, "names page " + std::to_string(p) + ", which is in use already");
            state[p] = kInTree;
        }
        return std::nullopt;
    }

    std::optional<std::string> node(uint32_t pgno, const std::vector<uint8_t> &page, uint16_t upper,
                                    std::size_t i, bool leaf, Node *n) const {
        const std::size_t at = u16(&page[kHeader + 2 * i]);
        const std::string which = "node " + std::to_string(i);
        if (at < upper || at + kNodeHeader > psize)
            return fault(pgno, which + " is at offset " + std::to_string(at) +
                                   ", outside the page's node area");
        const uint8_t *p = &page[at];
        n->size = u32(p);
        n->flags = u16(p + 4);
        n->ksize = u16(p + 6);
        n->key = p + kNodeHeader;
        n->data = n->key + n->ksize;
        const std::size_t data = !leaf ? 0 : (n->flags & kBigData) ? 4 : n->size;
        if (n->ksize > kMaxKey || uint64_t{at} + kNodeHeader + n->ksize + data > psize)
            return fault(pgno, which + " has a " + std::to_string(n->ksize) + "-byte key and a " +
                                   std::to_string(data) + "-byte value: past the page's end");
        return std::nullopt;
    }

    // The keys of a database come in strictly ascending order, each at or
    // past the branch key that leads to it.
    std::optional<std::string> in_order(uint32_t pgno, const Node &n) {
        if (kind == Kind::kFree && n.ksize != 4)
            return fault(pgno, "a key of " + std::to_string(n.ksize) + " bytes, not 4");
        if ((have_last && cmp(last.data(), last.size(), n.key, n.ksize) >= 0) ||
            (have_bound && cmp(n.key, n.ksize, bound.data(), bound.size()) < 0))
            return fault(pgno, "keys out of order");
        last.assign(n.key, n.key + n.ksize);
        have_last = true;
        have_bound = false;
        return std::nullopt;
    }

    std::optional<std::string> branch_key(uint32_t pgno, const Node &n) {
        if (have_last && cmp(last.data(), last.size(), n.key, n.ksize) >= 0)
            return fault(pgno, "branch keys out of order");
        bound.assign(n.key, n.key + n.ksize);
        have_bound = true;
        return std::nullopt;
    }

    // A free-page list: a count, then that many page numbers.
    std::optional<std::string> free_list(uint32_t pgno, const uint8_t *ids, uint32_t size) {
        if (size < 4 || size % 4 != 0 || u32(ids) > size / 4 - 1)
            return fault(pgno, "a free-page list of " + std::to_string(size) +
                                   " bytes that counts " + std::to_string(size < 4 ? 0 : u32(ids)) +
                                   " pages");
        for (uint32_t i = 1; i <= u32(ids); i++)
            free_pages.push_back(u32(ids + 4 * i));
        return std::nullopt;
    }

    std::optional<std::string> overflow(uint32_t pgno, const Node &n) {
        const uint32_t first = u32(n.data);
        std::vector<uint8_t> head;
        if (first < kFirstPage || first > last_pg || !read(first, 1, &head))
            return fault(pgno, "names overflow page " + std::to_string(first) + ", outside pages " +
                                   std::to_string(kFirstPage) + ".." + std::to_string(last_pg));
        PageHeader h;
        std::memcpy(&h, head.data(), sizeof h);
        const uint32_t count = h.lower | uint32_t{h.upper} << 16;
        if (h.pgno != first || h.flags != kOverflow || uint64_t{count} * psize - kHeader < n.size)
            return fault(first, "not an overflow page of " + std::to_string(n.size) + " bytes");
        if (auto f = take(pgno, first, count))
            return f;
        found.overflow_pages += count;
        if (kind != Kind::kFree)
            return std::nullopt;
        std::vector<uint8_t> all;
        if (!read(first, count, &all))
            return fault(first, "past the end of the file");
        return free_list(first, all.data() + kHeader, n.size);
    }

    std::optional<std::string> leaf_value(uint32_t pgno, const Node &n) {
        if (kind == Kind::kMain) {
            if (n.flags != kSubData || n.size != sizeof(DbRecord))
                return fault(pgno, "a record that is no database");
            DbRecord d;
            std::memcpy(&d, n.data, sizeof d);
            named.emplace_back(std::string(reinterpret_cast<const char *>(n.key), n.ksize), d);
            return std::nullopt;
        }
        if (n.flags & ~kBigData)
            return fault(pgno, "a record with flags " + std::to_string(n.flags));
        if (n.flags & kBigData)
            return overflow(pgno, n);
        return kind == Kind::kFree ? free_list(pgno, n.data, n.size) : std::nullopt;
    }

    std::optional<std::string> page(uint32_t from, uint32_t pgno, uint16_t level, uint16_t depth) {
        if (auto f = take(from, pgno, 1))
            return f;
        std::vector<uint8_t> page;
        if (!read(pgno, 1, &page))
            return fault(pgno, "past the end of the file");
        PageHeader h;
        std::memcpy(&h, page.data(), sizeof h);
        const bool leaf = level == depth;
        if (h.pgno != pgno)
            return fault(pgno, "its header names page " + std::to_string(h.pgno));
        if (h.flags != (leaf ? kLeaf : kBranch))
            return fault(pgno, "flags " + std::to_string(h.flags) + " where a " +
                                   (leaf ? "leaf" : "branch") + " page belongs");
        if (h.lower < kHeader + 2 || (h.lower - kHeader) % 2 != 0 || h.lower > h.upper ||
            h.upper > psize)
            return fault(pgno, "its free space runs from " + std::to_string(h.lower) + " to " +
                                   std::to_string(h.upper));
        const std::size_t nodes = (h.lower - kHeader) / 2;
        (leaf ? found.leaf_pages : found.branch_pages)++;
        for (std::size_t i = 0; i < nodes; i++) {
            Node n;
            std::optional<std::string> f = node(pgno, page, h.upper, i, leaf, &n);
            if (!f && leaf && !(f = in_order(pgno, n)) && !(f = leaf_value(pgno, n)))
                found.entries++;
            if (!f && !leaf && i > 0)
                f = branch_key(pgno, n);
            if (!f && !leaf)
                f = this->page(pgno, n.size, level + 1, depth);
            if (f)
                return f;
        }
        return std::nullopt;
    }

    std::optional<std::string> tree(const std::string &name, Kind k, Cmp c, const DbRecord &d,
                                    uint32_t from) {
        db = name;
        kind = k;
        cmp = c;
        found = DbRecord{};
        have_last = have_bound = false;
        if (d.root != kNoPage && (d.depth == 0 || d.depth > kMaxDepth))
            return fault(from, "gives the database a depth of " + std::to_string(d.depth));
        if (d.root != kNoPage)
            if (auto f = page(from, d.root, 1, d.depth))
                return f;
        if (found.branch_pages != d.branch_pages || found.leaf_pages != d.leaf_pages ||
            found.overflow_pages != d.overflow_pages || found.entries != d.entries ||
            (d.root == kNoPage && d.depth != 0))
            return fault(from, "its database record counts " + std::to_string(d.entries) +
                                   " records in " + std::to_string(d.branch_pages + d.leaf_pages) +
                                   " pages, the tree holds " + std::to_string(found.entries) +
                                   " in " + std::to_string(found.branch_pages + found.leaf_pages));
        return std::nullopt;
    }

    std::optional<std::string> free_pages_unused() {
        db = "free-page";
        for (const uint32_t p : free_pages) {
            if (p < kFirstPage || p > last_pg)
                return fault(p, "listed as free, outside pages " + std::to_string(kFirstPage) +
                                    ".." + std::to_string(last_pg));
            if (state[p] != kUnseen)
                return fault(p, state[p] == kFree ? "listed as free twice"
                                                  : "listed as free, but in use");
            state[p] = kFree;
        }
        return std::nullopt;
    }
};

} // namespace

bool read_meta(int fd, int i, uint32_t psize, PageHeader *header, Meta *meta) {
    unsigned char buf[sizeof(PageHeader) + sizeof(Meta)];
    const off_t at = static_cast<off_t>(uint64_t{psize} * i);
    if (pread(fd, buf, sizeof buf, at) != static_cast<ssize_t>(sizeof buf))
        return false;
    std::memcpy(header, buf, sizeof *header);
    std::memcpy(meta, buf + sizeof *header, sizeof *meta);
    return true;
}

Result check(int fd, uint32_t psize, uint64_t txnid, Cmp cmp) {
    Result r;
    PageHeader h;
    Meta m;
    const int i = static_cast<int>(txnid & 1);
    if (!read_meta(fd, i, psize, &h, &m) || m.txnid != txnid) {
        r.moved = true;
        return r;
    }
    struct stat st {};
    const std::string meta = "meta page " + std::to_string(i);
    if (!(h.flags & kMetaFlag) || fstat(fd, &st) != 0 ||
        uint64_t(st.st_size) < (uint64_t{m.last_pg} + 1) * psize || m.last_pg < 1) {
        r.fault = meta + ": names page " + std::to_string(m.last_pg) +
                  " as the last, past the end of the file";
        return r;
    }
    Walker w{fd, psize, m.last_pg, std::vector<uint8_t>(m.last_pg + 1, kUnseen), {}, {}};
    w.state[0] = w.state[1] = kInTree;
    if (m.dbs[0].flags != kIntegerKey || m.dbs[1].flags != 0) {
        r.fault = w.fault(i, "database flags " + std::to_string(m.dbs[0].flags) + " and " +
                                 std::to_string(m.dbs[1].flags));
        return r;
    }
    if (!(r.fault = w.tree("free-page", Kind::kFree, compare_ids, m.dbs[0], i)) &&
        !(r.fault = w.tree("main", Kind::kMain, compare_names, m.dbs[1], i))) {
        const auto named = std::move(w.named);
        for (const auto &[name, d] : named) {
            if (d.flags != 0)
                r.fault = w.fault(i, "database " + name + " has flags " + std::to_string(d.flags));
            else
                r.fault = w.tree(name, Kind::kNamed, cmp, d, i);
            if (r.fault)
                return r;
        }
        r.fault = w.free_pages_unused();
    }
    return r;
}

} // namespace emu::pss::pages
