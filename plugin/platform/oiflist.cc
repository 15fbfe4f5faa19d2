/* The oiflist lifecycle callbacks. The host owns every oiflist; the only
 * state these leave behind is the hold of an old DI when the host re-links
 * away from an oiflist whose DI is valid. */
#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

uint32_t rire_orsk_oiflist_alloc(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t p5, uint32_t,
                                 uint32_t, uint32_t, uint32_t p9, uint32_t p10) {
    if (p9 != 0)
        return p5;
    RIRE_TRACE("%s: system upg flag (%d)\n", __func__, static_cast<uint16_t>(p10));
    return 1;
}

/* Traces which of cases 1 to 3 a link update that holds nothing is. */
static void trace_no_hold(const char *func, uint32_t old_di, uint32_t new_di) {
    if (new_di == RIRE_DI_NULL)
        RIRE_TRACE_AS(func, "%s: Case 1: old DI:%d, new pltfm index is NULL\n", func, old_di);
    else if (old_di == RIRE_DI_NULL)
        RIRE_TRACE_AS(func, "%s:Case 1b: old pltfm index NULL, new-di(%d) Valid\n", func, new_di);
    else if (new_di == RIRE_DI_INVALID)
        RIRE_TRACE_AS(func, "%s:Case 2 old-di(%d)invalid, new-di(%d) invalid\n", func, -1, -1);
    else
        RIRE_TRACE_AS(func, "%s:Case 3: old-di(%d) Invalid, new-di(%d) Valid\n", func, -1, new_di);
}

/* Cases 1 to 3 hold nothing and report 1, the same as a successful hold, so
 * the host never mistakes a re-link that needs no hold for a failure. */
uint32_t rire_orsk_oiflist_link_update(uint32_t req_id, uint32_t oiflist_type, uint32_t old_index,
                                       uint32_t old_di, uint32_t new_index, uint32_t new_di) {
    RIRE_TRACE("%s: new index: %d new DI %d\n", __func__, new_index, new_di);
    if (!rire_orsk_link_update_holds(old_di, new_di)) {
        trace_no_hold(__func__, old_di, new_di);
        return 1;
    }
    if (new_di == RIRE_DI_INVALID)
        RIRE_TRACE("%s:Case 4: old-di(%d) valid, new-di(%d) invalid\n", __func__, old_di, -1);
    else
        RIRE_TRACE("%s:Case 5: old-di(%d) valid, new-di(%d) valid\n", __func__, old_di, new_di);
    return rire_orsk_add_di_to_hw_update_req(req_id, static_cast<uint8_t>(oiflist_type), old_di,
                                             old_index, 0);
}

void rire_orsk_oiflist_hw_update_done(uint32_t oiflist_type) {
    if (oiflist_type == RIRE_OIFLIST_TYPE_1 || oiflist_type == RIRE_OIFLIST_TYPE_2)
        return;
    RIRE_ERROR("%s: OIF list type unknown: %d \n", __func__, oiflist_type);
}

void rire_orsk_oiflist_delete(uint32_t oiflist_type, uint32_t oiflist_index, uint32_t di) {
    RIRE_TRACE("%s: oiflist type %d index %d dest-index %d\n", __func__, oiflist_type,
               oiflist_index, di);
}
