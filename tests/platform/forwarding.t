  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Designated-forwarder updates: the ordinal's bit, modulo 32, is set (opc 1)
# or cleared (any other opc) on every interface that is not a loopback, on
# the MTS queue the host handed over; loopbacks are skipped.
set-q-handle value=0x7777
interface add ifindex=10 name=Ethernet1/1
interface add ifindex=11 name=Ethernet1/2
interface add ifindex=1 name=loopback0 kind=loopback0
interface add ifindex=2 name=loopback7 kind=loopback
df-update add ordinal=32 oifs=10,1,2,11
    result 0x200000 (done)
df-update add ordinal=33 oifs=10
    result 0x200000 (done)
df-update add ordinal=255 oifs=11
    result 0x200000 (done)
df-update opc=2 ordinal=255 oifs=11,2
    result 0x200000 (done)
df-update opc=-1 ordinal=32 oifs=10
    result 0x200000 (done)
df-update add ordinal=0 oifs=11
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 32, num_oifs:4, opc:Add                          df_mask:-2147483648\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 80000000\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 80000000\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 33, num_oifs:1, opc:Add                          df_mask:1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 1\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 255, num_oifs:1, opc:Add                          df_mask:1073741824\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 40000000\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 255, num_oifs:2, opc:Delete                          df_mask:1073741824\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: CLEAR df_mask: 40000000\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 32, num_oifs:1, opc:Delete                          df_mask:-2147483648\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: CLEAR df_mask: 80000000\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 0, num_oifs:1, opc:Add                          df_mask:-2147483648\n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: opc: SET df_mask: 80000000\n"
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x00000001  loopback0  0x00000000  -
    loopback7        0x00000002  loopback   0x00000000  -
    Ethernet1/1      0x0000000a  other      0x00000001  0x7777
    Ethernet1/2      0x0000000b  other      0x80000000  0x7777

# A query error anywhere in the list programs nothing, even on a loopback
# and on an interface the list names before the failing one.
interface error ifindex=1 status=-5
df-update add ordinal=4 oifs=10,1
    result 0 (failed)
interface error ifindex=1 status=0
interface error ifindex=999 status=-19
df-update add ordinal=4 oifs=10,999,11
    result 0 (failed)
log unnumbered
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 4, num_oifs:2, opc:Add                          df_mask:8\n"
    error "rire_orsk_df_update(_):ERROR: rire_orsk_df_update Failed to allocate a msg from ELTM err(-5)  \n"
    trace "rire_orsk_df_update(_): rire_orsk_df_update: Received df_ordinal: 4, num_oifs:3, opc:Add                          df_mask:8\n"
    error "rire_orsk_df_update(_):ERROR: rire_orsk_df_update Failed to allocate a msg from ELTM err(-19)  \n"
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x00000001  loopback0  0x00000000  -
    loopback7        0x00000002  loopback   0x00000000  -
    Ethernet1/1      0x0000000a  other      0x00000001  0x7777
    Ethernet1/2      0x0000000b  other      0x80000000  0x7777

# Over long lists the host's heartbeat goes out once the 101st, 201st, ...
# entry is programmed; loopbacks count as entries.
df-update add ordinal=2 oifs=1000-1099
    result 0x200000 (done)
dump heartbeat
    0 heartbeats sent
df-update add ordinal=2 oifs=1000-1100
    result 0x200000 (done)
dump heartbeat
    1 heartbeat sent
df-update add ordinal=2 oifs=2,1000-1099
    result 0x200000 (done)
dump heartbeat
    2 heartbeats sent
df-update add ordinal=2 oifs=1000-1200
    result 0x200000 (done)
dump heartbeat
    4 heartbeats sent
