// What the symbol check cannot see of the entry point and the callback
// vector: which bytes init writes, that an exported callback and its slot are
// one function, and the frame operations reachable only by their export.
#include <cstring>

#include "emu/services/mts.h"
#include "tests/harness.h"

namespace rire_test {
namespace {

using Frame = PluginTest;

uint32_t word_at(const uint8_t *bytes, size_t offset) {
    uint32_t w;
    std::memcpy(&w, bytes + offset, 4);
    return w;
}

TEST_F(Frame, InitWritesIdentityAndNamedSlotsOnly) {
    const uint8_t *v = plugin_->api_bytes();
    EXPECT_EQ(v[0], 8);
    EXPECT_EQ(word_at(v, 4), 1u);
    for (size_t b = 1; b <= 3; b++)
        EXPECT_EQ(v[b], emu::loader::Plugin::kApiFill) << "byte " << b;
    const uint32_t fill = 0xA5A5A5A5u;
    for (size_t off : {20u, 60u, 80u, 84u})
        EXPECT_EQ(word_at(v, off), fill) << "slot " << off;
    for (size_t off = 92; off < emu::loader::Plugin::kApiStorageSize; off += 4)
        EXPECT_EQ(word_at(v, off), fill) << "host bytes past the vector at " << off;
    const struct {
        size_t offset;
        const char *exported; // null: reachable only through the vector
    } slots[] = {{8, nullptr},
                 {12, nullptr},
                 {16, nullptr},
                 {24, "rire_orsk_df_update"},
                 {28, nullptr},
                 {32, nullptr},
                 {36, nullptr},
                 {40, "rire_orsk_oiflist_di_update"},
                 {44, nullptr},
                 {48, "rire_orsk_pss_open_file"},
                 {52, "rire_orsk_pss_recover"},
                 {56, "rire_orsk_pss_buf_commit"},
                 {64, nullptr},
                 {68, "rire_orsk_igmp_snoop_config"},
                 {72, "rire_orsk_snoop_omf_config"},
                 {76, "rire_orsk_check_lc_download_db"},
                 {88, "rire_orsk_show"}};
    for (const auto &s : slots) {
        EXPECT_NE(word_at(v, s.offset), fill) << "slot " << s.offset << " not written";
        if (s.exported != nullptr) {
            EXPECT_EQ(word_at(v, s.offset), reinterpret_cast<uintptr_t>(fn<void *>(s.exported)))
                << s.exported;
        }
    }
}

TEST_F(Frame, InitDropsOutstandingRequestsWithoutFreeingThem) {
    link_update(7, 1, 12, 300);
    const rire_orsk_hw_update_req *dropped = request(7);
    ASSERT_NE(dropped, nullptr);
    request_queue().ops_word = &request_queue();
    plugin_->init();
    EXPECT_EQ(request_queue().head, nullptr);
    EXPECT_EQ(request_queue().ops_word, nullptr);
    EXPECT_EQ(request_queue().count, 0u);
    // Still allocated, and known to the host as dropped.
    EXPECT_EQ(dropped->req_id, 7u);
    EXPECT_EQ(emu::heap_census(*plugin_).dropped, 2u);
}

TEST_F(Frame, ExportedFrameOperations) {
    auto get = fn<decltype(&rire_orsk_get_q_handle)>("rire_orsk_get_q_handle");
    EXPECT_EQ(get(), kQueueHandle);
    api().set_q_handle(7);
    api().set_q_handle(9);
    EXPECT_EQ(get(), 9u);
    EXPECT_EQ(fn<decltype(&rire_orsk_oiflist_di_update)>("rire_orsk_oiflist_di_update")(), 1);
    mts_msg msg = emu::services::mts::make(0x12804, 3);
    EXPECT_EQ(api().mts_opc_check(&msg), 0);
    EXPECT_EQ(emu::base::journal::calls().back().op, "mts_opc_get");
    for (const char *reset : {"rire_orsk_hw_update_req_q_init", "rire_orsk_oiflist_db_init"}) {
        link_update(8, 1, 12, 300);
        const rire_orsk_hw_update_req *dropped = request(8);
        request_queue().ops_word = &request_queue();
        EXPECT_EQ(plugin_->reset_queue(reset), 0) << reset;
        EXPECT_EQ(request_queue().head, nullptr) << reset;
        EXPECT_EQ(request_queue().ops_word, nullptr) << reset;
        EXPECT_EQ(request_queue().count, 0u) << reset;
        EXPECT_EQ(dropped->req_id, 8u) << reset;
    }
    const size_t calls = emu::base::journal::calls().size();
    fn<decltype(&rire_orsk_flush_batched_updates)>("rire_orsk_flush_batched_updates")();
    EXPECT_EQ(emu::base::journal::calls().size(), calls);
}

} // namespace
} // namespace rire_test
