// emu::log text: the scans and copies each record's text takes on its way
// into the history, the event log and events.log. The texts are tens to a
// few hundred bytes, of a different length from one record to the next; the
// C library's routines branch on the length and on how source and
// destination are aligned, and mispredict several times a record. These go
// 16 bytes at a time and end on a load or store that overlaps the one
// before, so a text costs about one mispredicted branch, the loop's exit.
// Nothing is read or written outside the bytes named.
//
// The emulator is built for processors with SSE2 (every x86 processor since
// 2003, and qemu-i386); the plugin is not.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstring>

namespace emu::log {
namespace text_detail {

constexpr std::size_t kChunk = 16;

inline __m128i load(const char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// One bit for each of the 16 bytes equal to `c`, the first byte lowest.
inline unsigned bytes_equal(__m128i bytes, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}

} // namespace text_detail

// Bytes of `text` before its first NUL, reading no more than `max` bytes
// (`max` when none is among them).
inline std::size_t text_length(const char *text, std::size_t max) {
    using namespace text_detail;
    if (max < kChunk)
        return strnlen(text, max);
    std::size_t at = 0;
    for (; at + kChunk <= max; at += kChunk)
        if (const unsigned nul = bytes_equal(load(text + at), '\0'))
            return at + __builtin_ctz(nul);
    if (at == max)
        return max;
    // The last 16 bytes, of which the first were looked at already.
    const unsigned nul = bytes_equal(load(text + max - kChunk), '\0') >> (kChunk - (max - at));
    return nul != 0 ? at + __builtin_ctz(nul) : max;
}

// Copies `n` bytes to `out`, a range apart from them; true when one of the
// bytes is a newline.
inline bool copy_text(char *out, const char *text, std::size_t n) {
    using namespace text_detail;
    if (n < kChunk) {
        if (n == 0)
            return false; // an empty text may have no address
        std::memcpy(out, text, n);
        return std::memchr(text, '\n', n) != nullptr;
    }
    unsigned newlines = 0;
    for (std::size_t at = 0; at + kChunk < n; at += kChunk) {
        const __m128i bytes = load(text + at);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at), bytes);
        newlines |= bytes_equal(bytes, '\n');
    }
    // The last 16 bytes, overlapping the chunk before.
    const __m128i last = load(text + n - kChunk);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + n - kChunk), last);
    return (newlines | bytes_equal(last, '\n')) != 0;
}

} // namespace emu::log
