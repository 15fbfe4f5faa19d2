/* MTS messages, as far as the plugin reads them: opcode and message id. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mts_msg mts_msg; /* the host's message; opaque to the plugin */

uint32_t mts_opc_get(mts_msg *msg);
/* Printable name of an opcode; never null. */
const char *mts_opc_name_get(uint32_t opcode);
uint32_t mts_msg_id_get(mts_msg *msg);

#ifdef __cplusplus
}
#endif
