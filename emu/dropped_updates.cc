#include "emu/dropped_updates.h"

#include "emu/log.h"

namespace emu::dropped {
namespace {

struct Cause {
    std::string_view function;
    Reason reason;
    const char *text;
};

constexpr Cause kCauses[kReasons] = {
    {"rire_orsk_pss_buf_allocate", Reason::kArenaFull, "the scratch arena is full"},
    {"rire_orsk_pss_add_oif_tlv", Reason::kTlvRefused, "the TLV utility refused its value"},
    {"rire_orsk_pss_buf_store", Reason::kWriteRefused, "the framework refused the write"},
    {"rire_orsk_pss_buf_delete", Reason::kDeleteRefused, "the framework refused the deletion"},
};

} // namespace

std::optional<Reason> classify(uint32_t level, std::string_view text) {
    if (level != log::kLevelError)
        return std::nullopt;
    const std::string_view function = text.substr(0, text.find('('));
    for (const Cause &c : kCauses)
        if (function == c.function)
            return c.reason;
    return std::nullopt;
}

const char *describe(Reason reason) {
    return kCauses[static_cast<int>(reason)].text;
}

} // namespace emu::dropped
