/* The host's persistent storage service (PSS) and the framework that queues
 * updates to it. Writes and deletions are queued with the caller's datum
 * addresses and performed later; the framework then calls the plugin's
 * pss_buf_commit callback. Reads walk one cursor per service. */
#pragma once

#include <stdint.h>

#include "plugin/include/rire_orsk_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The framework's per-context record, embedded in fu_global. */
typedef struct fu_vdc_ctx {
    void *impl; /* the framework's own state */
    uint32_t reserved[7];
} fu_vdc_ctx;

/* The framework's process-wide object. Queueing calls pass `vdc_num`
 * (zero-extended) and the address of `vdc`, both read afresh at each call. */
typedef struct fu_global_t {
    uint32_t magic;
    uint16_t vdc_num;
    uint16_t pad;
    fu_vdc_ctx vdc;
} fu_global_t;

extern fu_global_t fu_global;

/* Descriptor of one PSS service to register. The plugin sets words 0, 1, 2,
 * 9 and 10 and leaves the others at the framework's defaults. What words 1,
 * 9 and 10 mean is the framework's; the plugin sets them to 0, 4 and 0. */
typedef struct pss_service_arg {
    uint32_t pss_type;    /* word 0: the service number, also its PSS type */
    uint32_t word1;       /* word 1 */
    const char *name;     /* word 2: static string naming the database */
    uint32_t defaults[6]; /* words 3..8: framework defaults */
    uint32_t word9;       /* word 9 */
    uint32_t word10;      /* word 10 */
    uint32_t reserved[5];
} pss_service_arg;

/* Registration, from pss_open_file, once per service: the plugin fills a
 * stack descriptor with the framework's defaults, sets its own words and
 * registers it with the host's `init_arg`. The framework copies what it
 * keeps; the descriptor dies with the call, the name string does not. */
void fu_global_pss_service_default_arg(pss_service_arg *arg);
/* 0 when the service is registered; any other status is passed back to the
 * host for "hw_update" and ignored for "pending_di". */
int fu_init_arg_add_pss_service(void *init_arg, pss_service_arg *arg);
/* Queueing, from the record writes and deletes, flags 0, with vdc_num and
 * ctx read from fu_global at each call. 0 when queued, else a refusal: the
 * plugin logs it and PSS lags until the record is written again. Only the
 * datum addresses are kept; the framework reads the bytes (blocks of the
 * plugin's PSS arena) when it performs the queue, later, then calls the
 * pss_buf_commit callback, after which the blocks may be reused. */
int fu_vdc_add_pss_data(uint32_t vdc_num, fu_vdc_ctx *ctx, uint32_t service, pss_datum *key,
                        int key_flags, pss_datum *value, int value_flags);
int fu_vdc_add_pss_key_to_delete(uint32_t vdc_num, fu_vdc_ctx *ctx, uint32_t service,
                                 pss_datum *key, int key_flags);
/* Lookup, at the start of each recovery pass: 0 with the handle of the
 * service registered as `pss_type` stored in *handle; any other result
 * means no service, and the pass is skipped. */
int fu_pss_service_get(uint32_t pss_type, uint32_t *handle);

enum { PSS2_LOC_FIRST = 1, PSS2_LOC_NEXT = 3 };

/* Reading, during recovery: one cursor per service, placed on the first
 * record (PSS2_LOC_FIRST) or moved to the next (PSS2_LOC_NEXT), `one` = 1;
 * `scratch` is a word of the caller's that the plugin never reads. 0 when
 * the cursor stands on a record, else an error code: at the end of the
 * records too, which ends every walk. */
int pss2_move2location(uint32_t *service_ref, int one, int where, uint32_t *scratch);
/* Datum of the key / value at the cursor, valid until the cursor moves; a
 * nonzero *err is an error code and the pointer is then not to be used. */
pss_datum *pss2_getkey(uint32_t handle, int *err);
pss_datum *pss2_getvalue(uint32_t handle, int *err);
/* Printable text of an error code, for messages only; never null. */
const char *syserr2str(int code);

#ifdef __cplusplus
}
static_assert(offsetof(fu_global_t, vdc_num) == 4);
static_assert(offsetof(fu_global_t, vdc) == 8);
static_assert(offsetof(pss_service_arg, word1) == 4);
static_assert(offsetof(pss_service_arg, name) == 8);
static_assert(offsetof(pss_service_arg, word9) == 36);
static_assert(offsetof(pss_service_arg, word10) == 40);
static_assert(sizeof(pss_service_arg) >= 44);
#endif
