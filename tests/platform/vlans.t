  booted zarided_kelda_orsk_platform.so: PSS open status 0
# IGMP snooping and OMF per VLAN: acknowledged, counted and traced VLAN by
# VLAN in ascending order; the bitmap is in network bit order and the
# record's leading word plays no part.
igmp-snoop enable vlans=0,7,31,32,999,1056,4064,4095 word=10
    result 0x200000 (done)
omf enable vlans=65,4094
    result 0x200000 (done)
omf disable vlans=12
    result 0x200000 (done)
igmp-snoop disable vlans=5
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config Snooping Enable for vlan count 8\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 0, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 7, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 31, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 32, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 999, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 1056, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 4064, IGMP Snooping Enabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 4095, IGMP Snooping Enabled\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config OMF Enable for vlan count 2\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config: Vlan - 65, OMF  Enabled\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config: Vlan - 4094, OMF  Enabled\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config OMF Disable for vlan count 1\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config: Vlan - 12, OMF  Disabled\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config Snooping Disable for vlan count 1\n"
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Vlan - 5, IGMP Snooping Disabled\n"
igmp-snoop enable vlans=
    result 0x200000 (done)
omf disable vlans= word=0xffffffff
    result 0x200000 (done)
log unnumbered
    trace "rire_orsk_igmp_snoop_config(_): rire_orsk_igmp_snoop_config: Number of vlans set is zero\n"
    trace "rire_orsk_snoop_omf_config(_): rire_orsk_snoop_omf_config: Number of vlans set is zero\n"
