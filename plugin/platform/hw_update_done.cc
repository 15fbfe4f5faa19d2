/* Completion of a hardware update: the answer to a request retires it, its
 * PSS record is deleted and every DI it held is released, newest first. */
#include <stdlib.h>

#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

namespace {

/* The answer opcodes that complete a request. */
bool rire_orsk_is_hw_update_answer(uint32_t opcode) {
    switch (opcode) {
    case MTS_OPC_HW_UPDATE_DONE:
    case MTS_OPC_HW_UPDATE_ANSWER_12802:
    case MTS_OPC_HW_UPDATE_ANSWER_12803:
    case MTS_OPC_HW_UPDATE_ANSWER_12827:
    case MTS_OPC_HW_UPDATE_ANSWER_12828:
        return true;
    default:
        return false;
    }
}

/* The PSS record goes before any DI is released, so a restart in between
 * can never rebuild a request whose DIs are already gone. */
void rire_orsk_hw_update_req_q_delete(rire_orsk_hw_update_req *req) {
    const uint32_t req_id = req->req_id;
    rire_orsk_pss_delete_hw_update_info(req);
    rire_orsk_di_hold_q_elem *elem;
    while ((elem = static_cast<rire_orsk_di_hold_q_elem *>(dequeue_head(&req->hold_q))) !=
           nullptr) {
        RIRE_TRACE("%s:processing DI:%d from hold_q for req_id:%d\n", __func__, elem->di, req_id);
        free(elem);
    }
    RIRE_TRACE("%s: Done with hw_update request:%d\n", __func__, req_id);
    free(req);
}

} // namespace

int32_t rire_orsk_hw_update_done(mts_msg *answer) {
    const uint32_t opcode = mts_opc_get(answer);
    RIRE_TRACE("%s: hw_update done opcode:%s(%d)\n", __func__, mts_opc_name_get(opcode), opcode);
    if (!rire_orsk_is_hw_update_answer(opcode)) {
        RIRE_ERROR("Unknown opcode: %d\n", opcode);
        return 1;
    }
    rire_orsk_hw_update_req *req = rire_orsk_hw_update_req_q_remove(mts_msg_id_get(answer));
    if (req != nullptr)
        rire_orsk_hw_update_req_q_delete(req);
    return 1;
}
