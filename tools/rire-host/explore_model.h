// The reference model of `rire-host explore`: what the host should observe of
// the plugin after each host event, written from the plugin's contract alone
// and sharing no code with it.
//
// The model's state is a View, the same shape as what the tool reads from the
// running plugin (explore_view.h): the outstanding requests with their held
// DIs, the committed records of both databases, the updates queued to the
// PSS framework, the three recovery counters and the oiflist indexes each
// bitmap holds. Each event below changes a View the way the plugin must:
//
//   link update   cases 1, 1b, 2, 3 hold nothing; 4 and 5 hold the old DI in
//                 request req_id (created at the tail on first use). A DI
//                 new to the request goes to the head of its hold queue with
//                 count 1 and queues a write of the whole request; a DI held
//                 again counts up and queues nothing; the first index stays.
//   answer        one of the five answer opcodes ends the first request
//                 from the head with its id: a delete of its record is
//                 queued and its DIs are released head first. Any other
//                 opcode logs one error and changes nothing.
//   swap          the first request with the old id is re-keyed to the new
//                 id and moved to the tail: delete under the old key, write
//                 under the new one. Nothing when no request has the old id.
//   pending-DI    the host's record of (type, index) takes the DIs given
//                 (head insert, counted like a request's) and is written
//                 whole under index | 0x10000 (type 1) or | 0x20000; a
//                 delete queues the removal of that key and drops the record.
//   records       a stored record describes the newest 255 held DIs at most.
//   arena         a write carves 4 + 8 + 8 + (12 + 8 per stored DI) bytes, a
//                 delete 4 + 8, from a 64 KiB arena a commit empties; the
//                 first block that does not fit logs two errors (one for the
//                 value's descriptor, whose own message is a trace) and
//                 nothing is queued.
//   allocation    each new request and each newly held DI takes a heap
//                 block; without a request the link update returns 0 with
//                 two errors, without an element the DI is not held and
//                 nothing is written (the request, if new, stays empty).
//   flush         applies the queued updates in order, all of them.
//   restart       queued updates, requests, host records, counters and
//                 bitmaps are lost; the live oiflists take their indexes
//                 again; then recovery walks the committed records.
//   recovery      a database whose service the framework will not look
//                 up logs one error and restores nothing; one it hands
//                 handle 0 for reads as empty. Pending-DI
//                 records: the record's own index is reserved unless it
//                 names a live oiflist, then each entry is judged.
//                 Hardware-update records, in walk order: each accepted entry
//                 is reserved (unless live) and held again in its request, so
//                 DIs come back in reverse order with count 1. Entry rules: a
//                 zero DI or index is skipped; a live oiflist reserves
//                 nothing; an index up to 65534 is reserved; above, garbage.
//
// The forwarding handlers keep no state of their own; the model keeps the
// host around them (the interface table, the module database and the host
// faults they meet) and what they leave with the host:
//
//   DF update     ordinal n is bit (n - 1) mod 32. A validation pass asks the
//                 interface manager about every interface (loopback0, then
//                 loopback when that answered no); an error status it leaves
//                 fails the update with nothing programmed. Else a second
//                 pass asks again and programs the bit (set for opc 1, clear
//                 for any other) on each interface that is no loopback, and
//                 sends a heartbeat after a programming call whenever 100
//                 interfaces, skipped ones included, passed since the start
//                 or the last heartbeat (the counter restarts at 1). A status
//                 left by the second pass fails the result; what was
//                 programmed stays. Empty list: done, nothing asked.
//   snooping/OMF  nothing programmed: a count of the set VLANs, then one
//                 trace per VLAN in ascending order; always done.
//   line card     the module database is asked about slot - 1 (8 bits) for
//                 every database; a failed lookup logs an error and counts as
//                 no DCE card. DCE cards get neither route database; other
//                 cards get database 1 only.
//
// Every event's log records are predicted whole (level, function, text),
// next to the behaviour that logs them; the host's own words in them (an
// opcode's name, a service handle, an error's text) are the emulator's.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace rire_host::explore {

inline constexpr uint32_t kNullDi = 0;
inline constexpr uint32_t kInvalidDi = 0xFFFFFFFF;

struct Hold {
    uint32_t di, index, refs;
    bool operator==(const Hold &) const = default;
};
struct Req {
    uint32_t id, type;
    std::vector<Hold> held; // newest first
    bool operator==(const Req &) const = default;
};
// A stored record as its fields read: type, state (pending-DI only) and the
// (DI, index) entries in stored order.
struct Stored {
    uint32_t type = 0, state = 0;
    std::vector<std::pair<uint32_t, uint32_t>> held;
    bool operator==(const Stored &) const = default;
};
enum Db { kHw, kPending };
struct Update {
    Db db;
    uint32_t key;                // the key's 32-bit value (pending-DI: with its tag)
    std::optional<Stored> value; // nothing for a delete
    bool operator==(const Update &) const = default;
};

// One record the plugin logs: its level, the function its wrapper names and
// the message (the wrapper's source line is the plugin's own business).
struct Logged {
    bool error;
    std::string func, text;
    bool operator==(const Logged &) const = default;
};
// The DF bits the interface-property service holds for an interface, and the
// MTS queue handle of its last request.
struct Df {
    uint32_t mask = 0, q_handle = 0;
    bool operator==(const Df &) const = default;
};
// The interface manager's loopback0 and loopback queries about an interface.
struct Queries {
    uint32_t loopback0 = 0, loopback = 0;
    bool operator==(const Queries &) const = default;
};

struct View {
    std::vector<Req> requests;
    std::map<uint32_t, Stored> stored[2]; // by Db, committed
    std::vector<Update> queued;
    uint32_t index_realloc = 0, pending_restored = 0, hw_restored = 0;
    std::set<uint32_t> allocated[3]; // bitmap of oiflist type 1 and 2
    // Left with the host by DF updates since the process started: the bits
    // of each interface a property request was accepted for, the queries by
    // ifindex, the heartbeats sent and failed.
    uint32_t arena = 0; // bytes of the plugin's PSS arena in use since the last commit
    std::map<uint32_t, Df> df;
    std::map<uint32_t, Queries> queries;
    uint32_t heartbeats = 0, heartbeats_failed = 0;
};

// The host's own pending-DI record of one oiflist, as the model keeps it.
struct HostRecord {
    uint32_t state = 0;
    std::vector<Hold> held;
};

class Model {
  public:
    enum class Walk { kAscending, kDescending, kUnordered };

    // Each returns what the host should see as the call's result, where the
    // call has one.
    std::optional<uint32_t> link_update(uint32_t req, uint32_t type, uint32_t old_index,
                                        uint32_t old_di, uint32_t new_index, uint32_t new_di);
    // True when the opcode is an answer; `released` gets the DIs in release order.
    bool answer(uint32_t opcode, uint32_t id, std::vector<uint32_t> *released);
    void swap(uint32_t old_id, uint32_t new_id);
    // Without a state the record keeps its own.
    void pending_insert(uint32_t type, uint32_t index, std::optional<uint32_t> state,
                        const std::vector<std::pair<uint32_t, uint32_t>> &dis);
    void pending_delete(uint32_t type, uint32_t index);
    void flush();
    // A commit, then all but `free` bytes of the arena carved.
    void arena_fill(uint32_t free);
    void declare_oiflist(uint32_t type, uint32_t index);
    // A process restart (`restart` or a new process): the new copy's
    // initialisation and the opening of its databases, then recovery.
    void restart(Walk walk);
    // Recovery alone, on top of what the process holds (the `recover` verb):
    // DIs already held count up, counters and reservations add up.
    void recover(Walk walk);

    // The host around the forwarding handlers. An interface error stores
    // `status` once `after` queries about the interface passed; status 0
    // ends it. A property error refuses every request for the interface, a
    // module error every lookup of the slot index; a heartbeat error fails
    // every heartbeat once `after` passed.
    enum class Kind { kLoopback0, kLoopback, kOther };
    void interface_add(uint32_t ifindex, Kind kind);
    void interface_error(uint32_t ifindex, int32_t status, uint32_t after);
    void property_error(uint32_t ifindex, int32_t code);
    void module(uint8_t slot_index, std::optional<uint16_t> card);
    void module_error(uint8_t slot_index, int32_t code);
    void heartbeat_error(uint32_t after, int32_t code);
    // The plugin's allocation fails once, after `after` more succeed; none:
    // it does not.
    void malloc_fault(std::optional<uint32_t> after);
    // The framework refuses to look the database's service up (recovery),
    // or hands back handle 0 for it.
    void lookup_refused(Db db);
    void lookup_zero(Db db);
    // `fault reset` and a new process: every host fault off.
    void host_faults_off();

    // The forwarding handlers, and their result.
    uint32_t df_update(uint8_t ordinal, int32_t opc, const std::vector<uint32_t> &oifs);
    uint32_t vlan_config(bool snooping, const std::set<uint32_t> &vlans, bool enable);
    uint32_t lc_download(uint8_t slot, int32_t db);
    // The oiflist callbacks that hold nothing, and the opcode check: p5 when
    // p9 is set, else 1 with the upgrade flag (p10's low 16 bits) traced; an
    // error for an oiflist type other than 1 and 2; a trace; always 1 and
    // nothing logged (the DI update); always 0.
    uint32_t oiflist_alloc(uint32_t p5, uint32_t p9, uint32_t p10);
    void oiflist_hw_done(uint32_t type);
    void oiflist_delete(uint32_t type, uint32_t index, uint32_t di);
    static uint32_t oiflist_di_update() { return 1; }

    // The records the events since the last call logged, in order.
    std::vector<Logged> take_log() { return std::exchange(log_, {}); }

    const View &view() const { return v_; }
    // After a step whose outcome a fault decided: the model takes what the
    // plugin shows as its new starting point.
    using HostRecords = std::map<std::pair<uint32_t, uint32_t>, HostRecord>; // by (type, index)
    void adopt(const View &observed, HostRecords host) {
        v_ = observed;
        host_ = std::move(host);
    }
    // After a recovery whose walk order is the host's secret (shuffled): the
    // requests as the plugin rebuilt them, once they matched as a set.
    void take_order(const std::vector<Req> &observed) { v_.requests = observed; }
    // The self-test of explore: a model that forgets repeated holds.
    void plant_fault(bool on) { planted_ = on; }
    // Heap blocks the plugin should have live: each request and hold
    // element, and each element of a host record.
    uint32_t live_blocks() const;
    bool host_records_empty() const { return host_.empty(); }

  private:
    void trace(const char *func, std::string text) {
        log_.push_back({false, func, std::move(text)});
    }
    void error(const char *func, std::string text) {
        log_.push_back({true, func, std::move(text)});
    }
    static uint32_t pending_key(uint32_t type, uint32_t index);
    // Holds `di` in `held`: head insert when new (true), else counts up.
    bool hold(std::vector<Hold> *held, uint32_t di, uint32_t index);
    // One block of the plugin's heap; false when the allocation fails.
    bool allocate();
    Req *request(uint32_t id, uint32_t type);
    // Holds `di` in request `id`, written to PSS when new with `persist`;
    // 0 when the request cannot be made.
    uint32_t add_di(uint32_t id, uint32_t type, uint32_t di, uint32_t index, bool persist);
    static Stored stored(uint32_t type, uint32_t state, const std::vector<Hold> &held);
    bool carve(uint32_t size);
    bool carve_key(const char *func, const char *key_failure);
    void queue_write(Db db, uint32_t key, Stored value);
    void queue_delete(Db db, uint32_t key);
    // One pass of recovery over the database's records in the walk's order.
    void recover_db(Db db, Walk walk);
    // The held-DI entries of one stored record; `req` is the request they
    // are held in again (hardware-update records).
    void recover_entries(Db db, const Stored &rec, std::optional<uint32_t> req);
    Req *find(uint32_t id);
    // One loopback query (loopback0 or any loopback); an error leaves its
    // code in *status and answers no.
    bool query(uint32_t ifindex, bool loopback0, int32_t *status);
    bool is_loopback(uint32_t ifindex, int32_t *status);
    void heartbeat();

    struct AfterFault {
        uint32_t passes;
        int32_t code;
    };

    View v_;
    HostRecords host_;
    std::set<std::pair<uint32_t, uint32_t>> live_; // live oiflists
    bool planted_ = false;
    std::vector<Logged> log_; // the records of the events since take_log()
    std::map<uint32_t, Kind> interfaces_;
    std::map<uint32_t, AfterFault> im_errors_;
    std::map<uint32_t, int32_t> property_errors_;
    std::map<uint8_t, uint16_t> modules_;
    std::map<uint8_t, int32_t> module_errors_;
    std::optional<AfterFault> heartbeat_error_;
    std::optional<uint32_t> malloc_fault_;
    bool lookup_refused_[2] = {false, false}; // by Db
    bool lookup_zero_[2] = {false, false};
};

} // namespace rire_host::explore
