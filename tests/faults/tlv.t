  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# TLV faults: a stored request whose first TLV cannot be fetched does not
# come back from a restart, since recovery rebuilds a request from its held
# DIs; the process runs on.
link-update req=8 type=1 old-index=14 old-di=301 new-index=15 new-di=401
    result 1 (held)
flush
    committed 1 update: 1 write
fault tlv.next.fail at=1
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 0 requests rebuilt, 0 indexes reserved again
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 8 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_next_hw_update_data(_): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(_): ERROR - m2l failed for srv 115 err no more records"
dump queue
    hw_update_req_q: 0 requests
expect no-request req=8
expect record db=hw_update key=8 type=1 held=301:14
hw-done id=8
    result 1
    no request changed

# The TLV utility is not told which PSS service an array is for, so its
# refusal counts the utility's own calls: after one call goes through, every
# TLV is refused until the fault is off. A scenario refuses one service's
# record by the command it puts under the fault.
fault reset
fault tlv.add.refuse after=1
link-update req=9 type=1 old-index=16 old-di=302 new-index=17 new-di=402
    result 1 (held)
pending-di-insert type=1 index=5 state=1 dis=300:30
    warning: the plugin gave up a PSS update: the TLV utility refused its value
fault off tlv.add.refuse
link-update req=10 type=1 old-index=18 old-di=303 new-index=19 new-di=403
    result 1 (held)
dump pending
    2 queued updates
      write hw_update req_id 9 type 1, 1 held: DI 302 (oiflist 16)
        key 09000000  value 00000000010101010008002e0100001000000000
      write hw_update req_id 10 type 1, 1 held: DI 303 (oiflist 18)
        key 0a000000  value 00000000010101010008002f0100001200000000
flush
    committed 2 updates: 2 writes
  rire-host: the plugin gave up 1 PSS update: 1 because the TLV utility refused its value
