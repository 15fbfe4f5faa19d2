#include "tools/rire-host/explore_model.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "emu/boot.h"
#include "emu/pss/pss.h"

namespace rire_host::explore {
namespace {

// The five opcodes that answer a hardware-update request.
bool is_answer(uint32_t opcode) {
    return opcode == 0x12801 || opcode == 0x12802 || opcode == 0x12803 || opcode == 0x12827 ||
           opcode == 0x12828;
}

constexpr uint32_t kLastReservable = 65534;
constexpr size_t kMaxStoredDis = 255;
constexpr uint32_t kArenaSize = 65536;
constexpr uint32_t kDatumSize = 8; // two 32-bit words

constexpr uint32_t kDone = 0x200000;
constexpr uint32_t kHeartbeatEvery = 100;
constexpr uint16_t kDceCards[] = {38, 48, 58, 60, 61, 64, 76, 77, 121, 122, 123, 139, 159, 177};

constexpr char kAddDi[] = "rire_orsk_add_di_to_hw_update_req";

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// The name the host's MTS service gives an opcode.
std::string opcode_name(uint32_t opcode) {
    return opcode == 0x12801 ? "MTS_OPC_HW_UPDATE_DONE" : format("0x%x", opcode);
}

} // namespace

uint32_t Model::pending_key(uint32_t type, uint32_t index) {
    return index | (type == 1 ? 0x10000u : 0x20000u);
}

bool Model::allocate() {
    if (!malloc_fault_)
        return true;
    if (*malloc_fault_ == 0) {
        malloc_fault_.reset(); // it fails once
        return false;
    }
    --*malloc_fault_;
    return true;
}

// A DI new to the queue takes an element; without one it is not held and
// nothing is logged. Each hold traces the count it leaves.
bool Model::hold(std::vector<Hold> *held, uint32_t di, uint32_t index) {
    static const char kFunc[] = "rire_orsk_di_hold_q_enqueue";
    auto h = std::find_if(held->begin(), held->end(), [di](const Hold &e) { return e.di == di; });
    const bool is_new = h == held->end();
    if (is_new) {
        if (!allocate())
            return false;
        h = held->insert(held->begin(), Hold{di, index, 0});
        trace(kFunc, format("%s: Inserted DI:%d to the hold_q\n", kFunc, di));
    }
    const uint32_t refs = (h->refs + 1) & 0xFFFF;
    if (is_new || !planted_) // the planted fault forgets the count, not its trace
        h->refs = refs;
    trace(kFunc, format("%s: DI:%d, ref_count:%d \n", kFunc, di, refs));
    return is_new;
}

// The request of `id`, created at the tail when there is none; null, with
// two error records (the allocation's and the caller's), when it cannot be.
Req *Model::request(uint32_t id, uint32_t type) {
    static const char kFunc[] = "rire_orsk_hw_update_req_q_insert";
    if (Req *r = find(id))
        return r;
    if (!allocate()) {
        error(kFunc, format("%s: Failed to alloc memory\n", kFunc));
        error(kAddDi, format("%s:Failed to find pending hw_update req_id:%d\n", kAddDi, id));
        return nullptr;
    }
    v_.requests.push_back(Req{id, type, {}});
    trace(kFunc, format("%s: Inserted req_id:%d to pending hw_update\n", kFunc, id));
    return &v_.requests.back();
}

uint32_t Model::add_di(uint32_t id, uint32_t type, uint32_t di, uint32_t index, bool persist) {
    Req *r = request(id, type);
    if (r == nullptr)
        return 0;
    trace(kAddDi, format("%s: Adding DI:%d to hold_q for hw_update Req:%d\n", kAddDi, di, id));
    if (hold(&r->held, di & 0xFFFF, index) && persist)
        queue_write(kHw, id, stored(r->type, 0, r->held));
    return 1;
}

Req *Model::find(uint32_t id) {
    for (Req &r : v_.requests)
        if (r.id == id)
            return &r;
    return nullptr;
}

// A record's one-byte count describes 255 held DIs at most: the newest 255
// are stored.
Stored Model::stored(uint32_t type, uint32_t state, const std::vector<Hold> &held) {
    Stored s{type, state, {}};
    for (size_t i = 0; i < held.size() && i < kMaxStoredDis; i++)
        s.held.emplace_back(held[i].di, held[i].index);
    return s;
}

std::optional<uint32_t> Model::link_update(uint32_t req, uint32_t type, uint32_t old_index,
                                           uint32_t old_di, uint32_t new_index, uint32_t new_di) {
    static const char kFunc[] = "rire_orsk_oiflist_link_update";
    trace(kFunc, format("%s: new index: %d new DI %d\n", kFunc, new_index, new_di));
    // Cases 1, 1b, 2 and 3: nothing is held and the result is not defined.
    if (new_di == kNullDi) {
        trace(kFunc, format("%s: Case 1: old DI:%d, new pltfm index is NULL\n", kFunc, old_di));
        return std::nullopt;
    }
    if (old_di == kNullDi) {
        trace(kFunc, format("%s:Case 1b: old pltfm index NULL, new-di(%d) Valid\n", kFunc, new_di));
        return std::nullopt;
    }
    if (old_di == kInvalidDi) {
        trace(kFunc,
              new_di == kInvalidDi
                  ? format("%s:Case 2 old-di(%d)invalid, new-di(%d) invalid\n", kFunc, -1, -1)
                  : format("%s:Case 3: old-di(%d) Invalid, new-di(%d) Valid\n", kFunc, -1, new_di));
        return std::nullopt;
    }
    // Cases 4 and 5: the old DI is held against the request.
    trace(kFunc,
          new_di == kInvalidDi
              ? format("%s:Case 4: old-di(%d) valid, new-di(%d) invalid\n", kFunc, old_di, -1)
              : format("%s:Case 5: old-di(%d) valid, new-di(%d) valid\n", kFunc, old_di, new_di));
    return add_di(req, type & 0xFF, old_di, old_index, true);
}

bool Model::answer(uint32_t opcode, uint32_t id, std::vector<uint32_t> *released) {
    static const char kFunc[] = "rire_orsk_hw_update_done";
    static const char kDelete[] = "rire_orsk_hw_update_req_q_delete";
    trace(kFunc,
          format("%s: hw_update done opcode:%s(%d)\n", kFunc, opcode_name(opcode).c_str(), opcode));
    if (!is_answer(opcode)) {
        error(kFunc, format("Unknown opcode: %d\n", opcode));
        return false;
    }
    const auto it = std::find_if(v_.requests.begin(), v_.requests.end(),
                                 [id](const Req &r) { return r.id == id; });
    if (it == v_.requests.end())
        return true;
    queue_delete(kHw, id);
    for (const Hold &h : it->held) {
        released->push_back(h.di);
        trace(kDelete,
              format("%s:processing DI:%d from hold_q for req_id:%d\n", kDelete, h.di, id));
    }
    trace(kDelete, format("%s: Done with hw_update request:%d\n", kDelete, id));
    v_.requests.erase(it);
    return true;
}

void Model::swap(uint32_t old_id, uint32_t new_id) {
    static const char kFunc[] = "rire_orsk_hw_update_req_q_update";
    const auto it = std::find_if(v_.requests.begin(), v_.requests.end(),
                                 [old_id](const Req &r) { return r.id == old_id; });
    if (it == v_.requests.end())
        return;
    Req moved = *it;
    v_.requests.erase(it);
    queue_delete(kHw, old_id);
    moved.id = new_id;
    v_.requests.push_back(moved);
    queue_write(kHw, new_id, stored(moved.type, 0, moved.held));
    trace(kFunc,
          format("%s: Done with swapping req_id old_id:%d new_id:%d\n", kFunc, old_id, new_id));
}

void Model::pending_insert(uint32_t type, uint32_t index, std::optional<uint32_t> state,
                           const std::vector<std::pair<uint32_t, uint32_t>> &dis) {
    HostRecord &rec = host_[{type, index}];
    rec.state = state.value_or(rec.state);
    for (const auto &[di, oiflist] : dis)
        hold(&rec.held, di, oiflist);
    queue_write(kPending, pending_key(type, index),
                stored(type & 0xFF, rec.state & 0xFF, rec.held));
}

void Model::pending_delete(uint32_t type, uint32_t index) {
    queue_delete(kPending, pending_key(type, index));
    host_.erase({type, index});
}

// The arena hands out `size` bytes, or logs that it cannot.
bool Model::carve(uint32_t size) {
    static const char kFunc[] = "rire_orsk_pss_buf_allocate";
    if (size > kArenaSize - v_.arena) {
        error(kFunc, "ERROR: request for a buf out of bounds \n");
        return false;
    }
    v_.arena += size;
    return true;
}

// An update's key and its descriptor, carved in that order; a failed step
// logs its error record (`key_failure` for the key's).
bool Model::carve_key(const char *func, const char *key_failure) {
    if (!carve(4)) {
        error(func, key_failure);
        return false;
    }
    if (!carve(kDatumSize)) {
        error(func, "ERROR: Failed to alloc memory for PSS datum key\n");
        return false;
    }
    return true;
}

// A write carves the key, its descriptor, the value's descriptor and the
// value (a 5-byte TLV header and 8 bytes per stored DI, 7 more), in that
// order; a failed step logs a record of its own (the value's descriptor's
// is a trace) and nothing is queued. A hardware-update value traces each
// DI it stores; the write ends with a trace of its key.
void Model::queue_write(Db db, uint32_t key, Stored value) {
    static const char kHwFunc[] = "rire_orsk_pss_insert_hw_update_info";
    static const char kPendingFunc[] = "rire_orsk_pss_insert_pending_di_info";
    static const char kEncode[] = "rire_orsk_get_hw_update_pss_info";
    const char *func = db == kHw ? kHwFunc : kPendingFunc;
    const auto length = static_cast<uint32_t>(12 + 8 * value.held.size());
    if (!carve_key(func, db == kHw ? "ERROR: Failed to alloc memory for req_id key\n"
                                   : "ERROR: Failed to alloc memory for oiflist key\n"))
        return;
    if (!carve(kDatumSize)) {
        trace(func, "ERROR: Failed to alloc mem for PSS datum value \n");
        return;
    }
    if (!carve(length)) {
        error(func, format("Failed to allocate memory of size %d", length));
        return;
    }
    if (db == kHw)
        for (const auto &[di, index] : value.held)
            trace(kEncode, format("%s: pss'ed DI %d index %d\n", kEncode, di, index));
    trace(func, db == kHw ? format("%s: req_id %d\n", func, key)
                          : format("%s: oif_index %d\n", func, key));
    v_.queued.push_back({db, key, std::move(value)});
}

// A delete carves the key and its descriptor, and traces the key.
void Model::queue_delete(Db db, uint32_t key) {
    static const char kHwFunc[] = "rire_orsk_pss_delete_hw_update_info";
    static const char kPendingFunc[] = "rire_orsk_pss_delete_pending_di_info";
    const char *func = db == kHw ? kHwFunc : kPendingFunc;
    if (!carve_key(func, db == kHw ? "ERROR: Failed to alloc memory for req id key\n"
                                   : "ERROR: Failed to alloc memory for oiflist key\n"))
        return;
    trace(func, db == kHw ? format("%s: Deleted hw_req for req_id %d \n", func, key)
                          : format("%s: Deleted di_req for oiflist index %d \n", func, key));
    v_.queued.push_back({db, key, std::nullopt});
}

void Model::flush() {
    for (const Update &u : v_.queued) {
        if (u.value)
            v_.stored[u.db][u.key] = *u.value;
        else
            v_.stored[u.db].erase(u.key);
    }
    v_.queued.clear();
    v_.arena = 0;
}

void Model::arena_fill(uint32_t free) {
    flush();
    if (free < kArenaSize)
        v_.arena = kArenaSize - free;
}

void Model::declare_oiflist(uint32_t type, uint32_t index) {
    live_.insert({type, index});
    v_.allocated[type].insert(index);
}

// The entries of one TLV, then its trace. Entry rules: a zero DI or index
// is skipped; a live oiflist reserves nothing; an index up to 65534 is
// reserved; above, garbage. An accepted entry of a hardware-update record
// is held again in its request, without a write.
void Model::recover_entries(Db db, const Stored &rec, std::optional<uint32_t> req) {
    const char *func =
        db == kHw ? "rire_orsk_pss_get_hw_update_req_q_elem" : "rire_orsk_pss_get_di_hold_q_elem";
    if (rec.held.empty())
        return; // a record of no DI carries no TLV
    for (const auto &[di, index] : rec.held) {
        if (di == 0 || index == 0) {
            error(func, format("%s: skipping index %d Di %d\n", func, index, di));
            continue;
        }
        if (!live_.contains({rec.type, index})) {
            if (index > kLastReservable) {
                error(func,
                      format("%s: recovered index is garbage %d for DI %d\n", func, index, di));
                continue;
            }
            v_.allocated[rec.type].insert(index);
            v_.index_realloc++;
        }
        if (req)
            add_di(*req, rec.type, di, index, false);
    }
    trace(func, format("TLV type oif len:%d \n", static_cast<uint32_t>(8 * rec.held.size())));
}

void Model::restart(Walk walk) {
    static const char kInit[] = "rire_orsk_platform_api_init";
    static const char kOpen[] = "rire_orsk_pss_open_file";
    v_.queued.clear();
    v_.arena = 0;
    v_.requests.clear();
    host_.clear();
    v_.index_realloc = v_.pending_restored = v_.hw_restored = 0;
    // The host rebuilds its interface table and module database empty; the
    // faults they named go with them, a heartbeat fault stays.
    interfaces_.clear();
    im_errors_.clear();
    property_errors_.clear();
    modules_.clear();
    module_errors_.clear();
    v_.df.clear();
    v_.queries.clear();
    v_.heartbeats = v_.heartbeats_failed = 0;
    for (auto &bitmap : v_.allocated)
        bitmap.clear();
    for (const auto &[type, index] : live_)
        v_.allocated[type].insert(index);
    // The host initialises the new copy before it hands it the queue handle.
    trace(kInit, format("%s: mts_q_handle %d", kInit, 0));
    trace(kInit, format("%s: Completed init \n", kInit));
    trace(kOpen, format("%s: Done..\n", kOpen));
    recover(walk);
}

void Model::recover(Walk walk) {
    recover_db(kPending, walk);
    recover_db(kHw, walk);
}

// A pass whose service the framework refuses to look up logs one error and
// restores nothing; handle 0 finds no record. Each record is traced, and
// the walk's iteration traces each fetch and its end. Pending-DI records:
// the record's own index is reserved unless it names a live oiflist, then
// each entry is judged. Hardware-update records: each accepted entry is
// reserved (unless live) and held again in its request, so DIs come back
// in reverse order with count 1.
void Model::recover_db(Db db, Walk walk) {
    const bool hw = db == kHw;
    const char *pass =
        hw ? "rire_orsk_pss_recover_hw_update_db" : "rire_orsk_pss_recover_pending_di_db";
    const char *first =
        hw ? "rire_orsk_pss_get_first_hw_update_data" : "rire_orsk_pss_get_first_pending_di_data";
    const char *next =
        hw ? "rire_orsk_pss_get_next_hw_update_data" : "rire_orsk_pss_get_next_pending_di_data";
    const uint32_t pss_type = hw ? 21 : 20;
    if (lookup_refused_[db]) {
        error(pass, hw ? "Error restoring HW update req DB\n" : "Error restoring Pending DI DB\n");
        return;
    }
    const uint32_t handle = lookup_zero_[db] ? 0 : emu::pss::kHandleBase + pss_type;
    trace(pass, format(hw ? "(%s:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB %d pss_service = %d\n"
                          : "(%s:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB %d pss_service = %d\n",
                       pass, pss_type, handle));
    trace(first, format("In %s\n", first));
    if (handle != 0 && v_.stored[db].empty())
        trace("rire_orsk_pss_get_first_key", "ERROR - first key missing \n");
    if (handle == 0 || v_.stored[db].empty()) {
        trace(pass,
              format(hw ? "%s: No hw update req info found \n" : "%s: No pending DI info found \n",
                     pass));
        return;
    }
    std::vector<uint32_t> keys;
    for (const auto &entry : v_.stored[db])
        keys.push_back(entry.first);
    if (walk == Walk::kDescending)
        std::reverse(keys.begin(), keys.end());
    for (uint32_t key : keys) {
        const Stored &rec = v_.stored[db].at(key);
        const auto count = static_cast<uint32_t>(rec.held.size());
        if (hw) {
            trace(pass, format("%s Recovered data hw update req with id %d num_hold_di: %d\n", pass,
                               key, count));
            recover_entries(db, rec, key);
            v_.hw_restored++;
        } else {
            const uint32_t index = key & 0xFFFF;
            trace(pass, format("%s Recovered data pending DI oiflist_index %d type: %d state: %d "
                               "num_hold_di: %d\n",
                               pass, index, rec.type, rec.state, count));
            if (!live_.contains({rec.type, index})) {
                v_.allocated[rec.type].insert(index);
                v_.index_realloc++;
            }
            recover_entries(db, rec, std::nullopt);
            v_.pending_restored++;
        }
        trace(next, format("In %s\n", next));
    }
    trace("rire_orsk_pss_get_next_key",
          format("ERROR - m2l failed for srv %x err %s", handle, "no more records"));
}

uint32_t Model::live_blocks() const {
    uint32_t n = 0;
    for (const Req &r : v_.requests)
        n += 1 + static_cast<uint32_t>(r.held.size());
    for (const auto &entry : host_)
        n += static_cast<uint32_t>(entry.second.held.size());
    return n;
}

void Model::interface_add(uint32_t ifindex, Kind kind) {
    interfaces_[ifindex] = kind;
}

void Model::interface_error(uint32_t ifindex, int32_t status, uint32_t after) {
    if (status == 0)
        im_errors_.erase(ifindex);
    else
        im_errors_[ifindex] = {after, status};
}

void Model::property_error(uint32_t ifindex, int32_t code) {
    property_errors_[ifindex] = code;
}

void Model::module(uint8_t slot_index, std::optional<uint16_t> card) {
    if (card)
        modules_[slot_index] = *card;
    else
        modules_.erase(slot_index);
}

void Model::module_error(uint8_t slot_index, int32_t code) {
    module_errors_[slot_index] = code;
}

void Model::heartbeat_error(uint32_t after, int32_t code) {
    heartbeat_error_ = AfterFault{after, code};
}

void Model::malloc_fault(std::optional<uint32_t> after) {
    malloc_fault_ = after;
}

void Model::lookup_refused(Db db) {
    lookup_refused_[db] = true;
}

void Model::lookup_zero(Db db) {
    lookup_zero_[db] = true;
}

void Model::host_faults_off() {
    malloc_fault_.reset();
    lookup_refused_[kHw] = lookup_refused_[kPending] = false;
    lookup_zero_[kHw] = lookup_zero_[kPending] = false;
    im_errors_.clear();
    property_errors_.clear();
    module_errors_.clear();
    heartbeat_error_.reset();
}

bool Model::query(uint32_t ifindex, bool loopback0, int32_t *status) {
    Queries &q = v_.queries[ifindex];
    (loopback0 ? q.loopback0 : q.loopback)++;
    if (const auto e = im_errors_.find(ifindex); e != im_errors_.end()) {
        if (e->second.passes == 0) {
            *status = e->second.code;
            return false;
        }
        e->second.passes--;
    }
    const auto i = interfaces_.find(ifindex);
    if (i == interfaces_.end())
        return false;
    return loopback0 ? i->second == Kind::kLoopback0 : i->second != Kind::kOther;
}

bool Model::is_loopback(uint32_t ifindex, int32_t *status) {
    return query(ifindex, true, status) || query(ifindex, false, status);
}

void Model::heartbeat() {
    if (heartbeat_error_ && heartbeat_error_->passes == 0) {
        v_.heartbeats_failed++;
        return;
    }
    if (heartbeat_error_)
        heartbeat_error_->passes--;
    v_.heartbeats++;
}

uint32_t Model::df_update(uint8_t ordinal, int32_t opc, const std::vector<uint32_t> &oifs) {
    static const char kFunc[] = "rire_orsk_df_update";
    const bool add = opc == 1;
    const uint32_t mask = 1u << ((ordinal + 31u) % 32u);
    const auto count = static_cast<uint32_t>(oifs.size());
    trace(kFunc, format("%s: Received df_ordinal: %d, num_oifs:%d, opc:%s                     "
                        "     df_mask:%d\n",
                        kFunc, ordinal, count, add ? "Add" : "Delete", static_cast<int32_t>(mask)));
    if (oifs.empty()) {
        trace(kFunc, format("%s num oifs = 0 \n", kFunc));
        return kDone;
    }
    int32_t status = 0;
    for (uint32_t ifindex : oifs)
        is_loopback(ifindex, &status);
    if (status != 0) {
        error(kFunc, format("%s Failed to allocate a msg from ELTM err(%d)  \n", kFunc, status));
        return 0;
    }
    uint32_t since_heartbeat = 0;
    for (uint32_t ifindex : oifs) {
        if (is_loopback(ifindex, &status)) {
            since_heartbeat++;
            continue;
        }
        trace(kFunc, format("%s: opc: %s df_mask: %x\n", kFunc, add ? "SET" : "CLEAR", mask));
        if (!property_errors_.contains(ifindex)) {
            Df &df = v_.df[ifindex];
            df.mask = add ? df.mask | mask : df.mask & ~mask;
            df.q_handle = emu::kQueueHandle;
        }
        if (since_heartbeat == kHeartbeatEvery) {
            heartbeat();
            since_heartbeat = 1;
        } else {
            since_heartbeat++;
        }
    }
    if (status == 0)
        return kDone;
    error(kFunc, format("%s Failed to send the request error (%d) \n", kFunc, status));
    return 0;
}

uint32_t Model::vlan_config(bool snooping, const std::set<uint32_t> &vlans, bool enable) {
    const char *func = snooping ? "rire_orsk_igmp_snoop_config" : "rire_orsk_snoop_omf_config";
    if (vlans.empty()) {
        trace(func, format("%s: Number of vlans set is zero\n", func));
        return kDone;
    }
    const char *on = enable ? "Enable" : "Disable";
    const auto count = static_cast<int>(vlans.size());
    trace(func, snooping ? format("%s Snooping %s for vlan count %d\n", func, on, count)
                         : format("%s OMF %s for vlan count %d\n", func, on, count));
    const char *state = enable ? "Enabled" : "Disabled";
    for (uint32_t vlan : vlans)
        trace(func, snooping ? format("%s: Vlan - %u, IGMP Snooping %s\n", func, vlan, state)
                             : format("%s: Vlan - %u, OMF  %s\n", func, vlan, state));
    return kDone;
}

uint32_t Model::lc_download(uint8_t slot, int32_t db) {
    static const char kFunc[] = "rire_orsk_check_lc_download_db";
    // Is the card in the slot a DCE card? The lookup is by zero-based index.
    const auto index = static_cast<uint8_t>(slot - 1);
    const auto card = modules_.find(index);
    bool dce = false;
    if (module_errors_.contains(index) || card == modules_.end())
        error("rire_orsk_is_module_dce",
              format("%s: failed to get card id for slot %d \n", "rire_orsk_is_module_dce", index));
    else
        dce = std::find(std::begin(kDceCards), std::end(kDceCards), card->second) !=
              std::end(kDceCards);
    if (dce && (db == 1 || db == 2)) {
        trace(kFunc, format("%s: Donot download v4/v6 db for DCE LC in slot %d\n", kFunc, slot));
        return 0;
    }
    if (db == 1) {
        trace(kFunc, format("Download V4-ROUTES to slot %d\n", slot));
        return 1;
    }
    trace(kFunc, format("Dont download 0x%x to slot %d\n", static_cast<uint32_t>(db), slot));
    return 0;
}

uint32_t Model::oiflist_alloc(uint32_t p5, uint32_t p9, uint32_t p10) {
    static const char kFunc[] = "rire_orsk_oiflist_alloc";
    if (p9 != 0)
        return p5;
    trace(kFunc, format("%s: system upg flag (%d)\n", kFunc, static_cast<uint16_t>(p10)));
    return 1;
}

void Model::oiflist_hw_done(uint32_t type) {
    static const char kFunc[] = "rire_orsk_oiflist_hw_update_done";
    if (type != 1 && type != 2)
        error(kFunc, format("%s: OIF list type unknown: %d \n", kFunc, static_cast<int>(type)));
}

void Model::oiflist_delete(uint32_t type, uint32_t index, uint32_t di) {
    static const char kFunc[] = "rire_orsk_oiflist_delete";
    trace(kFunc, format("%s: oiflist type %d index %d dest-index %d\n", kFunc,
                        static_cast<int>(type), static_cast<int>(index), static_cast<int>(di)));
}

} // namespace rire_host::explore
