// Byte strings as the emulator's query functions hand them out, the short hex
// rendering the journal uses for keys and payloads (both accept a null
// address, read as no bytes), addresses as journal arguments, and the text a
// host operation's printf-style arguments make.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emu::base::bytes {

using Bytes = std::vector<uint8_t>;

// A copy of `len` bytes at `data`; empty when `data` is null.
Bytes copy(const void *data, std::size_t len);
// Lowercase hex of at most `max` bytes, with ".." appended when cut.
std::string hex(const void *data, std::size_t len, std::size_t max = 32);
// An address as an integer journal argument.
inline int64_t address(const void *p) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p));
}

// The text `fmt` makes of `args`; empty for a null format. `args` is used up.
std::string vformat(const char *fmt, va_list args);

} // namespace emu::base::bytes
