#include "emu/services/pdb.h"

#include <map>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "plugin/host/pdb.h"

namespace emu::services::pdb {
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

} // namespace emu::services::pdb

int pdb_get_mod_info(uint8_t *slot, pdb_mod_info *info, int what) {
    emu::base::journal::record("pdb_get_mod_info", {slot == nullptr ? -1 : *slot, what});
    if (slot == nullptr || info == nullptr || what != PDB_MOD_INFO_CARD_ID)
        return emu::services::pdb::kBadRequest;
    if (const auto fault = emu::base::faults::fires(emu::base::faults::Id::kPdbModinfoError, *slot))
        return fault->code;
    const std::optional<uint16_t> card_id = emu::services::pdb::card(*slot);
    if (!card_id)
        return emu::services::pdb::kEmptySlot;
    info->card_id = *card_id;
    return emu::services::pdb::kOk;
}
