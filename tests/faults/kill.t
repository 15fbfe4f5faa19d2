  booted zarided_kelda_orsk_platform.so: PSS open status 0
# A process killed inside a flush (`fault pss.commit.kill at=K`) leaves the
# store with all of the flush or none of it, and the next process recovers
# from that. K is the update the process dies before applying: with K up to
# the flush's count nothing is committed; one past it, the process dies just
# after the commit. The killed part ends "[killed]"; the lines after it in
# that part never run.
pss schedule manual
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
flush
    committed 1 update: 1 write
link-update req=8 type=1 old-index=14 old-di=310 new-index=13 new-di=400
    result 1 (held)
hw-done id=7
    result 1
    request 7 done, released DI 300
fault pss.commit.kill at=2
flush
  [killed]
dump queue

# Nothing of the flush: request 7 is still committed, request 8 never was.
%% new process
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
expect queue req=7
expect record db=hw_update key=7 held=300:12
expect no-record db=hw_update key=8
pss schedule manual
link-update req=8 type=1 old-index=14 old-di=310 new-index=13 new-di=400
    result 1 (held)
hw-done id=7
    result 1
    request 7 done, released DI 300
fault pss.commit.kill at=3
flush
  [killed]

# All of it: the process died after the commit, before it printed it.
%% new process
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 0 pending-DI records and 1 hardware-update record: 1 request rebuilt, 1 index reserved again
expect queue req=8
expect no-record db=hw_update key=7
hw-done id=8
    result 1
    request 8 done, released DI 310
    scheduled flush: committed 1 update: 1 delete
