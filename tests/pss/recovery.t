# Recovery reads stored records that it did not write itself, entry by
# entry: it skips an entry that names no DI or no index, reserves again every
# index from 1 to 65534 that no live oiflist holds, calls anything above
# garbage unless an oiflist lives there, and re-adds every accepted DI of a
# hardware-update record to its request. A record is counted however many of
# its entries survive.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
# Live oiflists of the platform-independent layer keep their indexes.
oiflist-exists type=1 index=14
oiflist-exists type=1 index=70000
oiflist-exists type=2 index=9

# Request 1: DI 0 and index 0 are skipped; DI 101 comes back.
pss put db=hw_update key=0x01000000 value=0x0000000001040101002000000000000c0000006400000000000000650000000d000000000000000000000000
# Request 2: 65534 is reserved, 65535 is garbage, 70000 and 14 are live.
pss put db=hw_update key=0x02000000 value=0x000000000104010100200066000000feff000067000000ffff00006800000070110100690000000e00000000
# Request 3: TLVs of types 2 and 257 around the oif TLV are skipped.
pss put db=hw_update key=0x03000000 value=0x0000000002020102000800010000000100000001010010006a000000140000006b00000015000000010101000000
# Request 4: type 7 has no index bitmap; the DI comes back all the same.
pss put db=hw_update key=0x04000000 value=0x00000000070101010008006c0000001600000000
# Requests 5 and 6: the smaller of the count and the payload's entries.
pss put db=hw_update key=0x05000000 value=0x00000000010301010010006d000000170000006e0000001800000000
pss put db=hw_update key=0x06000000 value=0x00000000010101010010006f00000019000000700000001a00000000
# Request 7 holds nothing: counted, never created.
pss put db=hw_update key=0x07000000 value=0x00000000010000
# Pending-DI records give their own index (tag ignored, no range test) and
# their entries' indexes; oiflist 5 names index 5 twice, type 0 no bitmap.
pss put db=pending_di key=0x05000100 value=0x0101010101000800320000000500000000
pss put db=pending_di key=0xffff0200 value=0x01010000
pss put db=pending_di key=0x09000200 value=0x0201010101000800330000001e00000000
pss put db=pending_di key=0x0a000100 value=0x00010000
restart
    process restart: 0 unflushed updates lost
    the platform-independent layer restored 3 live oiflists
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 4 pending-DI records and 7 hardware-update records: 6 requests rebuilt, 11 indexes reserved again
log-of func=recover,elem
    trace "rire_orsk_pss_recover_pending_di_db(_): (rire_orsk_pss_recover_pending_di_db:)-RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB 20 pss_service = 276\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 5 type: 1 state: 1 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_di_hold_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 10 type: 0 state: 1 num_hold_di: 0\n"
    error "rire_orsk_pss_recover_pending_di_db(_):ERROR: rire_orsk_pss_recover_pending_di_db: no index bitmap for oiflist type 0, index 10 not reserved\n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 9 type: 2 state: 1 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_di_hold_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_recover_pending_di_db(_): rire_orsk_pss_recover_pending_di_db Recovered data pending DI oiflist_index 65535 type: 1 state: 1 num_hold_di: 0\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): (rire_orsk_pss_recover_hw_update_db:)-RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB 21 pss_service = 277\n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 1 num_hold_di: 4\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: skipping index 12 Di 0\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: skipping index 0 Di 100\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: skipping index 0 Di 0\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:32 \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 2 num_hold_di: 4\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: recovered index is garbage 65535 for DI 103\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:32 \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 3 num_hold_di: 2\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem Invalid Oiflist TLV Type 2"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:16 \n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem Invalid Oiflist TLV Type 257"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 4 num_hold_di: 1\n"
    error "rire_orsk_pss_get_hw_update_req_q_elem(_):ERROR: rire_orsk_pss_get_hw_update_req_q_elem: no index bitmap for oiflist type 7, index 22 not reserved\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:8 \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 5 num_hold_di: 3\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:16 \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 6 num_hold_di: 1\n"
    trace "rire_orsk_pss_get_hw_update_req_q_elem(_): TLV type oif len:16 \n"
    trace "rire_orsk_pss_recover_hw_update_db(_): rire_orsk_pss_recover_hw_update_db Recovered data hw update req with id 7 num_hold_di: 0\n"
dump queue
    hw_update_req_q: 6 requests
      req_id 1 type 1, 1 held: DI 101 (oiflist 13, ref 1)
      req_id 2 type 1, 3 held: DI 105 (oiflist 14, ref 1), DI 104 (oiflist 70000, ref 1), DI 102 (oiflist 65534, ref 1)
      req_id 3 type 2, 2 held: DI 107 (oiflist 21, ref 1), DI 106 (oiflist 20, ref 1)
      req_id 4 type 7, 1 held: DI 108 (oiflist 22, ref 1)
      req_id 5 type 1, 2 held: DI 110 (oiflist 24, ref 1), DI 109 (oiflist 23, ref 1)
      req_id 6 type 1, 1 held: DI 111 (oiflist 25, ref 1)
dump stats
    rire_pss_recovery_stats:
      num_index_realloc 11
      num_pending_di_restored 4
      num_hw_update_req_restored 7
dump bitmap type=1
    oiflist type 1: 8 allocated: 5,13-14,23-25,65534-65535 (8 re-alloc calls)
dump bitmap type=2
    oiflist type 2: 4 allocated: 9,20-21,30 (3 re-alloc calls)
