// The PSS records as rire-host reads them: a stored key and value decoded
// with the one record layout (plugin/include/rire_orsk_pss_records.h), the
// held DIs read with the TLV encoding's own parser (emu::services::tlv::parse) bounded
// by the value, so a damaged value cannot be read past its end. The parser
// is pure: decoding calls no host service, so it consumes no fault the
// plugin is meant to meet and adds no call to the journal. One decoder for
// every reader of the store: the scenario's dumps, `expect record|queued`
// and `rire-host inspect`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "emu/base/bytes.h"
#include "tools/rire-host/output.h"

namespace rire_host {

struct Record {
    // The number a key names: req_id (hw_update), oiflist index with the
    // type tag dropped (pending_di); nothing for a key that is not 4 bytes.
    std::optional<uint32_t> key;
    bool has_header = false;       // the value is long enough for its header
    uint32_t type = 0;             // req_type, or the pending-DI type
    std::optional<uint32_t> state; // pending_di only
    uint32_t num_hold_di = 0;
    std::vector<std::pair<uint32_t, uint32_t>> held; // (DI, oiflist index), newest first
    std::vector<uint16_t> other_tlvs;                // types of TLVs that are not oif TLVs
};

Record decode_record(uint32_t service, const emu::base::bytes::Bytes &key,
                     const emu::base::bytes::Bytes &value);
// The key alone, for a deletion.
std::optional<uint32_t> decode_key(uint32_t service, const emu::base::bytes::Bytes &key);

// The names of the plugin's databases, as the words a verb's db= accepts.
const std::vector<const char *> &database_words();
// The PSS type of a database the plugin keeps ("pending_di", "hw_update").
std::optional<uint32_t> service_of(const std::string &db_name);
// The name of the plugin's database of PSS type `service`; the number for any
// other type.
std::string db_name_of(uint32_t service);
// A stored record (or, without `value`, a key) as JSON fields, named as run
// mode's request records name them: req_id (hw_update) or index
// (pending_di), then when the value has its header req_type or oiflist_type and
// state, num_hold_di, held [{di, oiflist}] newest first, other_tlvs.
Fields record_fields(uint32_t service, const emu::base::bytes::Bytes &key,
                     const emu::base::bytes::Bytes *value);
// What a key names: "req_id 7", "oiflist 5".
std::string describe_key(uint32_t service, const emu::base::bytes::Bytes &key);
// One line that says what a stored record means, in the words of dump queue.
std::string describe_record(uint32_t service, const emu::base::bytes::Bytes &key,
                            const emu::base::bytes::Bytes &value);
// The raw bytes, "      key K  value V", one line (value omitted when null),
// the value cut after `max` bytes.
void print_bytes(std::ostream &out, const emu::base::bytes::Bytes &key,
                 const emu::base::bytes::Bytes *value, size_t max = 64);

} // namespace rire_host
