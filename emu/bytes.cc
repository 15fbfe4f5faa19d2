#include "emu/bytes.h"

namespace emu::bytes {

Bytes copy(const void *data, std::size_t len) {
    if (data == nullptr)
        return {};
    const auto *p = static_cast<const uint8_t *>(data);
    return Bytes(p, p + len);
}

std::string hex(const void *data, std::size_t len, std::size_t max) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (data == nullptr)
        return {};
    const auto *p = static_cast<const uint8_t *>(data);
    const std::size_t shown = len < max ? len : max;
    std::string out;
    out.reserve(2 * shown + 2);
    for (std::size_t i = 0; i < shown; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 0xf];
    }
    if (shown < len)
        out += "..";
    return out;
}

} // namespace emu::bytes
