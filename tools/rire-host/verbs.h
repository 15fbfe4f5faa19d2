// The verbs of the scenario language, one group per concern. Each group adds
// its verbs to the table; the parser and the runner know none of them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/rire-host/script.h"

namespace rire_host {

// A callback's result as a verb prints it ("result N"), kept for `expect result`.
void print_result(Session &s, int64_t value);

void add_session_verbs(VerbTable &verbs);    // help, flush, restart, log, dump ...
void add_hw_update_verbs(VerbTable &verbs);  // link-update, swap, hw-done, oiflist-*
void add_pss_verbs(VerbTable &verbs);        // pending-di-*, oiflist-exists, pss put, recover,
                                             // dump stats|bitmap
void add_forwarding_verbs(VerbTable &verbs); // interface, module, df-update, snooping, download
void add_show_verbs(VerbTable &verbs);       // show ...
void add_fault_verbs(VerbTable &verbs);      // fault NAME|off|reset, dump faults
void add_expect_verbs(VerbTable &verbs);     // expect request|record|queued|log|stat|...

// The DIs the last command that is not an expectation released, in the order
// the plugin released them (its trace record of each); nothing when the
// in-memory event log no longer holds every record of the command.
std::optional<std::vector<uint32_t>> released_dis(Session &s);

inline VerbTable all_verbs() {
    VerbTable verbs;
    verbs.group("session, dumps and help");
    add_session_verbs(verbs);
    verbs.group("hardware updates and oiflists");
    add_hw_update_verbs(verbs);
    verbs.group("pending DIs, PSS and recovery");
    add_pss_verbs(verbs);
    verbs.group("interfaces, modules, DF, snooping, line cards");
    add_forwarding_verbs(verbs);
    verbs.group("show commands");
    add_show_verbs(verbs);
    verbs.group("faults");
    add_fault_verbs(verbs);
    verbs.group("expectations");
    add_expect_verbs(verbs);
    return verbs;
}

} // namespace rire_host
