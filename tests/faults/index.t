# Index allocator faults: recovery reserves the index of every stored entry
# again and does not look at the allocator's answer. Whatever it reports,
# the same requests come back and every call is counted; an index the
# allocator did not mark stays free in the bitmap.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Requests 7, 8 and 9 hold DIs under indexes 12, 14 and 16.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
link-update req=8 type=1 old-index=14 old-di=301 new-index=15 new-di=401
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
link-update req=9 type=1 old-index=16 old-di=302 new-index=17 new-di=402
    result 1 (held)
    scheduled flush: committed 1 update: 1 write

# 1. "No bitmap" after the first call: only index 12 is marked.
fault index.realloc.error after=1 code=1
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 3 indexes reserved again
expect no-log error
dump queue
    hw_update_req_q: 3 requests
      req_id 7 type 1, 1 held: DI 300 (oiflist 12, ref 1)
      req_id 8 type 1, 1 held: DI 301 (oiflist 14, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
dump bitmap type=1
    oiflist type 1: 1 allocated: 12 (3 re-alloc calls)
expect stat num_index_realloc=3

# 2. "Out of range" for every call: nothing is marked.
fault index.realloc.error code=2
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 3 indexes reserved again
dump bitmap type=1
    oiflist type 1: 0 allocated (3 re-alloc calls)
expect request req=9 held=302:16

# 3. "Already allocated" for every call: each index is marked all the same.
fault index.realloc.error code=3
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3 hardware-update records: 3 requests rebuilt, 3 indexes reserved again
dump bitmap type=1
    oiflist type 1: 3 allocated: 12,14,16 (3 re-alloc calls)
expect stat num_index_realloc=3 num_hw_update_req_restored=3
