/* Reading the two databases back, record by record. The key level places a
 * service's cursor (first / next) and fetches the key; the record level also
 * fetches the value and hands the key out in the form its database uses.
 * The cursor belongs to the PSS service; nothing here keeps state, and
 * nothing here allocates: keys are copied out, values are read in place.
 *
 * Every key the plugin writes is 4 bytes. A stored key of another length is
 * read zero-extended or cut to its first 4 bytes, so the copy never runs past
 * the caller's 4 bytes and the walk goes on to the records after it. */
#include <string.h>

#include "plugin/host/pss.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "plugin/include/rire_orsk_pss_records.h"

namespace {

constexpr uint32_t kKeyLen = 4;

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

/* The key's first 4 bytes, zero-extended when the key is shorter. */
uint32_t rire_orsk_pss_key_word(const pss_datum *key) {
    uint32_t word = 0;
    memcpy(&word, key->data, key->len < kKeyLen ? key->len : kKeyLen);
    return word;
}

/* Fetches one record at the first or next position: its key word, masked to
 * the part its database hands out, into the caller's 4 bytes, and the address
 * of its value. 0 with nothing written when an argument is missing or either
 * fetch fails. */
uint32_t rire_orsk_pss_get_data(const char *func, uint32_t *service_ref, bool first,
                                uint32_t key_mask, void *key_out, void **value_out) {
    if (service_ref == nullptr || key_out == nullptr || value_out == nullptr)
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
    const uint32_t word = rire_orsk_pss_key_word(key) & key_mask;
    memcpy(key_out, &word, sizeof word);
    *value_out = value->data;
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
    return rire_orsk_pss_get_data(__func__, service_ref, true, UINT32_MAX, key_buf, value_out);
}

uint32_t rire_orsk_pss_get_next_hw_update_data(uint32_t *service_ref, void *key_buf,
                                               void **value_out) {
    return rire_orsk_pss_get_data(__func__, service_ref, false, UINT32_MAX, key_buf, value_out);
}

/* A pending-DI key carries the oiflist index in its low 16 bits; the type
 * tag above it is dropped. */
uint32_t rire_orsk_pss_get_first_pending_di_data(uint32_t *service_ref, uint32_t *oiflist_index,
                                                 void **value_out) {
    return rire_orsk_pss_get_data(__func__, service_ref, true, RIRE_ORSK_PSS_KEY_INDEX_MASK,
                                  oiflist_index, value_out);
}

uint32_t rire_orsk_pss_get_next_pending_di_data(uint32_t *service_ref, uint32_t *oiflist_index,
                                                void **value_out) {
    return rire_orsk_pss_get_data(__func__, service_ref, false, RIRE_ORSK_PSS_KEY_INDEX_MASK,
                                  oiflist_index, value_out);
}
