/* The host's debug facility as the logging statement uses it: the shared
 * message buffer, the event history with its subtype filter, the debug
 * console behind a per-level switch, and the service's persistent event log. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Shared by every component of the host process; RIRE_LOG_BUF_SIZE bytes. A
 * component formats at most that many into it, terminator included. */
#define RIRE_LOG_BUF_SIZE 1024
extern char rire_log_buf[RIRE_LOG_BUF_SIZE];
/* The event history the plugin records into, and the service whose
 * persistent event log receives its records. */
#define RIRE_LOG_HIST_ID      0x730000u
#define RIRE_LOG_SERVICE_UUID 384u
/* Names the module on the debug console; only its address is passed. */
extern char sdwrap_dbg_modname[];

/* The logging statement calls these, in this order, for every message, from
 * whatever callback logs; they copy what they keep. Only the two filters'
 * results change what the plugin does. */
/* Filter of the event history: 0 when events of `subtype` are recorded,
 * nonzero when filtered out. */
int sdwrap_hist_event_subtype_check(uint32_t hist_id, uint32_t subtype);
/* Appends one event record of `len` bytes, copied, to the event-history
 * buffer. */
void sdwrap_hist_event(uint32_t hist_id, uint32_t len, const void *record);
/* Filter of the debug console, called (level, 0, 0, 1): nonzero when debug
 * output at `level` is switched on. */
int sdwrap_chk_int(uint32_t level, int a, int b, int c);
/* Prints one line on the debug console; the host formats it from the
 * wrapper format, the function name, the line and rire_log_buf. */
void buginf(int flag, const void *modname, int zero, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
/* Writes one event record, copied, to the service's persistent event log;
 * the result is not looked at. */
int sdwrap_his_log_event_for_uuid_inst(uint32_t uuid, uint32_t hist_id, int one, int zero,
                                       uint32_t len, const void *record);

#ifdef __cplusplus
}
#endif
