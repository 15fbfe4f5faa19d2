# Forwarding control and show commands: what rire asks of the platform
# besides the DI bookkeeping.

  booted zarided_kelda_orsk_platform.so: PSS open status 0

# 1. The switch's interfaces: two front-panel ports, loopback0 and one more
#    loopback.
interface add ifindex=0x1a000000 name=Ethernet1/1
interface add ifindex=0x1a000200 name=Ethernet1/2
interface add ifindex=0x14000000 name=loopback0 kind=loopback0
interface add ifindex=0x14000001 name=loopback1 kind=loopback
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x14000000  loopback0  0x00000000  -
    loopback1        0x14000001  loopback   0x00000000  -
    Ethernet1/1      0x1a000000  other      0x00000000  -
    Ethernet1/2      0x1a000200  other      0x00000000  -

# 2. Designated-forwarder ordinal 3 joins all four interfaces. Its bit is
#    1 << (3 - 1) = 0x4; the plugin sets it as a property of each
#    non-loopback interface, on its MTS queue 0x5a01, and skips loopbacks.
df-update add ordinal=3 oifs=0x1a000000,0x1a000200,0x14000000,0x14000001
    result 0x200000 (done)
log
    trace "rire_orsk_platform_api_init(72): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(73): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(59): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_df_update(39): rire_orsk_df_update: Received df_ordinal: 3, num_oifs:4, opc:Add                          df_mask:4\n"
    trace "rire_orsk_df_update(27): rire_orsk_df_update: opc: SET df_mask: 4\n"
    trace "rire_orsk_df_update(27): rire_orsk_df_update: opc: SET df_mask: 4\n"
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x14000000  loopback0  0x00000000  -
    loopback1        0x14000001  loopback   0x00000000  -
    Ethernet1/1      0x1a000000  other      0x00000004  0x5a01
    Ethernet1/2      0x1a000200  other      0x00000004  0x5a01

# Ordinal 5 (bit 0x10) joins Ethernet1/2; ordinal 3 leaves Ethernet1/1.
df-update add ordinal=5 oifs=0x1a000200
    result 0x200000 (done)
df-update delete ordinal=3 oifs=0x1a000000
    result 0x200000 (done)
log
    trace "rire_orsk_df_update(39): rire_orsk_df_update: Received df_ordinal: 5, num_oifs:1, opc:Add                          df_mask:16\n"
    trace "rire_orsk_df_update(27): rire_orsk_df_update: opc: SET df_mask: 10\n"
    trace "rire_orsk_df_update(39): rire_orsk_df_update: Received df_ordinal: 3, num_oifs:1, opc:Delete                          df_mask:4\n"
    trace "rire_orsk_df_update(27): rire_orsk_df_update: opc: CLEAR df_mask: 4\n"
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x14000000  loopback0  0x00000000  -
    loopback1        0x14000001  loopback   0x00000000  -
    Ethernet1/1      0x1a000000  other      0x00000000  0x5a01
    Ethernet1/2      0x1a000200  other      0x00000014  0x5a01

# An empty list is no error.
df-update add ordinal=1
    result 0x200000 (done)
# The interface manager fails its queries about Ethernet1/2 (status -5):
# the plugin programs nothing and reports the failure.
interface error ifindex=0x1a000200 status=-5
df-update add ordinal=7 oifs=0x1a000000,0x1a000200
    result 0 (failed)
log
    trace "rire_orsk_df_update(39): rire_orsk_df_update: Received df_ordinal: 1, num_oifs:0, opc:Add                          df_mask:1\n"
    trace "rire_orsk_df_update(43): rire_orsk_df_update num oifs = 0 \n"
    trace "rire_orsk_df_update(39): rire_orsk_df_update: Received df_ordinal: 7, num_oifs:2, opc:Add                          df_mask:64\n"
    error "rire_orsk_df_update(49):ERROR: rire_orsk_df_update Failed to allocate a msg from ELTM err(-5)  \n"
interface error ifindex=0x1a000200 status=0
show interfaces
    Interface        Ifindex     Kind       DF mask     Queue
    loopback0        0x14000000  loopback0  0x00000000  -
    loopback1        0x14000001  loopback   0x00000000  -
    Ethernet1/1      0x1a000000  other      0x00000000  0x5a01
    Ethernet1/2      0x1a000200  other      0x00000014  0x5a01

# 3. IGMP snooping and optimized multicast flood (OMF) per VLAN: this
#    platform programs nothing for them; it acknowledges each request and
#    traces every VLAN of the set, in ascending order.
igmp-snoop enable vlans=4095,10-12
    result 0x200000 (done)
omf disable vlans=0,100
    result 0x200000 (done)
log
    trace "rire_orsk_igmp_snoop_config(59): rire_orsk_igmp_snoop_config Snooping Enable for vlan count 4\n"
    trace "rire_orsk_igmp_snoop_config(68): rire_orsk_igmp_snoop_config: Vlan - 10, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(68): rire_orsk_igmp_snoop_config: Vlan - 11, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(68): rire_orsk_igmp_snoop_config: Vlan - 12, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(68): rire_orsk_igmp_snoop_config: Vlan - 4095, IGMP Snooping Enabled\n"
    trace "rire_orsk_snoop_omf_config(62): rire_orsk_snoop_omf_config OMF Disable for vlan count 2\n"
    trace "rire_orsk_snoop_omf_config(71): rire_orsk_snoop_omf_config: Vlan - 0, OMF  Disabled\n"
    trace "rire_orsk_snoop_omf_config(71): rire_orsk_snoop_omf_config: Vlan - 100, OMF  Disabled\n"

# 4. Line cards. The card in slot 3 is a DCE card (id 38), the one in slot 4
#    is not (id 100), slot 5 is empty. IPv4 routes (database 1) go to every
#    card but DCE cards; nothing else goes anywhere.
module slot=3 card=38
module slot=4 card=100
lc-download slot=3 db=1
    do not download (0)
lc-download slot=4 db=1
    download (1)
lc-download slot=4 db=2
    do not download (0)
# The module database has no card in slot 5: the lookup error names the
# slot by its zero-based index (4), and the card counts as not DCE.
lc-download slot=5 db=1
    download (1)
log
    trace "rire_orsk_check_lc_download_db(41): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 3\n"
    trace "rire_orsk_check_lc_download_db(45): Download V4-ROUTES to slot 4\n"
    trace "rire_orsk_check_lc_download_db(48): Dont download 0x2 to slot 4\n"
    error "rire_orsk_is_module_dce(32):ERROR: rire_orsk_is_module_dce: failed to get card id for slot 4 \n"
    trace "rire_orsk_check_lc_download_db(45): Download V4-ROUTES to slot 5\n"

# 5. Show commands on the console. This platform keeps no oiflists of its
#    own, so both listings answer "not found", naming the index asked for.
show oif
  No Oiflists found
show oif index=5
  Oiflist 5 not found
show di
  No Oiflists found
show di index=7
  Oiflist 7 not found
# A continuation cookie of 4 bytes carries an index too, and wins.
show oif index=5 cookie=0x09000000
  Oiflist 9 not found
# A cookie of any other length is refused.
show di cookie=0x0900000000000000
  % Unknown cookie
# The DI listing does not know the OIF listing's index tag.
show di tag=0x11600003 value=1
  No Oiflists found
log
    error "rire_orsk_show_dist_multicast_di(45):ERROR: Received unknown tag 291504131\n"
# A command id the platform does not know.
show command id=0
  % unknown set command-id 0

# 6. The host prints one of its pending-DI records through the plugin: the
#    record, then each held DI, newest first.
pending-di-insert type=1 index=5 state=1 ref=2 dis=100:12,200:13
    scheduled flush: committed 1 update: 1 write
show pending type=1 index=5
  
    Outgoing Interface List Index: 5
    Reference Count: 2
    State: PENDING_HW_UPDATE
          hold_q destination index: 200
            hold_q oiflist index: 13
            Reference count: 1
          hold_q destination index: 100
            hold_q oiflist index: 12
            Reference count: 1
pending-di-insert type=2 index=6 state=0 dis=300:40
    scheduled flush: committed 1 update: 1 write
show pending type=2 index=6
  
    Outgoing Interface List Index: 6
    Reference Count: 0
    State: STATE_INVALID
          hold_q destination index: 300
            hold_q oiflist index: 40
            Reference count: 1
show di-info di=100 index=12 ref=3
  
    Destination Index: 100
    Reference Count: 3
    Oiflist Index: 12
