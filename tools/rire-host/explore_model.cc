#include "tools/rire-host/explore_model.h"

#include <algorithm>

namespace rire_host::explore {
namespace {

// The five opcodes that answer a hardware-update request.
bool is_answer(uint32_t opcode) {
    return opcode == 0x12801 || opcode == 0x12802 || opcode == 0x12803 || opcode == 0x12827 ||
           opcode == 0x12828;
}

constexpr uint32_t kLastReservable = 65534;

} // namespace

uint32_t Model::pending_key(uint32_t type, uint32_t index) {
    return index | (type == 1 ? 0x10000u : 0x20000u);
}

bool Model::hold(std::vector<Hold> *held, uint32_t di, uint32_t index) const {
    for (Hold &h : *held)
        if (h.di == di) {
            h.refs = planted_ ? h.refs : (h.refs + 1) & 0xFFFF;
            return false;
        }
    held->insert(held->begin(), Hold{di, index, 1});
    return true;
}

Req *Model::find(uint32_t id) {
    for (Req &r : v_.requests)
        if (r.id == id)
            return &r;
    return nullptr;
}

Stored Model::stored_request(const Req &r) const {
    Stored s{r.type, 0, {}};
    for (const Hold &h : r.held)
        s.held.emplace_back(h.di, h.index);
    return s;
}

std::optional<uint32_t> Model::link_update(uint32_t req, uint32_t type, uint32_t old_index,
                                           uint32_t old_di, uint32_t new_di) {
    // Cases 1, 1b, 2 and 3: nothing is held and the result is not defined.
    if (new_di == kNullDi || old_di == kNullDi || old_di == kInvalidDi)
        return std::nullopt;
    // Cases 4 and 5: the old DI is held against the request.
    Req *r = find(req);
    if (r == nullptr) {
        v_.requests.push_back(Req{req, type & 0xFF, {}});
        r = &v_.requests.back();
    }
    if (hold(&r->held, old_di & 0xFFFF, old_index))
        v_.queued.push_back({kHw, req, stored_request(*r)});
    return 1;
}

bool Model::answer(uint32_t opcode, uint32_t id, std::vector<uint32_t> *released) {
    if (!is_answer(opcode))
        return false;
    const auto it = std::find_if(v_.requests.begin(), v_.requests.end(),
                                 [id](const Req &r) { return r.id == id; });
    if (it == v_.requests.end())
        return true;
    v_.queued.push_back({kHw, id, std::nullopt});
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
    v_.queued.push_back({kHw, old_id, std::nullopt});
    moved.id = new_id;
    v_.requests.push_back(moved);
    v_.queued.push_back({kHw, new_id, stored_request(moved)});
}

void Model::pending_insert(uint32_t type, uint32_t index, uint32_t state,
                           const std::vector<std::pair<uint32_t, uint32_t>> &dis) {
    HostRecord &rec = host_[{type, index}];
    rec.state = state;
    for (const auto &[di, oiflist] : dis)
        hold(&rec.held, di, oiflist);
    Stored s{type & 0xFF, state & 0xFF, {}};
    for (const Hold &h : rec.held)
        s.held.emplace_back(h.di, h.index);
    v_.queued.push_back({kPending, pending_key(type, index), s});
}

void Model::pending_delete(uint32_t type, uint32_t index) {
    v_.queued.push_back({kPending, pending_key(type, index), std::nullopt});
    host_.erase({type, index});
}

void Model::flush() {
    for (const Update &u : v_.queued) {
        if (u.value)
            v_.stored[u.db][u.key] = *u.value;
        else
            v_.stored[u.db].erase(u.key);
    }
    v_.queued.clear();
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
    if (into != nullptr) {
        Req *r = find(into->id);
        if (r == nullptr) {
            v_.requests.push_back(*into);
            r = &v_.requests.back();
        }
        hold(&r->held, di, index);
    }
    return true;
}

uint32_t Model::restart(Walk walk) {
    v_.queued.clear();
    v_.requests.clear();
    host_.clear();
    v_.index_realloc = v_.pending_restored = v_.hw_restored = 0;
    for (auto &bitmap : v_.allocated)
        bitmap.clear();
    for (const auto &[type, index] : live_)
        v_.allocated[type].insert(index);
    return recover(walk);
}

uint32_t Model::recover(Walk walk) {
    uint32_t errors = 0;
    // The pending-DI pass: only indexes come back.
    for (const auto &[key, rec] : v_.stored[kPending]) {
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
    for (uint32_t key : keys) {
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

} // namespace rire_host::explore
