// Figure 3: recovery of stored requests beside its floor: a bare LMDB walk
// over the records with the logging, queue walks and allocations that
// recovery must do for them, in the simplest code (the fastest of
// alternating runs of each).
#include <lmdb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/floor_log.h"
#include "bench/timing.h"
#include "emu/base/faults.h"
#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/pss/view.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/include/rire_orsk_platform_api.h"

namespace bench {
namespace {

// Requests written per flush when filling the store: ~200 arena bytes each.
constexpr uint32_t kWriteBatch = 250;
constexpr uint32_t kDisPerRequest = 4;
// Plugin and floor runs alternate: kRecoveryRepeats of each up to
// kSmallStore requests, kLargeRecoveryRepeats above.
constexpr uint32_t kSmallStore = 1000;
constexpr int kRecoveryRepeats = 20, kLargeRecoveryRepeats = 3;
// Recovery is quadratic in the requests: when a probe of kProbe records
// predicts more than kRecoveryBudget seconds for the whole store, a sample
// taking about kSampleBudget seconds is timed and the whole extrapolated.
constexpr uint32_t kProbe = 10000;
constexpr double kRecoveryBudget = 60.0;
constexpr double kSampleBudget = 15.0;

// Stores n requests of kDisPerRequest DIs through the plugin's link updates.
// A fresh plugin after each batch keeps its queue short: recovery is what is
// measured here, not link updates into a queue of 100,000 requests.
void write_requests(uint32_t n) {
    emu::log::set_sinks_enabled(false);
    for (uint32_t req = 1; req <= n; req++) {
        for (uint32_t d = 0; d < kDisPerRequest; d++)
            link(req, 11 + d);
        if (req % kWriteBatch == 0 || req == n) {
            if (emu::pss::flush() != 0)
                die("flush: " + emu::pss::last_store_error());
            boot();
        }
    }
}

// The store of `dir`, opened read-only beside (never with) the host's own.
MDB_env *open_store_readonly(const fs::path &dir) {
    MDB_env *env;
    if (emu::pss::view::open_env(dir, MDB_RDONLY | MDB_NOTLS, &env) != 0)
        die("cannot open the LMDB environment in " + dir.string());
    return env;
}

// A cursor over "hw_update" in a fresh read transaction; the caller closes
// both.
MDB_cursor *open_hw_update_cursor(MDB_env *env, MDB_txn **txn) {
    MDB_dbi dbi;
    MDB_cursor *cur;
    if (mdb_txn_begin(env, nullptr, MDB_RDONLY, txn) != 0 ||
        mdb_dbi_open(*txn, RIRE_PLATFORM_PSS_NAME_HW_UPDATE, 0, &dbi) != 0 ||
        mdb_cursor_open(*txn, dbi, &cur) != 0)
        die("cannot read the hw_update database");
    return cur;
}

// Records per second of read-only cursor walks over "hw_update", reading every
// byte. The host must be stopped: a process may open an environment only once.
double lmdb_walk_rate(const fs::path &dir, uint32_t expect, int walks) {
    MDB_env *env = open_store_readonly(dir);
    const auto start = Clock::now();
    uint32_t count = 0, sum = 0;
    for (int i = 0; i < walks; i++) {
        MDB_txn *txn;
        MDB_cursor *cur = open_hw_update_cursor(env, &txn);
        MDB_val k, v;
        for (int rc = mdb_cursor_get(cur, &k, &v, MDB_FIRST); rc == 0;
             rc = mdb_cursor_get(cur, &k, &v, MDB_NEXT), count++) {
            const auto *key = static_cast<const uint8_t *>(k.mv_data);
            const auto *value = static_cast<const uint8_t *>(v.mv_data);
            sum = std::accumulate(value, value + v.mv_size,
                                  std::accumulate(key, key + k.mv_size, sum));
        }
        mdb_cursor_close(cur);
        mdb_txn_abort(txn);
    }
    const double t = Seconds(Clock::now() - start).count();
    mdb_env_close(env);
    if (count != expect * walks || sum == 0)
        die("the LMDB walks saw " + std::to_string(count) + " records");
    return count / t;
}

// The floor of recovery: what recovery must do for each stored request,
// in the simplest code. One cursor step and one read of the record; its
// logging (the iteration's trace, the record's, one per TLV, and per DI the
// three traces of adding it, plus one for a new request); the walk of the
// request queue with a visit callback per element, as the host's queue
// utility runs it, and of the hold queue; one allocation per request and per
// DI. Seconds of one run; the host must be stopped.
struct FloorHold {
    FloorHold *next;
    uint16_t di, ref_count;
    uint32_t oiflist_index;
};
struct FloorReq {
    FloorReq *next;
    uint32_t req_id;
    FloorHold *hold;
};

int floor_visit(void *elem, void *key) {
    return static_cast<FloorReq *>(elem)->req_id == *static_cast<uint32_t *>(key) ? 1 : 0;
}

// The visit callback, read through a volatile so that no compiler inlines it
// or specialises floor_find for it: each element costs a call through the
// pointer, as in the host's queue utility.
int (*volatile g_floor_visit)(void *, void *) = floor_visit;

__attribute__((noinline)) FloorReq *floor_find(FloorReq *head, uint32_t req_id,
                                               int (*visit)(void *, void *)) {
    for (FloorReq *r = head; r != nullptr; r = r->next)
        if (visit(r, &req_id) != 0)
            return r;
    return nullptr;
}

void floor_add_di(FloorReq **head, FloorReq **tail, uint32_t req_id, uint16_t di,
                  uint32_t oiflist_index) {
    constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
    FloorReq *req = floor_find(*head, req_id, g_floor_visit);
    if (req == nullptr) {
        req = static_cast<FloorReq *>(std::calloc(1, sizeof(FloorReq)));
        req->req_id = req_id;
        (*tail == nullptr ? *head : (*tail)->next) = req;
        *tail = req;
        floor_log(kTrace, "insert", 1, "%s: Inserted req_id:%d to pending hw_update\n", "insert",
                  req_id);
    }
    floor_log(kTrace, "add", 2, "%s: Adding DI:%d to hold_q for hw_update Req:%d\n", "add", di,
              req_id);
    FloorHold *h = req->hold;
    while (h != nullptr && h->di != di)
        h = h->next;
    if (h == nullptr) {
        h = static_cast<FloorHold *>(std::calloc(1, sizeof(FloorHold)));
        *h = {req->hold, di, 0, oiflist_index};
        req->hold = h;
        floor_log(kTrace, "enqueue", 3, "%s: Inserted DI:%d to the hold_q\n", "enqueue", di);
    }
    h->ref_count++;
    floor_log(kTrace, "enqueue", 4, "%s: DI:%d, ref_count:%d \n", "enqueue", di, h->ref_count);
}

double recovery_floor(const fs::path &dir, uint32_t expect) {
    constexpr uint32_t kTrace = RIRE_ORSK_LOG_LEVEL_TRACE;
    constexpr size_t kTlvAt = 6, kTlvHeader = 5, kEntry = 8;
    emu::log::set_sinks_enabled(true);
    emu::log::set_state_dir(dir);
    MDB_env *env = open_store_readonly(dir);
    FloorReq *head = nullptr, *tail = nullptr;
    uint32_t count = 0;
    const auto start = Clock::now();
    MDB_txn *txn;
    MDB_cursor *cur = open_hw_update_cursor(env, &txn);
    MDB_val k, v;
    for (int rc = mdb_cursor_get(cur, &k, &v, MDB_FIRST); rc == 0;
         rc = mdb_cursor_get(cur, &k, &v, MDB_NEXT), count++) {
        floor_log(kTrace, "get", 5, "In %s\n", "get");
        uint32_t req_id;
        std::memcpy(&req_id, k.mv_data, sizeof req_id);
        const auto *value = static_cast<const uint8_t *>(v.mv_data);
        floor_log(kTrace, "recover", 6,
                  "%s Recovered data hw update req with id %d num_hold_di: %d\n", "recover", req_id,
                  value[5]);
        const uint8_t *payload = value + kTlvAt + kTlvHeader;
        for (uint32_t i = 0; i < value[5]; i++) {
            uint16_t di;
            uint32_t oiflist_index;
            std::memcpy(&di, payload + kEntry * i, sizeof di);
            std::memcpy(&oiflist_index, payload + kEntry * i + 4, sizeof oiflist_index);
            floor_add_di(&head, &tail, req_id, di, oiflist_index);
        }
        floor_log(kTrace, "decode", 7, "TLV type oif len:%d \n", value[5] * 8);
    }
    mdb_cursor_close(cur);
    mdb_txn_abort(txn);
    const double spent = Seconds(Clock::now() - start).count();
    if (count != expect)
        die("the floor walk saw " + std::to_string(count) + " records");
    for (FloorReq *r = head; r != nullptr;) {
        for (FloorHold *h = r->hold; h != nullptr;) {
            FloorHold *next = h->next;
            std::free(h);
            h = next;
        }
        FloorReq *next = r->next;
        std::free(r);
        r = next;
    }
    emu::log::clear();
    emu::log::set_state_dir({});
    mdb_env_close(env);
    return spent;
}

// Seconds to recover the first `sample` stored requests (a failing key fetch
// ends the walk there), followed by a restart.
double recover(uint32_t stored, uint32_t sample, bool sinks) {
    emu::log::set_sinks_enabled(sinks);
    emu::base::faults::clear(emu::base::faults::Id::kPssGetkeyFail);
    if (sample < stored)
        emu::base::faults::set(
            emu::base::faults::Id::kPssGetkeyFail,
            {.target = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, .count = sample + 1});
    const auto start = Clock::now();
    api().pss_recover();
    const double spent = Seconds(Clock::now() - start).count();
    if (const uint32_t got = plugin()->hw_update_req_q()->count; got != sample)
        die("recovered " + std::to_string(got) + " of " + std::to_string(sample));
    emu::host_down(plugin());
    boot();
    return spent;
}

void print_recovery(const std::string &label, double recs, double sinks, double bare, double floor,
                    double walk) {
    std::printf("%16s %12.0f %12.0f %12.0f %12.0f %10.2fx\n", label.c_str(), recs / sinks,
                recs / bare, recs / floor, walk, sinks / floor);
}

} // namespace

void recovery(const std::vector<uint32_t> &sizes) {
    std::printf(
        "\n3. Recovery of stored requests, %u DIs each, records per second, journal off;\n"
        "   floor: LMDB walk + the logging, queue walks and allocations recovery must do;\n"
        "   plugin and floor: the fastest of alternating runs (%d up to %u requests, %d above)\n"
        "%16s %12s %12s %12s %12s %11s\n",
        kDisPerRequest, kRecoveryRepeats, kSmallStore, kLargeRecoveryRepeats, "stored (timed)",
        "plugin/sinks", "plugin/bare", "floor", "LMDB walk", "sinks/floor");
    for (uint32_t n : sizes) {
        fs::remove_all(work_dir());
        boot();
        write_requests(n);
        emu::host_end(plugin());
        const double walk = lmdb_walk_rate(work_dir(), n, n <= 10000 ? 20 : 3);
        boot();
        uint32_t sample = std::min(n, kProbe);
        const double scale = double(n) / sample;
        const double predicted = recover(n, sample, true) * scale * scale;
        sample = predicted <= kRecoveryBudget ? n : n * std::sqrt(kSampleBudget / predicted);
        // Runs of the plugin with sinks on, off and of the floor alternate,
        // and the fastest of each is kept, as for the road.
        double sinks = INFINITY, bare = INFINITY, floor = INFINITY;
        const int runs = sample <= kSmallStore ? kRecoveryRepeats : kLargeRecoveryRepeats;
        for (int run = 0; run < runs; run++) {
            sinks = std::min(sinks, recover(n, sample, true));
            bare = std::min(bare, recover(n, sample, false));
            if (sample < n)
                continue;
            emu::host_end(plugin());
            floor = std::min(floor, recovery_floor(work_dir(), n));
            boot();
        }
        emu::host_end(plugin());
        if (sample < n) {
            const double grow = (double(n) / sample) * (double(n) / sample);
            print_recovery(std::to_string(n) + " (est.)", n, sinks * grow, bare * grow,
                           sinks * grow, walk);
            std::printf("  All %u predicted at %.0f s (> %.0f s): timed the first %u; est. = "
                        "x(%u/%u)^2; no floor\n",
                        n, predicted, kRecoveryBudget, sample, n, sample);
            continue;
        }
        print_recovery(std::to_string(n), n, sinks, bare, floor, walk);
        summarize("recovery-" + std::to_string(n), sinks / floor);
    }
}

} // namespace bench
