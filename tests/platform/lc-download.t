  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Line-card downloads: IPv4 routes go to every card but DCE cards, nothing
# else to any card. DCE cards are known by their whole card id; the module
# database is asked for slot - 1 in 8 bits.
module slot=3 card=38
module slot=4 card=177
module slot=5 card=294
module slot=6 card=100
module slot=0 card=139
lc-download slot=3 db=1
    do not download (0)
lc-download slot=4 db=2
    do not download (0)
lc-download slot=3 db=3
    do not download (0)
lc-download slot=5 db=1
    download (1)
lc-download slot=6 db=2
    do not download (0)
lc-download slot=6 db=-1
    do not download (0)
lc-download slot=0 db=1
    do not download (0)
lc-download slot=1 db=1
    download (1)
lc-download slot=7 db=2
    do not download (0)
log unnumbered
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: mts_q_handle 0"
    trace "rire_orsk_platform_api_init(_): rire_orsk_platform_api_init: Completed init \n"
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_check_lc_download_db(_): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 3\n"
    trace "rire_orsk_check_lc_download_db(_): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 4\n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0x3 to slot 3\n"
    trace "rire_orsk_check_lc_download_db(_): Download V4-ROUTES to slot 5\n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0x2 to slot 6\n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0xffffffff to slot 6\n"
    trace "rire_orsk_check_lc_download_db(_): rire_orsk_check_lc_download_db: Donot download v4/v6 db for DCE LC in slot 0\n"
    error "rire_orsk_is_module_dce(_):ERROR: rire_orsk_is_module_dce: failed to get card id for slot 0 \n"
    trace "rire_orsk_check_lc_download_db(_): Download V4-ROUTES to slot 1\n"
    error "rire_orsk_is_module_dce(_):ERROR: rire_orsk_is_module_dce: failed to get card id for slot 6 \n"
    trace "rire_orsk_check_lc_download_db(_): Dont download 0x2 to slot 7\n"
