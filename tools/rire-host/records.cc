#include "tools/rire-host/records.h"

#include <cstddef>
#include <cstring>
#include <sstream>

#include "emu/tlv.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "plugin/include/rire_orsk_pss_records.h"

namespace rire_host::records {
namespace {

using emu::bytes::Bytes;

constexpr uint32_t kDumpExtentSlot = 0xD0;

uint32_t le32(const Bytes &b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && at + i < b.size(); i++)
        v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return v;
}

// The held DIs of the oif TLVs in a stored value, ", DI d (oiflist i)" each.
std::string held_dis(const Bytes &value, size_t array_at, uint8_t num_hold_di) {
    if (array_at >= value.size())
        return "";
    const uint8_t *array = value.data() + array_at;
    emu::tlv::set_read_extent(kDumpExtentSlot, value.data(), value.data() + value.size());
    std::ostringstream out;
    uint32_t cursor = 0;
    uint16_t type, len;
    void *payload;
    const char *sep = ": ";
    while (tlv_array_get_next_tlv(array, &type, &len, &payload, 0, &cursor) == 0) {
        if (type != RIRE_PLATFORM_PSS_TLV_OIF) {
            out << sep << "TLV of type " << type;
            sep = ", ";
            continue;
        }
        const auto *p = static_cast<const uint8_t *>(payload);
        rire_orsk_pss_hold_di entry;
        for (uint32_t i = 0; i < num_hold_di && (i + 1) * sizeof entry <= len; i++, sep = ", ") {
            std::memcpy(&entry, p + i * sizeof entry, sizeof entry);
            out << sep << "DI " << entry.di << " (oiflist " << entry.oiflist_index << ")";
        }
    }
    emu::tlv::clear_read_extent(kDumpExtentSlot);
    return out.str();
}

} // namespace

std::optional<uint32_t> type_of(const std::string &db_name) {
    if (db_name == "pending_di")
        return RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB;
    if (db_name == "hw_update")
        return RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
    return std::nullopt;
}

std::string describe_key(uint32_t type, const Bytes &key) {
    if (key.size() != sizeof(uint32_t))
        return "a key of " + std::to_string(key.size()) + " bytes";
    if (type == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB)
        return "req_id " + std::to_string(le32(key, 0));
    return "oiflist " + std::to_string(le32(key, 0) & RIRE_ORSK_PSS_KEY_INDEX_MASK);
}

std::string describe(uint32_t type, const Bytes &key, const Bytes &value) {
    using Hw = rire_orsk_hw_update_pss_info;
    using Pending = rire_orsk_pending_di_pss_info;
    std::ostringstream out;
    out << describe_key(type, key);
    if (type == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB && value.size() >= sizeof(Hw)) {
        Hw hw;
        std::memcpy(&hw, value.data(), sizeof hw);
        out << " type " << +hw.req_type << ", " << +hw.num_hold_di << " held"
            << held_dis(value, offsetof(Hw, tlv_array), hw.num_hold_di);
    } else if (type == RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB && value.size() >= sizeof(Pending)) {
        Pending p;
        std::memcpy(&p, value.data(), sizeof p);
        out << " type " << +p.type << " state " << +p.state << ", " << +p.num_hold_di << " held"
            << held_dis(value, offsetof(Pending, tlv_array), p.num_hold_di);
    } else {
        out << ", a value of " << value.size() << " bytes";
    }
    return out.str();
}

void print_bytes(std::ostream &out, const Bytes &key, const Bytes *value, size_t max) {
    out << "      key " << emu::bytes::hex(key.data(), key.size());
    if (value)
        out << "  value " << emu::bytes::hex(value->data(), value->size(), max);
    out << "\n";
}

} // namespace rire_host::records
