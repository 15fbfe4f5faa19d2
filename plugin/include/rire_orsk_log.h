/* The plugin's one logging statement.
 *
 * Every diagnostic is formatted once into the host's rire_log_buf (1024 bytes
 * at most) and handed to three sinks of the host's debug facility: the event
 * history (when its subtype filter lets it through), the debug console (when
 * its level is switched on) and, unconditionally, the persistent event log.
 * The wrapper names the logging function and source line. Nothing here
 * allocates; nothing here can fail from the caller's point of view. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RIRE_ORSK_LOG_LEVEL_ERROR 102u
#define RIRE_ORSK_LOG_LEVEL_TRACE 104u

/* The record the event history and the event log receive: the level code,
 * then the wrapped text, NUL-terminated and cut to fit. The length handed
 * with it is RIRE_ORSK_EVENT_LEN of the text's length: code, text and
 * terminator. */
#define RIRE_ORSK_EVENT_TEXT_SIZE 512u
typedef struct rire_orsk_event_rec {
    uint32_t level;
    char text[RIRE_ORSK_EVENT_TEXT_SIZE];
} rire_orsk_event_rec;
#define RIRE_ORSK_EVENT_LEN(text_len)                                                              \
    ((uint32_t)(offsetof(rire_orsk_event_rec, text) + (text_len) + 1))

void rire_orsk_trace(const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
void rire_orsk_trace_error(const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus
}

static_assert(offsetof(rire_orsk_event_rec, text) == 4);
static_assert(sizeof(rire_orsk_event_rec) == 516);
#endif

/* Formats name the logging function themselves where the message shows it
 * ("%s: ..." with __func__); the wrapper always does. */
#define RIRE_TRACE(...) rire_orsk_trace(__func__, __LINE__, __VA_ARGS__)
#define RIRE_ERROR(...) rire_orsk_trace_error(__func__, __LINE__, __VA_ARGS__)
/* For helpers that log on behalf of the operation that called them. */
#define RIRE_TRACE_AS(func, ...) rire_orsk_trace(func, __LINE__, __VA_ARGS__)
#define RIRE_ERROR_AS(func, ...) rire_orsk_trace_error(func, __LINE__, __VA_ARGS__)
