// The emulator's fault table: every refusal and failure the plugin must
// survive is one row here, switched on and off through this one API. The host
// services ask the table at the point where they may refuse (fires()); tests,
// rire-host (`fault NAME ...`) and the benchmark set the rows.
//
// Names read subsystem.operation.effect. The effect says what the caller sees:
//   refuse  the service declines with its own refusal code
//   fail    the operation fails (an injected-failure code, or a null pointer)
//   error   the operation reports the code the setting gives (one of the
//           row's `codes` when it lists them) and does what that code says
//   zero    the operation reports success and hands back 0 for its object
//   kill    the process dies there of SIGKILL (die() below)
//
// A row is keyed by its Target: one setting per PSS service type, one per
// ifindex, one per slot index of the module database, or one for the whole
// row. Its Trigger says which calls fire:
//   every   each call while the setting is on
//   at      the call at the service's own 1-based position `count` (the k-th
//           record of a cursor walk, the k-th TLV of an array), in every walk
//   after   each call once `count` calls have passed normally
//   once    one call once `count` calls have passed; then the setting is off
//   bytes   a call goes through while its `position` (the bytes it writes)
//           fits in `count`, which it uses up; a call that does not fit fires
//
// Lifetime. reset() switches every row off; host_start and host_stop do it.
// A process restart (host_restart, so host_down/host_up) calls restart(): the
// rows marked kept_at_restart stay on (the PSS, TLV, index, heartbeat, malloc
// and disk rows, which a test arms before a restart to reach recovery or
// keeps as run configuration), the others go off with the interface table or
// the module database they name, which the host rebuilds empty. A service's
// own reset (services::im::reset, services::l3lif::reset, pss::reset) leaves the table alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace emu::base::faults {

enum class Id : uint8_t {
    kPssRegisterRefuse,
    kPssLookupRefuse,
    kPssLookupZero,
    kPssWriteRefuse,
    kPssDeleteRefuse,
    kPssMoveRefuse,
    kPssGetkeyFail,
    kPssGetvalueFail,
    kTlvAddRefuse,
    kTlvNextFail,
    kIndexReallocError,
    kHeartbeatSendError,
    kPdbModinfoError,
    kLibcMallocFail,
    kImLoopbackError,
    kL3lifProgramError,
    kDiskFull,
    kPssCommitKill,
    kCount,
};

enum class Target : uint8_t { kNone, kService, kIfindex, kSlot };
enum class Trigger : uint8_t { kEvery, kAt, kAfter, kOnce, kBytes };

struct Row {
    Id id;
    const char *name;
    Target target;
    Trigger trigger;
    bool takes_code; // the setting's code is what the operation reports
    bool kept_at_restart;
    const char *help;       // what the row refuses, one line
    const char *count_help; // what `count` counts (at and after rows)
    const char *code_help;  // what `code` is (takes_code rows)
    // The codes a setting may give; empty: any nonzero code.
    std::span<const int32_t> codes = {};
};

struct Setting {
    uint32_t target = 0; // PSS service type, ifindex or slot index; 0 for Target::kNone
    uint32_t count = 0;  // at: the 1-based position; after/once: calls that pass first;
                         // bytes: the bytes that still fit
    int32_t code = 0;    // takes_code rows: the code reported, nonzero
};

// Every row, in Id order.
std::span<const Row> rows();
const Row &row(Id id);
// The row named `name`; null for any other text.
const Row *find(std::string_view name);

// Switches the row on for s.target, replacing its earlier setting there.
void set(Id id, Setting s);
// Switches the row off for one target, or for all of them.
void clear(Id id, uint32_t target);
void clear(Id id);
void reset();
void restart();

// How often the row has fired since the host started (reset() zeroes the
// counts, restart() keeps them): the refusals a run went through.
uint64_t fired(Id id);

// The settings on now, in Id order, then in the order they were set.
std::vector<std::pair<Id, Setting>> active();
bool is_on(Id id);

// For the host services: the setting that fires on this call of the row's
// operation for `target`, or nullopt when the call goes through. `position`
// is the caller's 1-based position for `at` rows, the bytes of the call for
// `bytes` rows, ignored for the others.
// An `after` or `once` setting counts the calls it lets through.
std::optional<Setting> fires(Id id, uint32_t target = 0, uint32_t position = 0);

// The death a kill row asks for: the driver's last words run (what it must
// tell another process before this one is gone), what the process printed
// goes out (so that a transcript shows everything up to the death, whatever
// buffers it), then it sends itself SIGKILL, which nothing can catch.
[[noreturn]] void die();
void set_last_words(std::function<void()> last_words);

} // namespace emu::base::faults
