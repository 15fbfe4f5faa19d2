#include "emu/journal.h"

#include <utility>

namespace emu::journal {
namespace {
std::vector<Call> g_calls;
bool g_enabled = true;
} // namespace

void record(std::string_view op, std::initializer_list<int64_t> args, std::string detail) {
    if (!g_enabled)
        return;
    g_calls.push_back(Call{std::string(op), std::vector<int64_t>(args), std::move(detail)});
}

const std::vector<Call> &calls() {
    return g_calls;
}

std::vector<std::string> ops() {
    std::vector<std::string> names;
    names.reserve(g_calls.size());
    for (const Call &c : g_calls)
        names.push_back(c.op);
    return names;
}

void clear() {
    g_calls.clear();
}

void set_enabled(bool on) {
    g_enabled = on;
}

bool enabled() {
    return g_enabled;
}

} // namespace emu::journal
