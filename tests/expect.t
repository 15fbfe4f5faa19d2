# What a run answers for. A failed expectation is reported where it
# happens, in the words of the expectation; the run goes on and exits 1 at
# the end. Under --strict every error record the plugin logs fails the run
# too, named with its line, however many records the command logged.
#! strict
#! exit 1

  booted zarided_kelda_orsk_platform.so: PSS open status 0
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
expect log trace text="Case 5: old-di(300) valid"
expect request req=7 dis=301
  expect.t:13: expectation failed: wanted request req=7 dis=301, got request req=7 dis=300
hw-done id=7
    result 1
    request 7 done, released DI 300
    scheduled flush: committed 1 update: 1 delete
expect no-request req=7

# What no single request shows: the order of the requests, the order an
# answer released its DIs in (the plugin's trace of each), the heap, the
# framework's queue and how many error records a command logged.
pss schedule manual
link-update req=9 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
link-update req=8 type=1 old-index=14 old-di=310 new-index=13 new-di=400
    result 1 (held)
link-update req=9 type=1 old-index=15 old-di=320 new-index=13 new-di=400
    result 1 (held)
expect queue req=9,8
expect heap live=5 lost=0
expect pending count=3
hw-done id=9
    result 1
    request 9 done, released DI 320, DI 300
expect released dis=320,300
hw-done id=9 opcode=0x12800
    result 1
    no request changed
expect log error count=1
expect released dis=
flush
    committed 4 updates: 3 writes, 1 delete
hw-done id=8
    result 1
    request 8 done, released DI 310
flush
    committed 1 update: 1 delete

# Recovering 3,000 requests logs more records than the 512 KiB the event log
# keeps in memory holds; the error about the record planted under key 0 (its DI is 0)
# comes first and still counts. A question about other levels gets no
# answer once the command's first records are gone; `log` says how many.
pss put db=hw_update key=0x00000000 value=0x0000000001010101000800000000000c00000000
pss put db=hw_update key=0x01000000 value=0x00000000010101010008002c0100000c00000000 count=3000
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 3001 hardware-update records: 3000 requests rebuilt, 3000 indexes reserved again
expect log error text="skipping index 12 Di 0"
expect log trace func=rire_orsk_pss_recover
  expect.t:62: expectation failed: wanted log trace func=rire_orsk_pss_recover, got no answer: the command logged 21014 records and only the newest 4497 are held in memory (expect log error sees every error record)
log-of func=rire_orsk_platform_api_init
    (16517 earlier records no longer held in memory; see events.log)
  rire-host: 2 expectations failed
  rire-host: --strict: 2 failures:
    expect.t:38: the plugin logged an error: rire_orsk_hw_update_done(45):ERROR: Unknown opcode: 75776
    expect.t:57: the plugin logged an error: rire_orsk_pss_get_hw_update_req_q_elem(49):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: skipping index 12 Di 0
  [exit 1]
