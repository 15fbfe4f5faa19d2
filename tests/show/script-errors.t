# A scenario with bad lines runs nothing: each bad line is reported at
# FILE:LINE:COLUMN in the words of the verb table, with the nearest verb,
# argument or word for a slip and every missing argument at once, and the
# run exits 2.
#! exit 2

  script-errors.t:39:1: error: unknown verb 'frobnicate' (help lists the verbs)
  script-errors.t:40:6: error: unknown verb 'dump foo' (dump takes queue|pss|pending|arena|heap|stats|bitmap|heartbeat|faults)
  script-errors.t:41:7: error: unknown argument 'now' for flush (it takes none)
  script-errors.t:42:12: error: unexpected word 'new' for swap; did you mean 'new='?
  script-errors.t:43:1: error: hw-done needs id=
  script-errors.t:44:12: error: id: '12x' is not a number
  script-errors.t:45:12: error: id: 4294967296 is out of range (at most 4294967295)
  script-errors.t:46:45: error: dis: '7' is not DI:oiflist-index
  script-errors.t:47:18: error: vlans: range 5-3 runs backwards
  script-errors.t:48:30: error: oifs: 0-4294967295 makes the list longer than 65536 elements
  script-errors.t:49:33: error: old-di: 'nil' is not a number; a DI is a number, null or invalid
  script-errors.t:50:14: error: argument 'id' given twice
  script-errors.t:51:19: error: 'disable' conflicts with 'enable'
  script-errors.t:52:12: error: unexpected word 'on' for igmp-snoop (expected enable|disable)
  script-errors.t:53:17: error: cookie: bytes need an even number of hex digits
  script-errors.t:54:30: error: kind: 'tunnel' is not one of loopback0|loopback|other
  script-errors.t:55:1: error: module: give either card= or empty
  script-errors.t:56:1: error: show oif: tag= and value= go together
  script-errors.t:57:6: error: help: unknown verb 'frob' (help lists the verbs)
  script-errors.t:58:1: error: fault index.realloc.error: code= must be one of 1|2|3
  script-errors.t:59:1: error: pss order: seed= goes with shuffle, and shuffle needs it
  script-errors.t:60:1: error: unknown verb 'hw-dnoe'; did you mean 'hw-done'?
  script-errors.t:61:6: error: unknown verb 'dump queu'; did you mean 'dump queue'? (dump takes queue|pss|pending|arena|heap|stats|bitmap|heartbeat|faults)
  script-errors.t:62:1: error: 'dump' needs a subcommand, one of queue|pss|pending|arena|heap|stats|bitmap|heartbeat|faults
  script-errors.t:63:1: error: link-update needs type= old-di= new-di=
  script-errors.t:64:12: error: id: -1 is out of range (0..4294967295)
  script-errors.t:65:6: error: unknown argument 'od' for swap; did you mean 'old='?
  script-errors.t:66:12: error: unexpected word 'enabel' for igmp-snoop; did you mean 'enable'?
  script-errors.t:67:30: error: kind: 'loopbak' is not one of loopback0|loopback|other; did you mean 'loopback'?
  script-errors.t:68:6: error: help: unknown verb 'hw-don'; did you mean 'hw-done'?
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
hw-dnoe id=1
dump queu
dump
link-update req=1
hw-done id=-1
swap od=1 new=2
igmp-snoop enabel vlans=1
interface add ifindex=1 kind=loopbak
help hw-don
