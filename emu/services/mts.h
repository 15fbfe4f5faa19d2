// MTS messages behind plugin/host/mts.h: the emulator's message is just an opcode
// and a message id. Tests and tools build messages with make() and hand their
// addresses to the plugin; the plugin reads them with mts_opc_get and
// mts_msg_id_get (a null message reads as 0). The names of the opcodes are
// the MTS service's; the emulator's choice is to name MTS_OPC_HW_UPDATE_DONE
// alone and to render any other opcode, the four other
// answers included, as hex text ("0x12802") rather than invent a name, in a
// static buffer that the next call overwrites (single host thread). Every
// call is recorded in emu::base::journal: the getters with the message's opcode and
// id, the name lookup with the opcode.
#pragma once

#include <cstdint>

#include "plugin/host/mts.h"

// The host's message, completing the type that plugin/host/mts.h leaves opaque.
struct mts_msg {
    uint32_t opcode;
    uint32_t msg_id;
};

namespace emu::services::mts {

inline mts_msg make(uint32_t opcode, uint32_t msg_id) {
    return mts_msg{opcode, msg_id};
}

} // namespace emu::services::mts
