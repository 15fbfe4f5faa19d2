// The CLI command-response service. A request (struct cmd_req, which the
// plugin sees as opaque) carries ordered attributes (tag, value bytes), an
// optional cookie and the response being built. The service owns every
// request from open() to close() or reset().
//
// Host operations, each recorded in the journal:
//   cmd_req_attr_getnext  next attribute's tag, value address and length;
//                         -1 (kNoAttribute) when none is left or req is null.
//                         A value shorter than 8 bytes is handed out from a
//                         zero-padded copy, valid until the next call: the
//                         plugin reads a 32-bit word without looking at len.
//                         Journal detail: "tag 0x<hex> len <n>" or "none".
//   cmd_req_cookie_get    the cookie's address and length; null, with *len
//                         untouched, when there is none. A present cookie of
//                         0 bytes has a non-null address. Detail: "len <n>"/"none".
//   cmd_rsp_send_nok      final negative response with the formatted text.
//   cmd_prt_send_nok      final not-found answer with the formatted text.
//                         Both: args (flags), detail the text.
//   cmd_prt_arg_make      copies tag, len and the first min(len, 88) value
//                         bytes (rest zeroed). Args (tag, len).
//   cmd_prt               appends one line: the format with its first "%s"
//                         replaced by the argument's rendering (render());
//                         nothing else in the format is a conversion, other
//                         '%' characters are copied as they are. Detail: the line.
// Results of the two sends and cmd_prt: kOk, kBadRequest for a null address, kAnswered
// when the request already had its final answer (the first answer stays).
// A request's answer is none until something is printed (printed) or a final
// answer is sent (nok / not_found); printed lines stay before a final answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/host/cmd.h"

namespace emu::services::cmd {

using Bytes = std::vector<uint8_t>;

enum class Answer { none, nok, not_found, printed };

enum Result : int {
    kOk = 0,
    kBadRequest = -1,
    kAnswered = -2,
};

inline constexpr int32_t kNoAttribute = CMD_NO_ATTRIBUTE;

// Print tags rendered as unsigned decimal numbers of 1, 2, 4 or 8 bytes.
inline constexpr uint32_t kNumberTags[] = {CMD_TAG_OIFLIST_INDEX, CMD_TAG_REF_COUNT,
                                           CMD_TAG_DI_OIFLIST_INDEX, CMD_TAG_DI_REF_COUNT};
// Print tag rendered as text: its bytes up to len or the first NUL.
inline constexpr uint32_t kTextTag = CMD_TAG_STATE;

struct Attr {
    int32_t tag;
    Bytes value;
};

// The 4 bytes of a 32-bit word in host order, and an attribute holding them.
Bytes u32_bytes(uint32_t value);
Attr u32_attr(int32_t tag, uint32_t value);

} // namespace emu::services::cmd

struct cmd_req {
    std::vector<emu::services::cmd::Attr> attrs;
    std::optional<emu::services::cmd::Bytes> cookie;
    std::size_t next_attr = 0;            // read position of cmd_req_attr_getnext
    std::array<uint8_t, 8> short_value{}; // padded copy of a short value
    emu::services::cmd::Answer answer = emu::services::cmd::Answer::none;
    std::vector<std::string> lines; // one per cmd_prt
    std::string answer_text;        // of the final answer
};

namespace emu::services::cmd {

// A new request, valid until close() or reset().
cmd_req &open(std::vector<Attr> attrs = {}, std::optional<Bytes> cookie = std::nullopt);
void close(cmd_req &req);

// What the user is shown: the printed lines, then the final answer's text.
std::string output(const cmd_req &req);
// A print argument as a person reads it: a number tag of 1, 2, 4 or 8 bytes
// in decimal, the text tag as text, anything else as space-separated hex bytes.
std::string render(const cmd_prt_arg &arg);

// Drops every request.
void reset();

} // namespace emu::services::cmd
