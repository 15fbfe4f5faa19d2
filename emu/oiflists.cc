#include "emu/oiflists.h"

#include <set>
#include <utility>

#include "emu/journal.h"
#include "plugin/host/rire.h"

namespace emu::oiflists {
namespace {
std::set<std::pair<uint32_t, uint32_t>> g_oiflists; // (type, index)
} // namespace

void declare(uint32_t type, uint32_t index) {
    g_oiflists.emplace(type, index);
}

bool remove(uint32_t type, uint32_t index) {
    return g_oiflists.erase({type, index}) != 0;
}

bool exists(uint32_t type, uint32_t index) {
    return g_oiflists.count({type, index}) != 0;
}

std::vector<Oiflist> list() {
    std::vector<Oiflist> all;
    all.reserve(g_oiflists.size());
    for (const auto &[type, index] : g_oiflists)
        all.push_back(Oiflist{type, index});
    return all;
}

void reset() {
    g_oiflists.clear();
}

} // namespace emu::oiflists

int rire_pi_check_oiflist_exists(uint32_t type, uint32_t oiflist_index) {
    emu::journal::record("rire_pi_check_oiflist_exists", {type, oiflist_index});
    return emu::oiflists::exists(type, oiflist_index) ? 1 : 0;
}
