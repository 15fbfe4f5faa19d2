/* The plugin's internal interface: the process-wide state it owns and the
 * callbacks it reaches only through the callback vector. Nothing declared
 * here is exported. */
#pragma once

#include <stdint.h>

#include "plugin/include/rire_orsk_platform_api.h"

extern "C" {

/* The MTS queue handle the host hands over through set_q_handle; 0 at load. */
extern uint32_t mts_q_handle;
/* Outstanding hardware-update requests, oldest (or least recently re-keyed)
 * first. Searches run from the head, so of two requests with one id the
 * older is found. */
extern queue_hdr hw_update_req_q;

/* Vector callbacks, internal. */
void rire_orsk_set_q_handle(uint32_t q_handle);
int32_t rire_orsk_mts_opc_check(mts_msg *msg);
int32_t rire_orsk_hw_update_done(mts_msg *answer);
void rire_orsk_hw_update_req_swap(mts_msg *old_msg, mts_msg *new_msg);
uint32_t rire_orsk_oiflist_alloc(uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4, uint32_t p5,
                                 uint32_t p6, uint32_t p7, uint32_t p8, uint32_t p9, uint32_t p10);
uint32_t rire_orsk_oiflist_link_update(uint32_t req_id, uint32_t oiflist_type, uint32_t old_index,
                                       uint32_t old_di, uint32_t new_index, uint32_t new_di);
void rire_orsk_oiflist_hw_update_done(uint32_t oiflist_type);
void rire_orsk_oiflist_delete(uint32_t oiflist_type, uint32_t oiflist_index, uint32_t di);

/* Re-keys the request of old_id to new_id: PSS delete under the old id, the
 * request moves to the tail, PSS write under the new id. Silent no-op when no
 * request carries old_id. */
void rire_orsk_hw_update_req_q_update(uint32_t old_id, uint32_t new_id);
/* Unlinks the first request (from the head) carrying req_id; null if none. */
rire_orsk_hw_update_req *rire_orsk_hw_update_req_q_remove(uint32_t req_id);
}
