// The interface manager: a table of interfaces (ifindex, name, kind) that
// answers the plugin's loopback queries. im_is_ifindex_loopback0 is nonzero
// for the loopback0 interface; im_is_ifindex_loopback for any loopback,
// loopback0 included. An ifindex missing from the table is no loopback and no
// error: the manager answers 0 and leaves *status alone, as it does for any
// interface it knows. A query writes *status only to report an error, and
// then answers 0: the fault table's im.loopback.error row (emu/base/faults.h)
// stores the row's code, e.g. -19 for a manager that refuses unknown
// interfaces.
// Every query is recorded in the journal as (ifindex) and counted per ifindex.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu::services::im {

enum class Kind { loopback0, loopback, other };

struct Interface {
    uint32_t ifindex;
    std::string name;
    Kind kind;
};

// Queries answered for one ifindex, known or not.
struct QueryCount {
    uint32_t loopback0 = 0;
    uint32_t loopback = 0;
};

// Adds an interface, or replaces the one with the same ifindex.
void add(Interface interface);
// True when the interface existed and is now gone.
bool remove(uint32_t ifindex);
// Every interface, by ifindex.
std::vector<Interface> list();

QueryCount queries(uint32_t ifindex);

// "loopback0", "loopback", "other", and back; nullopt for any other text.
std::string_view kind_name(Kind kind);
std::optional<Kind> parse_kind(std::string_view name);

// Empties the table and the query counts.
void reset();

} // namespace emu::services::im
