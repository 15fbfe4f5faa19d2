#include "emu/services/im.h"

#include <map>
#include <utility>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "plugin/host/im.h"

namespace emu::services::im {
namespace {
std::map<uint32_t, Interface> g_interfaces;
std::map<uint32_t, QueryCount> g_queries;

constexpr std::pair<Kind, std::string_view> kKindNames[] = {
    {Kind::loopback0, "loopback0"}, {Kind::loopback, "loopback"}, {Kind::other, "other"}};

// The answer to "is `ifindex` of a kind that `matches` accepts?", with the
// error reporting both queries share.
int answer(uint32_t ifindex, int32_t *status, bool (*matches)(Kind)) {
    if (const auto error = base::faults::fires(base::faults::Id::kImLoopbackError, ifindex)) {
        *status = error->code;
        return 0;
    }
    auto interface = g_interfaces.find(ifindex);
    return interface != g_interfaces.end() && matches(interface->second.kind) ? 1 : 0;
}

bool is_loopback0(Kind kind) {
    return kind == Kind::loopback0;
}
bool is_loopback(Kind kind) {
    return kind != Kind::other;
}
} // namespace

void add(Interface interface) {
    const uint32_t ifindex = interface.ifindex;
    g_interfaces.insert_or_assign(ifindex, std::move(interface));
}

bool remove(uint32_t ifindex) {
    return g_interfaces.erase(ifindex) != 0;
}

std::vector<Interface> list() {
    std::vector<Interface> all;
    all.reserve(g_interfaces.size());
    for (const auto &entry : g_interfaces)
        all.push_back(entry.second);
    return all;
}

QueryCount queries(uint32_t ifindex) {
    auto found = g_queries.find(ifindex);
    return found == g_queries.end() ? QueryCount{} : found->second;
}

std::string_view kind_name(Kind kind) {
    for (const auto &[k, name] : kKindNames) {
        if (k == kind)
            return name;
    }
    return {};
}

std::optional<Kind> parse_kind(std::string_view name) {
    for (const auto &[kind, n] : kKindNames) {
        if (n == name)
            return kind;
    }
    return std::nullopt;
}

void reset() {
    g_interfaces.clear();
    g_queries.clear();
}

} // namespace emu::services::im

int im_is_ifindex_loopback0(uint32_t ifindex, int32_t *status) {
    emu::base::journal::record("im_is_ifindex_loopback0", {ifindex});
    ++emu::services::im::g_queries[ifindex].loopback0;
    return emu::services::im::answer(ifindex, status, emu::services::im::is_loopback0);
}

int im_is_ifindex_loopback(uint32_t ifindex, int32_t *status) {
    emu::base::journal::record("im_is_ifindex_loopback", {ifindex});
    ++emu::services::im::g_queries[ifindex].loopback;
    return emu::services::im::answer(ifindex, status, emu::services::im::is_loopback);
}
