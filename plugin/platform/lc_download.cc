/* Line-card download filter: IPv4 routes go to every card except DCE line
 * cards; no other database goes to any card. DCE cards are recognised by the
 * card id the host's module database reports for the slot. */
#include <string.h>

#include "plugin/host/pdb.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

namespace {

constexpr int32_t kDbV4Routes = 1;
constexpr int32_t kDbV6Routes = 2;

constexpr uint16_t kDceCardIds[] = {38, 48, 58, 60, 61, 64, 76, 77, 121, 122, 123, 139, 159, 177};

bool rire_orsk_is_dce_card_id(uint16_t card_id) {
    for (uint16_t dce : kDceCardIds)
        if (card_id == dce)
            return true;
    return false;
}

} // namespace

/* The module database is indexed by slot - 1, in 8 bits: slot 0 is 255. */
int32_t rire_orsk_is_module_dce(uint8_t slot) {
    pdb_mod_info info;
    memset(&info, 0, sizeof info);
    uint8_t slot_index = static_cast<uint8_t>(slot - 1);
    if (pdb_get_mod_info(&slot_index, &info, PDB_MOD_INFO_CARD_ID) != 0) {
        RIRE_ERROR("%s: failed to get card id for slot %d \n", __func__, slot_index);
        return 0;
    }
    return rire_orsk_is_dce_card_id(info.card_id) ? 1 : 0;
}

int32_t rire_orsk_check_lc_download_db(uint8_t slot, int32_t db) {
    const bool dce = rire_orsk_is_module_dce(slot) != 0;
    if (dce && (db == kDbV4Routes || db == kDbV6Routes)) {
        RIRE_TRACE("%s: Donot download v4/v6 db for DCE LC in slot %d\n", __func__, slot);
        return 0;
    }
    if (db == kDbV4Routes) {
        RIRE_TRACE("Download V4-ROUTES to slot %d\n", slot);
        return 1;
    }
    RIRE_TRACE("Dont download 0x%x to slot %d\n", db, slot);
    return 0;
}
