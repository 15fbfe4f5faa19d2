# PSS faults: the plugin goes on when the store says no.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# 1. Requests 7, 8 and 9 hold a DI each and are stored. The store refuses to
#    delete request 7: its answer still retires it, and PSS keeps a stale
#    record.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
link-update req=8 type=1 old-index=14 old-di=301 new-index=15 new-di=401
    result 1 (held)
link-update req=9 type=1 old-index=16 old-di=302 new-index=17 new-di=402
    result 1 (held)
flush
    committed 3 updates: 3 writes
fault pss.delete.refuse service=hw_update
hw-done id=7
    result 1
    request 7 done, released DI 300
    warning: the plugin gave up a PSS update: the framework refused the deletion
dump queue
    hw_update_req_q: 2 requests
      req_id 8 type 1, 1 held: DI 301 (oiflist 14, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
flush
    committed 0 updates
dump pss db=hw_update
    hw_update (21): 3 records
      req_id 7 type 1, 1 held: DI 300 (oiflist 12)
        key 07000000  value 00000000010101010008002c0100000c00000000
      req_id 8 type 1, 1 held: DI 301 (oiflist 14)
        key 08000000  value 00000000010101010008002d0100000e00000000
      req_id 9 type 1, 1 held: DI 302 (oiflist 16)
        key 09000000  value 00000000010101010008002e0100001000000000
expect record db=hw_update key=7 held=300:12
fault off pss.delete.refuse

# 2. After a restart the store refuses to move onto its second record:
#    recovery rebuilds the stale request 7 it read first and stops there;
#    8 and 9 stay in PSS, and the process runs on.
fault pss.move.refuse service=hw_update at=2
dump faults
    fault                restart  now
    pss.register.refuse  kept     off
    pss.lookup.refuse    kept     off
    pss.lookup.zero      kept     off
    pss.write.refuse     kept     off
    pss.delete.refuse    kept     off
    pss.move.refuse      kept     on service=hw_update at=2
    pss.getkey.fail      kept     off
    pss.getvalue.fail    kept     off
    tlv.add.refuse       kept     off
    tlv.next.fail        kept     off
    index.realloc.error  kept     off
    heartbeat.send.error kept     off
    pdb.modinfo.error    cleared  off
    libc.malloc.fail     kept     off
    im.loopback.error    cleared  off
    l3lif.program.error  cleared  off
    disk.full            kept     off
    pss.commit.kill      kept     off
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
dump queue
    hw_update_req_q: 1 request
      req_id 7 type 1, 1 held: DI 300 (oiflist 12, ref 1)
expect stat num_hw_update_req_restored=1
expect record db=hw_update key=8 held=301:14
hw-done id=7
    result 1
    request 7 done, released DI 300

# 3. The lookup succeeds but hands back handle 0, which names no service:
#    each walk logs its entry message and finds nothing, so the pass reports
#    an empty database; the other pass recovers as before.
fault reset
fault pss.lookup.zero service=hw_update
restart
    process restart: 1 unflushed update lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 0 hardware-update records: 0 requests rebuilt, 0 indexes reserved again
log-of func=recover,pss_get
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(_): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 0\n"
    trace "rire_orsk_pss_get_first_hw_update_data(_): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db: No hw update req info found \n"
fault off pss.lookup.zero
fault pss.lookup.zero service=pending_di
pending-di-insert type=1 index=5 state=1 dis=300:30
flush
    committed 1 update: 1 write
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 3 indexes reserved again
log-of func=pending_di
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 0\n"
    trace "rire_orsk_pss_get_first_pending_di_data(_): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
  rire-host: the plugin gave up 1 PSS update: 1 because the framework refused the deletion
