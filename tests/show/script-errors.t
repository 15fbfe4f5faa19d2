# A scenario with bad lines runs nothing: each bad line is reported at
# FILE:LINE:COLUMN in the words of the verb table, and the run exits 2.
#! exit 2

  script-errors.t:28:1: error: unknown verb 'frobnicate'
  script-errors.t:29:6: error: 'dump' needs a known subcommand
  script-errors.t:30:7: error: unknown argument 'now' for flush
  script-errors.t:31:12: error: unexpected word 'new' for swap
  script-errors.t:32:1: error: hw-done needs id=
  script-errors.t:33:12: error: id: '12x' is not a number
  script-errors.t:34:12: error: id: 4294967296 is out of range (at most 4294967295)
  script-errors.t:35:45: error: dis: '7' is not DI:oiflist-index
  script-errors.t:36:18: error: vlans: range 5-3 runs backwards
  script-errors.t:37:30: error: oifs: 0-4294967295 makes the list longer than 65536 elements
  script-errors.t:38:33: error: old-di: 'nil' is not a number; a DI is a number, null or invalid
  script-errors.t:39:14: error: argument 'id' given twice
  script-errors.t:40:19: error: 'disable' conflicts with 'enable'
  script-errors.t:41:12: error: unexpected word 'on' for igmp-snoop (expected enable|disable)
  script-errors.t:42:17: error: cookie: bytes need an even number of hex digits
  script-errors.t:43:30: error: kind: 'tunnel' is not one of loopback0|loopback|other
  script-errors.t:44:1: error: module: give either card= or empty
  script-errors.t:45:1: error: show oif: tag= and value= go together
  script-errors.t:46:6: error: help: no verb 'frob'
  script-errors.t:47:1: error: fault index.realloc.error: code= must be one of 1|2|3
  script-errors.t:48:1: error: pss order: seed= goes with shuffle, and shuffle needs it
  [exit 2]
flush
frobnicate now
dump foo
flush now=1
swap old=1 new
hw-done opcode=0x12801
hw-done id=12x
hw-done id=4294967296
pending-di-insert type=1 index=1 dis=100:12,7
omf enable vlans=5-3
df-update add ordinal=3 oifs=0-4294967295
link-update req=1 type=1 old-di=nil new-di=5
hw-done id=1 id=2
igmp-snoop enable disable vlans=1
igmp-snoop on vlans=1
show oif cookie=0x123
interface add ifindex=1 kind=tunnel
module empty slot=3 card=38
show oif tag=1
help frob
fault index.realloc.error code=4
pss order shuffle
