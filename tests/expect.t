# A failed expectation is reported where it happens, in the words of the
# expectation; the run goes on and exits 1 at the end.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=400
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
expect log trace text="Case 5: old-di(300) valid"
expect request req=7 dis=301
  expect.t:9: expectation failed: wanted request req=7 dis=301, got request req=7 dis=300
hw-done id=7
    result 1
    request 7 done, released DI 300
    scheduled flush: committed 1 update: 1 delete
expect no-request req=7
  rire-host: 1 expectation failed
  [exit 1]
