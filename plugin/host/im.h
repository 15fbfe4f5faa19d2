/* Interface manager, as the DF update uses it: is an interface a loopback. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Nonzero when the interface is loopback0 / a loopback; either may store an
 * error code in *status. */
int im_is_ifindex_loopback0(uint32_t ifindex, int32_t *status);
int im_is_ifindex_loopback(uint32_t ifindex, int32_t *status);

#ifdef __cplusplus
}
#endif
