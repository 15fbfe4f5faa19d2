  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Reading the store is the tool's own business. dump pss, dump pending,
# expect record and expect queued decode the stored and queued bytes
# themselves and call no host service the fault table watches, so with any
# TLV or PSS fault switched on they show what they showed before, and the
# fault counts nothing against the plugin: the file runs under --strict.
#! strict
pss schedule manual

# Request 7 holds two DIs, the host's pending-DI record of oiflist 6 one;
# both are stored. Request 8 is queued, not yet flushed.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
link-update req=7 type=1 old-index=14 old-di=310 new-index=15 new-di=410
    result 1 (held)
pending-di-insert type=2 index=6 state=1 ref=1 dis=320:40
flush
    committed 3 updates: 3 writes
link-update req=8 type=1 old-index=16 old-di=330 new-index=17 new-di=430
    result 1 (held)

# Every TLV and PSS row on at once, for both services: each reader shows
# the same.
fault tlv.next.fail at=1
fault tlv.add.refuse
fault pss.register.refuse service=hw_update
fault pss.register.refuse service=pending_di
fault pss.lookup.refuse service=hw_update
fault pss.lookup.zero service=pending_di
fault pss.write.refuse service=hw_update
fault pss.write.refuse service=pending_di
fault pss.delete.refuse service=hw_update
fault pss.delete.refuse service=pending_di
fault pss.move.refuse service=hw_update at=1
fault pss.move.refuse service=pending_di at=1
fault pss.getkey.fail service=hw_update at=1
fault pss.getkey.fail service=pending_di at=1
fault pss.getvalue.fail service=hw_update at=1
fault pss.getvalue.fail service=pending_di at=1
dump pss
    pending_di (20): 1 record
      oiflist 6 type 2 state 1, 1 held: DI 320 (oiflist 40)
        key 06000200  value 0201010101000800400100002800000000000000
    hw_update (21): 1 record
      req_id 7 type 1, 2 held: DI 310 (oiflist 14), DI 300 (oiflist 12)
        key 07000000  value 0000000001020101001000360100000e0000002c0100000c00000000
dump pending
    1 queued update
      write hw_update req_id 8 type 1, 1 held: DI 330 (oiflist 16)
        key 08000000  value 00000000010101010008004a0100001000000000
expect record db=hw_update key=7 type=1 held=310:14,300:12
expect record db=pending_di key=6 type=2 state=1 held=320:40
expect queued write db=hw_update key=8 held=330:16
fault reset
flush
    committed 1 update: 1 write
