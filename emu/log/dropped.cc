#include "emu/log/dropped.h"

#include "plugin/include/rire_orsk_log.h"

namespace emu::log::dropped {
namespace {

// An error record tells its cause by the function it names, or, for the TLV
// refusal, which each record encoder logs under its own name, by its text.
struct Cause {
    std::string_view function; // empty: any function
    std::string_view message;  // empty: any text
    Reason reason;
    const char *text;
};

constexpr Cause kCauses[kReasons] = {
    {"rire_orsk_pss_buf_allocate", {}, Reason::kArenaFull, "the scratch arena is full"},
    {{}, "Error adding tlv type", Reason::kTlvRefused, "the TLV utility refused its value"},
    {"rire_orsk_pss_buf_store", {}, Reason::kWriteRefused, "the framework refused the write"},
    {"rire_orsk_pss_buf_delete", {}, Reason::kDeleteRefused, "the framework refused the deletion"},
};

} // namespace

std::optional<Reason> classify(uint32_t level, std::string_view text) {
    if (level != RIRE_ORSK_LOG_LEVEL_ERROR)
        return std::nullopt;
    const std::string_view function = text.substr(0, text.find('('));
    for (const Cause &c : kCauses)
        if ((c.function.empty() || function == c.function) &&
            text.find(c.message) != std::string_view::npos)
            return c.reason;
    return std::nullopt;
}

const char *describe(Reason reason) {
    return kCauses[static_cast<int>(reason)].text;
}

} // namespace emu::log::dropped
