/* Designated-forwarder update: sets (opc 1) or clears the ordinal's bit as a
 * property of every non-loopback interface of a list, through the host's
 * interface-property service. A validation pass over the whole list runs
 * first, so a loopback query that reports an error programs nothing. Over
 * long lists the host's heartbeat is kept alive every 100 interfaces. */
#include "plugin/host/im.h"
#include "plugin/host/l3lif.h"
#include "plugin/host/rire.h"
#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

namespace {

constexpr uint32_t kHeartbeatEvery = 100;

bool rire_orsk_is_loopback(uint32_t ifindex, int32_t *status) {
    return im_is_ifindex_loopback0(ifindex, status) != 0 ||
           im_is_ifindex_loopback(ifindex, status) != 0;
}

void rire_orsk_df_program(const char *func, uint32_t ifindex, bool add, uint32_t df_mask) {
    l3lif_property_rec rec;
    rec.ifindex = ifindex;
    rec.kind = L3LIF_PROPERTY_KIND_DF;
    rec.property = add ? L3LIF_PROPERTY_DF_SET : L3LIF_PROPERTY_DF_CLEAR;
    rec.value = df_mask;
    RIRE_TRACE_AS(func, "%s: opc: %s df_mask: %x\n", func, add ? "SET" : "CLEAR", df_mask);
    l3lif_pgm_property_for_if(1, &rec, mts_q_handle);
}

} // namespace

uint32_t rire_orsk_df_update(uint8_t df_ordinal, int32_t opc, uint32_t num_oifs,
                             const uint32_t *ifindexes) {
    const bool add = opc == RIRE_ORSK_DF_OPC_ADD;
    const uint32_t df_mask = 1u << ((df_ordinal - 1u) % 32u);
    int32_t status = 0;

    RIRE_TRACE("%s: Received df_ordinal: %d, num_oifs:%d, opc:%s                          "
               "df_mask:%d\n",
               __func__, df_ordinal, num_oifs, add ? "Add" : "Delete", df_mask);
    if (num_oifs == 0) {
        RIRE_TRACE("%s num oifs = 0 \n", __func__);
        return RIRE_ORSK_REQ_DONE;
    }
    for (uint32_t i = 0; i < num_oifs; i++)
        rire_orsk_is_loopback(ifindexes[i], &status);
    if (status != 0) {
        RIRE_ERROR("%s Failed to allocate a msg from ELTM err(%d)  \n", __func__, status);
        return 0;
    }
    uint32_t since_heartbeat = 0;
    for (uint32_t i = 0; i < num_oifs; i++) {
        if (rire_orsk_is_loopback(ifindexes[i], &status)) {
            since_heartbeat++;
            continue;
        }
        rire_orsk_df_program(__func__, ifindexes[i], add, df_mask);
        if (since_heartbeat == kHeartbeatEvery) {
            rire_update_and_send_heartbeat(0);
            since_heartbeat = 1;
        } else {
            since_heartbeat++;
        }
    }
    if (status == 0)
        return RIRE_ORSK_REQ_DONE;
    RIRE_ERROR("%s Failed to send the request error (%d) \n", __func__, status);
    return 0;
}
