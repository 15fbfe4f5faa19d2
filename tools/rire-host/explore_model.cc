#include "tools/rire-host/explore_model.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "emu/boot.h"

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

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
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

// A DI new to the queue takes an element; without one it is not held.
bool Model::hold(std::vector<Hold> *held, uint32_t di, uint32_t index) {
    for (Hold &h : *held)
        if (h.di == di) {
            h.refs = planted_ ? h.refs : (h.refs + 1) & 0xFFFF;
            return false;
        }
    if (!allocate())
        return false;
    held->insert(held->begin(), Hold{di, index, 1});
    return true;
}

// The request of `id`, created at the tail when there is none; null, with
// two error records (the allocation's and the caller's), when it cannot be.
Req *Model::request(uint32_t id, uint32_t type) {
    if (Req *r = find(id))
        return r;
    if (!allocate()) {
        errors_ += 2;
        return nullptr;
    }
    v_.requests.push_back(Req{id, type, {}});
    return &v_.requests.back();
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
                                           uint32_t old_di, uint32_t new_di) {
    // Cases 1, 1b, 2 and 3: nothing is held and the result is not defined.
    if (new_di == kNullDi || old_di == kNullDi || old_di == kInvalidDi)
        return std::nullopt;
    // Cases 4 and 5: the old DI is held against the request.
    Req *r = request(req, type & 0xFF);
    if (r == nullptr)
        return 0;
    if (hold(&r->held, old_di & 0xFFFF, old_index))
        queue_write(kHw, req, stored(r->type, 0, r->held));
    return 1;
}

bool Model::answer(uint32_t opcode, uint32_t id, std::vector<uint32_t> *released) {
    if (!is_answer(opcode))
        return false;
    const auto it = std::find_if(v_.requests.begin(), v_.requests.end(),
                                 [id](const Req &r) { return r.id == id; });
    if (it == v_.requests.end())
        return true;
    queue_delete(kHw, id);
    for (const Hold &h : it->held)
        released->push_back(h.di);
    v_.requests.erase(it);
    return true;
}

void Model::swap(uint32_t old_id, uint32_t new_id) {
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
    if (size > kArenaSize - v_.arena) {
        errors_++;
        return false;
    }
    v_.arena += size;
    return true;
}

// A write carves the key, its descriptor, the value's descriptor and the
// value (a 5-byte TLV header and 8 bytes per stored DI, 7 more), in that
// order; a failed step logs one error of its own, except the value's
// descriptor, whose message is a trace. Nothing is queued then.
void Model::queue_write(Db db, uint32_t key, Stored value) {
    const auto length = static_cast<uint32_t>(12 + 8 * value.held.size());
    if (!carve(4) || !carve(kDatumSize)) {
        errors_++;
        return;
    }
    if (!carve(kDatumSize))
        return;
    if (!carve(length)) {
        errors_++;
        return;
    }
    v_.queued.push_back({db, key, std::move(value)});
}

// A delete carves the key and its descriptor.
void Model::queue_delete(Db db, uint32_t key) {
    if (carve(4) && carve(kDatumSize))
        v_.queued.push_back({db, key, std::nullopt});
    else
        errors_++;
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

// One held-DI entry of a stored record; `into` is the request it is held in
// again (hardware-update records), null for a pending-DI record.
bool Model::recover_entry(uint32_t type, uint32_t di, uint32_t index, const Req *into) {
    if (di == 0 || index == 0)
        return false;
    if (!live_.contains({type, index})) {
        if (index > kLastReservable)
            return false; // garbage: neither reserved nor held
        v_.allocated[type].insert(index);
        v_.index_realloc++;
    }
    if (into != nullptr)
        if (Req *r = request(into->id, into->type))
            hold(&r->held, di, index);
    return true;
}

uint32_t Model::restart(Walk walk) {
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
    return recover(walk);
}

uint32_t Model::recover(Walk walk) {
    // A pass whose service the framework refuses to look up logs one error
    // and restores nothing.
    uint32_t errors = lookup_refused_[kPending] + lookup_refused_[kHw];
    // The pending-DI pass: only indexes come back.
    for (const auto &[key, rec] : v_.stored[kPending]) {
        if (lookup_refused_[kPending])
            break;
        const uint32_t index = key & 0xFFFF;
        if (!live_.contains({rec.type, index})) {
            v_.allocated[rec.type].insert(index);
            v_.index_realloc++;
        }
        for (const auto &[di, oiflist] : rec.held)
            errors += !recover_entry(rec.type, di, oiflist, nullptr);
        v_.pending_restored++;
    }
    // The hardware-update pass, in the walk's order of keys.
    std::vector<uint32_t> keys;
    for (const auto &entry : v_.stored[kHw])
        keys.push_back(entry.first);
    if (walk == Walk::kDescending)
        std::reverse(keys.begin(), keys.end());
    for (uint32_t key : lookup_refused_[kHw] ? std::vector<uint32_t>{} : keys) {
        const Stored &rec = v_.stored[kHw].at(key);
        const Req into{key, rec.type, {}};
        for (const auto &[di, oiflist] : rec.held)
            errors += !recover_entry(rec.type, di, oiflist, &into);
        v_.hw_restored++;
    }
    return errors;
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

void Model::host_faults_off() {
    malloc_fault_.reset();
    lookup_refused_[kHw] = lookup_refused_[kPending] = false;
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

uint32_t Model::df_update(uint8_t ordinal, int32_t opc, const std::vector<uint32_t> &oifs,
                          std::vector<Logged> *log) {
    static const char kFunc[] = "rire_orsk_df_update";
    const bool add = opc == 1;
    const uint32_t mask = 1u << ((ordinal + 31u) % 32u);
    const auto count = static_cast<uint32_t>(oifs.size());
    log->push_back(
        {false, kFunc,
         format("%s: Received df_ordinal: %d, num_oifs:%d, opc:%s                     "
                "     df_mask:%d\n",
                kFunc, ordinal, count, add ? "Add" : "Delete", static_cast<int32_t>(mask))});
    if (oifs.empty()) {
        log->push_back({false, kFunc, format("%s num oifs = 0 \n", kFunc)});
        return kDone;
    }
    int32_t status = 0;
    for (uint32_t ifindex : oifs)
        is_loopback(ifindex, &status);
    if (status != 0) {
        log->push_back(
            {true, kFunc,
             format("%s Failed to allocate a msg from ELTM err(%d)  \n", kFunc, status)});
        return 0;
    }
    uint32_t since_heartbeat = 0;
    for (uint32_t ifindex : oifs) {
        if (is_loopback(ifindex, &status)) {
            since_heartbeat++;
            continue;
        }
        log->push_back({false, kFunc,
                        format("%s: opc: %s df_mask: %x\n", kFunc, add ? "SET" : "CLEAR", mask)});
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
    log->push_back(
        {true, kFunc, format("%s Failed to send the request error (%d) \n", kFunc, status)});
    return 0;
}

uint32_t Model::vlan_config(bool snooping, const std::set<uint32_t> &vlans, bool enable,
                            std::vector<Logged> *log) {
    const char *func = snooping ? "rire_orsk_igmp_snoop_config" : "rire_orsk_snoop_omf_config";
    if (vlans.empty()) {
        log->push_back({false, func, format("%s: Number of vlans set is zero\n", func)});
        return kDone;
    }
    const char *on = enable ? "Enable" : "Disable";
    const auto count = static_cast<int>(vlans.size());
    log->push_back({false, func,
                    snooping ? format("%s Snooping %s for vlan count %d\n", func, on, count)
                             : format("%s OMF %s for vlan count %d\n", func, on, count)});
    const char *state = enable ? "Enabled" : "Disabled";
    for (uint32_t vlan : vlans)
        log->push_back({false, func,
                        snooping ? format("%s: Vlan - %u, IGMP Snooping %s\n", func, vlan, state)
                                 : format("%s: Vlan - %u, OMF  %s\n", func, vlan, state)});
    return kDone;
}

uint32_t Model::lc_download(uint8_t slot, int32_t db, std::vector<Logged> *log) {
    static const char kFunc[] = "rire_orsk_check_lc_download_db";
    // Is the card in the slot a DCE card? The lookup is by zero-based index.
    const auto index = static_cast<uint8_t>(slot - 1);
    const auto card = modules_.find(index);
    bool dce = false;
    if (module_errors_.contains(index) || card == modules_.end())
        log->push_back(
            {true, "rire_orsk_is_module_dce",
             format("%s: failed to get card id for slot %d \n", "rire_orsk_is_module_dce", index)});
    else
        dce = std::find(std::begin(kDceCards), std::end(kDceCards), card->second) !=
              std::end(kDceCards);
    if (dce && (db == 1 || db == 2)) {
        log->push_back(
            {false, kFunc,
             format("%s: Donot download v4/v6 db for DCE LC in slot %d\n", kFunc, slot)});
        return 0;
    }
    if (db == 1) {
        log->push_back({false, kFunc, format("Download V4-ROUTES to slot %d\n", slot)});
        return 1;
    }
    log->push_back(
        {false, kFunc, format("Dont download 0x%x to slot %d\n", static_cast<uint32_t>(db), slot)});
    return 0;
}

uint32_t Model::oiflist_alloc(uint32_t p5, uint32_t p9, uint32_t p10, std::vector<Logged> *log) {
    static const char kFunc[] = "rire_orsk_oiflist_alloc";
    if (p9 != 0)
        return p5;
    log->push_back(
        {false, kFunc, format("%s: system upg flag (%d)\n", kFunc, static_cast<uint16_t>(p10))});
    return 1;
}

void Model::oiflist_hw_done(uint32_t type, std::vector<Logged> *log) {
    static const char kFunc[] = "rire_orsk_oiflist_hw_update_done";
    if (type != 1 && type != 2)
        log->push_back({true, kFunc,
                        format("%s: OIF list type unknown: %d \n", kFunc, static_cast<int>(type))});
}

void Model::oiflist_delete(uint32_t type, uint32_t index, uint32_t di, std::vector<Logged> *log) {
    static const char kFunc[] = "rire_orsk_oiflist_delete";
    log->push_back({false, kFunc,
                    format("%s: oiflist type %d index %d dest-index %d\n", kFunc,
                           static_cast<int>(type), static_cast<int>(index), static_cast<int>(di))});
}

} // namespace rire_host::explore
