/* Module database: what card sits in a slot. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Module information as pdb_get_mod_info fills it: 5 bytes, card id at 2..3. */
typedef struct __attribute__((packed)) pdb_mod_info {
    uint16_t host_word;
    uint16_t card_id;
    uint8_t host_byte;
} pdb_mod_info;

/* The request code of pdb_get_mod_info that asks for the card id. */
#define PDB_MOD_INFO_CARD_ID 2

/* Asked by the line-card download filter for the card in a slot, with
 * `what` = PDB_MOD_INFO_CARD_ID. Fills *info for the zero-based slot index
 * *slot. 0 on success; any other result is a failure and *info is not to be
 * used. */
int pdb_get_mod_info(uint8_t *slot, pdb_mod_info *info, int what);

#ifdef __cplusplus
}
static_assert(sizeof(pdb_mod_info) == 5);
static_assert(__builtin_offsetof(pdb_mod_info, card_id) == 2);
#endif
