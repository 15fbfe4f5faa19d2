// The PSS updates the plugin gave up on, recognised in its error records.
// When the scratch arena is full, the TLV utility refuses a value or the
// framework refuses an update, the plugin logs one error from the operation
// that failed and abandons that write or deletion, as it is built to; the
// record's function names the cause. A host that must not lose an update
// silently reads its event log through classify().
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace emu::log::dropped {

enum class Reason {
    kArenaFull,     // rire_orsk_pss_buf_allocate: the 64 KiB arena cannot hold the block
    kTlvRefused,    // "Error adding tlv type": the TLV utility refused the value
    kWriteRefused,  // rire_orsk_pss_buf_store: the framework refused the write
    kDeleteRefused, // rire_orsk_pss_buf_delete: the framework refused the deletion
};
inline constexpr int kReasons = 4;

// The reason when an event-log record (level, "func(line):...") reports an
// abandoned update; nothing for every other record.
std::optional<Reason> classify(uint32_t level, std::string_view text);
// "the scratch arena is full", ...
const char *describe(Reason reason);

} // namespace emu::log::dropped
