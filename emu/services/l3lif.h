// The interface-property service behind l3lif_pgm_property_for_if, as far as
// the DF update uses it: per interface it keeps the DF bitmask that the set
// (property 14) and clear (property 15) requests leave, and the MTS queue
// handle of the last request; it also keeps every accepted request in order.
//
// l3lif_pgm_property_for_if(one, rec, q_handle) results; a refused request
// changes nothing:
//   kOk           0  the bits were set or cleared
//   kBadSelector  1  `one` is not 1
//   kNoRecord     2  `rec` is null
//   kBadKind      3  rec->kind is not L3LIF_PROPERTY_KIND_DF (2)
//   kBadProperty  4  rec->property is neither 14 nor 15
//   or the code of the fault table's l3lif.program.error row for rec->ifindex
//   (emu/base/faults.h).
// The journal records (one, ifindex, kind, property, value, q_handle), or
// (one, q_handle) for a null record. The leading word is not journalled: the
// plugin leaves it unset, and its stack garbage would make journals differ
// from run to run; requests() keeps it.
#pragma once

#include <cstdint>
#include <vector>

namespace emu::services::l3lif {

enum Result : int {
    kOk = 0,
    kBadSelector = 1,
    kNoRecord = 2,
    kBadKind = 3,
    kBadProperty = 4,
};

struct Request {
    uint32_t ifindex;
    uint32_t property; // L3LIF_PROPERTY_DF_SET or L3LIF_PROPERTY_DF_CLEAR
    uint32_t value;    // the bits to set or clear
    uint32_t q_handle;
    uint32_t leading; // the record's leading word, as it came
};

struct InterfaceState {
    uint32_t ifindex;
    uint32_t df_mask;
    uint32_t q_handle; // of the last request for the interface
};

// The DF bits an interface has now; 0 for one never programmed.
uint32_t df_mask(uint32_t ifindex);
// Every accepted request, oldest first.
const std::vector<Request> &requests();
// Every interface that ever had a request accepted, by ifindex.
std::vector<InterfaceState> interfaces();

// Forgets every mask and request.
void reset();

} // namespace emu::services::l3lif
