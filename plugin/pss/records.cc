/* Writing and deleting the records of both databases. A write encodes the
 * whole record again and queues it under its key, replacing what is stored
 * there; a delete queues the removal of the key. Keys, values and datums come
 * from the arena and stay there until the next commit, whatever happens.
 * Failures are logged and given up on: PSS then lags memory until the same
 * record is written again. */
#include <string.h>

#include "plugin/include/rire_orsk_log.h"
#include "plugin/pss/arena.h"
#include "plugin/pss/record_format.h"

namespace {

/* The blocks of one queued write, carved in the order key, key datum, value
 * datum (then the value, once its length is known). */
struct rire_orsk_pss_write {
    uint8_t *key;
    pss_datum *key_datum;
    pss_datum *value_datum;
};

/* `what` names the key in the failure message ("req_id", "oiflist"). */
uint8_t *rire_orsk_pss_alloc_key(const char *func, uint32_t key, const char *what) {
    auto *block = static_cast<uint8_t *>(rire_orsk_pss_buf_allocate(sizeof key));
    if (block == nullptr) {
        RIRE_ERROR_AS(func, "ERROR: Failed to alloc memory for %s key\n", what);
        return nullptr;
    }
    memcpy(block, &key, sizeof key);
    return block;
}

pss_datum *rire_orsk_pss_alloc_key_datum(const char *func, uint8_t *key) {
    auto *datum = static_cast<pss_datum *>(rire_orsk_pss_buf_allocate(sizeof(pss_datum)));
    if (datum == nullptr) {
        RIRE_ERROR_AS(func, "ERROR: Failed to alloc memory for PSS datum key\n");
        return nullptr;
    }
    rire_orsk_pss_datum_set(datum, key, RIRE_ORSK_PSS_KEY_LEN);
    return datum;
}

/* Key, key datum and value datum of a write; false after logging a failure. */
bool rire_orsk_pss_begin_write(const char *func, uint32_t key, const char *key_name,
                               rire_orsk_pss_write *w) {
    w->key = rire_orsk_pss_alloc_key(func, key, key_name);
    if (w->key == nullptr)
        return false;
    w->key_datum = rire_orsk_pss_alloc_key_datum(func, w->key);
    if (w->key_datum == nullptr)
        return false;
    w->value_datum = static_cast<pss_datum *>(rire_orsk_pss_buf_allocate(sizeof(pss_datum)));
    if (w->value_datum == nullptr) {
        /* Logged at trace level although the text says ERROR. */
        RIRE_TRACE_AS(func, "ERROR: Failed to alloc mem for PSS datum value \n");
        return false;
    }
    return true;
}

/* A zeroed value block of the length the hold queue calls for. */
uint8_t *rire_orsk_pss_alloc_value(const char *func, const queue_hdr *hold_q, uint32_t *tlv_len,
                                   uint32_t *len) {
    *len = rire_orsk_get_pending_di_pss_info_sz(hold_q->count, tlv_len);
    auto *value = static_cast<uint8_t *>(rire_orsk_pss_buf_allocate(*len));
    if (value == nullptr) {
        RIRE_ERROR_AS(func, "Failed to allocate memory of size %d", *len);
        return nullptr;
    }
    memset(value, 0, *len);
    return value;
}

/* Queues the key's deletion; false after logging an arena failure. */
bool rire_orsk_pss_queue_delete(const char *func, uint32_t service, uint32_t key,
                                const char *key_name) {
    uint8_t *key_block = rire_orsk_pss_alloc_key(func, key, key_name);
    if (key_block == nullptr)
        return false;
    pss_datum *key_datum = rire_orsk_pss_alloc_key_datum(func, key_block);
    if (key_datum == nullptr)
        return false;
    rire_orsk_pss_buf_delete(service, key_datum);
    return true;
}

/* One record to write: its service and key, its hold queue (which sizes the
 * value), its encoder, and the words its messages use. */
struct rire_orsk_pss_record {
    const char *func;
    uint32_t service;
    uint32_t key;
    const char *key_name;   /* "Failed to alloc memory for <key_name> key" */
    const char *value_name; /* "Failed to get the PSS value info for <value_name>" */
    const char *key_label;  /* "<func>: <key_label> <key>" */
    const queue_hdr *hold_q;
    const void *source;
    uint32_t (*encode)(const void *source, const uint32_t *tlv_len, uint8_t *value, uint32_t len);
};

/* Carves key, datums and value, encodes and queues the write. */
void rire_orsk_pss_insert(const rire_orsk_pss_record &r) {
    rire_orsk_pss_write w;
    if (!rire_orsk_pss_begin_write(r.func, r.key, r.key_name, &w))
        return;
    uint32_t tlv_len;
    uint32_t len;
    uint8_t *value = rire_orsk_pss_alloc_value(r.func, r.hold_q, &tlv_len, &len);
    if (value == nullptr)
        return;
    if (r.encode(r.source, &tlv_len, value, len) == 0) {
        RIRE_ERROR_AS(r.func, "Failed to get the PSS value info for %s", r.value_name);
        return;
    }
    rire_orsk_pss_datum_set(w.value_datum, value, len);
    if (rire_orsk_pss_buf_store(r.service, w.key_datum, w.value_datum) == 0)
        RIRE_ERROR_AS(r.func, "ERROR: %s failed\n", r.func);
    RIRE_TRACE_AS(r.func, "%s: %s %d\n", r.func, r.key_label, r.key);
}

uint32_t rire_orsk_pss_encode_hw_update(const void *source, const uint32_t *tlv_len, uint8_t *value,
                                        uint32_t len) {
    return rire_orsk_get_hw_update_pss_info(static_cast<const rire_orsk_hw_update_req *>(source),
                                            tlv_len, value, len);
}

uint32_t rire_orsk_pss_encode_pending_di(const void *source, const uint32_t *tlv_len,
                                         uint8_t *value, uint32_t len) {
    return rire_orsk_get_pending_di_pss_info(static_cast<const rire_orsk_di_req *>(source), tlv_len,
                                             value, len);
}

} // namespace

void rire_orsk_pss_insert_hw_update_info(rire_orsk_hw_update_req *req) {
    if (req == nullptr)
        return;
    rire_orsk_pss_insert({__func__, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, req->req_id, "req_id",
                          "hw_update", "req_id", &req->hold_q, req,
                          rire_orsk_pss_encode_hw_update});
}

void rire_orsk_pss_insert_pending_di_info(uint8_t oiflist_type, rire_orsk_di_req *di_req) {
    if (di_req == nullptr)
        return;
    rire_orsk_pss_insert({__func__, RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB,
                          rire_orsk_pss_pending_di_key(oiflist_type, di_req->oiflist_index),
                          "oiflist", "Oiflist", "oif_index", &di_req->hold_q, di_req,
                          rire_orsk_pss_encode_pending_di});
}

void rire_orsk_pss_delete_hw_update_info(rire_orsk_hw_update_req *req) {
    if (req == nullptr)
        return;
    if (!rire_orsk_pss_queue_delete(__func__, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB, req->req_id,
                                    "req id"))
        return;
    RIRE_TRACE("%s: Deleted hw_req for req_id %d \n", __func__, req->req_id);
}

void rire_orsk_pss_delete_pending_di_info(uint8_t oiflist_type, uint32_t *oiflist_index) {
    if (oiflist_index == nullptr)
        return;
    const uint32_t key = rire_orsk_pss_pending_di_key(oiflist_type, *oiflist_index);
    if (!rire_orsk_pss_queue_delete(__func__, RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB, key, "oiflist"))
        return;
    RIRE_TRACE("%s: Deleted di_req for oiflist index %d \n", __func__, key);
}
