# What a process restart keeps, what it loses, and what recovery makes of it.
#
# Two PSS databases survive a restart: hw_update (the plugin's outstanding
# hardware-update requests with their held DIs) and pending_di (the host's
# per-oiflist pending-DI records, which it writes through the plugin).
# Recovery rebuilds the requests, and reserves again, in the host's oiflist
# index bitmaps, every oiflist index that a stored record still names and
# that the host's platform-independent layer no longer has.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
# The framework flushes only when this scenario says so, to show the queue.
pss schedule manual

# 1. The host keeps pending-DI records for three oiflists and writes them to
#    PSS. Oiflist 5 (type 1) holds DI 100 of oiflist 12 and DI 200 of
#    oiflist 13; oiflist 6 (type 2) holds DI 300 of oiflist 40; oiflist 7
#    holds DI 700 of oiflist 70.
pending-di-insert type=1 index=5 state=1 ref=2 dis=100:12,200:13
pending-di-insert type=2 index=6 state=1 ref=1 dis=300:40
pending-di-insert type=1 index=7 state=1 ref=1 dis=700:70
show pending type=1 index=5
  
    Outgoing Interface List Index: 5
    Reference Count: 2
    State: PENDING_HW_UPDATE
          hold_q destination index: 200
            hold_q oiflist index: 13
            Reference count: 1
          hold_q destination index: 100
            hold_q oiflist index: 12
            Reference count: 1
# The host is done with oiflist 7 and deletes its record again. The write
# and the delete both wait in the framework's queue. A key is the oiflist
# index with the oiflist type as a tag: 05000100 is index 5, tag 1.
pending-di-delete type=1 index=7
dump pending
    4 queued updates
      write pending_di oiflist 5 type 1 state 1, 2 held: DI 200 (oiflist 13), DI 100 (oiflist 12)
        key 05000100  value 0101020101001000c80000000d000000640000000c00000000000000
      write pending_di oiflist 6 type 2 state 1, 1 held: DI 300 (oiflist 40)
        key 06000200  value 02010101010008002c0100002800000000000000
      write pending_di oiflist 7 type 1 state 1, 1 held: DI 700 (oiflist 70)
        key 07000100  value 0101010101000800bc0200004600000000000000
      delete pending_di oiflist 7
        key 07000100

# 2. Request 21 holds DI 900 of oiflist 90.
link-update req=21 type=1 old-index=90 old-di=900 new-index=91 new-di=910
    result 1 (held)
flush
    committed 5 updates: 4 writes, 1 delete
dump pss
    pending_di (20): 2 records
      oiflist 5 type 1 state 1, 2 held: DI 200 (oiflist 13), DI 100 (oiflist 12)
        key 05000100  value 0101020101001000c80000000d000000640000000c00000000000000
      oiflist 6 type 2 state 1, 1 held: DI 300 (oiflist 40)
        key 06000200  value 02010101010008002c0100002800000000000000
    hw_update (21): 1 record
      req_id 21 type 1, 1 held: DI 900 (oiflist 90)
        key 15000000  value 0000000001010101000800840300005a00000000

# 3. The platform-independent layer still has oiflists 12 and 90 (type 1):
#    recovery must not reserve their indexes again.
oiflist-exists type=1 index=12
oiflist-exists type=1 index=90

# 4. Request 22 holds DI 950, but the process dies before the framework
#    flushes the write: that update is lost with the process.
link-update req=22 type=1 old-index=95 old-di=950 new-index=96 new-di=960
    result 1 (held)
dump pending
    1 queued update
      write hw_update req_id 22 type 1, 1 held: DI 950 (oiflist 95)
        key 16000000  value 0000000001010101000800b60300005f00000000
restart
    process restart: 1 unflushed update lost
    the platform-independent layer restored 2 live oiflists
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 1 hardware-update record: 1 request rebuilt, 4 indexes reserved again
# Each walk ends with a trace "ERROR - m2l failed ... no more records": the
# host's wording for the end of a walk, not a failure.
log
    trace "rire_orsk_platform_api_init(72): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(73): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(59): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(160): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(55): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_recover_pending_di_db(138): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 5 type: 1 state: 1 num_hold_di: 2\n"
    trace "rire_orsk_pss_get_di_hold_q_elem(73): TLV type oif len:16 \n"
    trace "rire_orsk_pss_get_next_pending_di_data(55): In rire_orsk_pss_get_next_pending_di_data\n"
    trace "rire_orsk_pss_recover_pending_di_db(138): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 6 type: 2 state: 1 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_di_hold_q_elem(73): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_pending_di_data(55): In rire_orsk_pss_get_next_pending_di_data\n"
    trace "rire_orsk_pss_get_next_key(41): ERROR - m2l failed for srv 114 err no more records"
    trace "rire_orsk_pss_recover_hw_update_db(160): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(55): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(149): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 21 num_hold_di: 1\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:21 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:900 to hold_q for hw_update Req:21\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:900 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:900, ref_count:1 \n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(73): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(55): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(41): ERROR - m2l failed for srv 115 err no more records"

# 5. Recovery counted its work in the host's statistics: two pending-DI
#    records and one request restored, and four indexes reserved again:
#    5 and 13 of type 1 (12 is live), 6 and 40 of type 2. Index 90 is live
#    too, so request 21's DI came back without a reservation.
dump stats
    rire_pss_recovery_stats:
      num_index_realloc 4
      num_pending_di_restored 2
      num_hw_update_req_restored 1
dump bitmap type=1
    oiflist type 1: 4 allocated: 5,12-13,90 (2 re-alloc calls)
dump bitmap type=2
    oiflist type 2: 2 allocated: 6,40 (2 re-alloc calls)

# 6. Request 21 is back in the queue; request 22 is not.
dump queue
    hw_update_req_q: 1 request
      req_id 21 type 1, 1 held: DI 900 (oiflist 90, ref 1)
# The pending-DI records stay in PSS; the host's in-memory records died
# with the process, and recovery does not rebuild them.
dump pss db=pending_di
    pending_di (20): 2 records
      oiflist 5 type 1 state 1, 2 held: DI 200 (oiflist 13), DI 100 (oiflist 12)
        key 05000100  value 0101020101001000c80000000d000000640000000c00000000000000
      oiflist 6 type 2 state 1, 1 held: DI 300 (oiflist 40)
        key 06000200  value 02010101010008002c0100002800000000000000
show pending type=1 index=5
  % no pending-DI record for oiflist type 1 index 5

# 7. The answers arrive. Request 21 completes as before the restart; the
#    answer for 22 finds no request and changes nothing.
hw-done id=21
    result 1
    request 21 done, released DI 900
hw-done id=22
    result 1
    no request changed
log
    trace "rire_orsk_hw_update_done(43): rire_orsk_hw_update_done: hw_update done opcode:MTS_OPC_HW_UPDATE_DONE(75777)\n"
    trace "rire_orsk_pss_delete_hw_update_info(159): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 21 \n"
    trace "rire_orsk_hw_update_req_q_delete(32): rire_orsk_hw_update_req_q_delete:processing DI:900 from hold_q for req_id:21\n"
    trace "rire_orsk_hw_update_req_q_delete(35): rire_orsk_hw_update_req_q_delete: Done with hw_update request:21\n"
    trace "rire_orsk_hw_update_done(43): rire_orsk_hw_update_done: hw_update done opcode:MTS_OPC_HW_UPDATE_DONE(75777)\n"
flush
    committed 1 update: 1 delete
dump pss db=hw_update
    hw_update (21): 0 records
