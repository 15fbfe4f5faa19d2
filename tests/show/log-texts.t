# Every text the plugin logs, with an action that makes it log it: the one
# place that pins them. `log unnumbered` shows each record as the host's
# event log received it (level, function, wrapper, message), with the
# source line as _. Other tests name a record by a part of its text.
# Not here: the texts of an arena run out (it takes 130 held DIs), of an
# unknown TLV type in a stored value, of a VLAN set without VLANs and of an
# oiflist allocation, which no short rire-host action reaches.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
pss schedule manual
recover
    result 0
log unnumbered
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db: No hw update req info found \n"

# Oiflist lifecycle: the link-update cases, a hold counted up, a re-key.
link-update req=1 type=1 old-index=12 old-di=300 new-index=0 new-di=null
link-update req=1 type=1 old-index=0 old-di=null new-index=13 new-di=400
link-update req=1 type=1 old-di=invalid new-di=invalid
link-update req=1 type=1 old-di=invalid new-index=13 new-di=400
log unnumbered
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 0 new DI 0\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: Case 1: old DI:300, new pltfm index is NULL\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 1b: old pltfm index NULL, new-di(400) Valid\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 0 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 2 old-di(-1)invalid, new-di(-1) invalid\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 3: old-di(-1) Invalid, new-di(400) Valid\n"
link-update req=1 type=1 old-index=12 old-di=300 new-di=invalid
    result 1 (held)
log unnumbered
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 0 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 4: old-di(300) valid, new-di(-1) invalid\n"
    trace "rire_orsk_hw_update_req_q_insert(_): rire_orsk_hw_update_req_q_insert: Inserted req_id:1 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(_): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:1\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: Inserted DI:300 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:1 \n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 12\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 1\n"
link-update req=1 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
log unnumbered
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 5: old-di(300) valid, new-di(400) valid\n"
    trace "rire_orsk_add_di_to_hw_update_req(_): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:1\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:2 \n"
swap old=1 new=2
    request 1 re-keyed to 2
log unnumbered
    trace "rire_orsk_pss_delete_hw_update_info(_): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 1 \n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 12\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 2\n"
    trace "rire_orsk_hw_update_req_q_update(_): rire_orsk_hw_update_req_q_update: Done with swapping req_id old_id:1 new_id:2\n"
oiflist-delete type=1 index=12 di=300
oiflist-hw-done type=3
log unnumbered
    trace "rire_orsk_oiflist_delete(_): rire_orsk_oiflist_delete: oiflist type 1 index 12 dest-index 300\n"
    error "rire_orsk_oiflist_hw_update_done(_):ERROR: rire_orsk_oiflist_hw_update_done: OIF list type unknown: 3 \n"
fault libc.malloc.fail
link-update req=3 type=1 old-index=12 old-di=300 new-di=invalid
    result 0 (not held)
log unnumbered
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 0 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 4: old-di(300) valid, new-di(-1) invalid\n"
    error "rire_orsk_hw_update_req_q_insert(_):ERROR: rire_orsk_hw_update_req_q_insert: Failed to alloc memory\n"
    error "rire_orsk_add_di_to_hw_update_req(_):ERROR: rire_orsk_add_di_to_hw_update_req:Failed to find pending hw_update req_id:3\n"

# The host's pending-DI records, and the store refusing them.
pending-di-insert type=1 index=5 state=1 ref=1 dis=100:12
log unnumbered
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: Inserted DI:100 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:100, ref_count:1 \n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 65541\n"
pending-di-delete type=1 index=5
log unnumbered
    trace "rire_orsk_pss_delete_pending_di_info(_): rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 65541 \n"
fault pss.write.refuse service=pending_di
pending-di-insert type=1 index=5 state=1 ref=1
    warning: the plugin gave up a PSS update: the framework refused the write
log unnumbered
    error "rire_orsk_pss_buf_store(_):ERROR: ERROR: rire_orsk_pss_buf_store failed"
    error "rire_orsk_pss_insert_pending_di_info(_):ERROR: ERROR: rire_orsk_pss_insert_pending_di_info failed\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 65541\n"
fault pss.delete.refuse service=pending_di
pending-di-delete type=1 index=5
    warning: the plugin gave up a PSS update: the framework refused the deletion
log unnumbered
    error "rire_orsk_pss_buf_delete(_):ERROR: ERROR: rire_orsk_pss_buf_delete failed"
    trace "rire_orsk_pss_delete_pending_di_info(_): rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 65541 \n"
fault tlv.add.refuse
pending-di-insert type=1 index=5 state=1 ref=1 dis=100:12
    warning: the plugin gave up a PSS update: the TLV utility refused its value
log unnumbered
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: Inserted DI:100 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:100, ref_count:1 \n"
    error "rire_orsk_get_pending_di_pss_info(_):ERROR: Error adding tlv type = 1 size 8\n"
    error "rire_orsk_pss_insert_pending_di_info(_):ERROR: Failed to get the PSS value info for Oiflist"
fault reset

# Forwarding control: DF updates, snooping and OMF, the line-card filter.
interface add ifindex=10
df-update add ordinal=1 oifs=10
    result 0x200000 (done)
df-update delete ordinal=1 oifs=10
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 1, num_oifs:1, opc:Add                          df_mask:1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 1, num_oifs:1, opc:Delete                          df_mask:1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: CLEAR df_mask: 1\n"
df-update add ordinal=1
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 1, num_oifs:0, opc:Add                          df_mask:1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update num oifs = 0 \n"
interface error ifindex=10 status=-5
df-update add ordinal=2 oifs=10
    result 0 (failed)
log unnumbered
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 2, num_oifs:1, opc:Add                          df_mask:2\n"
    error "rire_orsk_df_update(_):ERROR: rire_orsk_df_update Failed to allocate a msg from ELTM err(-5)  \n"
interface error ifindex=10 status=-5 after=2
df-update add ordinal=2 oifs=10
    result 0 (failed)
log unnumbered
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 2, num_oifs:1, opc:Add                          df_mask:2\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 2\n"
    error "rire_orsk_df_update(_):ERROR: rire_orsk_df_update Failed to send the request error (-5) \n"
igmp-snoop enable vlans=7
    result 0x200000 (done)
omf disable vlans=8
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config Snooping Enable for vlan count 1\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 7, IGMP Snooping Enabled\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config OMF Disable for vlan count 1\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config: Vlan - 8, OMF  Disabled\n"
module slot=3 card=38
lc-download slot=3 db=1
    do not download (0)
module slot=4 card=1
lc-download slot=4 db=1
    download (1)
lc-download slot=4 db=2
    do not download (0)
lc-download slot=5 db=2
    do not download (0)
log unnumbered
    trace "rire_orsk_check_lc_download_db(_): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 3\n"
    trace "rire_orsk_check_lc_download_db(_): Download V4-ROUTES to slot 4\n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0x2 to slot 4\n"
    error "rire_orsk_is_module_dce(_):ERROR: rire_orsk_is_module_dce: failed to get card id for slot 4 \n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0x2 to slot 5\n"
show di tag=5 value=1
  No Oiflists found
log unnumbered
    error "rire_orsk_show_dist_multicast_di(_):ERROR: Received unknown tag 5\n"

# Recovery: request 2, and a pending-DI record of a type without an index
# bitmap that holds a null DI and a garbage index; then keys the store
# cannot fetch, and services the framework does not know.
pending-di-insert type=3 index=9 state=1 ref=1 dis=0:12,100:70000
flush
    committed 6 updates: 4 writes, 2 deletes
recover
    result 0
log unnumbered
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: Inserted DI:0 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:0, ref_count:1 \n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: Inserted DI:100 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:100, ref_count:1 \n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 131081\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 9 type: 3 state: 1 num_hold_di: 2\n"
    error "rire_orsk_pss_recover_pending_di_db(_):ERROR: rire_orsk_pss_recover_pending_di_db: no index bitmap for oiflist type 3, index 9 not reserved\n"
    error "rire_orsk_pss_get_di_hold_q_elem(_):ERROR: rire_orsk_pss_get_di_hold_q_elem: recovered index is garbage 70000 for DI 100\n"
    error "rire_orsk_pss_get_di_hold_q_elem(_):ERROR: rire_orsk_pss_get_di_hold_q_elem: skipping index 12 Di 0\n"
    trace "rire_orsk_pss_get_di_hold_q_elem(_): TLV type oif len:16 \n"
    trace "rire_orsk_pss_get_next_pending_di_data(_): In rire_orsk_pss_get_next_pending_di_data\n"
    trace "rire_orsk_pss_get_next_key(_): ERROR - m2l failed for srv 114 err no more records"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 2 num_hold_di: 1\n"
    trace "rire_orsk_add_di_to_hw_update_req(_): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:2\n"
    trace "rire_orsk_di_hold_q_enqueue(_): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:3 \n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(_): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(_): ERROR - m2l failed for srv 115 err no more records"
fault pss.getkey.fail service=pending_di at=1
fault pss.getkey.fail service=hw_update at=1
recover
    result 0
log unnumbered
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - getkey failed for service 276 error injected fetch failure\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - getkey failed for service 277 error injected fetch failure\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db: No hw update req info found \n"
fault reset
fault pss.lookup.refuse service=pending_di
fault pss.lookup.refuse service=hw_update
recover
    result 0
log unnumbered
    error "rire_orsk_pss_recover_pending_di_db(_):ERROR: Error restoring Pending DI DB\n"
    error "rire_orsk_pss_recover_hw_update_db(_):ERROR: Error restoring HW update req DB\n"
fault reset

# Completion of the recovered request, and an answer opcode that is not one.
hw-done id=2
    result 1
    request 2 done, released DI 300
log unnumbered
    trace "rire_orsk_hw_update_done(_): rire_orsk_hw_update_done: hw_update done opcode:MTS_OPC_HW_UPDATE_DONE(75777)\n"
    trace "rire_orsk_pss_delete_hw_update_info(_): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 2 \n"
    trace "rire_orsk_hw_update_req_q_delete(_): rire_orsk_hw_update_req_q_delete:processing DI:300 from hold_q for req_id:2\n"
    trace "rire_orsk_hw_update_req_q_delete(_): rire_orsk_hw_update_req_q_delete: Done with hw_update request:2\n"
hw-done id=2 opcode=0x12345
    result 1
    no request changed
log unnumbered
    trace "rire_orsk_hw_update_done(_): rire_orsk_hw_update_done: hw_update done opcode:0x12345(74565)\n"
    error "rire_orsk_hw_update_done(_):ERROR: Unknown opcode: 74565\n"
  rire-host: the plugin gave up 3 PSS updates: 1 because the TLV utility refused its value, 1 because the framework refused the write, 1 because the framework refused the deletion
  rire-host: 1 PSS update still queued at the end and never flushed: the process loses them
