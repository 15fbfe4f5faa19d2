// The test harness: a started host emulator in a fresh state directory with
// the plugin loaded, initialised, given its queue handle and its PSS services
// open, exactly as the switch boots it. Tests drive the plugin through its
// vector and exports and look at what the host saw.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "emu/boot.h"
#include "emu/host.h"
#include "emu/loader/plugin.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "plugin/include/rire_orsk_platform_api.h"

namespace rire_test {

namespace faults = emu::base::faults;

constexpr uint32_t kQueueHandle = emu::kQueueHandle;

// A state directory under the system's temporary directory, removed at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Boots the host with a fresh plugin (emu/boot.h), recovery left to the test.
    void boot();
    // Process death and restart, then recovery: what a switch does.
    void restart_and_recover();
    // Every live block of the plugin's heap is held by something (emu/loader/plugin.h);
    // checked at every process death.
    void expect_no_lost_blocks();

    rire_orsk_platform_api &api() { return *plugin_->api(); }
    template <class F> F fn(const char *name) {
        F f = plugin_->fn<F>(name);
        EXPECT_NE(f, nullptr) << name << " is not exported";
        return f;
    }
    queue_hdr &request_queue() { return *plugin_->hw_update_req_q(); }

    // The request of req_id in the plugin's queue, or null.
    const rire_orsk_hw_update_req *request(uint32_t req_id);
    // req_ids of the queue, head first.
    std::vector<uint32_t> queue_ids();

    uint32_t link_update(uint32_t req, uint32_t type, uint32_t old_index, uint32_t old_di,
                         uint32_t new_index = 0, uint32_t new_di = 400);
    int32_t hw_done(uint32_t id, uint32_t opcode = MTS_OPC_HW_UPDATE_DONE);
    void swap(uint32_t old_id, uint32_t new_id);

    TempDir state_;
    std::unique_ptr<emu::loader::Plugin> plugin_;
};

// Little-endian bytes of a u32.
std::vector<uint8_t> le32(uint32_t v);

// A queued PSS update as (W or D, service, key, value).
using Update = std::tuple<char, uint32_t, std::vector<uint8_t>, std::vector<uint8_t>>;
// The framework's queued updates, in queue order.
std::vector<Update> queued();

} // namespace rire_test
