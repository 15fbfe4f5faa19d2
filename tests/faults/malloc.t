  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# Allocation faults: the plugin's malloc returns null, once. The request
# record cannot be allocated: the plugin reports it and holds nothing, and
# the same update then goes through.
fault libc.malloc.fail
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 0 (not held)
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 5: old-di(300) valid, new-di(400) valid\n"
    error "rire_orsk_hw_update_req_q_insert(_):ERROR: rire_orsk_hw_update_req_q_insert: Failed to alloc memory\n"
    error "rire_orsk_add_di_to_hw_update_req(_):ERROR: rire_orsk_add_di_to_hw_update_req:Failed to find pending hw_update req_id:7\n"
dump queue
    hw_update_req_q: 0 requests
dump pending
    0 queued updates
expect no-request req=7
expect no-queued db=hw_update key=7
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
dump queue
    hw_update_req_q: 1 request
      req_id 7 type 1, 1 held: DI 300 (oiflist 12, ref 1)
expect request req=7 held=300:12 refs=1
flush
    committed 1 update: 1 write

# The element for the first DI of a new request cannot be allocated: the
# request stays, empty and unwritten, and its answer deletes and frees it.
fault libc.malloc.fail after=1
link-update req=8 type=1 old-index=14 old-di=301 new-index=15 new-di=401
    result 1 (held)
dump queue
    hw_update_req_q: 2 requests
      req_id 7 type 1, 1 held: DI 300 (oiflist 12, ref 1)
      req_id 8 type 1, 0 held
dump pending
    0 queued updates

# A swap re-keys it and writes it whatever it holds: a record of no DI.
swap old=8 new=9
    request 8 re-keyed to 9
dump pending
    2 queued updates
      delete hw_update req_id 8
        key 08000000
      write hw_update req_id 9 type 1, 0 held
        key 09000000  value 000000000100000000000000
hw-done id=9
    result 1
    request 9 done, released no DIs
dump heap
    plugin heap: 2 blocks live (3 allocated, 1 freed): 2 in requests

# The element for a further DI cannot be allocated: nothing changes.
fault libc.malloc.fail
link-update req=7 type=1 old-index=16 old-di=310 new-index=17 new-di=410
    result 1 (held)
dump queue
    hw_update_req_q: 1 request
      req_id 7 type 1, 1 held: DI 300 (oiflist 12, ref 1)
dump pending
    3 queued updates
      delete hw_update req_id 8
        key 08000000
      write hw_update req_id 9 type 1, 0 held
        key 09000000  value 000000000100000000000000
      delete hw_update req_id 9
        key 09000000
  rire-host: 3 PSS updates still queued at the end and never flushed: the process loses them
