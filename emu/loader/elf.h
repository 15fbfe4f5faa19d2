// The ELF side of loading the plugin: what the emulator reads from the
// copy's file (its static data objects and functions, the GOT entries that bind its
// imports, its RELRO range) and the one write it makes into a loaded copy
// (a GOT word). Addresses here are link-time; add the load base to use them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace emu::loader::elf {

using Symbols = std::vector<std::pair<std::string, uint32_t>>; // name, link-time address

struct Layout {
    Symbols objects;   // defined data objects of .symtab (names as the compiler wrote them)
    Symbols functions; // defined functions of .symtab, hidden ones included
    Symbols imports;   // R_386_JUMP_SLOT / R_386_GLOB_DAT relocations: name, GOT entry
    std::pair<uint32_t, uint32_t> relro{0, 0}; // [begin, end); {0, 0} when none
};

// Reads a 32-bit little-endian ELF object; false with *error set otherwise.
bool read(const std::filesystem::path &path, Layout *out, std::string *error);
// True when `symbol` names `name` plainly or as an Itanium-mangled variable
// of internal linkage or inside namespaces ("_ZL7pss_buf", "_ZN3ns7pss_bufE").
bool denotes(const std::string &symbol, const std::string &name);
// Writes one GOT word of the copy loaded at `base`.
void write_got(uintptr_t base, uint32_t offset, std::pair<uint32_t, uint32_t> relro, void *value);

} // namespace emu::loader::elf
