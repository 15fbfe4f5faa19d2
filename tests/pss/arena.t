# The scratch arena runs out: a record write carves its key, key datum,
# value datum and value, in that order, and a delete its key and key datum.
# The first block that does not fit ends the operation with its own message
# after the arena's, and nothing is queued; what was carved stays carved
# until the framework's commit empties the arena.

  booted zarided_kelda_orsk_platform.so: PSS open status 0
pss schedule manual

# A write of a request with one DI needs 4 + 8 + 8 + 20 bytes.
arena fill free=3
link-update req=11 type=1 old-index=10 old-di=100 new-index=11 new-di=400
    result 1 (held)
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    trace "rire_orsk_pss_open_file(_): rire_orsk_pss_open_file: Done..\n"
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_insert_hw_update_info(_):ERROR: ERROR: Failed to alloc memory for req_id key\n"
arena fill free=11
link-update req=12 type=1 old-index=10 old-di=101 new-index=11 new-di=400
    result 1 (held)
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_insert_hw_update_info(_):ERROR: ERROR: Failed to alloc memory for PSS datum key\n"
dump arena
    pss_buf: 65529 of 65536 bytes in use
arena fill free=19
link-update req=13 type=1 old-index=10 old-di=102 new-index=11 new-di=400
    result 1 (held)
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    trace "rire_orsk_pss_insert_hw_update_info(_): ERROR: Failed to alloc mem for PSS datum value \n"
arena fill free=39
link-update req=14 type=1 old-index=10 old-di=103 new-index=11 new-di=400
    result 1 (held)
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_insert_hw_update_info(_):ERROR: Failed to allocate memory of size 20"
dump arena
    pss_buf: 65517 of 65536 bytes in use

# With exactly enough room the write goes through and fills the arena.
arena fill free=40
link-update req=15 type=1 old-index=10 old-di=104 new-index=11 new-di=400
    result 1 (held)
dump arena
    pss_buf: 65536 of 65536 bytes in use
dump pending
    1 queued update
      write hw_update req_id 15 type 1, 1 held: DI 104 (oiflist 10)
        key 0f000000  value 0000000001010101000800680000000a00000000
flush
    committed 1 update: 1 write
dump arena
    pss_buf: 0 of 65536 bytes in use

# Deletes.
arena fill free=0
hw-done id=11
    result 1
    request 11 done, released DI 100
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    trace "rire_orsk_get_hw_update_pss_info(_): rire_orsk_get_hw_update_pss_info: pss'ed DI 104 index 10\n"
    trace "rire_orsk_pss_insert_hw_update_info(_): rire_orsk_pss_insert_hw_update_info: req_id 15\n"
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_delete_hw_update_info(_):ERROR: ERROR: Failed to alloc memory for req id key\n"
arena fill free=4
hw-done id=12
    result 1
    request 12 done, released DI 101
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_delete_hw_update_info(_):ERROR: ERROR: Failed to alloc memory for PSS datum key\n"
arena fill free=3
pending-di-delete type=1 index=5
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_delete_pending_di_info(_):ERROR: ERROR: Failed to alloc memory for oiflist key\n"
arena fill free=11
pending-di-delete type=1 index=5
    warning: the plugin gave up a PSS update: the scratch arena is full
log-of func=pss
    error "rire_orsk_pss_buf_allocate(_):ERROR: ERROR: request for a buf out of bounds \n"
    error "rire_orsk_pss_delete_pending_di_info(_):ERROR: ERROR: Failed to alloc memory for PSS datum key\n"
dump pending
    0 queued updates

# The framework empties the arena only after it has performed the updates
# queued with its blocks, so with an update queued arena fill flushes first.
flush
    committed 0 updates
link-update req=16 type=1 old-index=10 old-di=105 new-index=11 new-di=400
    result 1 (held)
arena fill free=100
    arena fill: flushing the queued PSS updates first
    committed 1 update: 1 write
expect record db=hw_update key=16 held=105:10
dump arena
    pss_buf: 65436 of 65536 bytes in use
  rire-host: the plugin gave up 8 PSS updates: 8 because the scratch arena is full
