// The module database: which card id sits in which slot. Slots are named by
// their zero-based index everywhere here, as pdb_get_mod_info takes them:
// slot number n (1-based, as the command line and the plugin's callers say
// it) is index n - 1, and slot number 0 wraps to index 255.
//
// pdb_get_mod_info(&slot_index, info, what) fills bytes 2..3 of *info with
// the card id and leaves the others alone. Results; on a failure *info is
// not written:
//   kOk          0  the slot holds a card
//   kBadRequest  1  `what` is not 2 (the module-info request), or a null address
//   kEmptySlot   2  no card in the slot
// The fault row pdb.modinfo.error (emu/base/faults.h), set for a slot index, makes
// every lookup of that slot fail with the setting's code, card or no card.
// The journal records (slot index, what), the index being -1 for a null address.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace emu::services::pdb {

enum Result : int {
    kOk = 0,
    kBadRequest = 1,
    kEmptySlot = 2,
};

struct Module {
    uint8_t slot_index;
    uint16_t card_id;
};

// Puts a card into a slot, replacing the one there.
void set_card(uint8_t slot_index, uint16_t card_id);
// True when the slot held a card and is now empty.
bool remove(uint8_t slot_index);
std::optional<uint16_t> card(uint8_t slot_index);
// Every occupied slot, by index.
std::vector<Module> modules();
// Empties every slot.
void reset();

} // namespace emu::services::pdb
