/* Reading the two databases back, record by record. The key level places a
 * service's cursor (first / next) and fetches the key; the record level also
 * fetches the value and hands the key out in the form its database uses.
 * The cursor belongs to the PSS service; nothing here keeps state, and
 * nothing here allocates: keys are copied out, values are read in place.
 *
 * Every key the plugin writes is 4 bytes. A shorter stored key fills only its
 * own bytes of the caller's 4; a longer one is cut to its first 4 bytes (our
 * choice), so the copy never runs past the caller's 4 and the walk goes on. */
#include <string.h>

#include "plugin/host/pss.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "plugin/include/rire_orsk_pss_records.h"

namespace {

pss_datum *rire_orsk_pss_key_at_cursor(const char *func, uint32_t handle, bool first) {
    int err = 0;
    pss_datum *key = pss2_getkey(handle, &err);
    if (err == 0)
        return key;
    /* Only the first key's message ends its line. */
    RIRE_TRACE_AS(func, "ERROR - getkey failed for service %d error %s%s",
                  static_cast<int32_t>(handle), syserr2str(err), first ? "\n" : "");
    return nullptr;
}

/* Places the cursor on the first or next record and fetches its key. */
pss_datum *rire_orsk_pss_move_key(const char *func, uint32_t *service_ref, bool first) {
    if (service_ref == nullptr || *service_ref == 0)
        return nullptr;
    uint32_t scratch;
    const int rc =
        pss2_move2location(service_ref, 1, first ? PSS2_LOC_FIRST : PSS2_LOC_NEXT, &scratch);
    if (rc != 0) {
        if (first)
            RIRE_TRACE_AS(func, "ERROR - first key missing \n");
        else
            RIRE_TRACE_AS(func, "ERROR - m2l failed for srv %x err %s", *service_ref,
                          syserr2str(rc));
        return nullptr;
    }
    return rire_orsk_pss_key_at_cursor(func, *service_ref, first);
}

/* Fetches one record at the first or next position: the key's bytes, at
 * most 4, into the caller's `key_buf`, and the address of its value. 0 with
 * nothing written when an argument is missing or either fetch fails. */
uint32_t rire_orsk_pss_get_data(const char *func, uint32_t *service_ref, bool first, void *key_buf,
                                void **value_out) {
    if (service_ref == nullptr || key_buf == nullptr || value_out == nullptr)
        return 0;
    RIRE_TRACE_AS(func, "In %s\n", func);
    pss_datum *key =
        first ? rire_orsk_pss_get_first_key(service_ref) : rire_orsk_pss_get_next_key(service_ref);
    if (key == nullptr)
        return 0;
    int err = 0;
    pss_datum *value = pss2_getvalue(*service_ref, &err);
    if (err != 0)
        return 0;
    memcpy(key_buf, key->data, key->len < RIRE_ORSK_PSS_KEY_LEN ? key->len : RIRE_ORSK_PSS_KEY_LEN);
    *value_out = value->data;
    return 1;
}

/* A pending-DI key goes into a zeroed word, of which only the low 16 bits,
 * the oiflist index, are handed out; the type tag above them is dropped. */
uint32_t rire_orsk_pss_get_pending_di(const char *func, uint32_t *service_ref, bool first,
                                      uint32_t *oiflist_index, void **value_out) {
    if (oiflist_index == nullptr)
        return 0;
    uint32_t word = 0;
    if (rire_orsk_pss_get_data(func, service_ref, first, &word, value_out) == 0)
        return 0;
    *oiflist_index = word & RIRE_ORSK_PSS_KEY_INDEX_MASK;
    return 1;
}

} // namespace

pss_datum *rire_orsk_pss_get_first_key(uint32_t *service_ref) {
    return rire_orsk_pss_move_key(__func__, service_ref, true);
}

/* Every walk ends here: the service reports no record after the last. */
pss_datum *rire_orsk_pss_get_next_key(uint32_t *service_ref) {
    return rire_orsk_pss_move_key(__func__, service_ref, false);
}

/* A hardware-update key is the whole request id. */
uint32_t rire_orsk_pss_get_first_hw_update_data(uint32_t *service_ref, void *key_buf,
                                                void **value_out) {
    return rire_orsk_pss_get_data(__func__, service_ref, true, key_buf, value_out);
}

uint32_t rire_orsk_pss_get_next_hw_update_data(uint32_t *service_ref, void *key_buf,
                                               void **value_out) {
    return rire_orsk_pss_get_data(__func__, service_ref, false, key_buf, value_out);
}

uint32_t rire_orsk_pss_get_first_pending_di_data(uint32_t *service_ref, uint32_t *oiflist_index,
                                                 void **value_out) {
    return rire_orsk_pss_get_pending_di(__func__, service_ref, true, oiflist_index, value_out);
}

uint32_t rire_orsk_pss_get_next_pending_di_data(uint32_t *service_ref, uint32_t *oiflist_index,
                                                void **value_out) {
    return rire_orsk_pss_get_pending_di(__func__, service_ref, false, oiflist_index, value_out);
}
