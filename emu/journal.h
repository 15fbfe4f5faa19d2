// The host-call journal: every host operation the plugin calls is recorded
// here in call order, with its name and its integer arguments, so tests and
// tools can check which host services were asked what, and in which order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace emu::journal {

struct Call {
    std::string op;            // the host operation's name, e.g. "fu_vdc_add_pss_data"
    std::vector<int64_t> args; // its integer arguments, in the order the operation takes them
    std::string detail;        // a short rendering of non-integer arguments (key bytes, texts)
};

void record(std::string_view op, std::initializer_list<int64_t> args = {}, std::string detail = {});
const std::vector<Call> &calls();
// Names of the recorded calls, in order; handy for order assertions.
std::vector<std::string> ops();
void clear();
// Recording costs allocations per call; the benchmark switches it off.
// Callers whose detail is costly to build check enabled() first.
void set_enabled(bool on);
bool enabled();

} // namespace emu::journal
