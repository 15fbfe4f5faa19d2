#include "emu/rire/pending_di.h"

namespace emu::rire::pending_di {
namespace {

Records g_records;

} // namespace

rire_orsk_di_req &get(uint32_t type, uint32_t index) {
    auto &slot = g_records[{type, index}];
    if (!slot) {
        slot = std::make_unique<rire_orsk_di_req>();
        slot->oiflist_index = index;
        slot->oiflist_type = type;
    }
    return *slot;
}

rire_orsk_di_req *find(uint32_t type, uint32_t index) {
    const auto it = g_records.find({type, index});
    return it == g_records.end() ? nullptr : it->second.get();
}

const Records &all() {
    return g_records;
}

std::vector<const queue_hdr *> hold_queues() {
    std::vector<const queue_hdr *> queues;
    for (const auto &[key, rec] : g_records)
        queues.push_back(&rec->hold_q);
    return queues;
}

void drop(loader::Plugin &plugin, uint32_t type, uint32_t index) {
    rire_orsk_di_req *rec = find(type, index);
    if (rec == nullptr)
        return;
    auto dequeue = plugin.fn<decltype(&rire_orsk_di_hold_q_dequeue)>("rire_orsk_di_hold_q_dequeue");
    while (rire_orsk_di_hold_q_elem *elem = dequeue(&rec->hold_q))
        plugin.release(elem);
    g_records.erase({type, index});
}

void drop_all(loader::Plugin &plugin) {
    while (!g_records.empty()) {
        const auto [type, index] = g_records.begin()->first;
        drop(plugin, type, index);
    }
}

} // namespace emu::rire::pending_di
