# The order of a PSS walk is the store's to choose, and recovery rebuilds the
# request queue in it. Under every order the same requests come back with
# the same held DIs and the same indexes reserved; only the queue's order
# follows the walk. `restart` keeps the order, a new process has the default.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
link-update req=7 type=1 old-index=13 old-di=310 new-index=14 new-di=410
    result 1 (held)
link-update req=8 type=2 old-index=20 old-di=301 new-index=21 new-di=401
    result 1 (held)
link-update req=9 type=1 old-index=16 old-di=302 new-index=17 new-di=402
    result 1 (held)
link-update req=10 type=1 old-index=18 old-di=303 new-index=19 new-di=403
    result 1 (held)
pending-di-insert type=1 index=5 state=1 dis=500:30
pending-di-insert type=1 index=6 state=1 dis=501:31
flush
    committed 7 updates: 7 writes

pss order descending
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 4 hardware-update records: 4 requests rebuilt, 9 indexes reserved again
dump queue
    hw_update_req_q: 4 requests
      req_id 10 type 1, 1 held: DI 303 (oiflist 18, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
      req_id 8 type 2, 1 held: DI 301 (oiflist 20, ref 1)
      req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 13, ref 1)
dump bitmap type=1
    oiflist type 1: 8 allocated: 5-6,12-13,16,18,30-31 (8 re-alloc calls)
log-of func=recover_pending_di_db
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 6 type: 1 state: 1 num_hold_di: 1\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 5 type: 1 state: 1 num_hold_di: 1\n"

pss order shuffle seed=1
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 4 hardware-update records: 4 requests rebuilt, 9 indexes reserved again
dump queue
    hw_update_req_q: 4 requests
      req_id 10 type 1, 1 held: DI 303 (oiflist 18, ref 1)
      req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 13, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
      req_id 8 type 2, 1 held: DI 301 (oiflist 20, ref 1)
dump bitmap type=1
    oiflist type 1: 8 allocated: 5-6,12-13,16,18,30-31 (8 re-alloc calls)
log-of func=recover_hw_update_db
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 10 num_hold_di: 1\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 7 num_hold_di: 2\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 9 num_hold_di: 1\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 8 num_hold_di: 1\n"

pss order ascending
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 4 hardware-update records: 4 requests rebuilt, 9 indexes reserved again
dump queue
    hw_update_req_q: 4 requests
      req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 13, ref 1)
      req_id 8 type 2, 1 held: DI 301 (oiflist 20, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
      req_id 10 type 1, 1 held: DI 303 (oiflist 18, ref 1)
dump bitmap type=1
    oiflist type 1: 8 allocated: 5-6,12-13,16,18,30-31 (8 re-alloc calls)

pss order descending
%% new process
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 2 pending-DI records and 4 hardware-update records: 4 requests rebuilt, 9 indexes reserved again
dump queue
    hw_update_req_q: 4 requests
      req_id 7 type 1, 2 held: DI 300 (oiflist 12, ref 1), DI 310 (oiflist 13, ref 1)
      req_id 8 type 2, 1 held: DI 301 (oiflist 20, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
      req_id 10 type 1, 1 held: DI 303 (oiflist 18, ref 1)
