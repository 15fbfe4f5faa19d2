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

# 3. A record describes 255 held DIs at most (its count is one byte): of the
#    256 DIs of this record the newest 255 are stored, so DI 1, held first,
#    does not come back, and its index 9 is not reserved again after a
#    restart while index 7 of the others and the record's own index 6 are.
pending-di-insert type=1 index=6 state=1 dis=1:9,2:7,3:7,4:7,5:7,6:7,7:7,8:7,9:7,10:7,11:7,12:7,13:7,14:7,15:7,16:7,17:7,18:7,19:7,20:7,21:7,22:7,23:7,24:7,25:7,26:7,27:7,28:7,29:7,30:7,31:7,32:7,33:7,34:7,35:7,36:7,37:7,38:7,39:7,40:7,41:7,42:7,43:7,44:7,45:7,46:7,47:7,48:7,49:7,50:7,51:7,52:7,53:7,54:7,55:7,56:7,57:7,58:7,59:7,60:7,61:7,62:7,63:7,64:7,65:7,66:7,67:7,68:7,69:7,70:7,71:7,72:7,73:7,74:7,75:7,76:7,77:7,78:7,79:7,80:7,81:7,82:7,83:7,84:7,85:7,86:7,87:7,88:7,89:7,90:7,91:7,92:7,93:7,94:7,95:7,96:7,97:7,98:7,99:7,100:7,101:7,102:7,103:7,104:7,105:7,106:7,107:7,108:7,109:7,110:7,111:7,112:7,113:7,114:7,115:7,116:7,117:7,118:7,119:7,120:7,121:7,122:7,123:7,124:7,125:7,126:7,127:7,128:7,129:7,130:7,131:7,132:7,133:7,134:7,135:7,136:7,137:7,138:7,139:7,140:7,141:7,142:7,143:7,144:7,145:7,146:7,147:7,148:7,149:7,150:7,151:7,152:7,153:7,154:7,155:7,156:7,157:7,158:7,159:7,160:7,161:7,162:7,163:7,164:7,165:7,166:7,167:7,168:7,169:7,170:7,171:7,172:7,173:7,174:7,175:7,176:7,177:7,178:7,179:7,180:7,181:7,182:7,183:7,184:7,185:7,186:7,187:7,188:7,189:7,190:7,191:7,192:7,193:7,194:7,195:7,196:7,197:7,198:7,199:7,200:7,201:7,202:7,203:7,204:7,205:7,206:7,207:7,208:7,209:7,210:7,211:7,212:7,213:7,214:7,215:7,216:7,217:7,218:7,219:7,220:7,221:7,222:7,223:7,224:7,225:7,226:7,227:7,228:7,229:7,230:7,231:7,232:7,233:7,234:7,235:7,236:7,237:7,238:7,239:7,240:7,241:7,242:7,243:7,244:7,245:7,246:7,247:7,248:7,249:7,250:7,251:7,252:7,253:7,254:7,255:7,256:7
flush
    committed 1 update: 1 write
restart
    process restart: 0 unflushed updates lost
  booted zarided_kelda_orsk_platform.so: PSS open status 0, recovered from PSS
    recovered 3 pending-DI records and 2 hardware-update records: 2 requests rebuilt, 263 indexes reserved again
expect reserved type=1 index=6,7
expect no-reserved type=1 index=9
