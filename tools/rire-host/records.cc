#include "tools/rire-host/records.h"

#include <cstddef>
#include <cstring>
#include <sstream>

#include "emu/services/tlv.h"
#include "plugin/include/rire_orsk_platform_api.h"
#include "plugin/include/rire_orsk_pss_records.h"

namespace rire_host {
namespace {

using emu::base::bytes::Bytes;

uint32_t le32(const Bytes &b) {
    uint32_t v = 0;
    std::memcpy(&v, b.data(), sizeof v);
    return v;
}

// The oif TLVs of the array at `array_at`, num_hold_di entries at most, read
// no further than the value's last byte.
void read_tlvs(const Bytes &value, size_t array_at, Record *r) {
    if (array_at >= value.size())
        return;
    const uint8_t *array = value.data() + array_at;
    emu::services::tlv::Tlv t;
    for (uint32_t at = 0; emu::services::tlv::parse(array, at, value.size() - array_at, &t) == 0;
         at = t.next) {
        if (t.type != RIRE_PLATFORM_PSS_TLV_OIF) {
            r->other_tlvs.push_back(t.type);
            continue;
        }
        rire_orsk_pss_hold_di entry;
        for (uint32_t i = 0; i < r->num_hold_di && (i + 1) * sizeof entry <= t.len; i++) {
            std::memcpy(&entry, array + t.payload + i * sizeof entry, sizeof entry);
            r->held.emplace_back(entry.di, entry.oiflist_index);
        }
    }
}

} // namespace

std::optional<uint32_t> decode_key(uint32_t service, const Bytes &key) {
    if (key.size() != sizeof(uint32_t))
        return std::nullopt;
    if (service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB)
        return le32(key);
    return le32(key) & RIRE_ORSK_PSS_KEY_INDEX_MASK;
}

Record decode_record(uint32_t service, const Bytes &key, const Bytes &value) {
    using Hw = rire_orsk_hw_update_pss_info;
    using Pending = rire_orsk_pending_di_pss_info;
    Record r;
    r.key = decode_key(service, key);
    if (service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB && value.size() >= sizeof(Hw)) {
        Hw hw;
        std::memcpy(&hw, value.data(), sizeof hw);
        r.has_header = true;
        r.type = hw.req_type;
        r.num_hold_di = hw.num_hold_di;
        read_tlvs(value, offsetof(Hw, tlv_array), &r);
    } else if (service == RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB && value.size() >= sizeof(Pending)) {
        Pending p;
        std::memcpy(&p, value.data(), sizeof p);
        r.has_header = true;
        r.type = p.type;
        r.state = p.state;
        r.num_hold_di = p.num_hold_di;
        read_tlvs(value, offsetof(Pending, tlv_array), &r);
    }
    return r;
}

Fields record_fields(uint32_t service, const Bytes &key, const Bytes *value) {
    const bool hw = service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
    Fields fields = Fields::object();
    Record r;
    if (value)
        r = decode_record(service, key, *value);
    else
        r.key = decode_key(service, key);
    if (r.key)
        fields[hw ? "req_id" : "index"] = *r.key;
    if (!r.has_header)
        return fields;
    fields[hw ? "req_type" : "oiflist_type"] = r.type;
    if (r.state)
        fields["state"] = *r.state;
    fields["num_hold_di"] = r.num_hold_di;
    Fields held = Fields::array();
    for (const auto &[di, oiflist] : r.held)
        held.push_back({{"di", di}, {"oiflist", oiflist}});
    fields["held"] = held;
    if (!r.other_tlvs.empty())
        fields["other_tlvs"] = r.other_tlvs;
    return fields;
}

namespace {

// The plugin's databases by the names it registers them under.
constexpr std::pair<const char *, uint32_t> kDatabases[] = {
    {RIRE_PLATFORM_PSS_NAME_PENDING_DI, RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB},
    {RIRE_PLATFORM_PSS_NAME_HW_UPDATE, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB},
};

} // namespace

const std::vector<const char *> &database_words() {
    static const std::vector<const char *> words = {RIRE_PLATFORM_PSS_NAME_HW_UPDATE,
                                                    RIRE_PLATFORM_PSS_NAME_PENDING_DI};
    return words;
}

std::optional<uint32_t> service_of(const std::string &db_name) {
    for (const auto &[name, service] : kDatabases)
        if (db_name == name)
            return service;
    return std::nullopt;
}

std::string db_name_of(uint32_t service) {
    for (const auto &[name, type] : kDatabases)
        if (service == type)
            return name;
    return std::to_string(service);
}

std::string describe_key(uint32_t service, const Bytes &key) {
    const auto number = decode_key(service, key);
    if (!number)
        return "a key of " + std::to_string(key.size()) + " bytes";
    return (service == RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB ? "req_id " : "oiflist ") +
           std::to_string(*number);
}

std::string describe_record(uint32_t service, const Bytes &key, const Bytes &value) {
    const Record r = decode_record(service, key, value);
    std::ostringstream out;
    out << describe_key(service, key);
    if (!r.has_header) {
        out << ", a value of " << value.size() << " bytes";
        return out.str();
    }
    out << " type " << r.type;
    if (r.state)
        out << " state " << *r.state;
    out << ", " << r.num_hold_di << " held";
    const char *sep = ": ";
    for (uint16_t type : r.other_tlvs) {
        out << sep << "TLV of type " << type;
        sep = ", ";
    }
    for (const auto &[di, index] : r.held) {
        out << sep << "DI " << di << " (oiflist " << index << ")";
        sep = ", ";
    }
    return out.str();
}

void print_bytes(std::ostream &out, const Bytes &key, const Bytes *value, size_t max) {
    out << "      key " << emu::base::bytes::hex(key.data(), key.size());
    if (value)
        out << "  value " << emu::base::bytes::hex(value->data(), value->size(), max);
    out << "\n";
}

} // namespace rire_host
