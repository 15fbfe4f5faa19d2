/* The PSS scratch arena: 65536 static bytes handed out back to back, with no
 * alignment, header or zeroing, and released all together when the host's
 * framework calls pss_buf_commit after performing the queued updates. Every
 * key, value and datum the plugin hands to PSS is carved from it, so the PSS
 * path never touches the heap.
 *
 * Also here: registering the two services (pss_open_file) and queueing one
 * write (store: 1 when queued) or one deletion (delete: 0 when queued) with
 * the host's framework, which keeps only the datum addresses. */
#pragma once

#include <stdint.h>

#include "plugin/include/rire_orsk_platform_api.h"

extern "C" {
extern uint8_t pss_buf[RIRE_ORSK_PSS_BUF_SIZE];
extern uint32_t pss_buf_used;   /* bytes handed out since the last commit */
extern uint8_t *pss_buf_cursor; /* next free byte; null means the start of pss_buf */
}

/* Writes a datum into an arena block. Blocks carry no alignment, so the
 * descriptor is written bytewise. */
void rire_orsk_pss_datum_set(pss_datum *datum, void *data, uint32_t len);
