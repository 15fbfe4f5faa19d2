/* Per-VLAN IGMP snooping and OMF settings. This platform programs nothing
 * for either; each request is acknowledged and traced, one line for the
 * request and one per VLAN in ascending order.
 *
 * The VLAN set is the record rire_vlan_set; its bitmap is read a big-endian
 * word at a time. */
#include <string.h>

#include "plugin/include/rire_orsk_log.h"
#include "plugin/platform/platform.h"

namespace {

constexpr uint32_t kBitmapOffset = offsetof(rire_vlan_set, bitmap);
constexpr uint32_t kBitmapBytes = RIRE_VLAN_SET_BITMAP_BYTES;
constexpr uint32_t kBitmapWords = kBitmapBytes / 4;

/* The messages that tell the two handlers apart. */
struct rire_orsk_vlan_texts {
    const char *func;
    bool snooping;
};

const uint8_t *rire_orsk_vlan_bitmap(const void *vlan_set) {
    return static_cast<const uint8_t *>(vlan_set) + kBitmapOffset;
}

uint32_t rire_orsk_vlan_count(const uint8_t *bitmap) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < kBitmapBytes; i++)
        for (uint8_t bits = bitmap[i]; bits != 0; bits &= static_cast<uint8_t>(bits - 1))
            count++;
    return count;
}

/* Bitmap word w in host order, VLAN 32w in its most significant bit. */
uint32_t rire_orsk_vlan_word(const uint8_t *bitmap, uint32_t w) {
    uint32_t word;
    memcpy(&word, bitmap + 4 * w, sizeof word);
    return __builtin_bswap32(word); /* the bitmap is big-endian, the host is not */
}

/* The lowest set VLAN at or above `from`, or kBitmapWords * 32 when none. */
uint32_t rire_orsk_vlan_next(const uint8_t *bitmap, uint32_t from) {
    uint32_t w = from / 32;
    if (w >= kBitmapWords)
        return kBitmapWords * 32;
    uint32_t word = rire_orsk_vlan_word(bitmap, w) & (0xFFFFFFFFu >> (from % 32));
    while (word == 0) {
        if (++w >= kBitmapWords)
            return kBitmapWords * 32;
        word = rire_orsk_vlan_word(bitmap, w);
    }
    return 32 * w + static_cast<uint32_t>(__builtin_clz(word));
}

void rire_orsk_vlan_trace(const rire_orsk_vlan_texts &t, uint32_t count, bool enable) {
    if (t.snooping)
        RIRE_TRACE_AS(t.func, "%s Snooping %s for vlan count %d\n", t.func,
                      enable ? "Enable" : "Disable", count);
    else
        RIRE_TRACE_AS(t.func, "%s OMF %s for vlan count %d\n", t.func,
                      enable ? "Enable" : "Disable", count);
}

void rire_orsk_vlan_trace_one(const rire_orsk_vlan_texts &t, uint32_t vlan, bool enable) {
    if (t.snooping)
        RIRE_TRACE_AS(t.func, "%s: Vlan - %d, IGMP Snooping %s\n", t.func, vlan,
                      enable ? "Enabled" : "Disabled");
    else
        RIRE_TRACE_AS(t.func, "%s: Vlan - %d, OMF  %s\n", t.func, vlan,
                      enable ? "Enabled" : "Disabled");
}

uint32_t rire_orsk_vlan_config(const rire_orsk_vlan_texts &t, const void *vlan_set, bool enable) {
    const uint8_t *bitmap = rire_orsk_vlan_bitmap(vlan_set);
    const uint32_t count = rire_orsk_vlan_count(bitmap);
    if (count == 0) {
        RIRE_TRACE_AS(t.func, "%s: Number of vlans set is zero\n", t.func);
        return RIRE_ORSK_REQ_DONE;
    }
    rire_orsk_vlan_trace(t, count, enable);
    uint32_t logged = 0;
    for (uint32_t vlan = rire_orsk_vlan_next(bitmap, 0); vlan < kBitmapWords * 32 && logged < count;
         vlan = rire_orsk_vlan_next(bitmap, vlan + 1)) {
        rire_orsk_vlan_trace_one(t, vlan, enable);
        logged++;
    }
    return RIRE_ORSK_REQ_DONE;
}

} // namespace

uint32_t rire_orsk_igmp_snoop_config(const void *vlan_set, uint32_t, uint32_t enable) {
    return rire_orsk_vlan_config({__func__, true}, vlan_set, enable != 0);
}

uint32_t rire_orsk_snoop_omf_config(const void *vlan_set, uint32_t enable) {
    return rire_orsk_vlan_config({__func__, false}, vlan_set, enable != 0);
}
