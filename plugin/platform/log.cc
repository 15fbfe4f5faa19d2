/* The logging statement: one message, formatted once into rire_log_buf, then
 * handed to the event history (if its subtype passes the filter), the debug
 * console (if its level is on) and the persistent event log (always). */
#include "plugin/include/rire_orsk_log.h"

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "plugin/host/log.h"

namespace {

/* A level: its code (also the event-history subtype) and the wrapper format
 * that names the logging function and line in front of the message. */
struct rire_orsk_log_level {
    uint32_t code;
    const char *wrapper;
};

const rire_orsk_log_level kTrace = {RIRE_ORSK_LOG_LEVEL_TRACE, "%s(%d): %s"};
const rire_orsk_log_level kError = {RIRE_ORSK_LOG_LEVEL_ERROR, "%s(%d):ERROR: %s"};

uint32_t rire_orsk_wrap_event(rire_orsk_event_rec *rec, const rire_orsk_log_level &level,
                              const char *func, int line) {
    rec->level = level.code;
    snprintf(rec->text, sizeof rec->text, level.wrapper, func, line, rire_log_buf);
    return RIRE_ORSK_EVENT_LEN(strlen(rec->text));
}

void rire_orsk_emit(const rire_orsk_log_level &level, const char *func, int line, const char *fmt,
                    va_list ap) {
    rire_orsk_event_rec rec;

    vsnprintf(rire_log_buf, RIRE_LOG_BUF_SIZE, fmt, ap);

    if (sdwrap_hist_event_subtype_check(RIRE_LOG_HIST_ID, level.code) == 0) {
        uint32_t len = rire_orsk_wrap_event(&rec, level, func, line);
        sdwrap_hist_event(RIRE_LOG_HIST_ID, len, &rec);
    }
    if (sdwrap_chk_int(level.code, 0, 0, 1))
        buginf(1, sdwrap_dbg_modname, 0, level.wrapper, func, line, rire_log_buf);
    uint32_t len = rire_orsk_wrap_event(&rec, level, func, line);
    sdwrap_his_log_event_for_uuid_inst(RIRE_LOG_SERVICE_UUID, RIRE_LOG_HIST_ID, 1, 0, len, &rec);
}

} // namespace

void rire_orsk_trace(const char *func, int line, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    rire_orsk_emit(kTrace, func, line, fmt, ap);
    va_end(ap);
}

void rire_orsk_trace_error(const char *func, int line, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    rire_orsk_emit(kError, func, line, fmt, ap);
    va_end(ap);
}
