// The host-call journal: every host operation the plugin calls is recorded
// here in call order, with its name and its integer arguments, so tests and
// tools can check which host services were asked what, and in which order.
//
// Off unless switched on: recording costs allocations per call. When on, it
// keeps the newest kCapacity calls (emu::base::Ring, addressed by sequence number).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emu/base/ring.h"

namespace emu::base::journal {

struct Call {
    std::string op;            // the host operation's name, e.g. "fu_vdc_add_pss_data"
    std::vector<int64_t> args; // its integer arguments, in the order the operation takes them
    std::string detail;        // a short rendering of non-integer arguments (key bytes, texts)
};

constexpr std::size_t kCapacity = 65536;

namespace internal {
extern bool g_enabled;
void append(std::string_view op, std::initializer_list<int64_t> args, std::string detail);
} // namespace internal

// Records one call while the journal is on; off, it is one inlined test.
inline void record(std::string_view op, std::initializer_list<int64_t> args = {},
                   std::string detail = {}) {
    if (internal::g_enabled)
        internal::append(op, args, std::move(detail));
}
const base::Ring<Call> &calls();
// Names of the kept calls, oldest first; handy for order assertions.
std::vector<std::string> ops();
void clear();
// Default off. Callers whose detail is costly to build check enabled() first.
void set_enabled(bool on);
inline bool enabled() {
    return internal::g_enabled;
}

} // namespace emu::base::journal
