#include "emu/base/faults.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>

#include "emu/rire/bitmaps.h"

namespace emu::base::faults {
namespace {

constexpr const char *kRecordAt = "the record of each walk, 1-based";
constexpr const char *kCallsFirst = "calls that go through first (default 0)";
constexpr int32_t kReAllocCodes[] = {rire::bitmaps::kNoBitmap, rire::bitmaps::kOutOfRange,
                                     rire::bitmaps::kAlreadyAllocated};

constexpr Row kRows[] = {
    {Id::kPssRegisterRefuse, "pss.register.refuse", Target::kService, Trigger::kEvery, false, true,
     "fu_init_arg_add_pss_service refuses to register the service", nullptr, nullptr},
    {Id::kPssLookupRefuse, "pss.lookup.refuse", Target::kService, Trigger::kEvery, false, true,
     "fu_pss_service_get refuses the service's handle", nullptr, nullptr},
    {Id::kPssLookupZero, "pss.lookup.zero", Target::kService, Trigger::kEvery, false, true,
     "fu_pss_service_get succeeds but hands back handle 0 for the service", nullptr, nullptr},
    {Id::kPssWriteRefuse, "pss.write.refuse", Target::kService, Trigger::kEvery, false, true,
     "fu_vdc_add_pss_data refuses to queue writes to the service", nullptr, nullptr},
    {Id::kPssDeleteRefuse, "pss.delete.refuse", Target::kService, Trigger::kEvery, false, true,
     "fu_vdc_add_pss_key_to_delete refuses to queue deletions from the service", nullptr, nullptr},
    {Id::kPssMoveRefuse, "pss.move.refuse", Target::kService, Trigger::kAt, false, true,
     "pss2_move2location refuses to move onto a record that is there", kRecordAt, nullptr},
    {Id::kPssGetkeyFail, "pss.getkey.fail", Target::kService, Trigger::kAt, false, true,
     "pss2_getkey fails on a record the cursor stands on", kRecordAt, nullptr},
    {Id::kPssGetvalueFail, "pss.getvalue.fail", Target::kService, Trigger::kAt, false, true,
     "pss2_getvalue fails on a record the cursor stands on", kRecordAt, nullptr},
    // The utility is not told which PSS service an array is for, so this row
    // counts the utility's own calls.
    {Id::kTlvAddRefuse, "tlv.add.refuse", Target::kNone, Trigger::kAfter, false, true,
     "tlv_array_add_tlv refuses TLVs as if the array were full", kCallsFirst, nullptr},
    {Id::kTlvNextFail, "tlv.next.fail", Target::kNone, Trigger::kAt, false, true,
     "tlv_array_get_next_tlv fails on a TLV that tlv_array_get_num_tlvs counted",
     "the TLV of each array, 1-based", nullptr},
    {Id::kIndexReallocError, "index.realloc.error", Target::kNone, Trigger::kAfter, true, true,
     "index_range_re_alloc_blk reports a failure and does what it says", kCallsFirst,
     "1 no bitmap, 2 out of range (neither marks), 3 already allocated (marks)", kReAllocCodes},
    {Id::kHeartbeatSendError, "heartbeat.send.error", Target::kNone, Trigger::kAfter, true, true,
     "rire_update_and_send_heartbeat fails and sends nothing", kCallsFirst,
     "the result returned, nonzero"},
    {Id::kPdbModinfoError, "pdb.modinfo.error", Target::kSlot, Trigger::kEvery, true, false,
     "pdb_get_mod_info refuses to answer for the slot", nullptr, "the result returned, nonzero"},
    {Id::kLibcMallocFail, "libc.malloc.fail", Target::kNone, Trigger::kOnce, false, true,
     "the plugin's malloc returns null, once", kCallsFirst, nullptr},
    {Id::kImLoopbackError, "im.loopback.error", Target::kIfindex, Trigger::kAfter, true, false,
     "the loopback queries about the interface report an error status", kCallsFirst,
     "the status reported, nonzero"},
    {Id::kL3lifProgramError, "l3lif.program.error", Target::kIfindex, Trigger::kEvery, true, false,
     "l3lif_pgm_property_for_if refuses property requests for the interface", nullptr,
     "the result returned, nonzero"},
    {Id::kDiskFull, "disk.full", Target::kNone, Trigger::kBytes, false, true,
     "the state directory's file system is full: the emulator's writes fail with ENOSPC",
     "bytes it still takes (default 0)", nullptr},
    // Position k of a flush's n updates: the process dies before the store
    // applies update k (nothing of the flush is committed); k = n + 1: just
    // after the commit (all of it is), before the commit hook runs.
    {Id::kPssCommitKill, "pss.commit.kill", Target::kNone, Trigger::kAt, false, true,
     "the process dies of SIGKILL inside a flush that has at least count-1 updates",
     "the update of the flush it dies before; one past the last: after the commit", nullptr},
};

constexpr bool rows_in_id_order() {
    for (std::size_t i = 0; i < std::size(kRows); i++) {
        if (kRows[i].id != static_cast<Id>(i))
            return false;
    }
    return std::size(kRows) == static_cast<std::size_t>(Id::kCount);
}
static_assert(rows_in_id_order(), "one row per Id, in Id order");

struct On {
    Id id;
    Setting setting;
};

// Few settings are ever on at once; a host call scans them only while some are.
std::vector<On> g_on;
uint64_t g_fired[static_cast<std::size_t>(Id::kCount)];

std::vector<On>::iterator find_on(Id id, uint32_t target) {
    return std::find_if(g_on.begin(), g_on.end(),
                        [&](const On &on) { return on.id == id && on.setting.target == target; });
}

} // namespace

std::span<const Row> rows() {
    return kRows;
}

const Row &row(Id id) {
    return kRows[static_cast<std::size_t>(id)];
}

const Row *find(std::string_view name) {
    for (const Row &r : kRows) {
        if (name == r.name)
            return &r;
    }
    return nullptr;
}

void set(Id id, Setting s) {
    if (row(id).target == Target::kNone)
        s.target = 0;
    if (auto it = find_on(id, s.target); it != g_on.end())
        it->setting = s;
    else
        g_on.push_back({id, s});
}

void clear(Id id, uint32_t target) {
    std::erase_if(g_on, [&](const On &on) { return on.id == id && on.setting.target == target; });
}

void clear(Id id) {
    std::erase_if(g_on, [id](const On &on) { return on.id == id; });
}

void reset() {
    g_on.clear();
    std::fill(std::begin(g_fired), std::end(g_fired), 0);
}

void restart() {
    std::erase_if(g_on, [](const On &on) { return !row(on.id).kept_at_restart; });
}

std::vector<std::pair<Id, Setting>> active() {
    std::vector<std::pair<Id, Setting>> out;
    for (const On &on : g_on)
        out.emplace_back(on.id, on.setting);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    return out;
}

bool is_on(Id id) {
    return std::any_of(g_on.begin(), g_on.end(), [id](const On &on) { return on.id == id; });
}

uint64_t fired(Id id) {
    return g_fired[static_cast<std::size_t>(id)];
}

namespace {

std::optional<Setting> firing(Id id, uint32_t target, uint32_t position) {
    if (g_on.empty())
        return std::nullopt;
    const auto it = find_on(id, target);
    if (it == g_on.end())
        return std::nullopt;
    const Setting s = it->setting;
    switch (row(id).trigger) {
    case Trigger::kEvery:
        return s;
    case Trigger::kAt:
        return position == s.count ? std::optional(s) : std::nullopt;
    case Trigger::kAfter:
    case Trigger::kOnce:
        if (s.count > 0) {
            --it->setting.count;
            return std::nullopt;
        }
        if (row(id).trigger == Trigger::kOnce)
            g_on.erase(it);
        return s;
    case Trigger::kBytes:
        if (position > s.count)
            return s;
        it->setting.count -= position;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<Setting> fires(Id id, uint32_t target, uint32_t position) {
    auto s = firing(id, target, position);
    if (s)
        g_fired[static_cast<std::size_t>(id)]++;
    return s;
}

namespace {
std::function<void()> g_last_words;
} // namespace

void set_last_words(std::function<void()> last_words) {
    g_last_words = std::move(last_words);
}

void die() {
    if (g_last_words)
        g_last_words();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    for (;;)
        raise(SIGKILL);
}

} // namespace emu::base::faults
