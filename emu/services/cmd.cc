#include "emu/services/cmd.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <list>
#include <utility>

#include "emu/base/bytes.h"
#include "emu/base/journal.h"

namespace emu::services::cmd {
namespace {
std::list<cmd_req> g_requests; // a list, so a request never moves

// How many value bytes the argument holds: len, bounded by its storage.
std::size_t stored_len(const cmd_prt_arg &arg) {
    return std::min<std::size_t>(arg.len, sizeof(arg.value));
}

std::string render_number(const cmd_prt_arg &arg) {
    uint64_t value = 0;
    std::memcpy(&value, arg.value, arg.len); // little-endian: the low bytes first
    return std::to_string(value);
}

std::string render_text(const cmd_prt_arg &arg) {
    const char *text = reinterpret_cast<const char *>(arg.value);
    return std::string(text, strnlen(text, stored_len(arg)));
}

std::string render_hex(const cmd_prt_arg &arg) {
    std::string hex;
    for (std::size_t i = 0; i < stored_len(arg); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", arg.value[i]);
        hex += byte;
    }
    return hex;
}

bool is_number(const cmd_prt_arg &arg) {
    const bool number_tag =
        std::find(std::begin(kNumberTags), std::end(kNumberTags), arg.tag) != std::end(kNumberTags);
    return number_tag && (arg.len == 1 || arg.len == 2 || arg.len == 4 || arg.len == 8);
}

bool answered(const cmd_req &req) {
    return req.answer == Answer::nok || req.answer == Answer::not_found;
}

// The final answer both send operations give: recorded as `op`, kept by a
// request that has none yet.
int send(const char *op, cmd_req *req, Answer kind, int flags, const char *fmt, va_list args) {
    if (fmt == nullptr) {
        base::journal::record(op, {flags}, "no format");
        return kBadRequest;
    }
    std::string text = base::bytes::vformat(fmt, args);
    base::journal::record(op, {flags}, text);
    if (req == nullptr)
        return kBadRequest;
    if (answered(*req))
        return kAnswered;
    req->answer = kind;
    req->answer_text = std::move(text);
    return kOk;
}

// The line cmd_prt prints: the first "%s" of fmt replaced, the rest as is.
std::string substitute(const char *fmt, const cmd_prt_arg &arg) {
    std::string line = fmt;
    const std::size_t at = line.find("%s");
    if (at != std::string::npos)
        line.replace(at, 2, render(arg));
    return line;
}

// Where the plugin may read an attribute's value: the value itself, or for
// a short one a zero-padded copy.
void *readable_value(cmd_req &req, Attr &attr) {
    if (attr.value.size() >= req.short_value.size())
        return attr.value.data();
    req.short_value.fill(0);
    std::copy(attr.value.begin(), attr.value.end(), req.short_value.begin());
    return req.short_value.data();
}

std::string hex_tag(int32_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<uint32_t>(tag));
    return text;
}
} // namespace

Bytes u32_bytes(uint32_t value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

Attr u32_attr(int32_t tag, uint32_t value) {
    return Attr{tag, u32_bytes(value)};
}

cmd_req &open(std::vector<Attr> attrs, std::optional<Bytes> cookie) {
    cmd_req &req = g_requests.emplace_back();
    req.attrs = std::move(attrs);
    req.cookie = std::move(cookie);
    return req;
}

void close(cmd_req &req) {
    g_requests.remove_if([&req](const cmd_req &open_req) { return &open_req == &req; });
}

std::string output(const cmd_req &req) {
    std::string text;
    for (const std::string &line : req.lines)
        text += line;
    return text + req.answer_text;
}

std::string render(const cmd_prt_arg &arg) {
    if (is_number(arg))
        return render_number(arg);
    if (arg.tag == kTextTag)
        return render_text(arg);
    return render_hex(arg);
}

void reset() {
    g_requests.clear();
}

} // namespace emu::services::cmd

int32_t cmd_req_attr_getnext(cmd_req *req, void **value, uint32_t *len) {
    if (req == nullptr || req->next_attr >= req->attrs.size()) {
        emu::base::journal::record("cmd_req_attr_getnext", {}, "none");
        return emu::services::cmd::kNoAttribute;
    }
    emu::services::cmd::Attr &attr = req->attrs[req->next_attr++];
    *value = emu::services::cmd::readable_value(*req, attr);
    *len = static_cast<uint32_t>(attr.value.size());
    emu::base::journal::record("cmd_req_attr_getnext", {},
                               "tag " + emu::services::cmd::hex_tag(attr.tag) + " len " +
                                   std::to_string(*len));
    return attr.tag;
}

void *cmd_req_cookie_get(cmd_req *req, uint32_t *len) {
    if (req == nullptr || !req->cookie) {
        emu::base::journal::record("cmd_req_cookie_get", {}, "none");
        return nullptr;
    }
    // A present cookie of no bytes must still read as present.
    static uint8_t empty_cookie;
    emu::services::cmd::Bytes &cookie = *req->cookie;
    *len = static_cast<uint32_t>(cookie.size());
    emu::base::journal::record("cmd_req_cookie_get", {}, "len " + std::to_string(*len));
    return cookie.empty() ? &empty_cookie : cookie.data();
}

// The two answering operations differ in name and answer kind only; a C
// varargs entry point cannot forward its arguments, so one macro makes both.
#define EMU_CMD_SEND_OP(name, kind)                                                                \
    int name(cmd_req *req, int flags, const char *fmt, ...) {                                      \
        va_list args;                                                                              \
        va_start(args, fmt);                                                                       \
        const int result = emu::services::cmd::send(#name, req, kind, flags, fmt, args);           \
        va_end(args);                                                                              \
        return result;                                                                             \
    }
EMU_CMD_SEND_OP(cmd_rsp_send_nok, emu::services::cmd::Answer::nok)
EMU_CMD_SEND_OP(cmd_prt_send_nok, emu::services::cmd::Answer::not_found)
#undef EMU_CMD_SEND_OP

void cmd_prt_arg_make(cmd_prt_arg *arg, uint32_t tag, const void *value, uint32_t len) {
    emu::base::journal::record("cmd_prt_arg_make", {tag, len});
    if (arg == nullptr)
        return;
    arg->tag = tag;
    arg->len = len;
    std::memset(arg->value, 0, sizeof arg->value);
    if (value != nullptr)
        std::memcpy(arg->value, value, emu::services::cmd::stored_len(*arg));
}

int cmd_prt(cmd_req *req, const char *fmt, cmd_prt_arg *arg) {
    if (req == nullptr || fmt == nullptr || arg == nullptr) {
        emu::base::journal::record("cmd_prt", {}, "bad request");
        return emu::services::cmd::kBadRequest;
    }
    std::string line = emu::services::cmd::substitute(fmt, *arg);
    emu::base::journal::record("cmd_prt", {}, line);
    if (emu::services::cmd::answered(*req))
        return emu::services::cmd::kAnswered;
    req->answer = emu::services::cmd::Answer::printed;
    req->lines.push_back(std::move(line));
    return emu::services::cmd::kOk;
}
