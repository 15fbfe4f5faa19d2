// The plugin's PSS records (plugin/include/rire_orsk_pss_records.h) in words:
// one decoder for every reader of the store, the scenario's dumps and
// `rire-host inspect` alike. Held DIs are read with the host's TLV utility,
// bounded by the value, so a damaged value cannot be read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "emu/bytes.h"

namespace rire_host::records {

// The PSS type of a database the plugin keeps ("pending_di", "hw_update").
std::optional<uint32_t> type_of(const std::string &db_name);
// What a key names: "req_id 7", "oiflist 5".
std::string describe_key(uint32_t type, const emu::bytes::Bytes &key);
// One line that says what a stored record means, in the words of dump queue.
std::string describe(uint32_t type, const emu::bytes::Bytes &key, const emu::bytes::Bytes &value);
// The raw bytes, "      key K  value V", one line (value omitted when null),
// the value cut after `max` bytes.
void print_bytes(std::ostream &out, const emu::bytes::Bytes &key, const emu::bytes::Bytes *value,
                 size_t max = 64);

} // namespace rire_host::records
