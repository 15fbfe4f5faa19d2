#include "emu/rire/oiflists.h"

#include <map>
#include <utility>

#include "emu/base/journal.h"
#include "emu/rire/bitmaps.h"
#include "plugin/host/rire.h"

namespace emu::rire::oiflists {
namespace {
// (type, index) -> whether the declaration took the index in the bitmap
std::map<std::pair<uint32_t, uint32_t>, bool> g_oiflists;
} // namespace

void declare(uint32_t type, uint32_t index) {
    if (g_oiflists.count({type, index}) != 0)
        return;
    rire::bitmaps::Allocator *alloc = rire::bitmaps::allocator(type);
    g_oiflists[{type, index}] = alloc != nullptr && alloc->take(index);
}

bool remove(uint32_t type, uint32_t index) {
    auto found = g_oiflists.find({type, index});
    if (found == g_oiflists.end())
        return false;
    if (found->second)
        rire::bitmaps::allocator(type)->release(index);
    g_oiflists.erase(found);
    return true;
}

bool exists(uint32_t type, uint32_t index) {
    return g_oiflists.count({type, index}) != 0;
}

std::vector<Oiflist> list() {
    std::vector<Oiflist> all;
    all.reserve(g_oiflists.size());
    for (const auto &[oiflist, took] : g_oiflists)
        all.push_back(Oiflist{oiflist.first, oiflist.second});
    return all;
}

void reset() {
    g_oiflists.clear();
}

} // namespace emu::rire::oiflists

int rire_pi_check_oiflist_exists(uint32_t type, uint32_t oiflist_index) {
    emu::base::journal::record("rire_pi_check_oiflist_exists", {type, oiflist_index});
    return emu::rire::oiflists::exists(type, oiflist_index) ? 1 : 0;
}
