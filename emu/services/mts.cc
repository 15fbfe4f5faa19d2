#include "emu/services/mts.h"

#include <cstdio>

#include "emu/base/journal.h"

namespace emu::services::mts {
namespace {

void record(const char *op, const mts_msg *msg) {
    if (msg == nullptr)
        emu::base::journal::record(op);
    else
        emu::base::journal::record(op, {msg->opcode, msg->msg_id});
}

} // namespace
} // namespace emu::services::mts

extern "C" uint32_t mts_opc_get(mts_msg *msg) {
    emu::services::mts::record("mts_opc_get", msg);
    return msg == nullptr ? 0 : msg->opcode;
}

extern "C" uint32_t mts_msg_id_get(mts_msg *msg) {
    emu::services::mts::record("mts_msg_id_get", msg);
    return msg == nullptr ? 0 : msg->msg_id;
}

extern "C" const char *mts_opc_name_get(uint32_t opcode) {
    static char unnamed[16];
    emu::base::journal::record("mts_opc_name_get", {opcode});
    if (opcode == MTS_OPC_HW_UPDATE_DONE)
        return "MTS_OPC_HW_UPDATE_DONE";
    std::snprintf(unnamed, sizeof unnamed, "0x%x", opcode);
    return unnamed;
}
