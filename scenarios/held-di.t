# The road of a held DI: from the link update that holds it to the answer
# that releases it, across a process restart.
#
# When rire moves routes from one outgoing interface list (oiflist) to
# another, it sends the change to the hardware as a hardware-update request:
# an MTS message with an id of its own. The DI (destination index) that the
# old oiflist used must stay reserved until the answer to exactly that
# request comes back, so the plugin holds it against the request, in memory
# and in PSS, where a restarted process finds it again.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
# The framework flushes only when this scenario says so, to show the queue.
pss schedule manual

# 1. Routes move from oiflist 12 (DI 300) to oiflist 13 (DI 400), carried by
#    request 7. Both DIs are valid (case 5 of the link update): request 7 is
#    created, holds DI 300, and the plugin queues a PSS write of the request.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
# The first log also shows the boot: the host runs the plugin's entry point
# before it hands over its MTS queue handle, hence "mts_q_handle 0".
log
    trace "rire_orsk_platform_api_init(72): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(73): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(59): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_oiflist_link_update(31): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(39): rire_orsk_oiflist_link_update:Case 5: old-di(300) valid, new-di(400) valid\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:7 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:7\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:300 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:1 \n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 12\n"
    trace "rire_orsk_pss_insert_hw_update_info(119): rire_orsk_pss_insert_hw_update_info: req_id 7\n"

# 2. The same move once more: DI 300 is already held by request 7, so only
#    its reference count goes up, and PSS is not written again.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
log
    trace "rire_orsk_oiflist_link_update(31): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(39): rire_orsk_oiflist_link_update:Case 5: old-di(300) valid, new-di(400) valid\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:7\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:2 \n"

# 3. Oiflist 14 (DI 310) moves to an oiflist whose DI is not valid yet
#    (case 4): DI 310 is held too. New DIs go to the head of the hold queue,
#    and the request is written again, now with both DIs.
link-update req=7 type=1 old-index=14 old-di=310 new-index=15 new-di=invalid
    result 1 (held)

# 4. Routes of oiflist 20 (DI 500) move to an oiflist without a platform
#    index (new DI null, case 1): nothing is held, whatever the old DI was,
#    and the plugin's result means nothing, so none is shown.
link-update req=8 type=1 old-index=20 old-di=500 new-index=21 new-di=null
log
    trace "rire_orsk_oiflist_link_update(31): rire_orsk_oiflist_link_update: new index: 15 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(37): rire_orsk_oiflist_link_update:Case 4: old-di(310) valid, new-di(-1) invalid\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:310 to hold_q for hw_update Req:7\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:310 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:310, ref_count:1 \n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 310 index 14\n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 12\n"
    trace "rire_orsk_pss_insert_hw_update_info(119): rire_orsk_pss_insert_hw_update_info: req_id 7\n"
    trace "rire_orsk_oiflist_link_update(31): rire_orsk_oiflist_link_update: new index: 21 new DI 0\n"
    trace "rire_orsk_oiflist_link_update(18): rire_orsk_oiflist_link_update: Case 1: old DI:500, new pltfm index is NULL\n"

# 5. One more request, 9, holds DI 600 of a type-2 oiflist. It stays
#    outstanding to the end of this process (see the new process below).
link-update req=9 type=2 old-index=30 old-di=600 new-index=31 new-di=610
    result 1 (held)
log
    trace "rire_orsk_oiflist_link_update(31): rire_orsk_oiflist_link_update: new index: 31 new DI 610\n"
    trace "rire_orsk_oiflist_link_update(39): rire_orsk_oiflist_link_update:Case 5: old-di(600) valid, new-di(610) valid\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:9 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:600 to hold_q for hw_update Req:9\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:600 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:600, ref_count:1 \n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 600 index 30\n"
    trace "rire_orsk_pss_insert_hw_update_info(119): rire_orsk_pss_insert_hw_update_info: req_id 9\n"

# The plugin's queue: request 7 with DI 310 (newest) first, DI 300 held
# twice; request 8 does not exist; request 9 behind it.
dump queue
    hw_update_req_q: 2 requests
      req_id 7 type 1, 2 held: DI 310 (oiflist 14, ref 1), DI 300 (oiflist 12, ref 2)
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)

# The PSS writes wait in the host's framework until it flushes them in one
# transaction: request 7 twice (the second write replaces the first), then 9.
dump pending
    3 queued updates
      write hw_update req_id 7 type 1, 1 held: DI 300 (oiflist 12)
        key 07000000  value 00000000010101010008002c0100000c00000000
      write hw_update req_id 7 type 1, 2 held: DI 310 (oiflist 14), DI 300 (oiflist 12)
        key 07000000  value 0000000001020101001000360100000e0000002c0100000c00000000
      write hw_update req_id 9 type 2, 1 held: DI 600 (oiflist 30)
        key 09000000  value 0000000002010101000800580200001e00000000
flush
    committed 3 updates: 3 writes
# What the store holds now: one record per request, each listing its held
# DIs with the oiflists they served (reference counts are not stored).
dump pss
    pending_di (20): 0 records
    hw_update (21): 2 records
      req_id 7 type 1, 2 held: DI 310 (oiflist 14), DI 300 (oiflist 12)
        key 07000000  value 0000000001020101001000360100000e0000002c0100000c00000000
      req_id 9 type 2, 1 held: DI 600 (oiflist 30)
        key 09000000  value 0000000002010101000800580200001e00000000

# 6. The host hands request 7 over to a new message, id 11: the request is
#    re-keyed. Its record under 7 is deleted and written again under 11, and
#    the request moves to the tail of the queue.
swap old=7 new=11
    request 7 re-keyed to 11
log
    trace "rire_orsk_pss_delete_hw_update_info(159): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 7 \n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 310 index 14\n"
    trace "rire_orsk_get_hw_update_pss_info(69): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 12\n"
    trace "rire_orsk_pss_insert_hw_update_info(119): rire_orsk_pss_insert_hw_update_info: req_id 11\n"
    trace "rire_orsk_hw_update_req_q_update(129): rire_orsk_hw_update_req_q_update: Done with swapping req_id old_id:7 new_id:11\n"
dump pending
    2 queued updates
      delete hw_update req_id 7
        key 07000000
      write hw_update req_id 11 type 1, 2 held: DI 310 (oiflist 14), DI 300 (oiflist 12)
        key 0b000000  value 0000000001020101001000360100000e0000002c0100000c00000000
flush
    committed 2 updates: 1 write, 1 delete
dump pss
    pending_di (20): 0 records
    hw_update (21): 2 records
      req_id 9 type 2, 1 held: DI 600 (oiflist 30)
        key 09000000  value 0000000002010101000800580200001e00000000
      req_id 11 type 1, 2 held: DI 310 (oiflist 14), DI 300 (oiflist 12)
        key 0b000000  value 0000000001020101001000360100000e0000002c0100000c00000000
dump queue
    hw_update_req_q: 2 requests
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)
      req_id 11 type 1, 2 held: DI 310 (oiflist 14, ref 1), DI 300 (oiflist 12, ref 2)

# 7. The process dies and restarts. The store survives; recovery walks it in
#    key order and rebuilds both requests. Each DI comes back held once (the
#    store keeps no counts), and in the reverse order: DI 300 is now first.
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 2 hardware-update records: 2 requests rebuilt, 3 indexes reserved again
# Recovery's log has two trace records whose text begins with "ERROR -":
# "first key missing" (the pending_di database is empty) and "m2l failed
# ... no more records" (the walk of hw_update is past its last record).
# That is the host's own wording for the end of a walk, logged at trace
# level: a healthy recovery, not a failure.
log
    trace "rire_orsk_platform_api_init(72): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(73): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(59): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(160): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(55): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(39): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(169): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(160): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(55): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(149): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 9 num_hold_di: 1\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:9 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:600 to hold_q for hw_update Req:9\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:600 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:600, ref_count:1 \n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(73): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(55): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(149): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 11 num_hold_di: 2\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:11 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:310 to hold_q for hw_update Req:11\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:310 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:310, ref_count:1 \n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:300 to hold_q for hw_update Req:11\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:300 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:300, ref_count:1 \n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(73): TLV type oif len:16 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(55): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(41): ERROR - m2l failed for srv 115 err no more records"
dump queue
    hw_update_req_q: 2 requests
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)
      req_id 11 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 14, ref 1)

# 8. The answer to message 11 arrives (opcode 0x12801, hardware update
#    done): request 11 is removed, its record deleted, and its DIs released
#    from the head of its hold queue.
hw-done id=11
    result 1
    request 11 done, released DI 300, DI 310
log
    trace "rire_orsk_hw_update_done(43): rire_orsk_hw_update_done: hw_update done opcode:MTS_OPC_HW_UPDATE_DONE(75777)\n"
    trace "rire_orsk_pss_delete_hw_update_info(159): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 11 \n"
    trace "rire_orsk_hw_update_req_q_delete(32): rire_orsk_hw_update_req_q_delete:processing DI:300 from hold_q for req_id:11\n"
    trace "rire_orsk_hw_update_req_q_delete(32): rire_orsk_hw_update_req_q_delete:processing DI:310 from hold_q for req_id:11\n"
    trace "rire_orsk_hw_update_req_q_delete(35): rire_orsk_hw_update_req_q_delete: Done with hw_update request:11\n"
flush
    committed 1 update: 1 delete
dump queue
    hw_update_req_q: 1 request
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)
# Only request 9 is left in the store, for the next process to find.
dump pss
    pending_di (20): 0 records
    hw_update (21): 1 record
      req_id 9 type 2, 1 held: DI 600 (oiflist 30)
        key 09000000  value 0000000002010101000800580200001e00000000

%% new process
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
pss schedule manual
# From here on a new rire-host process runs on the same state directory: a
# real process restart. Its boot line says that the plugin recovered from
# PSS, and request 9, which the first process left outstanding, is back in
# the queue with DI 600.
log
    trace "rire_orsk_platform_api_init(72): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(73): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(59): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_pss_recover_pending_di_db(160): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_get_first_pending_di_data(55): In rire_orsk_pss_get_first_pending_di_data\n"
    trace "rire_orsk_pss_get_first_key(39): ERROR - first key missing \n"
    trace "rire_orsk_pss_recover_pending_di_db(169): rire_orsk_pss_recover_pending_di_db: No pending DI info found \n"
    trace "rire_orsk_pss_recover_hw_update_db(160): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_get_first_hw_update_data(55): In rire_orsk_pss_get_first_hw_update_data\n"
    trace "rire_orsk_pss_recover_hw_update_db(149): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 9 num_hold_di: 1\n"
    trace "rire_orsk_hw_update_req_q_insert(56): rire_orsk_hw_update_req_q_insert: Inserted req_id:9 to pending hw_update\n"
    trace "rire_orsk_add_di_to_hw_update_req(86): rire_orsk_add_di_to_hw_update_req: Adding DI:600 to hold_q for hw_update Req:9\n"
    trace "rire_orsk_di_hold_q_enqueue(109): rire_orsk_di_hold_q_enqueue: Inserted DI:600 to the hold_q\n"
    trace "rire_orsk_di_hold_q_enqueue(113): rire_orsk_di_hold_q_enqueue: DI:600, ref_count:1 \n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(73): TLV type oif len:8 \n"
    trace "rire_orsk_pss_get_next_hw_update_data(55): In rire_orsk_pss_get_next_hw_update_data\n"
    trace "rire_orsk_pss_get_next_key(41): ERROR - m2l failed for srv 115 err no more records"
dump queue
    hw_update_req_q: 1 request
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)

# An answer whose opcode is not one of the five hardware-update answers
# (0x12804 = 75780) is refused: the request stays.
hw-done id=9 opcode=0x12804
    result 1
    no request changed
log
    trace "rire_orsk_hw_update_done(43): rire_orsk_hw_update_done: hw_update done opcode:0x12804(75780)\n"
    error "rire_orsk_hw_update_done(45):ERROR: Unknown opcode: 75780\n"
dump queue
    hw_update_req_q: 1 request
      req_id 9 type 2, 1 held: DI 600 (oiflist 30, ref 1)

# Opcode 0x12827, another of the five answers, completes the request too.
hw-done id=9 opcode=0x12827
    result 1
    request 9 done, released DI 600
log
    trace "rire_orsk_hw_update_done(43): rire_orsk_hw_update_done: hw_update done opcode:0x12827(75815)\n"
    trace "rire_orsk_pss_delete_hw_update_info(159): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 9 \n"
    trace "rire_orsk_hw_update_req_q_delete(32): rire_orsk_hw_update_req_q_delete:processing DI:600 from hold_q for req_id:9\n"
    trace "rire_orsk_hw_update_req_q_delete(35): rire_orsk_hw_update_req_q_delete: Done with hw_update request:9\n"
flush
    committed 1 update: 1 delete

# Nothing is held any more, in memory or in the store.
dump queue
    hw_update_req_q: 0 requests
dump pss
    pending_di (20): 0 records
    hw_update (21): 0 records
