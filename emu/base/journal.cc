#include "emu/base/journal.h"

#include <utility>

namespace emu::base::journal {
namespace {
base::Ring<Call> g_calls{kCapacity};
} // namespace

bool internal::g_enabled = false;

void internal::append(std::string_view op, std::initializer_list<int64_t> args,
                      std::string detail) {
    Call *call = g_calls.append();
    call->op.assign(op);
    call->args.assign(args);
    call->detail = std::move(detail);
}

const base::Ring<Call> &calls() {
    return g_calls;
}

std::vector<std::string> ops() {
    std::vector<std::string> names;
    for (const Call &c : g_calls)
        names.push_back(c.op);
    return names;
}

void clear() {
    g_calls.clear();
}

void set_enabled(bool on) {
    internal::g_enabled = on;
}

} // namespace emu::base::journal
