  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Requests and their hold queues: a request is created on its first hold and
# appended to the queue; its new DIs go to the head of its hold queue, a
# repeated hold only counts up, and every new hold rewrites its PSS record.
pss schedule manual
link-update req=7 type=2 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
# Held again through another oiflist: counted, the first oiflist kept, no write.
link-update req=7 type=2 old-index=99 old-di=300 new-index=13 new-di=invalid
    result 1 (held)
# A DI is held by the low 16 bits of its number: 0x1012c is DI 300 again.
link-update req=7 type=2 old-index=12 old-di=0x1012c new-index=13 new-di=400
    result 1 (held)
link-update req=8 type=1 old-index=14 old-di=300 new-index=15 new-di=400
    result 1 (held)
link-update req=7 type=2 old-index=16 old-di=310 new-index=17 new-di=400
    result 1 (held)
link-update req=9 type=1 old-index=18 old-di=320 new-index=19 new-di=400
    result 1 (held)
dump queue
    hw_update_req_q: 3 requests
      req_id 7 type 2, 2 held: DI 310 (oiflist 16, ref 1), DI 300 (oiflist 12, ref 3)
      req_id 8 type 1, 1 held: DI 300 (oiflist 14, ref 1)
      req_id 9 type 1, 1 held: DI 320 (oiflist 18, ref 1)
dump pending
    4 queued updates
      write hw_update req_id 7 type 2, 1 held: DI 300 (oiflist 12)
        key 07000000  value 00000000020101010008002c0100000c00000000
      write hw_update req_id 8 type 1, 1 held: DI 300 (oiflist 14)
        key 08000000  value 00000000010101010008002c0100000e00000000
      write hw_update req_id 7 type 2, 2 held: DI 310 (oiflist 16), DI 300 (oiflist 12)
        key 07000000  value 000000000202010100100036010000100000002c0100000c00000000
      write hw_update req_id 9 type 1, 1 held: DI 320 (oiflist 18)
        key 09000000  value 0000000001010101000800400100001200000000
dump heap
    plugin heap: 7 blocks live (7 allocated, 0 freed): 7 in requests
flush
    committed 4 updates: 4 writes

# A re-key deletes the record under the old id, moves the request to the
# tail and writes it under the new id; re-keying an absent id does nothing.
swap old=7 new=11
    request 7 re-keyed to 11
swap old=5 new=6
    no request changed
dump queue
    hw_update_req_q: 3 requests
      req_id 8 type 1, 1 held: DI 300 (oiflist 14, ref 1)
      req_id 9 type 1, 1 held: DI 320 (oiflist 18, ref 1)
      req_id 11 type 2, 2 held: DI 310 (oiflist 16, ref 1), DI 300 (oiflist 12, ref 3)
dump pending
    2 queued updates
      delete hw_update req_id 7
        key 07000000
      write hw_update req_id 11 type 2, 2 held: DI 310 (oiflist 16), DI 300 (oiflist 12)
        key 0b000000  value 000000000202010100100036010000100000002c0100000c00000000
flush
    committed 2 updates: 1 write, 1 delete

# Re-keyed onto an id another request carries: two requests share id 8
# (the tool, seeing id 9 gone, calls it done), and holds and answers find
# the older one first.
swap old=9 new=8
    request 9 done, released DI 320
link-update req=8 type=1 old-index=20 old-di=330 new-index=21 new-di=400
    result 1 (held)
hw-done id=8
    result 1
    no request changed
dump queue
    hw_update_req_q: 2 requests
      req_id 11 type 2, 2 held: DI 310 (oiflist 16, ref 1), DI 300 (oiflist 12, ref 3)
      req_id 8 type 1, 1 held: DI 320 (oiflist 18, ref 1)
hw-done id=8
    result 1
    request 8 done, released DI 320
flush
    committed 5 updates: 2 writes, 3 deletes

# Running the entry point again empties the queue and frees nothing: the
# blocks stay allocated, known to the host as dropped (it reclaims them when
# the process ends), and the records stay in PSS.
init
dump queue
    hw_update_req_q: 0 requests
dump heap
    plugin heap: 3 blocks live (8 allocated, 5 freed): 3 dropped by a queue reset
dump pss db=hw_update
    hw_update (21): 1 record
      req_id 11 type 2, 2 held: DI 310 (oiflist 16), DI 300 (oiflist 12)
        key 0b000000  value 000000000202010100100036010000100000002c0100000c00000000
