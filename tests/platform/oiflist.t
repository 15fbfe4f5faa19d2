  booted zarided_kelda_orsk_platform.so: PSS open status 0
# The oiflist callbacks. A link update holds the old DI only when it is valid
# and the new DI is not null (cases 4 and 5); cases 1 to 3 hold nothing and
# still answer 1, as a hold does, so the host never takes them for a failure.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=null
expect result value=1
link-update req=7 type=1 old-index=12 old-di=null new-index=13 new-di=null
expect result value=1
link-update req=7 type=1 old-index=12 old-di=null new-index=13 new-di=400
expect result value=1
link-update req=7 type=1 old-index=12 old-di=null new-index=13 new-di=invalid
expect result value=1
link-update req=7 type=1 old-index=12 old-di=invalid new-index=13 new-di=invalid
expect result value=1
link-update req=7 type=1 old-index=12 old-di=invalid new-index=13 new-di=400
expect result value=1
dump queue
    hw_update_req_q: 0 requests
dump heap
    plugin heap: 0 blocks live (0 allocated, 0 freed)

# Allocation: p5 comes back when p9 is set; otherwise 1, and the low 16
# bits of p10 are traced as the system upgrade flag.
oiflist-alloc p5=55 p9=1 p10=3
    result 55
oiflist-alloc p5=55 p9=0xffffffff
    result 55
oiflist-alloc p5=55 p10=0xabcd0001
    result 1
oiflist-alloc p5=55 p10=0xffff
    result 1
# Hardware update done knows types 1 and 2; deletion only traces; the DI
# update answers 1 and logs nothing. The platform accepts every message.
oiflist-hw-done type=1
oiflist-hw-done type=2
oiflist-hw-done type=0
oiflist-hw-done type=3
oiflist-delete type=2 index=0xffffffff di=invalid
oiflist-di-update
    result 1
opc-check opcode=0x12801 id=5
    result 0
opc-check opcode=0xffffffff
    result 0
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 0\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: Case 1: old DI:300, new pltfm index is NULL\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 0\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: Case 1: old DI:0, new pltfm index is NULL\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 1b: old pltfm index NULL, new-di(400) Valid\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 1b: old pltfm index NULL, new-di(-1) Valid\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI -1\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 2 old-di(-1)invalid, new-di(-1) invalid\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update: new index: 13 new DI 400\n"
    trace "rire_orsk_oiflist_link_update(_): rire_orsk_oiflist_link_update:Case 3: old-di(-1) Invalid, new-di(400) Valid\n"
    trace "rire_orsk_oiflist_alloc(_): rire_orsk_oiflist_alloc: system upg flag (1)\n"
    trace "rire_orsk_oiflist_alloc(_): rire_orsk_oiflist_alloc: system upg flag (65535)\n"
    error "rire_orsk_oiflist_hw_update_done(_):ERROR: rire_orsk_oiflist_hw_update_done: OIF list type unknown: 0 \n"
    error "rire_orsk_oiflist_hw_update_done(_):ERROR: rire_orsk_oiflist_hw_update_done: OIF list type unknown: 3 \n"
    trace "rire_orsk_oiflist_delete(_): rire_orsk_oiflist_delete: oiflist type 2 index -1 dest-index -1\n"

# Deleting an oiflist whose DI is held leaves the hold alone.
link-update req=7 type=1 old-index=12 old-di=300 new-index=13 new-di=invalid
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
link-update req=7 type=1 old-index=14 old-di=310 new-index=15 new-di=400
    result 1 (held)
    scheduled flush: committed 1 update: 1 write
oiflist-delete type=1 index=12 di=300
dump queue
    hw_update_req_q: 1 request
      req_id 7 type 1, 2 held: DI 310 (oiflist 14, ref 1), DI 300 (oiflist 12, ref 1)
