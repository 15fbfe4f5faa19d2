#include "emu/services/l3lif.h"

#include <map>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "plugin/host/l3lif.h"

namespace emu::services::l3lif {
namespace {
std::map<uint32_t, InterfaceState> g_interfaces;
std::vector<Request> g_requests;

// kOk when the service takes the request, else the code it refuses it with.
int check(int one, const l3lif_property_rec *rec) {
    if (one != 1)
        return kBadSelector;
    if (rec == nullptr)
        return kNoRecord;
    if (rec->kind != L3LIF_PROPERTY_KIND_DF)
        return kBadKind;
    if (rec->property != L3LIF_PROPERTY_DF_SET && rec->property != L3LIF_PROPERTY_DF_CLEAR)
        return kBadProperty;
    const auto error = base::faults::fires(base::faults::Id::kL3lifProgramError, rec->ifindex);
    return error ? error->code : kOk;
}

void apply(const l3lif_property_rec &rec, uint32_t q_handle) {
    InterfaceState &state =
        g_interfaces.try_emplace(rec.ifindex, InterfaceState{rec.ifindex, 0, 0}).first->second;
    if (rec.property == L3LIF_PROPERTY_DF_SET)
        state.df_mask |= rec.value;
    else
        state.df_mask &= ~rec.value;
    state.q_handle = q_handle;
    g_requests.push_back(Request{rec.ifindex, rec.property, rec.value, q_handle, rec.leading});
}

void journal_call(int one, const l3lif_property_rec *rec, uint32_t q_handle) {
    if (rec == nullptr) {
        base::journal::record("l3lif_pgm_property_for_if", {one, q_handle}, "no record");
        return;
    }
    base::journal::record("l3lif_pgm_property_for_if",
                          {one, rec->ifindex, rec->kind, rec->property, rec->value, q_handle});
}
} // namespace

uint32_t df_mask(uint32_t ifindex) {
    auto found = g_interfaces.find(ifindex);
    return found == g_interfaces.end() ? 0 : found->second.df_mask;
}

const std::vector<Request> &requests() {
    return g_requests;
}

std::vector<InterfaceState> interfaces() {
    std::vector<InterfaceState> all;
    all.reserve(g_interfaces.size());
    for (const auto &entry : g_interfaces)
        all.push_back(entry.second);
    return all;
}

void reset() {
    g_interfaces.clear();
    g_requests.clear();
}

} // namespace emu::services::l3lif

int l3lif_pgm_property_for_if(int one, l3lif_property_rec *rec, uint32_t mts_q_handle) {
    emu::services::l3lif::journal_call(one, rec, mts_q_handle);
    const int result = emu::services::l3lif::check(one, rec);
    if (result == emu::services::l3lif::kOk)
        emu::services::l3lif::apply(*rec, mts_q_handle);
    return result;
}
