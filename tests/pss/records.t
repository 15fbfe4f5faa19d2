# What a write, a rewrite, a re-key and a delete leave in PSS, byte for byte.
# A hardware-update record is keyed by req_id; its value is a reserved word,
# req_type, the held-DI count and one oif TLV of 8-byte entries, first
# element first. A pending-DI key is the oiflist index tagged 1 for type 1
# and 2 for any other type.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# 1. Request 258 holds two DIs: each new DI rewrites the whole record, a DI
#    held again writes nothing. Request 7 holds one DI and is re-keyed to 9:
#    the old key is deleted before the new one is written.
link-update req=258 type=2 old-index=30 old-di=300 new-index=31 new-di=400
    result 1 (held)
link-update req=258 type=2 old-index=40 old-di=301 new-index=41 new-di=401
    result 1 (held)
link-update req=258 type=2 old-index=50 old-di=301 new-index=51 new-di=401
    result 1 (held)
link-update req=7 type=1 old-index=10 old-di=100 new-index=11 new-di=402
    result 1 (held)
swap old=7 new=9
    request 7 re-keyed to 9

# 2. The host writes pending-DI records: with DIs, with none (an empty
#    array), and under type 0, which tags its key 2 and keeps the low 8 bits
#    of type and state in the value. Deletes name the same tagged keys.
pending-di-insert type=1 index=5 state=1 dis=100:12,200:13
pending-di-insert type=2 index=5 state=1
pending-di-insert type=0 index=7 state=513 dis=9:7
pending-di-delete type=1 index=300
pending-di-delete type=0 index=7
dump pending
    10 queued updates
      write hw_update req_id 258 type 2, 1 held: DI 300 (oiflist 30)
        key 02010000  value 00000000020101010008002c0100001e00000000
      write hw_update req_id 258 type 2, 2 held: DI 301 (oiflist 40), DI 300 (oiflist 30)
        key 02010000  value 00000000020201010010002d010000280000002c0100001e00000000
      write hw_update req_id 7 type 1, 1 held: DI 100 (oiflist 10)
        key 07000000  value 0000000001010101000800640000000a00000000
      delete hw_update req_id 7
        key 07000000
      write hw_update req_id 9 type 1, 1 held: DI 100 (oiflist 10)
        key 09000000  value 0000000001010101000800640000000a00000000
      write pending_di oiflist 5 type 1 state 1, 2 held: DI 200 (oiflist 13), DI 100 (oiflist 12)
        key 05000100  value 0101020101001000c80000000d000000640000000c00000000000000
      write pending_di oiflist 5 type 2 state 1, 0 held
        key 05000200  value 020100000000000000000000
      write pending_di oiflist 7 type 0 state 1, 1 held: DI 9 (oiflist 7)
        key 07000200  value 0001010101000800090000000700000000000000
      delete pending_di oiflist 300
        key 2c010100
      delete pending_di oiflist 7
        key 07000200
log-of func=pss
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 30\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 258\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 301 index 40\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 300 index 30\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 258\n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 7\n"
    trace "rire_orsk_pss_delete_hw_update_info(_): rire_orsk_pss_delete_hw_update_info: Deleted hw_req for req_id 7 \n"
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 100 index 10\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 9\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 65541\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 131077\n"
    trace "rire_orsk_pss_insert_pending_di_info(_): rire_orsk_pss_insert_pending_di_info: oif_index 131079\n"
    trace "rire_orsk_pss_delete_pending_di_info(_): rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 65836 \n"
    trace "rire_orsk_pss_delete_pending_di_info(_): rire_orsk_pss_delete_pending_di_info: Deleted di_req for oiflist index 131079 \n"
flush
    committed 10 updates: 7 writes, 3 deletes
dump pss
    pending_di (20): 2 records
      oiflist 5 type 1 state 1, 2 held: DI 200 (oiflist 13), DI 100 (oiflist 12)
        key 05000100  value 0101020101001000c80000000d000000640000000c00000000000000
      oiflist 5 type 2 state 1, 0 held
        key 05000200  value 020100000000000000000000
    hw_update (21): 2 records
      req_id 9 type 1, 1 held: DI 100 (oiflist 10)
        key 09000000  value 0000000001010101000800640000000a00000000
      req_id 258 type 2, 2 held: DI 301 (oiflist 40), DI 300 (oiflist 30)
        key 02010000  value 00000000020201010010002d010000280000002c0100001e00000000
