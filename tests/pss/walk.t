# Each recovery pass looks its service up, walks it record by record (place
# the cursor, fetch the key, fetch the value) and stops at the first fetch
# that fails as it stops at the end of the records. A refused lookup ends
# only its own pass.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Both databases empty.
recover
    result 0
log-of func=pss
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db: No hw update req info found \n"

# Keys of other lengths. A shorter one fills only its own bytes of
# recovery's key word, zeroed before the walk and not yet written by a longer
# key (the store presents shorter keys first): 05 00 rebuilds request 5. A
# longer one is cut to four bytes; a pending-DI key hands out its low 16 bits
# only.
pss put db=hw_update key=0x0500 value=0x0000000001010101000800640000000c00000000
pss put db=hw_update key=0x010203040506 value=0x0000000001010101000800650000000d00000000
pss put db=hw_update key=0x0a000000 value=0x0000000001010101000800660000000e00000000
pss put db=pending_di key=0x07 value=0x01010000
pss put db=pending_di key=0x09000200ffff value=0x01010000
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 5 indexes reserved again
dump queue
    hw_update_req_q: 3 requests
      req_id 5 type 1, 1 held: DI 100 (oiflist 12, ref 1)
      req_id 10 type 1, 1 held: DI 102 (oiflist 14, ref 1)
      req_id 67305985 type 1, 1 held: DI 101 (oiflist 13, ref 1)
dump bitmap type=1
    oiflist type 1: 5 allocated: 7,9,12-14 (5 re-alloc calls)

# A refused lookup: its error, and the other pass runs.
fault pss.lookup.refuse service=pending_di
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 3 indexes reserved again
log-of func=pending_di_db
    error "rire_orsk_pss_recover_pending_di_db(_):ERROR: Error restoring Pending DI DB\n"
fault off pss.lookup.refuse
fault pss.lookup.refuse service=hw_update
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 0 hardware-update records: 0 requests rebuilt, 2 indexes reserved again
log-of func=hw_update_db
    error "rire_orsk_pss_recover_hw_update_db(_):ERROR: Error restoring HW update req DB\n"
fault off pss.lookup.refuse

# A failed fetch ends the walk after the records before it: the key of the
# second hardware-update record, the value of the first pending-DI record.
fault pss.getkey.fail service=hw_update at=2
fault pss.getvalue.fail service=pending_di at=1
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
log-of func=pss
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 5 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(_): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(_): ERROR - getkey failed for service 277 error injected fetch failure"
dump queue
    hw_update_req_q: 1 request
      req_id 5 type 1, 1 held: DI 100 (oiflist 12, ref 1)
fault reset

# The first key fetch fails, and the third move.
fault pss.getkey.fail service=pending_di at=1
fault pss.move.refuse service=hw_update at=3
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 2 hardware-update records: 2 requests rebuilt, 2 indexes reserved again
log-of func=pss_get
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - getkey failed for service 276 error injected fetch failure\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(_): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(_): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(_): ERROR - m2l failed for srv 115 err refused by the framework"
