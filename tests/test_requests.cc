// The request lookups hand the host's queue walks a matcher each; a host
// that calls one with a null element or key must get "no match", not a
// crash. The emulated queue never does, so the matchers are caught in
// flight and called directly.
#include "tests/harness.h"

namespace rire_test {
namespace {

queue_cmp_fn caught;

void *catch_search(queue_hdr *, void *, queue_cmp_fn cmp) {
    caught = cmp;
    return nullptr;
}

using RequestMatchers = PluginTest;

TEST_F(RequestMatchers, NullElementOrKeyIsNoMatch) {
    struct Walk {
        const char *import;
        int match, no_match;
    };
    for (const Walk walk : {Walk{"queue_traverse", 1, 0}, Walk{"search_and_dequeue_elem", 0, -1}}) {
        SCOPED_TRACE(walk.import);
        caught = nullptr;
        ASSERT_NE(plugin_->replace_import(walk.import, reinterpret_cast<void *>(&catch_search)),
                  nullptr);
        link_update(7, 1, 12, 300);
        hw_done(7);
        ASSERT_NE(caught, nullptr);
        rire_orsk_hw_update_req seven{}, eight{};
        seven.req_id = 7;
        eight.req_id = 8;
        EXPECT_EQ(caught(&seven, &seven), walk.match);
        EXPECT_EQ(caught(&seven, &eight), walk.no_match);
        EXPECT_EQ(caught(nullptr, &seven), walk.no_match);
        EXPECT_EQ(caught(&seven, nullptr), walk.no_match);
    }
}

} // namespace
} // namespace rire_test
