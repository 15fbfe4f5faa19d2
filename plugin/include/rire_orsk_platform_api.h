/* The platform callback vector and every operation the plugin exports.
 *
 * The host owns rire_orsk_platform_api and reads each slot at a fixed byte
 * offset; rire_orsk_platform_api_init writes the identifying values and the
 * callback addresses and leaves the unnamed slots as the host put them. All
 * callbacks run on the host's one thread, one call at a time. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin/host/cmd.h"
#include "plugin/host/mts.h"
#include "plugin/include/rire_orsk_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The plugin is built with hidden visibility; only these names are exported. */
#define RIRE_ORSK_EXPORT __attribute__((visibility("default")))

#define RIRE_ORSK_PLTFM_TYPE  8
#define RIRE_ORSK_PLTFM_FLAGS 1u

/* Slot by slot: who calls it and when, what the callback may do inside, and
 * what its result means. Every callback runs on the host's thread, to the
 * end, before the host calls the next one; none may block. The host_ and
 * unnamed bytes belong to the host: init never writes them. */
typedef struct rire_orsk_platform_api {
    uint8_t pltfm_type; /* 8: init writes this one byte */
    uint8_t host_bytes[3];
    uint32_t pltfm_flags; /* 1 */

    /* ---- MTS plumbing (host -> platform) ------------------------------ */
    /* The host hands over its MTS queue handle, before or after init and as
     * often as it likes; the last one is kept and used for every DF request. */
    void (*set_q_handle)(uint32_t q_handle);
    /* The host asks whether the platform takes a message. Reads the opcode
     * and nothing else. Always 0. */
    int32_t (*mts_opc_check)(mts_msg *msg);
    /* An answer to a hardware-update request arrived. For any of the five
     * answer opcodes (plugin/host/mts.h) the request of the answer's
     * message id is unlinked, its PSS record deleted, its held DIs released
     * and freed, and the request freed; any other opcode only traces. The
     * message stays the host's. Always 1. */
    int32_t (*hw_update_done)(mts_msg *answer);
    void *host_slot20;

    /* ---- Designated-forwarder membership ---------------------------- */
    /* The host adds (opc RIRE_ORSK_DF_OPC_ADD) or removes DF ordinal
     * `df_ordinal` on `num_oifs` interfaces. One pass asks the interface
     * manager about every interface first; then each non-loopback interface
     * gets one l3lif request on the stored queue handle, with a heartbeat
     * every 100 interfaces. RIRE_ORSK_REQ_DONE when carried out, 0 after a
     * query error (the requests already issued stay). */
    uint32_t (*df_update)(uint8_t df_ordinal, int32_t opc, uint32_t num_oifs,
                          const uint32_t *ifindexes);

    /* ---- Oiflist lifecycle: the host's oiflists, none kept here ------- */
    /* The host allocated an oiflist. p5 as it came when p9 is nonzero; else
     * 1, after tracing p10's low 16 bits as the system upgrade flag. */
    uint32_t (*oiflist_alloc)(uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4, uint32_t p5,
                              uint32_t p6, uint32_t p7, uint32_t p8, uint32_t p9, uint32_t p10);
    /* The host re-links routes from oiflist (old_index, old_di) to
     * (new_index, new_di) inside the hardware-update request of message id
     * `req_id`. When old_di is valid and new_di is not null, old_di is held
     * in that request (created at the tail on first use) and, when newly
     * held, the request is written to PSS; the result is then 1 when held,
     * 0 when the request record could not be allocated. In every other case
     * the call only traces and its result means nothing. */
    uint32_t (*oiflist_link_update)(uint32_t req_id, uint32_t oiflist_type, uint32_t old_index,
                                    uint32_t old_di, uint32_t new_index, uint32_t new_di);
    /* The hardware finished updating an oiflist type: nothing to do for
     * types 1 and 2, one error line for any other. */
    void (*oiflist_hw_update_done)(uint32_t oiflist_type);
    /* Ignores its arguments; always 1. */
    int32_t (*oiflist_di_update)(void);
    /* The host deleted an oiflist: traced only; holds and PSS stay. */
    void (*oiflist_delete)(uint32_t oiflist_type, uint32_t oiflist_index, uint32_t di);

    /* ---- Persistent storage ------------------------------------------ */
    /* At every boot, after init: registers "pending_di" then "hw_update"
     * with the framework through `init_arg`, which is only passed on.
     * Returns the "hw_update" registration's status: 0 for success. */
    int32_t (*pss_open_file)(void *init_arg);
    /* After a restart, once pss_open_file has run: walks "pending_di" then
     * "hw_update", re-reserves the oiflist indexes the host no longer has,
     * and rebuilds the stored requests without writing PSS. Failures cut a
     * walk short and are logged. Always 0. */
    int32_t (*pss_recover)(void);
    /* The framework calls it after it has performed the queued updates, and
     * only then: the blocks it read through the datum addresses are released
     * together. Always 0. */
    int32_t (*pss_buf_commit)(void);
    void *host_slot60;
    /* The host hands over a new message for a request: the request of the
     * old message's id is re-keyed to the new one's (PSS delete under the
     * old id, move to the tail, PSS write under the new id). An old id no
     * request carries changes nothing. */
    void (*hw_update_req_swap)(mts_msg *old_msg, mts_msg *new_msg);

    /* ---- Forwarding control ------------------------------------------ */
    /* IGMP snooping / optimized multicast flood on (enable nonzero) or off
     * for the VLANs of the set record: traced per VLAN, nothing programmed.
     * Always RIRE_ORSK_REQ_DONE. */
    uint32_t (*igmp_snoop_config)(const void *vlan_set, uint32_t unused, uint32_t enable);
    uint32_t (*snoop_omf_config)(const void *vlan_set, uint32_t enable);
    /* Whether database `db` goes to the card in 1-based `slot`: 1 yes, 0 no.
     * Asks the module database about the card. */
    int32_t (*check_lc_download_db)(uint8_t slot, int32_t db);
    void *host_slot80;
    void *host_slot84;

    /* ---- Show commands ----------------------------------------------- */
    /* An operator's show command `cmd_id` arrived on request `req`. The
     * plugin reads the request's attributes and cookie and answers through
     * the command-response service before it returns; an unknown id gets a
     * negative response. Returns the answering call's result. */
    int32_t (*show)(cmd_req *req, int32_t cmd_id);
} rire_orsk_platform_api;

/* Entry point: fills the vector, empties hw_update_req_q and logs. The
 * address is not tested for null. */
RIRE_ORSK_EXPORT void rire_orsk_platform_api_init(rire_orsk_platform_api *api);

/* --- Frame ------------------------------------------------------------- */
RIRE_ORSK_EXPORT uint32_t
rire_orsk_get_q_handle(void); /* the stored MTS queue handle, 0 if never set */
RIRE_ORSK_EXPORT int32_t
rire_orsk_hw_update_req_q_init(void); /* empties hw_update_req_q (drops, never frees); 0 */
RIRE_ORSK_EXPORT int32_t rire_orsk_oiflist_db_init(void);    /* same effect; 0 */
RIRE_ORSK_EXPORT int32_t rire_orsk_oiflist_di_update(void);  /* ignores its arguments; 1 */
RIRE_ORSK_EXPORT void rire_orsk_flush_batched_updates(void); /* nothing to flush on this platform */

/* --- Requests and hold queues ----------------------------------------- */
/* Holds `di` in request `req_id`, creating the request at the tail of the
 * queue on first use; writes the request to PSS when the DI is newly held
 * and `no_persist` is 0. 1 when held (also when only the element could not
 * be allocated), 0 when the request record could not be allocated. */
RIRE_ORSK_EXPORT uint32_t rire_orsk_add_di_to_hw_update_req(uint32_t req_id, uint8_t req_type,
                                                            uint32_t di, uint32_t oiflist_index,
                                                            uint32_t no_persist);
/* Element now holding `di` (new at the head, or an existing one counted up);
 * *is_new is 1 for a new element. Null when a new element could not be
 * allocated. */
RIRE_ORSK_EXPORT rire_orsk_di_hold_q_elem *rire_orsk_di_hold_q_enqueue(queue_hdr *hold_q,
                                                                       uint32_t di,
                                                                       uint32_t oiflist_index,
                                                                       uint32_t *is_new);
/* Newest element unlinked and handed to the caller, or null. */
RIRE_ORSK_EXPORT rire_orsk_di_hold_q_elem *rire_orsk_di_hold_q_dequeue(queue_hdr *hold_q);

/* --- PSS arena and store ---------------------------------------------- */
#define RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20u
#define RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB  21u
/* The names the two services register under, which name their databases. */
#define RIRE_PLATFORM_PSS_NAME_PENDING_DI "pending_di"
#define RIRE_PLATFORM_PSS_NAME_HW_UPDATE  "hw_update"
#define RIRE_ORSK_PSS_BUF_SIZE            65536u

RIRE_ORSK_EXPORT void *
rire_orsk_pss_buf_allocate(uint32_t size);               /* null when the arena cannot hold it */
RIRE_ORSK_EXPORT int32_t rire_orsk_pss_buf_commit(void); /* empties the arena; 0 */
RIRE_ORSK_EXPORT int32_t
rire_orsk_pss_open_file(void *init_arg); /* status of the "hw_update" registration */
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_buf_store(uint32_t service, pss_datum *key,
                                                  pss_datum *value);                  /* 1 queued */
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_buf_delete(uint32_t service, pss_datum *key); /* 0 queued */

/* --- Record writes and deletes (results only logged) ------------------- */
RIRE_ORSK_EXPORT void rire_orsk_pss_insert_hw_update_info(rire_orsk_hw_update_req *req);
RIRE_ORSK_EXPORT void rire_orsk_pss_delete_hw_update_info(rire_orsk_hw_update_req *req);
RIRE_ORSK_EXPORT void rire_orsk_pss_insert_pending_di_info(uint8_t oiflist_type,
                                                           rire_orsk_di_req *di_req);
RIRE_ORSK_EXPORT void rire_orsk_pss_delete_pending_di_info(uint8_t oiflist_type,
                                                           uint32_t *oiflist_index);

/* --- Reading PSS back -------------------------------------------------- */
/* Key datum at the first / next record of the service *service_ref, or null
 * at the end, on a failed fetch, or for a null reference or handle 0. */
RIRE_ORSK_EXPORT pss_datum *rire_orsk_pss_get_first_key(uint32_t *service_ref);
RIRE_ORSK_EXPORT pss_datum *rire_orsk_pss_get_next_key(uint32_t *service_ref);
/* 1 when a record was fetched: the key's bytes go to key_buf (4 bytes; a
 * shorter key leaves the others as they were, a longer one is cut to 4), the
 * value's address to *value_out. 0 leaves both as they were. */
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_first_hw_update_data(uint32_t *service_ref,
                                                                 void *key_buf, void **value_out);
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_next_hw_update_data(uint32_t *service_ref,
                                                                void *key_buf, void **value_out);
/* As above; the oiflist index (the key's low 16 bits) goes to *oiflist_index. */
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_first_pending_di_data(uint32_t *service_ref,
                                                                  uint32_t *oiflist_index,
                                                                  void **value_out);
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_next_pending_di_data(uint32_t *service_ref,
                                                                 uint32_t *oiflist_index,
                                                                 void **value_out);

/* --- Recovery after a restart ------------------------------------------ */
/* Pending-DI pass, then hardware-update pass; writes nothing to PSS. 0. */
RIRE_ORSK_EXPORT int32_t rire_orsk_pss_recover(void);
RIRE_ORSK_EXPORT void rire_orsk_pss_recover_pending_di_db(void);
RIRE_ORSK_EXPORT void rire_orsk_pss_recover_hw_update_db(void);
/* Entry decodes of one stored value; both return 1. */
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_hw_update_req_q_elem(const void *value,
                                                                 uint32_t req_id);
RIRE_ORSK_EXPORT uint32_t rire_orsk_pss_get_di_hold_q_elem(const void *value);

/* --- Forwarding control ------------------------------------------------ */
#define RIRE_ORSK_REQ_DONE 0x200000u
/* The DF update's `opc`: add sets the ordinal's bit; any other value (the
 * host sends delete) clears it. */
#define RIRE_ORSK_DF_OPC_ADD    1
#define RIRE_ORSK_DF_OPC_DELETE 2

RIRE_ORSK_EXPORT uint32_t rire_orsk_df_update(uint8_t df_ordinal, int32_t opc, uint32_t num_oifs,
                                              const uint32_t *ifindexes);
RIRE_ORSK_EXPORT uint32_t rire_orsk_igmp_snoop_config(const void *vlan_set, uint32_t unused,
                                                      uint32_t enable);
RIRE_ORSK_EXPORT uint32_t rire_orsk_snoop_omf_config(const void *vlan_set, uint32_t enable);
/* 1 when database `db` is to be downloaded to the card in (1-based) `slot`. */
RIRE_ORSK_EXPORT int32_t rire_orsk_check_lc_download_db(uint8_t slot, int32_t db);
/* 1 when the card in `slot` has a DCE card id; 0 otherwise or when unknown. */
RIRE_ORSK_EXPORT int32_t rire_orsk_is_module_dce(uint8_t slot);

/* --- Show and print ---------------------------------------------------- */
#define RIRE_ORSK_SHOW_DIST_MULTICAST_OIF 100000
#define RIRE_ORSK_SHOW_DIST_MULTICAST_DI  100001

RIRE_ORSK_EXPORT int32_t rire_orsk_show(cmd_req *req, int32_t cmd_id);
RIRE_ORSK_EXPORT int32_t rire_orsk_show_dist_multicast_oif(cmd_req *req);
RIRE_ORSK_EXPORT int32_t rire_orsk_show_dist_multicast_di(cmd_req *req);
RIRE_ORSK_EXPORT int32_t rire_print_orsk_dist_di(cmd_req *req);
RIRE_ORSK_EXPORT int32_t rire_print_orsk_dist_oiflist(cmd_req *req, uint32_t unused1,
                                                      uint32_t unused2);
/* Prints a DI information record: DI at bytes 0..3, oiflist index at 4..7,
 * reference count at 12..13. Returns the last cmd_prt's result. */
RIRE_ORSK_EXPORT int32_t rire_print_one_di_info(cmd_req *req, const void *di_info);
RIRE_ORSK_EXPORT void rire_print_one_di_req(cmd_req *req, const rire_orsk_di_req *di_req);

#ifdef __cplusplus
}

static_assert(offsetof(rire_orsk_platform_api, pltfm_type) == 0);
static_assert(offsetof(rire_orsk_platform_api, pltfm_flags) == 4);
static_assert(offsetof(rire_orsk_platform_api, set_q_handle) == 8);
static_assert(offsetof(rire_orsk_platform_api, mts_opc_check) == 12);
static_assert(offsetof(rire_orsk_platform_api, hw_update_done) == 16);
static_assert(offsetof(rire_orsk_platform_api, host_slot20) == 20);
static_assert(offsetof(rire_orsk_platform_api, df_update) == 24);
static_assert(offsetof(rire_orsk_platform_api, oiflist_alloc) == 28);
static_assert(offsetof(rire_orsk_platform_api, oiflist_link_update) == 32);
static_assert(offsetof(rire_orsk_platform_api, oiflist_hw_update_done) == 36);
static_assert(offsetof(rire_orsk_platform_api, oiflist_di_update) == 40);
static_assert(offsetof(rire_orsk_platform_api, oiflist_delete) == 44);
static_assert(offsetof(rire_orsk_platform_api, pss_open_file) == 48);
static_assert(offsetof(rire_orsk_platform_api, pss_recover) == 52);
static_assert(offsetof(rire_orsk_platform_api, pss_buf_commit) == 56);
static_assert(offsetof(rire_orsk_platform_api, host_slot60) == 60);
static_assert(offsetof(rire_orsk_platform_api, hw_update_req_swap) == 64);
static_assert(offsetof(rire_orsk_platform_api, igmp_snoop_config) == 68);
static_assert(offsetof(rire_orsk_platform_api, snoop_omf_config) == 72);
static_assert(offsetof(rire_orsk_platform_api, check_lc_download_db) == 76);
static_assert(offsetof(rire_orsk_platform_api, host_slot80) == 80);
static_assert(offsetof(rire_orsk_platform_api, host_slot84) == 84);
static_assert(offsetof(rire_orsk_platform_api, show) == 88);
static_assert(sizeof(rire_orsk_platform_api) == 92);
#endif
