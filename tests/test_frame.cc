// The entry point, the callback vector and the frame's small operations.
#include <cstring>

#include "emu/mts.h"
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
        EXPECT_EQ(v[b], emu::Plugin::kApiFill) << "byte " << b;
    const uint32_t fill = 0xA5A5A5A5u;
    for (size_t off : {20u, 60u, 80u, 84u})
        EXPECT_EQ(word_at(v, off), fill) << "slot " << off;
    for (size_t off = 92; off < emu::Plugin::kApiStorageSize; off += 4)
        EXPECT_EQ(word_at(v, off), fill) << "host bytes past the vector at " << off;
    for (size_t off :
         {8u, 12u, 16u, 24u, 28u, 32u, 36u, 40u, 44u, 48u, 52u, 56u, 64u, 68u, 72u, 76u, 88u})
        EXPECT_NE(word_at(v, off), fill) << "slot " << off << " not written";
}

TEST_F(Frame, ExportedSlotsHoldTheExportedFunctions) {
    EXPECT_EQ(reinterpret_cast<void *>(api().df_update),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_df_update")));
    EXPECT_EQ(reinterpret_cast<void *>(api().oiflist_di_update),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_oiflist_di_update")));
    EXPECT_EQ(reinterpret_cast<void *>(api().pss_open_file),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_pss_open_file")));
    EXPECT_EQ(reinterpret_cast<void *>(api().pss_recover),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_pss_recover")));
    EXPECT_EQ(reinterpret_cast<void *>(api().pss_buf_commit),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_pss_buf_commit")));
    EXPECT_EQ(reinterpret_cast<void *>(api().show),
              reinterpret_cast<void *>(fn<void *>("rire_orsk_show")));
}

TEST_F(Frame, InternalCallbacksAreNotExported) {
    for (const char *name :
         {"rire_orsk_set_q_handle", "rire_orsk_mts_opc_check", "rire_orsk_hw_update_done",
          "rire_orsk_oiflist_alloc", "rire_orsk_oiflist_link_update",
          "rire_orsk_oiflist_hw_update_done", "rire_orsk_oiflist_delete",
          "rire_orsk_hw_update_req_swap", "rire_orsk_hw_update_req_q_update", "rire_orsk_trace",
          "rire_orsk_trace_error", "hw_update_req_q", "mts_q_handle", "pss_buf"})
        EXPECT_EQ(plugin_->fn<void *>(name), nullptr) << name;
}

TEST_F(Frame, InitLogsTheQueueHandleAndCompletion) {
    plugin_->init();
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"rire_orsk_platform_api_init: mts_q_handle 23041",
                                        "rire_orsk_platform_api_init: Completed init \n"}));
}

TEST_F(Frame, QueueHandleIsZeroUntilSetAndLastSetWins) {
    auto get = fn<decltype(&rire_orsk_get_q_handle)>("rire_orsk_get_q_handle");
    EXPECT_EQ(get(), kQueueHandle);
    api().set_q_handle(7);
    api().set_q_handle(9);
    EXPECT_EQ(get(), 9u);

    plugin_.reset();
    std::string error;
    plugin_ = emu::Plugin::load(RIRE_PLUGIN_PATH, &error);
    ASSERT_TRUE(plugin_) << error;
    EXPECT_EQ(fn<decltype(&rire_orsk_get_q_handle)>("rire_orsk_get_q_handle")(), 0u);
}

TEST_F(Frame, SecondInitEmptiesTheQueueAgain) {
    link_update(7, 1, 12, 300);
    ASSERT_EQ(request_queue().count, 1u);
    const rire_orsk_hw_update_req *dropped = request(7);
    plugin_->init();
    EXPECT_EQ(request_queue().head, nullptr);
    EXPECT_EQ(request_queue().ops_word, nullptr);
    EXPECT_EQ(request_queue().count, 0u);
    EXPECT_EQ(api().pss_buf_commit, fn<decltype(api().pss_buf_commit)>("rire_orsk_pss_buf_commit"));
    // The reset drops requests without freeing them; the host frees them here.
    std::free(dropped->hold_q.head);
    std::free(const_cast<rire_orsk_hw_update_req *>(dropped));
}

TEST_F(Frame, SmallFrameOperations) {
    mts_msg msg = emu::mts::make(0x12804, 3);
    EXPECT_EQ(api().mts_opc_check(&msg), 0);
    EXPECT_EQ(emu::journal::calls().back().op, "mts_opc_get");
    EXPECT_EQ(fn<decltype(&rire_orsk_oiflist_di_update)>("rire_orsk_oiflist_di_update")(), 1);
    EXPECT_EQ(api().oiflist_di_update(), 1);
    mark_log();
    const size_t calls = emu::journal::calls().size();
    fn<decltype(&rire_orsk_flush_batched_updates)>("rire_orsk_flush_batched_updates")();
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(emu::journal::calls().size(), calls);
    EXPECT_EQ(fn<decltype(&rire_orsk_hw_update_req_q_init)>("rire_orsk_hw_update_req_q_init")(), 0);
    EXPECT_EQ(fn<decltype(&rire_orsk_oiflist_db_init)>("rire_orsk_oiflist_db_init")(), 0);
}

} // namespace
} // namespace rire_test
