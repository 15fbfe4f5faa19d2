#include "emu/base/bytes.h"

#include <cstdio>

namespace emu::base::bytes {

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

std::string vformat(const char *fmt, va_list args) {
    if (fmt == nullptr)
        return {};
    va_list sizing;
    va_copy(sizing, args);
    const int len = std::vsnprintf(nullptr, 0, fmt, sizing);
    va_end(sizing);
    if (len <= 0)
        return {};
    std::string text(static_cast<std::size_t>(len) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.pop_back();
    return text;
}

} // namespace emu::base::bytes
