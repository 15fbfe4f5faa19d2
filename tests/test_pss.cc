// The PSS path where a transcript cannot look: the results of the exported
// arena, store and iteration operations (no caller of the plugin's own reads
// them), a seeded round trip through store, restart and recovery against a
// simple model, the same for flushes on a file system short of room, and the
// replay of the saved fuzz inputs.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "emu/loader/requests.h"
#include "emu/rire/bitmaps.h"
#include "emu/rire/pending_di.h"
#include "emu/rire/stats.h"
#include "fuzz/plant.h"
#include "plugin/pss/record_format.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using emu::base::bytes::Bytes;

constexpr uint32_t kPending = RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
constexpr uint32_t kHw = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
constexpr uint32_t kArenaSize = RIRE_ORSK_PSS_BUF_SIZE;

using PssExports = PluginTest;

TEST_F(PssExports, ArenaHandsOutBlocksBackToBackUntilFull) {
    auto alloc = fn<decltype(&rire_orsk_pss_buf_allocate)>("rire_orsk_pss_buf_allocate");
    uint8_t *buf = plugin_->pss_buf();
    EXPECT_EQ(api().pss_buf_commit(), 0);
    EXPECT_EQ(alloc(5), buf);
    EXPECT_EQ(alloc(0), buf + 5);
    EXPECT_EQ(alloc(3), buf + 5);
    // Sizes that would wrap the bound test around are refused like any other.
    for (uint32_t size : {kArenaSize - 7, 0xFFFFFFFFu, 0u - 8})
        EXPECT_EQ(alloc(size), nullptr) << size;
    EXPECT_EQ(alloc(kArenaSize - 8), buf + 8);
    EXPECT_EQ(alloc(1), nullptr);
    EXPECT_EQ(alloc(0), buf + kArenaSize);
    EXPECT_EQ(fn<decltype(&rire_orsk_pss_buf_commit)>("rire_orsk_pss_buf_commit")(), 0);
    EXPECT_EQ(alloc(kArenaSize), buf);
}

TEST_F(PssExports, StoreReportsOneAndDeleteZeroWhenQueued) {
    auto store = fn<decltype(&rire_orsk_pss_buf_store)>("rire_orsk_pss_buf_store");
    auto erase = fn<decltype(&rire_orsk_pss_buf_delete)>("rire_orsk_pss_buf_delete");
    uint8_t key_bytes[4] = {1, 2, 3, 4};
    pss_datum key = {key_bytes, 4};
    pss_datum value = {key_bytes, 2};
    EXPECT_EQ(store(kHw, &key, &value), 1u);
    EXPECT_EQ(erase(kHw, &key), 0u);
    faults::set(faults::Id::kPssWriteRefuse, {.target = kHw});
    faults::set(faults::Id::kPssDeleteRefuse, {.target = kHw});
    EXPECT_EQ(store(kHw, &key, &value), 0u);
    EXPECT_EQ(erase(kHw, &key), 1u);
    EXPECT_EQ(queued(), (std::vector<Update>{{'W', kHw, {1, 2, 3, 4}, {1, 2}},
                                             {'D', kHw, {1, 2, 3, 4}, {}}}));
    emu::pss::discard_pending();
}

// Only the host can hand the writer a request that holds nothing.
TEST_F(PssExports, RequestWithoutDisIsStoredWithAnEmptyArray) {
    rire_orsk_hw_update_req req{};
    req.req_id = 9;
    req.req_type = 2;
    fn<decltype(&rire_orsk_pss_insert_hw_update_info)>("rire_orsk_pss_insert_hw_update_info")(&req);
    EXPECT_EQ(queued(),
              (std::vector<Update>{{'W', kHw, le32(9), {0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}}}));
    emu::pss::discard_pending();
}

// The encoders are not exported; the symbol table finds them. Without a
// record or a value block they write nothing, log nothing and say 0.
TEST_F(PssExports, EncodersRefuseAMissingRecordOrValue) {
    using HwEncoder = decltype(&rire_orsk_get_hw_update_pss_info);
    using PendingEncoder = decltype(&rire_orsk_get_pending_di_pss_info);
    auto hw = reinterpret_cast<HwEncoder>(plugin_->function("rire_orsk_get_hw_update_pss_info"));
    auto pending =
        reinterpret_cast<PendingEncoder>(plugin_->function("rire_orsk_get_pending_di_pss_info"));
    ASSERT_NE(hw, nullptr);
    ASSERT_NE(pending, nullptr);
    rire_orsk_hw_update_req req{};
    rire_orsk_di_req rec{};
    const uint32_t tlv_len = 0;
    uint8_t value[16] = {};
    const size_t logged = emu::log::event_log().size();
    EXPECT_EQ(hw(nullptr, &tlv_len, value, sizeof value), 0u);
    EXPECT_EQ(hw(&req, &tlv_len, nullptr, sizeof value), 0u);
    EXPECT_EQ(pending(nullptr, &tlv_len, value, sizeof value), 0u);
    EXPECT_EQ(pending(&rec, &tlv_len, nullptr, sizeof value), 0u);
    EXPECT_EQ(Bytes(value, value + sizeof value), Bytes(sizeof value, 0));
    EXPECT_EQ(emu::log::event_log().size(), logged);
}

// Each registration starts from the framework's defaults, then sets the
// type, the name, and 0, 4 and 0 in words 1, 9 and 10.
TEST_F(PssExports, RegistrationsStartFromTheDefaults) {
    emu::base::journal::clear();
    emu::pss::InitArg init_arg;
    api().pss_open_file(&init_arg);
    std::vector<std::tuple<std::string, std::vector<int64_t>, std::string>> calls;
    for (const auto &c : emu::base::journal::calls())
        if (c.op.starts_with("fu_"))
            calls.emplace_back(c.op, c.args, c.detail);
    const auto defaults =
        std::make_tuple("fu_global_pss_service_default_arg", std::vector<int64_t>{}, std::string());
    EXPECT_EQ(calls,
              (decltype(calls){defaults,
                               {"fu_init_arg_add_pss_service", {kPending, 0, 4, 0}, "pending_di"},
                               defaults,
                               {"fu_init_arg_add_pss_service", {kHw, 0, 4, 0}, "hw_update"}}));
}

// A missing argument or a handle of 0 gives 0 (or null) without asking PSS.
TEST_F(PssExports, IterationRefusesMissingArguments) {
    ASSERT_EQ(emu::pss::put_raw(kHw, le32(1), {1}), 0);
    ASSERT_EQ(emu::pss::put_raw(kPending, le32(0x10001), {1}), 0);
    using Fetch = uint32_t (*)(uint32_t *, void *, void **);
    const std::pair<const char *, uint32_t> fetches[] = {
        {"rire_orsk_pss_get_first_hw_update_data", kHw},
        {"rire_orsk_pss_get_next_hw_update_data", kHw},
        {"rire_orsk_pss_get_first_pending_di_data", kPending},
        {"rire_orsk_pss_get_next_pending_di_data", kPending}};
    for (const auto &[name, type] : fetches) {
        SCOPED_TRACE(name);
        const auto fetch = fn<Fetch>(name);
        uint32_t h = 0, key = 0;
        void *value = nullptr;
        EXPECT_EQ(fetch(&h, &key, &value), 0u);
        fu_pss_service_get(type, &h);
        EXPECT_EQ(fetch(nullptr, &key, &value), 0u);
        EXPECT_EQ(fetch(&h, nullptr, &value), 0u);
        EXPECT_EQ(fetch(&h, &key, nullptr), 0u);
    }
    for (const char *name : {"rire_orsk_pss_get_first_key", "rire_orsk_pss_get_next_key"}) {
        uint32_t h = 0;
        EXPECT_EQ(fn<decltype(&rire_orsk_pss_get_first_key)>(name)(nullptr), nullptr) << name;
        EXPECT_EQ(fn<decltype(&rire_orsk_pss_get_first_key)>(name)(&h), nullptr) << name;
    }
    for (const auto &c : emu::base::journal::calls())
        EXPECT_FALSE(c.op.starts_with("pss2_")) << c.op;
}

// A stored key fills its own bytes of the caller's 4 and no more: a shorter
// one leaves the others as they were, a longer one is cut to 4. The
// pending-DI form reads the key into a zeroed word and hands out its low 16
// bits.
TEST_F(PssExports, IterationCopiesAKeysOwnBytesAndNoMore) {
    ASSERT_EQ(emu::pss::put_raw(kHw, {0x07, 0x00}, {1}), 0);
    ASSERT_EQ(emu::pss::put_raw(kHw, {1, 2, 3, 4, 5, 6}, {1}), 0);
    ASSERT_EQ(emu::pss::put_raw(kPending, {0x05, 0x00, 0x02}, {1}), 0);
    using HwFetch = decltype(&rire_orsk_pss_get_first_hw_update_data);
    using PendingFetch = decltype(&rire_orsk_pss_get_first_pending_di_data);
    uint32_t h = 0;
    void *value = nullptr;
    fu_pss_service_get(kHw, &h);
    Bytes buf(6, 0xAA);
    EXPECT_EQ(fn<HwFetch>("rire_orsk_pss_get_first_hw_update_data")(&h, buf.data(), &value), 1u);
    EXPECT_EQ(buf, (Bytes{0x07, 0x00, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(fn<HwFetch>("rire_orsk_pss_get_next_hw_update_data")(&h, buf.data(), &value), 1u);
    EXPECT_EQ(buf, (Bytes{1, 2, 3, 4, 0xAA, 0xAA}));
    fu_pss_service_get(kPending, &h);
    uint32_t index = 0xAAAAAAAA;
    EXPECT_EQ(fn<PendingFetch>("rire_orsk_pss_get_first_pending_di_data")(&h, &index, &value), 1u);
    EXPECT_EQ(index, 5u);
}

// --- Store, restart, recover against a model ---------------------------------

struct Held {
    uint16_t di;
    uint32_t index;
    uint16_t ref_count;
    bool operator==(const Held &) const = default;
};

struct Request {
    uint32_t id;
    uint8_t type;
    std::vector<Held> held; // head first
    bool operator==(const Request &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Request &r) {
    os << "{" << r.id << " type " << int{r.type} << ":";
    for (const Held &h : r.held)
        os << " " << h.di << "@" << h.index << "x" << h.ref_count;
    return os << "}";
}

class RoundTrip : public PluginTest {
  protected:
    std::vector<Request> requests() {
        std::vector<Request> out;
        for (const auto &r : emu::loader::requests::decode(request_queue())) {
            Request req{r.req_id, static_cast<uint8_t>(r.type), {}};
            for (const auto &e : r.held)
                req.held.push_back({static_cast<uint16_t>(e.di), e.oiflist_index,
                                    static_cast<uint16_t>(e.ref_count)});
            out.push_back(req);
        }
        return out;
    }
    void write_pending(uint32_t type, rire_orsk_di_req *rec) {
        fn<decltype(&rire_orsk_pss_insert_pending_di_info)>("rire_orsk_pss_insert_pending_di_info")(
            static_cast<uint8_t>(type), rec);
    }
    void delete_pending(uint32_t type, uint32_t index) {
        fn<decltype(&rire_orsk_pss_delete_pending_di_info)>("rire_orsk_pss_delete_pending_di_info")(
            static_cast<uint8_t>(type), &index);
    }
    // The req_ids of the stored requests in the order a walk presents them.
    static std::vector<uint32_t> walked_ids() {
        std::vector<uint32_t> ids;
        uint32_t handle = 0, scratch, id;
        EXPECT_EQ(fu_pss_service_get(kHw, &handle), 0);
        for (int where = PSS2_LOC_FIRST; pss2_move2location(&handle, 1, where, &scratch) == 0;
             where = PSS2_LOC_NEXT) {
            int err = 0;
            std::memcpy(&id, pss2_getkey(handle, &err)->data, sizeof id);
            ids.push_back(id);
        }
        return ids;
    }
};

// A record says at most 255 held DIs: the first 255 of a longer hold queue.
TEST_F(RoundTrip, LongHoldQueueIsStoredCutTo255Entries) {
    rire_orsk_di_req &host = emu::rire::pending_di::get(1, 5);
    auto enqueue = fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue");
    for (uint32_t di = 1, is_new; di <= 300; di++)
        enqueue(&host.hold_q, di, 1000 + di, &is_new);
    write_pending(1, &host);
    const auto updates = queued();
    ASSERT_EQ(updates.size(), 1u);
    const Bytes &value = std::get<3>(updates[0]);
    ASSERT_EQ(value.size(), 5 + 255 * 8 + 7u);
    EXPECT_EQ(value[2], 255);
    // The newest DI first, the 255th newest last, then zeros.
    EXPECT_EQ(Bytes(value.begin() + 8, value.begin() + 16), (Bytes{44, 1, 0, 0, 0x14, 5, 0, 0}));
    EXPECT_EQ(Bytes(value.end() - 12, value.end() - 4), (Bytes{46, 0, 0, 0, 0x16, 4, 0, 0}));
    emu::pss::discard_pending();
}

// Random sequences of link updates, swaps, completions, pending-DI writes and
// flushes, from a fixed seed, under each walk order of the store. After a
// flush and a restart every request comes back with its id, type and DIs
// (reversed, count 1, same index), in the order the walk presents them; every index a record refers
// to is reserved again in its type's bitmap, and the counters say how often; completing the rebuilt
// requests and deleting the pending records empties both databases.
TEST_F(RoundTrip, RandomSequencesComeBackRequestByRequest) {
    std::mt19937 rng(20240501);
    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    uint32_t fresh_id = 1000;
    for (int seq = 0; seq < 30; seq++) {
        SCOPED_TRACE("sequence " + std::to_string(seq));
        using emu::pss::Order;
        const Order orders[] = {Order::kAscending, Order::kDescending, Order::kShuffle};
        emu::pss::set_walk_order({orders[seq % 3], static_cast<uint32_t>(seq)});
        // The host's records (emu/rire/pending_di.h) die with the process; their keys
        // are what the model needs after the restart.
        std::set<std::pair<uint32_t, uint32_t>> host;
        const uint32_t index_span = pick(0, 1) ? 40 : 65534;
        for (int step = 0, steps = static_cast<int>(pick(1, 60)); step < steps; step++) {
            const std::vector<uint32_t> ids = queue_ids();
            auto some_id = [&] { return ids.empty() ? pick(1, 9) : ids[pick(0, ids.size() - 1)]; };
            const uint32_t op = pick(0, 99);
            if (op < 55) {
                const uint32_t id = pick(0, 2) == 0 ? pick(1, 30) : some_id();
                const uint32_t di = pick(0, 15) == 0 ? (pick(0, 1) ? 0 : 0xFFFFFFFF) : pick(1, 20);
                link_update(id, pick(1, 2), pick(1, index_span), di);
            } else if (op < 65) {
                swap(some_id(), fresh_id++);
            } else if (op < 73) {
                hw_done(some_id());
            } else if (op < 90) {
                const auto [type, index] = std::make_pair(pick(1, 2), pick(1, index_span));
                if (host.contains({type, index}) && pick(0, 2) == 0) {
                    delete_pending(type, index);
                    emu::rire::pending_di::drop(*plugin_, type, index);
                    host.erase({type, index});
                    continue;
                }
                rire_orsk_di_req &rec = emu::rire::pending_di::get(type, index);
                rec.state = 1;
                host.insert({type, index});
                auto enqueue =
                    fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue");
                for (uint32_t n = pick(0, 3), is_new; n > 0; n--)
                    enqueue(&rec.hold_q, pick(1, 20), pick(1, index_span), &is_new);
                write_pending(type, &rec);
            } else {
                emu::pss::flush();
            }
        }
        emu::pss::flush();

        // The model: what the plugin and the host held before the restart.
        std::vector<Request> expected = requests();
        std::map<uint32_t, std::set<uint32_t>> reserved;
        uint32_t reservations = 0;
        for (Request &r : expected) {
            std::reverse(r.held.begin(), r.held.end());
            for (Held &h : r.held) {
                h.ref_count = 1;
                reserved[r.type].insert(h.index);
                reservations++;
            }
        }
        for (const auto &[type, index] : host) {
            reserved[type].insert(index);
            reservations++;
            const auto *rec = emu::rire::pending_di::find(type, index);
            for (auto *e = static_cast<const rire_orsk_di_hold_q_elem *>(rec->hold_q.head); e;
                 e = e->next, reservations++)
                reserved[type].insert(e->oiflist_index);
        }

        // A stored value holds one oif TLV when it holds a DI; recovery fetches
        // each TLV the utility counts, and asks for no more.
        size_t stored_tlvs = 0;
        for (const auto &[service, count_at] : {std::pair{kPending, 2}, {kHw, 5}})
            for (const auto &[key, value] : emu::pss::records(service))
                stored_tlvs += value[count_at] != 0;
        const size_t calls_before = emu::base::journal::calls().size();
        restart_and_recover();
        size_t fetches = 0;
        for (size_t at = calls_before; at < emu::base::journal::calls().size(); at++)
            fetches += emu::base::journal::calls()[at].op == "tlv_array_get_next_tlv";
        EXPECT_EQ(fetches, stored_tlvs);
        const std::vector<uint32_t> walked = walked_ids();
        auto place = [&walked](const Request &r) {
            return std::find(walked.begin(), walked.end(), r.id) - walked.begin();
        };
        std::sort(expected.begin(), expected.end(),
                  [&](const Request &a, const Request &b) { return place(a) < place(b); });
        EXPECT_EQ(requests(), expected);
        for (uint32_t type : {1u, 2u}) {
            const auto got = emu::rire::bitmaps::allocator(type)->allocated();
            EXPECT_EQ(std::set<uint32_t>(got.begin(), got.end()), reserved[type]) << type;
        }
        const auto counters = emu::rire::stats::named();
        EXPECT_EQ(counters[17].value, reservations);
        EXPECT_EQ(counters[20].value, host.size());
        EXPECT_EQ(counters[21].value, expected.size());
        EXPECT_TRUE(emu::pss::pending().empty());

        for (uint32_t id : queue_ids())
            hw_done(id);
        for (const auto &[type, index] : host)
            delete_pending(type, index);
        emu::pss::flush();
        EXPECT_TRUE(emu::pss::records(kHw).empty());
        EXPECT_TRUE(emu::pss::records(kPending).empty());
        if (HasFailure())
            return;
    }
}

// Random link updates, completions and flushes from a fixed seed, each flush
// on a file system with a random number of bytes left (fault disk.full: up
// to 160, or a third of the time plenty). A flush whose keys and values do
// not fit is refused whole, the store as last committed and the queue as it
// was; one that fits commits them. A restart rebuilds what the store holds.
TEST_F(RoundTrip, FlushWithoutRoomIsRefusedWholeAndCommittedLater) {
    std::mt19937 rng(20240519);
    auto pick = [&rng](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    std::map<Bytes, Bytes> committed;
    const auto stored = [] {
        const auto records = emu::pss::records(kHw);
        return std::map<Bytes, Bytes>(records.begin(), records.end());
    };
    size_t refused = 0, flushes = 0;
    for (int step = 0; step < 400; step++) {
        const uint32_t op = pick(0, 9);
        if (op < 5) {
            link_update(pick(1, 30), 1, pick(1, 60), pick(1, 20));
            continue;
        }
        if (op < 7) {
            hw_done(pick(1, 30));
            continue;
        }
        const std::vector<Update> before = queued();
        size_t bytes = 0;
        for (const auto &[kind, service, key, value] : before)
            bytes += key.size() + value.size();
        const uint32_t room = pick(0, 2) == 0 ? 1u << 20 : pick(0, 160);
        faults::set(faults::Id::kDiskFull, {0, room, 0});
        const int rc = emu::pss::flush();
        faults::clear(faults::Id::kDiskFull);
        flushes++;
        ASSERT_EQ(rc == 0, bytes <= room) << "step " << step << ": " << bytes << " bytes, room "
                                          << room << ": " << emu::pss::last_store_error();
        if (rc != 0) {
            refused++;
            EXPECT_EQ(queued(), before) << "step " << step;
        }
        for (const auto &[kind, service, key, value] : rc == 0 ? before : std::vector<Update>{}) {
            if (kind == 'W')
                committed[key] = value;
            else
                committed.erase(key);
        }
        ASSERT_EQ(stored(), committed) << "step " << step;
    }
    EXPECT_GT(refused, flushes / 10);
    EXPECT_LT(refused, flushes * 9 / 10);

    restart_and_recover();
    std::vector<uint32_t> ids = queue_ids();
    std::sort(ids.begin(), ids.end());
    std::vector<uint32_t> want;
    for (const auto &[key, value] : committed)
        want.push_back(key[0] | key[1] << 8 | key[2] << 16 | uint32_t{key[3]} << 24);
    EXPECT_EQ(ids, want);
}

// A flush larger than the store's first map (1 MiB) grows the map and commits
// whole; the next process reads every record. On a file system with room for
// the records but not for the grown map the flush is refused, never a signal:
// the map's space is reserved before it grows.
TEST_F(PssExports, FlushLargerThanTheFirstMapGrowsIt) {
    constexpr uint32_t kRecords = 300;
    const Bytes value(8000, 0x5a);
    std::vector<uint32_t> keys(kRecords);
    std::vector<pss_datum> key_datums(kRecords), value_datums(kRecords);
    for (uint32_t i = 0; i < kRecords; i++) {
        keys[i] = i + 1;
        key_datums[i] = {&keys[i], sizeof keys[i]};
        value_datums[i] = {const_cast<uint8_t *>(value.data()),
                           static_cast<uint32_t>(value.size())};
        ASSERT_EQ(fu_vdc_add_pss_data(fu_global.vdc_num, &fu_global.vdc, kHw, &key_datums[i], 0,
                                      &value_datums[i], 0),
                  0);
    }
    faults::set(faults::Id::kDiskFull, {0, kRecords * (sizeof keys[0] + value.size()) + 4096, 0});
    EXPECT_NE(emu::pss::flush(), 0);
    faults::clear(faults::Id::kDiskFull);
    EXPECT_NE(emu::pss::last_store_error().find("No space left"), std::string::npos)
        << emu::pss::last_store_error();
    EXPECT_TRUE(emu::pss::records("hw_update").empty());
    ASSERT_EQ(emu::pss::flush(), 0) << emu::pss::last_store_error();
    EXPECT_GT(std::filesystem::file_size(state_.path() / "data.mdb"), 2u << 20);
    plugin_.reset();
    emu::host_restart();
    const auto records = emu::pss::records("hw_update");
    ASSERT_EQ(records.size(), kRecords);
    EXPECT_EQ(records.back(), std::make_pair(le32(kRecords), value));
}

// Every saved fuzz input recovers without breaking an invariant.
using FuzzCorpus = PluginTest;

TEST_F(FuzzCorpus, EveryInputRecovers) {
    const auto corpus = std::filesystem::path(RIRE_SOURCE_DIR) / "fuzz" / "corpus";
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(corpus))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << corpus;
    for (const auto &path : files) {
        std::ifstream in(path, std::ios::binary);
        const Bytes input{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(rire_fuzz::recover_input(*plugin_, input.data(), input.size()), "")
            << path.filename();
    }
}

} // namespace
} // namespace rire_test
