#include "emu/services/tlv.h"

#include <cstring>
#include <vector>

#include "emu/base/bytes.h"
#include "emu/base/faults.h"
#include "emu/base/journal.h"

namespace emu::services::tlv {
namespace {

struct Extent {
    uint32_t slot;
    const uint8_t *begin;
    const uint8_t *end;
    std::size_t slack;
};

std::vector<Extent> g_extents;

// Bytes readable from `array`, or UINT64_MAX when no extent bounds it.
uint64_t readable_from(const uint8_t *array) {
    for (const Extent &e : g_extents) {
        if (array >= e.begin && array < e.end + e.slack)
            return array < e.end ? static_cast<uint64_t>(e.end - array) : 0;
    }
    return UINT64_MAX;
}

uint16_t load_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void store_u16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The 1-based ordinal of the TLV at byte offset `at`.
uint32_t ordinal(const uint8_t *array, uint32_t at, uint64_t limit) {
    uint32_t n = 1;
    Tlv t{};
    for (uint32_t i = 0; i < at && parse(array, i, limit, &t) == 0; i = t.next)
        ++n;
    return n;
}

bool next_fails(const uint8_t *array, uint32_t at, uint64_t limit) {
    return base::faults::is_on(base::faults::Id::kTlvNextFail) &&
           base::faults::fires(base::faults::Id::kTlvNextFail, 0, ordinal(array, at, limit));
}

} // namespace

int parse(const void *array, uint32_t at, uint64_t limit, Tlv *out) {
    const auto *bytes = static_cast<const uint8_t *>(array);
    if (at >= limit || bytes[at] == 0)
        return kEnd;
    if (bytes[at] != kMarker || at + uint64_t{kHeaderSize} > limit)
        return kMalformed;
    out->type = load_u16(bytes + at + 1);
    out->len = load_u16(bytes + at + 3);
    const uint64_t payload = at + uint64_t{kHeaderSize};
    const uint64_t next = payload + out->len;
    if (next > limit || next > UINT32_MAX)
        return kMalformed;
    out->payload = static_cast<uint32_t>(payload);
    out->next = static_cast<uint32_t>(next);
    return 0;
}

// Called for every record a PSS walk reads: replaces the slot's extent in place.
void set_read_extent(uint32_t slot, const void *begin, const void *end, std::size_t slack) {
    const Extent extent{slot, static_cast<const uint8_t *>(begin),
                        static_cast<const uint8_t *>(end), slack};
    for (Extent &e : g_extents) {
        if (e.slot == slot) {
            e = extent;
            return;
        }
    }
    g_extents.push_back(extent);
}

void clear_read_extent(uint32_t slot) {
    std::erase_if(g_extents, [slot](const Extent &e) { return e.slot == slot; });
}

void clear_read_extents() {
    g_extents.clear();
}

} // namespace emu::services::tlv

namespace services = emu::services;

extern "C" uint32_t tlv_size_get(uint32_t payload_len) {
    emu::base::journal::record("tlv_size_get", {payload_len});
    return services::tlv::kHeaderSize + payload_len;
}

extern "C" int tlv_array_add_tlv(void *array, uint32_t size, uint16_t type, uint16_t len,
                                 const void *payload, int flags) {
    emu::base::journal::record(
        "tlv_array_add_tlv", {emu::base::bytes::address(array), size, type, len, flags},
        emu::base::journal::enabled() ? emu::base::bytes::hex(payload, len, 16) : "");
    if (array == nullptr || (payload == nullptr && len != 0))
        return services::tlv::kBadArg;
    if (emu::base::faults::fires(emu::base::faults::Id::kTlvAddRefuse))
        return services::tlv::kNoRoom;
    auto *bytes = static_cast<uint8_t *>(array);
    uint32_t end = 0;
    services::tlv::Tlv t{};
    int rc;
    while ((rc = services::tlv::parse(bytes, end, size, &t)) == 0)
        end = t.next;
    if (rc != services::tlv::kEnd)
        return rc;
    if (end + uint64_t{services::tlv::kHeaderSize} + len > size)
        return services::tlv::kNoRoom;
    bytes[end] = services::tlv::kMarker;
    services::tlv::store_u16(bytes + end + 1, type);
    services::tlv::store_u16(bytes + end + 3, len);
    if (len != 0)
        std::memcpy(bytes + end + services::tlv::kHeaderSize, payload, len);
    return 0;
}

extern "C" uint32_t tlv_array_get_num_tlvs(const void *array, int flags) {
    emu::base::journal::record("tlv_array_get_num_tlvs", {emu::base::bytes::address(array), flags});
    if (array == nullptr)
        return 0;
    const auto *bytes = static_cast<const uint8_t *>(array);
    const uint64_t limit = services::tlv::readable_from(bytes);
    uint32_t n = 0;
    services::tlv::Tlv t{};
    for (uint32_t at = 0; services::tlv::parse(bytes, at, limit, &t) == 0; at = t.next)
        ++n;
    return n;
}

extern "C" int tlv_array_get_next_tlv(const void *array, uint16_t *type, uint16_t *len,
                                      void **payload, int flags, uint32_t *cursor) {
    emu::base::journal::record(
        "tlv_array_get_next_tlv",
        {emu::base::bytes::address(array), flags, cursor == nullptr ? -1 : int64_t{*cursor}});
    if (array == nullptr || type == nullptr || len == nullptr || payload == nullptr ||
        cursor == nullptr)
        return services::tlv::kBadArg;
    const auto *bytes = static_cast<const uint8_t *>(array);
    services::tlv::Tlv t{};
    const uint64_t limit = services::tlv::readable_from(bytes);
    const int rc = services::tlv::parse(bytes, *cursor, limit, &t);
    if (rc != 0)
        return rc;
    if (services::tlv::next_fails(bytes, *cursor, limit))
        return services::tlv::kInjected;
    *type = t.type;
    *len = t.len;
    *payload = const_cast<uint8_t *>(bytes + t.payload);
    *cursor = t.next;
    return 0;
}
