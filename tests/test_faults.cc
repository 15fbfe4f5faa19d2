// The fault table: every row refuses its operation while it is on, keeps or
// drops its setting across a process restart as the row says, and goes off
// with reset().
#include <cstdlib>

#include "emu/im.h"
#include "plugin/host/im.h"
#include "plugin/host/l3lif.h"
#include "plugin/host/pss.h"
#include "plugin/host/tlv.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using faults::Id;

constexpr uint32_t kHw = RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB;
constexpr uint32_t kIfindex = 10;
constexpr int32_t kCode = -5;

class FaultTable : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_EQ(emu::pss::put_raw(kHw, le32(1), {0, 0, 0, 0}), 0);
        emu::im::add({kIfindex, "if10", emu::im::Kind::other});
    }

    // A restart whose boot may meet the fault (a refused registration).
    void restart() {
        emu::host_down(plugin_);
        plugin_ = emu::host_up({state_.path(), RIRE_PLUGIN_PATH}).plugin;
        ASSERT_TRUE(plugin_);
        emu::im::add({kIfindex, "if10", emu::im::Kind::other});
    }

    static faults::Setting setting(const faults::Row &row) {
        faults::Setting s;
        s.target = row.target == faults::Target::kService   ? kHw
                   : row.target == faults::Target::kIfindex ? kIfindex
                                                            : 0;
        s.count = row.trigger == faults::Trigger::kAt ? 1 : 0;
        s.code = row.takes_code ? kCode : 0;
        return s;
    }

    // The row's operation, called on the host as the plugin calls it; true
    // when it went through. A row without a case here fails the build.
    bool goes_through(Id id) {
        pss_datum key{le32_bytes_, 4};
        uint32_t handle = emu::pss::kHandleBase + kHw;
        uint8_t array[16] = {};
        int err = 0;
        switch (id) {
        case Id::kPssRegisterRefuse: {
            emu::pss::InitArg init_arg;
            pss_service_arg arg{};
            arg.pss_type = kHw;
            arg.name = "hw_update";
            return fu_init_arg_add_pss_service(&init_arg, &arg) == 0;
        }
        case Id::kPssLookupRefuse:
            return fu_pss_service_get(kHw, &handle) == 0;
        case Id::kPssWriteRefuse:
        case Id::kPssDeleteRefuse: {
            const int rc =
                id == Id::kPssWriteRefuse
                    ? fu_vdc_add_pss_data(fu_global.vdc_num, &fu_global.vdc, kHw, &key, 0, &key, 0)
                    : fu_vdc_add_pss_key_to_delete(fu_global.vdc_num, &fu_global.vdc, kHw, &key, 0);
            emu::pss::discard_pending();
            return rc == 0;
        }
        case Id::kPssMoveRefuse:
            return pss2_move2location(&handle, 1, PSS2_LOC_FIRST, nullptr) == 0;
        case Id::kPssGetkeyFail:
        case Id::kPssGetvalueFail:
            pss2_move2location(&handle, 1, PSS2_LOC_FIRST, nullptr);
            (id == Id::kPssGetkeyFail ? pss2_getkey : pss2_getvalue)(handle, &err);
            return err == 0;
        case Id::kTlvAddRefuse:
            return tlv_array_add_tlv(array, sizeof array, 1, 0, nullptr, 0) == 0;
        case Id::kTlvNextFail: {
            tlv_array_add_tlv(array, sizeof array, 1, 0, nullptr, 0);
            uint16_t type, len;
            void *payload;
            uint32_t cursor = 0;
            return tlv_array_get_next_tlv(array, &type, &len, &payload, 0, &cursor) == 0;
        }
        case Id::kLibcMallocFail: {
            queue_hdr q{};
            uint32_t is_new = 0;
            auto *elem = fn<decltype(&rire_orsk_di_hold_q_enqueue)>("rire_orsk_di_hold_q_enqueue")(
                &q, 100, 1, &is_new);
            std::free(elem);
            return elem != nullptr;
        }
        case Id::kImLoopbackError: {
            int32_t status = 0;
            im_is_ifindex_loopback(kIfindex, &status);
            return status == 0;
        }
        case Id::kL3lifProgramError: {
            l3lif_property_rec rec{0, kIfindex, L3LIF_PROPERTY_KIND_DF, L3LIF_PROPERTY_DF_SET, 1};
            return l3lif_pgm_property_for_if(1, &rec, kQueueHandle) == 0;
        }
        case Id::kCount:
            break;
        }
        ADD_FAILURE() << "no operation for the row";
        return false;
    }

    uint8_t le32_bytes_[4] = {1, 0, 0, 0};
};

TEST_F(FaultTable, EveryRowRefusesWhileOnSurvivesRestartAsDeclaredAndResets) {
    for (const faults::Row &row : faults::rows()) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(goes_through(row.id));
        faults::set(row.id, setting(row));
        EXPECT_FALSE(goes_through(row.id));
        faults::set(row.id, setting(row));
        restart();
        EXPECT_EQ(goes_through(row.id), !row.kept_at_restart);
        faults::set(row.id, setting(row));
        faults::reset();
        EXPECT_TRUE(goes_through(row.id));
    }
}

} // namespace
} // namespace rire_test
