  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Completion: each of the five answer opcodes retires the request of its
# message id: its PSS record is deleted, its DIs are released, and every
# block the request held goes back to the heap. Any other opcode is
# reported and leaves the queue alone.
pss schedule manual
link-update req=1 type=1 old-index=11 old-di=101 new-index=12 new-di=400
    result 1 (held)
link-update req=1 type=1 old-index=13 old-di=102 new-index=14 new-di=400
    result 1 (held)
link-update req=2 type=1 old-index=21 old-di=201 new-index=22 new-di=400
    result 1 (held)
link-update req=3 type=1 old-index=31 old-di=301 new-index=32 new-di=400
    result 1 (held)
link-update req=4 type=1 old-index=41 old-di=401 new-index=42 new-di=400
    result 1 (held)
link-update req=5 type=1 old-index=51 old-di=501 new-index=52 new-di=400
    result 1 (held)
link-update req=6 type=1 old-index=61 old-di=601 new-index=62 new-di=400
    result 1 (held)
flush
    committed 7 updates: 7 writes
dump heap
    plugin heap: 13 blocks live (13 allocated, 0 freed): 13 in requests
hw-done id=1 opcode=0x12801
    result 1
    request 1 done, released DI 102, DI 101
hw-done id=2 opcode=0x12802
    result 1
    request 2 done, released DI 201
hw-done id=3 opcode=0x12803
    result 1
    request 3 done, released DI 301
hw-done id=4 opcode=0x12827
    result 1
    request 4 done, released DI 401
hw-done id=5 opcode=0x12828
    result 1
    request 5 done, released DI 501
hw-done id=6 opcode=0x12800
    result 1
    no request changed
hw-done id=6 opcode=0x12804
    result 1
    no request changed
hw-done id=6 opcode=0x12826
    result 1
    no request changed
hw-done id=6 opcode=0x12829
    result 1
    no request changed
expect log error text="Unknown opcode: 75817"
# A second answer, or one for an id no request carries, changes nothing.
hw-done id=1
    result 1
    no request changed
dump pending
    5 queued updates
      delete hw_update req_id 1
        key 01000000
      delete hw_update req_id 2
        key 02000000
      delete hw_update req_id 3
        key 03000000
      delete hw_update req_id 4
        key 04000000
      delete hw_update req_id 5
        key 05000000
dump heap
    plugin heap: 2 blocks live (13 allocated, 11 freed): 2 in requests
flush
    committed 5 updates: 5 deletes

# A request rebuilt by recovery after a restart is not written again, and
# completes as before.
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
dump pending
    0 queued updates
dump heap
    plugin heap: 2 blocks live (2 allocated, 0 freed): 2 in requests
hw-done id=6 opcode=0x12803
    result 1
    request 6 done, released DI 601
dump heap
    plugin heap: 0 blocks live (2 allocated, 2 freed)
flush
    committed 1 update: 1 delete
dump pss db=hw_update
    hw_update (21): 0 records
