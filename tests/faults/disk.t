  booted zarided_kelda_orsk_platform.so: PSS open status 0
# A full file system under the state directory: the host says which file it
# cannot write, goes on without it, and never dies of it. `fault disk.full
# after=BYTES` leaves BYTES for the emulator's writes: a store commit takes
# the bytes of its keys and values, the event log a window at a time, a
# file written whole its length.
pss schedule manual

# 1. The store: a flush the file system has no room for is refused. Its
#    updates stay queued and the store stays as last committed; once there
#    is room again, the next flush commits them. A hw_update record takes 24
#    bytes: 30 take one.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
flush
    committed 1 update: 1 write
fault disk.full after=30
link-update req=8 type=1 old-index=14 old-di=301 new-index=15 new-di=401
    result 1 (held)
link-update req=9 type=1 old-index=16 old-di=302 new-index=17 new-di=402
    result 1 (held)
flush
    flush refused: data.mdb: no space left on device ($STATE/data.mdb); 2 updates stay queued
expect queued write db=hw_update key=9
expect no-record db=hw_update key=8
fault off disk.full
flush
    committed 2 updates: 2 writes
expect record db=hw_update key=9 held=302:16

# 2. The platform-independent layer's live oiflists: the layer keeps the
#    oiflist, its file does not.
fault disk.full
oiflist-exists type=1 index=40
    warning: pi-oiflists: no space left on device ($STATE/pi-oiflists)
dump bitmap type=1
    oiflist type 1: 1 allocated: 40 (0 re-alloc calls)

# 3. The event log stops where its next window finds no room (the window
#    asked for ahead of the one in use took its room before: some 2 MiB of
#    records, 4,096 a command here), and says so once; the in-memory log
#    goes on, and so does the store once it has room for its records.
igmp-snoop enable vlans=0-4095
    result 0x200000 (done)
igmp-snoop disable vlans=0-4095
    result 0x200000 (done)
igmp-snoop enable vlans=0-4095
    result 0x200000 (done)
igmp-snoop disable vlans=0-4095
    result 0x200000 (done)
    warning: events.log: no space left on device ($STATE/events.log)
igmp-snoop enable vlans=0-4095
    result 0x200000 (done)
igmp-snoop disable vlans=0-4095
    result 0x200000 (done)
expect log trace text="Vlan - 4095, IGMP Snooping Disabled"
fault off disk.full
hw-done id=7
    result 1
    request 7 done, released DI 300
flush
    committed 1 update: 1 delete

# 4. A process that starts on the full file system recovers and answers.
#    It restores the oiflists the file held (none), and its event log finds
#    no room for its first window.
fault disk.full
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 2 hardware-update records: 2 requests rebuilt, 2 indexes reserved again
    warning: events.log: no space left on device ($STATE/events.log)
dump queue
    hw_update_req_q: 2 requests
      req_id 8 type 1, 1 held: DI 301 (oiflist 14, ref 1)
      req_id 9 type 1, 1 held: DI 302 (oiflist 16, ref 1)
dump bitmap type=1
    oiflist type 1: 2 allocated: 14,16 (2 re-alloc calls)
  rire-host: events.log missed 8930 records
