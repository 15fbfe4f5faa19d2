/* Interface manager, as the DF update uses it: is an interface a loopback. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Asked by the DF update for every interface of its list, twice: once in
 * the validation pass, once before programming; im_is_ifindex_loopback only
 * when im_is_ifindex_loopback0 said no. Nonzero when the interface is
 * loopback0 / any loopback. A query that fails answers 0 and stores its
 * error code in *status; one that succeeds leaves *status alone, so the
 * caller zeroes it once and reads it after a whole pass. */
int im_is_ifindex_loopback0(uint32_t ifindex, int32_t *status);
int im_is_ifindex_loopback(uint32_t ifindex, int32_t *status);

#ifdef __cplusplus
}
#endif
