/* Objects and operations of the host process itself: the platform-independent
 * oiflist registry, the oiflist index bitmaps, the PSS recovery statistics,
 * the heartbeat and the index allocator behind the bitmaps. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Asked by recovery for every oiflist index a stored record names: nonzero
 * when the platform-independent layer has an oiflist of this type under
 * this index (then the index is not reserved again). */
int rire_pi_check_oiflist_exists(uint32_t type, uint32_t oiflist_index);

/* One allocator handle per oiflist type, subscripted by the type; types above
 * RIRE_OIFLIST_TYPE_MAX have no bitmap. */
#define RIRE_OIFLIST_TYPE_MAX 2
extern void *rire_oiflist_index_bitmap[RIRE_OIFLIST_TYPE_MAX + 1];

/* Called by recovery, with count 1, for each stored index the host no
 * longer has; possibly more than once for one index. Marks `count` indexes
 * from `start` as allocated in `bitmap`; 0 on success, which the plugin does
 * not look at. */
int index_range_re_alloc_blk(void *bitmap, uint32_t start, uint32_t count);

/* The host's recovery counters; recovery increments the three named, one per
 * index reserved / record restored, and reads or resets nothing. */
typedef struct rire_pss_recovery_stats_t {
    uint32_t host_counters[17];
    uint32_t num_index_realloc; /* word 17 */
    uint32_t host_counters2[2];
    uint32_t num_pending_di_restored;    /* word 20 */
    uint32_t num_hw_update_req_restored; /* word 21 */
    uint32_t host_counters3[2];
} rire_pss_recovery_stats_t;

extern rire_pss_recovery_stats_t rire_pss_recovery_stats;

/* Called by the DF update, with flags 0, after every 100 interfaces of a long
 * list, so the host sees the process alive; the result is not looked at. */
int rire_update_and_send_heartbeat(int flags);

#ifdef __cplusplus
}
static_assert(__builtin_offsetof(rire_pss_recovery_stats_t, num_index_realloc) == 68);
static_assert(__builtin_offsetof(rire_pss_recovery_stats_t, num_pending_di_restored) == 80);
static_assert(__builtin_offsetof(rire_pss_recovery_stats_t, num_hw_update_req_restored) == 84);
#endif
