/* Entry point, callback vector and the small frame operations: the stored
 * MTS queue handle, queue resets and the request re-key by message swap. */
#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

uint32_t mts_q_handle;

void rire_orsk_set_q_handle(uint32_t q_handle) {
    mts_q_handle = q_handle;
}

uint32_t rire_orsk_get_q_handle(void) {
    return mts_q_handle;
}

/* Every message is acceptable to this platform; the opcode is only read. */
int32_t rire_orsk_mts_opc_check(mts_msg *msg) {
    (void)mts_opc_get(msg);
    return 0;
}

void rire_orsk_hw_update_req_swap(mts_msg *old_msg, mts_msg *new_msg) {
    uint32_t old_id = mts_msg_id_get(old_msg);
    uint32_t new_id = mts_msg_id_get(new_msg);
    rire_orsk_hw_update_req_q_update(old_id, new_id);
}

/* Drops every request from the queue without freeing it: the records stay
 * in PSS until recovery reads them back or a completion deletes them. */
int32_t rire_orsk_hw_update_req_q_init(void) {
    hw_update_req_q.head = nullptr;
    hw_update_req_q.ops_word = nullptr;
    hw_update_req_q.count = 0;
    return 0;
}

int32_t rire_orsk_oiflist_db_init(void) {
    return rire_orsk_hw_update_req_q_init();
}

int32_t rire_orsk_oiflist_di_update(void) {
    return 1;
}

void rire_orsk_flush_batched_updates(void) {}

/* Writes only the named slots; the host's bytes 1..3 and slots 20, 60, 80
 * and 84 keep what the host put there. */
void rire_orsk_platform_api_init(rire_orsk_platform_api *api) {
    api->pltfm_type = RIRE_ORSK_PLTFM_TYPE;
    api->pltfm_flags = RIRE_ORSK_PLTFM_FLAGS;
    api->set_q_handle = rire_orsk_set_q_handle;
    api->mts_opc_check = rire_orsk_mts_opc_check;
    api->hw_update_done = rire_orsk_hw_update_done;
    api->df_update = rire_orsk_df_update;
    api->oiflist_alloc = rire_orsk_oiflist_alloc;
    api->oiflist_link_update = rire_orsk_oiflist_link_update;
    api->oiflist_hw_update_done = rire_orsk_oiflist_hw_update_done;
    api->oiflist_di_update = rire_orsk_oiflist_di_update;
    api->oiflist_delete = rire_orsk_oiflist_delete;
    api->pss_open_file = rire_orsk_pss_open_file;
    api->pss_recover = rire_orsk_pss_recover;
    api->pss_buf_commit = rire_orsk_pss_buf_commit;
    api->hw_update_req_swap = rire_orsk_hw_update_req_swap;
    api->igmp_snoop_config = rire_orsk_igmp_snoop_config;
    api->snoop_omf_config = rire_orsk_snoop_omf_config;
    api->check_lc_download_db = rire_orsk_check_lc_download_db;
    api->show = rire_orsk_show;

    rire_orsk_hw_update_req_q_init();

    RIRE_TRACE("%s: mts_q_handle %d", __func__, mts_q_handle);
    RIRE_TRACE("%s: Completed init \n", __func__);
}
