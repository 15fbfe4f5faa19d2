// What `rire-host explore` reads of the running plugin and host, in the shape
// of the reference model's state (explore_model.h), and how two such views
// are told apart. The views are the ones `dump` and `expect` read: the
// decoded request queue (emu/loader/requests.h), the store and the framework's
// queue decoded by the tool's record reader (records.h), the recovery
// counters and the index bitmaps.
#pragma once

#include <optional>
#include <string>

#include "tools/rire-host/explore_model.h"

namespace rire_host {
class Session;
}

namespace rire_host::explore {

// The index bitmaps take a walk over every index; with `bitmaps` false they
// are left empty, for a caller that knows they did not change.
View observe(Session &session, bool bitmaps = true);
// The interface manager's query counts for the interfaces `want` has them for
// (what a DF update asks about is in the model's view).
void observe_queries(View *got, const View &want);
// The records the plugin logged during the session's current command.
std::vector<Logged> logged(Session &session);

// The first difference between what the model wants and what the plugin
// shows: both in the words of an expectation, and the `expect` line that
// fails on it (empty when no expectation can state it: queued updates that
// differ only in their order).
struct Difference {
    std::string wanted, got, expect;
};
// With `ordered` false (a shuffled walk), requests are compared as a set.
std::optional<Difference> compare(const View &want, const View &got, bool ordered);
// The first record that differs, or a missing or extra one.
std::optional<Difference> compare_log(const std::vector<Logged> &want,
                                      const std::vector<Logged> &got);

} // namespace rire_host::explore
