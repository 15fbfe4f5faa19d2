#include "emu/pdb.h"

#include <map>

#include "emu/faults.h"
#include "emu/journal.h"
#include "plugin/host/pdb.h"

namespace emu::pdb {
namespace {
std::map<uint8_t, uint16_t> g_cards; // slot index -> card id
} // namespace

void set_card(uint8_t slot_index, uint16_t card_id) {
    g_cards.insert_or_assign(slot_index, card_id);
}

bool remove(uint8_t slot_index) {
    return g_cards.erase(slot_index) != 0;
}

std::optional<uint16_t> card(uint8_t slot_index) {
    auto found = g_cards.find(slot_index);
    if (found == g_cards.end())
        return std::nullopt;
    return found->second;
}

std::vector<Module> modules() {
    std::vector<Module> all;
    all.reserve(g_cards.size());
    for (const auto &[slot_index, card_id] : g_cards)
        all.push_back(Module{slot_index, card_id});
    return all;
}

void reset() {
    g_cards.clear();
}

} // namespace emu::pdb

int pdb_get_mod_info(uint8_t *slot, pdb_mod_info *info, int what) {
    emu::journal::record("pdb_get_mod_info", {slot == nullptr ? -1 : *slot, what});
    if (slot == nullptr || info == nullptr || what != emu::pdb::kModInfoRequest)
        return emu::pdb::kBadRequest;
    if (const auto fault = emu::faults::fires(emu::faults::Id::kPdbModinfoError, *slot))
        return fault->code;
    const std::optional<uint16_t> card_id = emu::pdb::card(*slot);
    if (!card_id)
        return emu::pdb::kEmptySlot;
    info->card_id = *card_id;
    return emu::pdb::kOk;
}
