# The distributed multicast OIF and DI listings: neither looks anything up,
# each answers not-found, naming the index the request asked about. The
# console drops trailing blanks: the DI listing's "No Oiflists found \n"
# is told from the OIF listing's answer in test_show.cc.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
show command id=0
  % unknown set command-id 0
show command id=-1 index=5 cookie=0x09000000
  % unknown set command-id -1
expect no-log

# An index names itself; the last one read wins; it is a signed word.
show di index=7
  Oiflist 7 not found
show oif index=0
  Oiflist 0 not found
show oif index=5 tag=291504131 value=6
  Oiflist 6 not found
show di index=4294967293
  Oiflist -3 not found
show di
  No Oiflists found
show oif
  No Oiflists found

# The OIF listing accepts its two extra tags quietly; each listing logs the
# other's index tag as unknown and answers as if none were given.
show oif tag=23068673 value=3
  No Oiflists found
expect no-log
show oif tag=23068674 value=3
  No Oiflists found
expect no-log
show oif tag=576716806 value=4
  No Oiflists found
expect log error func=rire_orsk_show_dist_multicast_oif text="576716806"
show di tag=291504131 value=4
  No Oiflists found
expect log error func=rire_orsk_show_dist_multicast_di text="291504131"
show di tag=23068673 value=4
  No Oiflists found
expect log error func=rire_orsk_show_dist_multicast_di text="23068673"
show oif index=5 tag=-2147483647 value=1
  Oiflist 5 not found
expect log error func=rire_orsk_show_dist_multicast_oif text="-2147483647"

# A 4-byte cookie overrides the index but does not name one; any other
# length refuses the request.
show oif index=5 cookie=0x09000000
  Oiflist 9 not found
show di index=5 cookie=0x09000000
  Oiflist 9 not found
show oif cookie=0x09000000
  No Oiflists found
show di cookie=0x09000000
  No Oiflists found
show oif index=5 cookie=0x0100000001000000
  % Unknown cookie
show di cookie=0x000000
  % Unknown cookie

# The print operations the host uses for its records.
show di-info di=4660 index=77 ref=65534
  
    Destination Index: 4660
    Reference Count: 65534
    Oiflist Index: 77
pending-di-insert type=1 index=12 state=1 ref=65535 dis=300:40,301:41
    scheduled flush: committed 1 update: 1 write
show pending type=1 index=12
  
    Outgoing Interface List Index: 12
    Reference Count: 65535
    State: PENDING_HW_UPDATE
          hold_q destination index: 301
            hold_q oiflist index: 41
            Reference count: 1
          hold_q destination index: 300
            hold_q oiflist index: 40
            Reference count: 1
pending-di-insert type=2 index=13 state=2 ref=1
    scheduled flush: committed 1 update: 1 write
show pending type=2 index=13
  
    Outgoing Interface List Index: 13
    Reference Count: 1
    State: STATE_INVALID
