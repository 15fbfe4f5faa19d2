/* The platform's show commands and print operations. Neither listing looks
 * anything up on this platform: each reads its request (attributes and an
 * optional 4-byte cookie naming an oiflist index) and answers not-found. The
 * printers render a DI information record or a pending-DI record with its
 * held DIs, one labelled value per line. */
#include <stdio.h>
#include <string.h>

#include "plugin/include/rire_orsk_log.h"
#include "plugin/include/rire_orsk_platform_api.h"

namespace {

constexpr uint32_t kCookieLen = 4;
constexpr size_t kStateTextSize = 80;

/* The oiflist index a request asks about, and whether an attribute named it. */
struct rire_orsk_show_query {
    int32_t index;
    bool found;
};

int32_t rire_orsk_show_read_word(const void *value) {
    int32_t word;
    memcpy(&word, value, sizeof word);
    return word;
}

/* Reads the attributes: `index_tag` names the oiflist index, `ignored` (if
 * set) accepts the OIF listing's two extra tags, anything else is logged. */
rire_orsk_show_query rire_orsk_show_read_attrs(const char *func, cmd_req *req, int32_t index_tag,
                                               bool accept_oif_extras) {
    rire_orsk_show_query q = {0, false};
    void *value = nullptr;
    uint32_t len = 0;
    int32_t tag;
    while ((tag = cmd_req_attr_getnext(req, &value, &len)) != CMD_NO_ATTRIBUTE) {
        if (accept_oif_extras && (tag == CMD_TAG_OIF_EXTRA1 || tag == CMD_TAG_OIF_EXTRA2))
            continue;
        if (tag == index_tag) {
            q.index = rire_orsk_show_read_word(value);
            q.found = true;
            continue;
        }
        RIRE_ERROR_AS(func, "Received unknown tag %d\n", tag);
    }
    return q;
}

/* A 4-byte cookie overrides the index; any other length is refused. False
 * when the request has been answered already. */
bool rire_orsk_show_read_cookie(cmd_req *req, rire_orsk_show_query *q, int32_t *answer) {
    uint32_t len = 0;
    void *cookie = cmd_req_cookie_get(req, &len);
    if (cookie == nullptr)
        return true;
    if (len != kCookieLen) {
        *answer = cmd_rsp_send_nok(req, 0, "Unknown cookie");
        return false;
    }
    q->index = rire_orsk_show_read_word(cookie);
    return true;
}

/* Prints one line whose value is a 32-bit word (narrower fields widened). */
int32_t rire_orsk_print_u32(cmd_req *req, cmd_prt_arg *arg, int32_t tag, uint32_t value,
                            const char *fmt) {
    cmd_prt_arg_make(arg, static_cast<uint32_t>(tag), &value, sizeof value);
    return cmd_prt(req, fmt, arg);
}

/* The two listings differ only in the tag that names the index, in whether
 * the OIF listing's two extra tags are accepted, and in the no-index answer. */
int32_t rire_orsk_show_listing(const char *func, cmd_req *req, bool oif) {
    rire_orsk_show_query q = rire_orsk_show_read_attrs(
        func, req, oif ? CMD_TAG_OIFLIST_INDEX : CMD_TAG_DI_OIFLIST_INDEX, oif);
    int32_t answer;
    if (!rire_orsk_show_read_cookie(req, &q, &answer))
        return answer;
    if (q.found)
        return cmd_prt_send_nok(req, 0, "Oiflist %d not found", q.index);
    return oif ? rire_print_orsk_dist_oiflist(req, 0, 0) : rire_print_orsk_dist_di(req);
}

} // namespace

int32_t rire_orsk_show(cmd_req *req, int32_t cmd_id) {
    switch (cmd_id) {
    case RIRE_ORSK_SHOW_DIST_MULTICAST_OIF:
        return rire_orsk_show_dist_multicast_oif(req);
    case RIRE_ORSK_SHOW_DIST_MULTICAST_DI:
        return rire_orsk_show_dist_multicast_di(req);
    default:
        return cmd_rsp_send_nok(req, 0, "unknown set command-id %d", cmd_id);
    }
}

int32_t rire_orsk_show_dist_multicast_oif(cmd_req *req) {
    return rire_orsk_show_listing(__func__, req, true);
}

int32_t rire_orsk_show_dist_multicast_di(cmd_req *req) {
    return rire_orsk_show_listing(__func__, req, false);
}

int32_t rire_print_orsk_dist_di(cmd_req *req) {
    return cmd_prt_send_nok(req, 0, "No Oiflists found \n");
}

int32_t rire_print_orsk_dist_oiflist(cmd_req *req, uint32_t, uint32_t) {
    return cmd_prt_send_nok(req, 0, "No Oiflists found");
}

int32_t rire_print_one_di_info(cmd_req *req, const void *di_info) {
    const auto *bytes = static_cast<const uint8_t *>(di_info);
    uint32_t di;
    uint32_t oiflist_index;
    uint16_t ref_count;
    memcpy(&di, bytes, sizeof di);
    memcpy(&oiflist_index, bytes + 4, sizeof oiflist_index);
    memcpy(&ref_count, bytes + 12, sizeof ref_count);

    cmd_prt_arg arg;
    rire_orsk_print_u32(req, &arg, CMD_TAG_DI_OIFLIST_INDEX, di, "\n  Destination Index: %s \n");
    rire_orsk_print_u32(req, &arg, CMD_TAG_DI_REF_COUNT, ref_count, "  Reference Count: %s \n");
    return rire_orsk_print_u32(req, &arg, CMD_TAG_DI_OIFLIST_INDEX, oiflist_index,
                               "  Oiflist Index: %s \n");
}

/* Held DIs are walked through `next` to the null link, not counted off
 * num_hold_di; an empty count prints none even if the head is set. */
void rire_print_one_di_req(cmd_req *req, const rire_orsk_di_req *di_req) {
    cmd_prt_arg arg;
    rire_orsk_print_u32(req, &arg, CMD_TAG_OIFLIST_INDEX, di_req->oiflist_index,
                        "\n  Outgoing Interface List Index: %s\n");
    rire_orsk_print_u32(req, &arg, CMD_TAG_REF_COUNT, di_req->ref_count,
                        "  Reference Count: %s \n");

    char state[kStateTextSize];
    snprintf(state, sizeof state, "%s",
             di_req->state == RIRE_DI_REQ_STATE_PENDING_HW_UPDATE ? "PENDING_HW_UPDATE"
                                                                  : "STATE_INVALID");
    cmd_prt_arg_make(&arg, CMD_TAG_STATE, state, static_cast<uint32_t>(strlen(state)));
    cmd_prt(req, "  State: %s \n", &arg);

    if (di_req->hold_q.count == 0 || di_req->hold_q.head == nullptr)
        return;
    for (auto *elem = static_cast<const rire_orsk_di_hold_q_elem *>(di_req->hold_q.head);
         elem != nullptr; elem = elem->next) {
        cmd_prt_arg_make(&arg, CMD_TAG_OIFLIST_INDEX, &elem->di, sizeof elem->di);
        cmd_prt(req, "        hold_q destination index: %s\n", &arg);
        rire_orsk_print_u32(req, &arg, CMD_TAG_OIFLIST_INDEX, elem->oiflist_index,
                            "          hold_q oiflist index: %s\n");
        rire_orsk_print_u32(req, &arg, CMD_TAG_REF_COUNT, elem->ref_count,
                            "          Reference count: %s \n");
    }
}
