// A store file from arbitrary bytes: the input format that the store fuzz
// target and the corpus replay test share, and the one cycle both run per
// input. An input is the whole of a data.mdb; it is written into DIR, read
// as `rire-host inspect` reads it (emu/pss/view.h) and opened as a boot
// opens it (emu::pss::open_store, then every record read). Either the file
// is refused as damaged, left byte for byte as it was, or both readers see
// the same records. Nothing may fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "emu/pss/pss.h"
#include "emu/pss/view.h"

namespace rire_fuzz {

inline std::string read_bytes(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Empty when the input was handled as it must be, else what went wrong.
inline std::string open_store_input(const std::filesystem::path &dir, const uint8_t *data,
                                    std::size_t size) {
    namespace pss = emu::pss;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::ofstream(dir / "data.mdb", std::ios::binary) << bytes;
    const pss::view::Snapshot seen = pss::view::read(dir);
    if (seen.status == pss::view::Snapshot::kFailed)
        return "inspect could not open it: " + seen.fault;
    const int rc = pss::open_store(dir, pss::Sync::kNone);
    const bool refused = rc == pss::kErrUnusable;
    const auto booted = rc == 0 ? pss::snapshot() : std::map<std::string, pss::Records>{};
    pss::close_store();
    if (rc != 0 && !refused)
        return "the boot could not open it: " + pss::last_store_error();
    if (refused != (seen.status == pss::view::Snapshot::kDamaged))
        return refused ? "the boot refused what inspect read: " + pss::last_store_error()
                       : "inspect refused what the boot read: " + seen.fault;
    if (refused && read_bytes(dir / "data.mdb") != bytes)
        return "a refused store was changed";
    if (!refused && booted != seen.dbs)
        return "the boot read other records than inspect";
    return "";
}

} // namespace rire_fuzz
