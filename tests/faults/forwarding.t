  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# Faults of the services the forwarding handlers call: the interface
# manager, the property service, the heartbeat and the module database.
interface add ifindex=10 name=Ethernet1/1
interface add ifindex=11 name=Ethernet1/2

# 1. Queries about Ethernet1/2 answer twice, then fail: the validation pass
#    succeeds, programming reports the error and withdraws nothing, and the
#    failing query answers "not a loopback", so both interfaces get bit 0x1.
fault im.loopback.error ifindex=11 after=2 code=-5
df-update add ordinal=1 oifs=10,11
    result 0 (failed)
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 1, num_oifs:2, opc:Add                          df_mask:1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 1\n"
    error "rire_orsk_df_update(_):ERROR: rire_orsk_df_update Failed to send the request error (-5) \n"
fault reset

# 2. The property service refuses Ethernet1/1: the plugin does not look at
#    its answer, and only Ethernet1/2 gets bit 0x2.
fault l3lif.program.error ifindex=10 code=3
df-update add ordinal=2 oifs=10,11
    result 0x200000 (done)
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    Ethernet1/1      0x0000000a  other      0x00000001  0x5a01
    Ethernet1/2      0x0000000b  other      0x00000003  0x5a01
expect df ifindex=10 mask=0x1
expect df ifindex=11 ordinal=2 set

# 3. The second heartbeat of a long list fails: the plugin does not look at
#    its result, programs every interface and reports the update done.
fault heartbeat.send.error after=1 code=-11
df-update add ordinal=3 oifs=1000-1200
    result 0x200000 (done)
dump heartbeat
    1 heartbeat sent, 1 failed
expect df ifindex=1200 ordinal=3 set

# 4. The module database refuses to answer for slot 3: the filter logs the
#    failed lookup and treats the DCE card there as any other, so it gets
#    the IPv4 routes; slot 4 is asked as usual.
module slot=3 card=38
module slot=4 card=38
fault pdb.modinfo.error slot=3 code=7
lc-download slot=3 db=1
    download (1)
lc-download slot=4 db=1
    do not download (0)
log-of func=lc_download,module_dce
    error "rire_orsk_is_module_dce(_):ERROR: rire_orsk_is_module_dce: failed to get card id for slot 2 \n"
    trace "rire_orsk_check_lc_download_db(_): Download V4-ROUTES to slot 3\n"
    trace "rire_orsk_check_lc_download_db(_): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 4\n"
