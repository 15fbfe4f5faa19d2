/* MTS messages, as far as the plugin reads them: opcode and message id. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mts_msg mts_msg; /* the host's message; opaque to the plugin */

/* The five answers to a hardware-update request. Each completes the request
 * whose message id it carries, and that is all the plugin does with any of
 * them: what an answer says, and its name, are the MTS service's. The four
 * besides 0x12801 are named here by their hex value. Any other opcode
 * completes nothing. */
enum {
    MTS_OPC_HW_UPDATE_DONE = 0x12801,
    MTS_OPC_HW_UPDATE_ANSWER_12802 = 0x12802,
    MTS_OPC_HW_UPDATE_ANSWER_12803 = 0x12803,
    MTS_OPC_HW_UPDATE_ANSWER_12827 = 0x12827,
    MTS_OPC_HW_UPDATE_ANSWER_12828 = 0x12828,
};

/* Read by mts_opc_check and by the completion of a hardware update, inside
 * the callback the message came with; none of them changes the message. */
/* The message's opcode. */
uint32_t mts_opc_get(mts_msg *msg);
/* Printable name of an opcode, for the completion trace only; never null. */
const char *mts_opc_name_get(uint32_t opcode);
/* The 32-bit message id: the req_id of the request the message belongs to. */
uint32_t mts_msg_id_get(mts_msg *msg);

#ifdef __cplusplus
}
#endif
