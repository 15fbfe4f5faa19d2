/* Interface-property service, as the DF update uses it: set or clear DF bits
 * as a property of one interface. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One interface property request: five words. */
typedef struct l3lif_property_rec {
    uint32_t leading; /* not given a value by the platform */
    uint32_t ifindex;
    uint32_t kind;     /* L3LIF_PROPERTY_KIND_DF */
    uint32_t property; /* L3LIF_PROPERTY_DF_SET or L3LIF_PROPERTY_DF_CLEAR */
    uint32_t value;
} l3lif_property_rec;

enum {
    L3LIF_PROPERTY_KIND_DF = 2,
    L3LIF_PROPERTY_DF_SET = 14,
    L3LIF_PROPERTY_DF_CLEAR = 15,
};

/* Called by the DF update once per non-loopback interface, with `one` = 1
 * and the stored MTS queue handle, on which the host later answers. The
 * record lives on the caller's stack for the call only. 0 when the request
 * was taken, else the host's refusal code; the plugin does not look at it. */
int l3lif_pgm_property_for_if(int one, l3lif_property_rec *rec, uint32_t mts_q_handle);

#ifdef __cplusplus
}
static_assert(sizeof(l3lif_property_rec) == 20);
#endif
