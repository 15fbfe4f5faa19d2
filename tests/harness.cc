#include "tests/harness.h"

#include <atomic>
#include <unistd.h>

#include "emu/services/mts.h"

namespace rire_test {

TempDir::TempDir() {
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("rire-test-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void PluginTest::SetUp() {
    emu::base::journal::set_enabled(true); // the tests check which host calls were made
    boot();
}

void PluginTest::TearDown() {
    expect_no_lost_blocks();
    emu::host_end(plugin_);
}

void PluginTest::expect_no_lost_blocks() {
    if (!plugin_)
        return;
    const emu::loader::Plugin::Census census = emu::heap_census(*plugin_);
    EXPECT_EQ(census.lost, 0u) << "heap blocks of the plugin that nothing holds ("
                               << census.lost_bytes << " bytes)";
}

void PluginTest::boot() {
    emu::Booted b = emu::host_up({state_.path(), RIRE_PLUGIN_PATH});
    plugin_ = std::move(b.plugin);
    ASSERT_TRUE(plugin_) << b.error;
    ASSERT_EQ(b.open_status, 0);
}

void PluginTest::restart_and_recover() {
    expect_no_lost_blocks();
    emu::host_down(plugin_);
    boot();
    api().pss_recover();
}

const rire_orsk_hw_update_req *PluginTest::request(uint32_t req_id) {
    for (auto *r = static_cast<const rire_orsk_hw_update_req *>(request_queue().head); r;
         r = r->next)
        if (r->req_id == req_id)
            return r;
    return nullptr;
}

std::vector<uint32_t> PluginTest::queue_ids() {
    std::vector<uint32_t> ids;
    for (auto *r = static_cast<const rire_orsk_hw_update_req *>(request_queue().head); r;
         r = r->next)
        ids.push_back(r->req_id);
    return ids;
}

uint32_t PluginTest::link_update(uint32_t req, uint32_t type, uint32_t old_index, uint32_t old_di,
                                 uint32_t new_index, uint32_t new_di) {
    return api().oiflist_link_update(req, type, old_index, old_di, new_index, new_di);
}

int32_t PluginTest::hw_done(uint32_t id, uint32_t opcode) {
    mts_msg msg = emu::services::mts::make(opcode, id);
    return api().hw_update_done(&msg);
}

void PluginTest::swap(uint32_t old_id, uint32_t new_id) {
    mts_msg old_msg = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, old_id);
    mts_msg new_msg = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, new_id);
    api().hw_update_req_swap(&old_msg, &new_msg);
}

std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::vector<Update> queued() {
    std::vector<Update> out;
    for (const emu::pss::Pending &p : emu::pss::pending())
        out.emplace_back(p.kind == emu::pss::Kind::kWrite ? 'W' : 'D', p.service, p.key, p.value);
    return out;
}

} // namespace rire_test
