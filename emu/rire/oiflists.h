// The platform-independent oiflist registry: which outgoing interface lists
// of which type the host's own layer holds. It answers the plugin's existence
// query (rire_pi_check_oiflist_exists, nonzero when declared, recorded in the
// journal); tests and the command-line tool declare and remove oiflists.
// A declared oiflist holds its index in the host's index bitmap of its type
// (emu/rire/bitmaps.h), as the layer allocated it there; removing it frees the
// index again when the declaration took it (it was not allocated before).
#pragma once

#include <cstdint>
#include <vector>

namespace emu::rire::oiflists {

struct Oiflist {
    uint32_t type;
    uint32_t index;
};

// Declares an oiflist; declaring one twice keeps one.
void declare(uint32_t type, uint32_t index);
// True when the oiflist was declared and is now gone.
bool remove(uint32_t type, uint32_t index);
bool exists(uint32_t type, uint32_t index);
// Every declared oiflist, by type and then by index.
std::vector<Oiflist> list();
// Forgets every oiflist (the bitmaps are reset with it at a restart).
void reset();

} // namespace emu::rire::oiflists
