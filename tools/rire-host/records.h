// The PSS records as rire-host reads them: a stored key and value decoded
// with the one record layout (plugin/include/rire_orsk_pss_records.h), the
// held DIs read with the host's TLV utility bounded by the value. Used by
// `dump pss`, `dump pending` and `expect record|queued`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emu/bytes.h"

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

Record decode_record(uint32_t service, const emu::bytes::Bytes &key,
                     const emu::bytes::Bytes &value);
// The key alone, for a deletion.
std::optional<uint32_t> decode_key(uint32_t service, const emu::bytes::Bytes &key);

} // namespace rire_host
