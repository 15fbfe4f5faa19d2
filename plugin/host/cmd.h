/* CLI command-response service: reading a show request and answering it. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cmd_req cmd_req; /* the host's request; opaque to the plugin */

/* One printable value, filled by cmd_prt_arg_make and reused per line. */
typedef struct cmd_prt_arg {
    uint32_t tag;
    uint32_t len;
    uint8_t value[88];
} cmd_prt_arg;

/* Attribute tags of the show requests, and print tags. The print tag says how
 * the host renders the value: the 0x11../0x22.. tags as an unsigned number of
 * the argument's length, CMD_TAG_STATE as text. */
enum {
    CMD_TAG_OIF_EXTRA1 = 0x01600001,       /* OIF listing: accepted, ignored */
    CMD_TAG_OIF_EXTRA2 = 0x01600002,       /* OIF listing: accepted, ignored */
    CMD_TAG_OIFLIST_INDEX = 0x11600003,    /* OIF listing's index; printed index / DI */
    CMD_TAG_REF_COUNT = 0x11600004,        /* printed reference count */
    CMD_TAG_STATE = 0x30600005,            /* printed state, as text */
    CMD_TAG_DI_OIFLIST_INDEX = 0x22600006, /* DI listing's index; printed DI / index */
    CMD_TAG_DI_REF_COUNT = 0x11600007,     /* printed DI reference count */
};

/* cmd_req_attr_getnext's answer when no attribute is left. */
#define CMD_NO_ATTRIBUTE (-1)

/* All of these are called from inside the show callback and the print
 * operations, on the request the host handed in; the answer is complete
 * when the callback returns. */
/* Reading the request: the tag of the next attribute, its value address in
 * *value (read as one 32-bit word, only for tags the plugin uses);
 * CMD_NO_ATTRIBUTE when none is left. */
int32_t cmd_req_attr_getnext(cmd_req *req, void **value, uint32_t *len);
/* The request's cookie and its length (*len zeroed by the caller first), or
 * null when it has none. */
void *cmd_req_cookie_get(cmd_req *req, uint32_t *len);
/* Answers with a negative response / with printed text (every not-found
 * answer), flags 0. The result is handed back to the host as the show
 * callback's result. */
int cmd_rsp_send_nok(cmd_req *req, int flags, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
int cmd_prt_send_nok(cmd_req *req, int flags, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
/* Fills a print argument from `len` bytes of `value`, rendered by `tag`. */
void cmd_prt_arg_make(cmd_prt_arg *arg, uint32_t tag, const void *value, uint32_t len);
/* Prints one line into the response; the argument's rendering replaces the
 * format's "%s". The last line's result is what a print operation returns. */
int cmd_prt(cmd_req *req, const char *fmt, cmd_prt_arg *arg);

#ifdef __cplusplus
}
#endif
