# The TLV utility or the framework says no. Each refusal is logged under the
# function that met it, the update is given up (what it carved stays in the
# arena until the commit), and PSS lags memory until the same record is
# written again.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# 1. The TLV utility refuses the oif TLV: both encoders report it under
#    their own names, and nothing is queued.
fault tlv.add.refuse
link-update req=7 type=1 old-index=10 old-di=100 new-index=11 new-di=400
    result 1 (held)
    warning: the plugin gave up a PSS update: the TLV utility refused its value
pending-di-insert type=1 index=5 state=1 dis=300:30
    warning: the plugin gave up a PSS update: the TLV utility refused its value
log-of func=pss
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"
    error "rire_orsk_get_hw_update_pss_info(_):ERROR: Error adding tlv type = 1 size 8\n"
    error "rire_orsk_pss_insert_hw_update_info(_):ERROR: Failed to get the PSS value info for hw_update"
    error "rire_orsk_get_pending_di_pss_info(_):ERROR: Error adding tlv type = 1 size 8\n"
    error "rire_orsk_pss_insert_pending_di_info(_):ERROR: Failed to get the PSS value info for Oiflist"
dump pending
    0 queued updates
dump arena
    pss_buf: 80 of 65536 bytes in use
fault off tlv.add.refuse

# 2. The framework refuses the writes: the store and the writer each log it,
#    and the writer still traces its key.
fault pss.write.refuse service=hw_update
fault pss.write.refuse service=pending_di
link-update req=7 type=1 old-index=20 old-di=200 new-index=21 new-di=401
    result 1 (held)
    warning: the plugin gave up a PSS update: the framework refused the write
pending-di-insert type=2 index=5 state=1
    warning: the plugin gave up a PSS update: the framework refused the write
log-of func=pss
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 200 index 20\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"
    error "rire_orsk_pss_buf_store(_):ERROR: ERROR: rire_orsk_pss_buf_store failed"
    error "rire_orsk_pss_insert_hw_update_info(_):ERROR: ERROR: rire_orsk_pss_insert_hw_update_info failed\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 7\n"
    error "rire_orsk_pss_buf_store(_):ERROR: ERROR: rire_orsk_pss_buf_store failed"
    error "rire_orsk_pss_insert_pending_di_info(_):ERROR: ERROR: rire_orsk_pss_insert_pending_di_info failed\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 131077\n"
dump pending
    0 queued updates
fault reset

# 3. The framework refuses a deletion: only the store logs it.
fault pss.delete.refuse service=pending_di
pending-di-delete type=1 index=5
    warning: the plugin gave up a PSS update: the framework refused the deletion
log-of func=pss
    error "rire_orsk_pss_buf_delete(_):ERROR: ERROR: rire_orsk_pss_buf_delete failed"
    trace "rire_orsk_pss_delete_pending_di_info(_): rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 65541 \n"
fault reset

# 4. The next write of request 7 stores it whole.
link-update req=7 type=1 old-index=30 old-di=300 new-index=31 new-di=402
    result 1 (held)
flush
    committed 1 update: 1 write
dump pss
    pending_di (20): 0 records
    hw_update (21): 1 record
      req_id 7 type 1, 3 held: DI 300 (oiflist 30), DI 200 (oiflist 20), DI 100 (oiflist 10)
        key 07000000  value 00000000010301010018002c0100001e000000c800000014000000640000000a00000000

# 5. A service that failed to register refuses every write; open reports
#    the status of the hw_update registration only.
fault pss.register.refuse service=pending_di
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 3 indexes reserved again
pending-di-insert type=1 index=6 state=1
    warning: the plugin gave up a PSS update: the framework refused the write
log-of func=pending
    error "rire_orsk_pss_recover_pending_di_db(_):ERROR: Error restoring Pending DI DB\n"
    error "rire_orsk_pss_insert_pending_di_info(_):ERROR: ERROR: rire_orsk_pss_insert_pending_di_info failed\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 65542\n"
fault reset
fault pss.register.refuse service=hw_update
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 6160386, recovered from PSS
    recovered 0 pending-DI records and 0 hardware-update records: 0 requests rebuilt, 0 indexes reserved again
  rire-host: the plugin gave up 6 PSS updates: 2 because the TLV utility refused its value, 3 because the framework refused the write, 1 because the framework refused the deletion
