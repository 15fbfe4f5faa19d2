/* Records the plugin shares with its host: the host queue header every list
 * uses, the hold-queue element, the hardware-update request, the host's
 * pending-DI record and the PSS datum. Their byte layouts cross the library
 * boundary, so each offset is pinned below and an ABI slip fails the build. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "plugin/host/queue.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Oiflist types the host uses. */
enum {
    RIRE_OIFLIST_TYPE_1 = 1,
    RIRE_OIFLIST_TYPE_2 = 2,
};

/* DI values as the host passes them to the link update. */
#define RIRE_DI_NULL    0u
#define RIRE_DI_INVALID 0xFFFFFFFFu

/* Whether a link update from old_di to new_di holds old_di: only a valid old
 * DI re-linked to a DI that is not null. Otherwise the link update holds
 * nothing and reports 1, as a successful hold does. */
static inline int rire_orsk_link_update_holds(uint32_t old_di, uint32_t new_di) {
    return old_di != RIRE_DI_NULL && old_di != RIRE_DI_INVALID && new_di != RIRE_DI_NULL;
}

/* One held DI. Handed to the host by rire_orsk_di_hold_q_dequeue and walked
 * in the host's rire_orsk_di_req records, so the 16-byte layout is fixed. */
typedef struct rire_orsk_di_hold_q_elem {
    struct rire_orsk_di_hold_q_elem *next;
    uint16_t di;
    uint16_t pad0;
    uint32_t oiflist_index; /* index of the oiflist the DI served, from the first hold */
    uint16_t ref_count;     /* holds in this queue; wraps 65535 -> 0 */
    uint16_t pad1;
} rire_orsk_di_hold_q_elem;

/* One outstanding hardware-update request, keyed by the MTS message id of
 * the request that carries the change. Its hold_q lists the newest DI first. */
typedef struct rire_orsk_hw_update_req {
    struct rire_orsk_hw_update_req *next;
    uint32_t req_id;
    uint8_t req_type;
    uint8_t pad[3];
    queue_hdr hold_q; /* of rire_orsk_di_hold_q_elem; count is num_hold_di */
} rire_orsk_hw_update_req;

/* The host's per-oiflist pending-DI record ("di_req"). The host owns it; the
 * library reads it when persisting and printing. Bytes past hold_q are the
 * host's. */
typedef struct rire_orsk_di_req {
    uint32_t oiflist_index;
    uint32_t oiflist_type;
    uint16_t ref_count;
    uint16_t host_word;
    uint32_t state; /* RIRE_DI_REQ_STATE_PENDING_HW_UPDATE or anything else */
    queue_hdr hold_q;
} rire_orsk_di_req;

#define RIRE_DI_REQ_STATE_PENDING_HW_UPDATE 1u

/* A key or value passed between the library and PSS, in both directions. */
typedef struct pss_datum {
    void *data;
    uint32_t len;
} pss_datum;

/* The VLAN set the snooping and OMF handlers receive: a host word, then a
 * 4096-bit bitmap in network bit order, VLAN v at bit RIRE_VLAN_SET_BIT(v) of
 * bitmap byte v / 8. */
#define RIRE_VLAN_SET_BITMAP_BYTES 512u
#define RIRE_VLAN_SET_BIT(v)       ((uint8_t)(0x80u >> ((v) % 8)))
typedef struct rire_vlan_set {
    uint32_t host_word;
    uint8_t bitmap[RIRE_VLAN_SET_BITMAP_BYTES];
} rire_vlan_set;

#ifdef __cplusplus
}

static_assert(sizeof(void *) == 4, "the plugin ABI is 32-bit");
static_assert(offsetof(rire_vlan_set, bitmap) == 4);
static_assert(sizeof(rire_vlan_set) == 516);

static_assert(offsetof(rire_orsk_di_hold_q_elem, next) == 0);
static_assert(offsetof(rire_orsk_di_hold_q_elem, di) == 4);
static_assert(offsetof(rire_orsk_di_hold_q_elem, oiflist_index) == 8);
static_assert(offsetof(rire_orsk_di_hold_q_elem, ref_count) == 12);
static_assert(sizeof(rire_orsk_di_hold_q_elem) == 16);

static_assert(offsetof(rire_orsk_hw_update_req, next) == 0);
static_assert(offsetof(rire_orsk_hw_update_req, req_id) == 4);
static_assert(offsetof(rire_orsk_hw_update_req, req_type) == 8);
static_assert(offsetof(rire_orsk_hw_update_req, hold_q) == 12);
static_assert(sizeof(rire_orsk_hw_update_req) == 24);

static_assert(offsetof(rire_orsk_di_req, oiflist_index) == 0);
static_assert(offsetof(rire_orsk_di_req, oiflist_type) == 4);
static_assert(offsetof(rire_orsk_di_req, ref_count) == 8);
static_assert(offsetof(rire_orsk_di_req, state) == 12);
static_assert(offsetof(rire_orsk_di_req, hold_q) == 16);
static_assert(sizeof(rire_orsk_di_req) == 28);

static_assert(offsetof(pss_datum, data) == 0);
static_assert(offsetof(pss_datum, len) == 4);
static_assert(sizeof(pss_datum) == 8);
#endif
