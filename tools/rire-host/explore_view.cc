#include "tools/rire-host/explore_view.h"

#include <algorithm>
#include <cstring>

#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/rire/bitmaps.h"
#include "emu/rire/heartbeat.h"
#include "emu/rire/stats.h"
#include "emu/services/im.h"
#include "emu/services/l3lif.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"

namespace rire_host::explore {
namespace {

constexpr const char *kDbNames[] = {"hw_update", "pending_di"};
constexpr uint32_t kServices[] = {RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB,
                                  RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB};

uint32_t key_of(const emu::base::bytes::Bytes &key) {
    uint32_t k = 0;
    std::memcpy(&k, key.data(), std::min(key.size(), sizeof k));
    return k;
}

Stored stored_of(Db db, const emu::base::bytes::Bytes &key, const emu::base::bytes::Bytes &value) {
    const Record r = decode_record(kServices[db], key, value);
    return Stored{r.type, r.state.value_or(0), r.held};
}

std::string pairs(const std::vector<std::pair<uint32_t, uint32_t>> &held) {
    std::string text;
    for (const auto &[di, index] : held)
        text += (text.empty() ? "" : ",") + std::to_string(di) + ":" + std::to_string(index);
    return text.empty() ? "none" : text;
}

std::string request_text(const Req &r) {
    std::vector<std::pair<uint32_t, uint32_t>> held;
    std::string refs;
    for (const Hold &h : r.held) {
        held.emplace_back(h.di, h.index);
        refs += (refs.empty() ? "" : ",") + std::to_string(h.refs);
    }
    std::string text = "request req=" + std::to_string(r.id) + " type=" + std::to_string(r.type);
    if (!r.held.empty())
        text += " held=" + pairs(held) + " refs=" + refs;
    return text;
}

// "db=hw_update key=7": the key as expectations name it (pending-DI: no tag).
std::string key_text(Db db, uint32_t key) {
    return "db=" + std::string(kDbNames[db]) +
           " key=" + std::to_string(db == kPending ? key & 0xFFFF : key);
}

std::string stored_text(Db db, uint32_t key, const Stored &s) {
    std::string text = key_text(db, key) + " type=" + std::to_string(s.type);
    if (db == kPending)
        text += " state=" + std::to_string(s.state);
    return s.held.empty() ? text : text + " held=" + pairs(s.held);
}

std::string update_text(const Update &u) {
    return u.value ? "queued write " + stored_text(u.db, u.key, *u.value)
                   : "queued delete " + key_text(u.db, u.key);
}

std::optional<Difference> compare_requests(std::vector<Req> want, std::vector<Req> got,
                                           bool ordered) {
    if (!ordered) {
        auto by_id = [](const Req &a, const Req &b) { return a.id < b.id; };
        std::stable_sort(want.begin(), want.end(), by_id);
        std::stable_sort(got.begin(), got.end(), by_id);
    }
    for (size_t i = 0; i < std::max(want.size(), got.size()); i++) {
        if (i < want.size() && i < got.size() && want[i] == got[i])
            continue;
        const auto has = [](const std::vector<Req> &in, uint32_t id) {
            return std::any_of(in.begin(), in.end(), [id](const Req &r) { return r.id == id; });
        };
        if (i < want.size()) {
            const Req &w = want[i];
            const auto g =
                std::find_if(got.begin(), got.end(), [&w](const Req &r) { return r.id == w.id; });
            if (g == got.end())
                return Difference{request_text(w), "no request req=" + std::to_string(w.id),
                                  "expect " + request_text(w)};
            if (!(*g == w))
                return Difference{request_text(w), request_text(*g), "expect " + request_text(w)};
        }
        if (i < got.size() && !has(want, got[i].id))
            return Difference{"no request req=" + std::to_string(got[i].id), request_text(got[i]),
                              "expect no-request req=" + std::to_string(got[i].id)};
        auto ids = [](const std::vector<Req> &in) {
            std::string text;
            for (const Req &r : in)
                text += (text.empty() ? "" : ",") + std::to_string(r.id);
            return "queue req=" + text;
        };
        return Difference{ids(want), ids(got), "expect " + ids(want)};
    }
    return std::nullopt;
}

std::optional<Difference> compare_stored(Db db, const std::map<uint32_t, Stored> &want,
                                         const std::map<uint32_t, Stored> &got) {
    for (const auto &[key, w] : want) {
        const auto g = got.find(key);
        if (g == got.end())
            return Difference{"record " + stored_text(db, key, w), "no-record " + key_text(db, key),
                              "expect record " + stored_text(db, key, w)};
        if (!(g->second == w))
            return Difference{"record " + stored_text(db, key, w),
                              "record " + stored_text(db, key, g->second),
                              "expect record " + stored_text(db, key, w)};
    }
    for (const auto &[key, g] : got)
        if (!want.contains(key))
            return Difference{"no-record " + key_text(db, key), "record " + stored_text(db, key, g),
                              "expect no-record " + key_text(db, key)};
    return std::nullopt;
}

// The last update queued for each key is what expectations can name.
std::optional<Difference> compare_queued(const std::vector<Update> &want,
                                         const std::vector<Update> &got) {
    if (want == got)
        return std::nullopt;
    auto last = [](const std::vector<Update> &in, Db db, uint32_t key) -> const Update * {
        for (auto it = in.rbegin(); it != in.rend(); ++it)
            if (it->db == db && it->key == key)
                return &*it;
        return nullptr;
    };
    for (const auto &list : {want, got})
        for (const Update &u : list) {
            const Update *w = last(want, u.db, u.key), *g = last(got, u.db, u.key);
            if (w && g && *w == *g)
                continue;
            const std::string wanted = w ? update_text(*w) : "no-queued " + key_text(u.db, u.key);
            const std::string gotten = g ? update_text(*g) : "no-queued " + key_text(u.db, u.key);
            if (wanted == gotten)
                continue;
            return Difference{wanted, gotten, "expect " + (w ? update_text(*w) : wanted)};
        }
    return Difference{
        "pending count=" + std::to_string(want.size()),
        "pending count=" + std::to_string(got.size()),
        want.size() != got.size() ? "expect pending count=" + std::to_string(want.size()) : ""};
}

std::string indexes(const std::set<uint32_t> &set) {
    std::string text;
    for (uint32_t i : set)
        text += (text.empty() ? "" : ",") + std::to_string(i);
    return text;
}

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", v);
    return text;
}

// The differences in what DF updates left with the host.
std::optional<Difference> compare_df(const View &want, const View &got) {
    for (const auto &list : {want.df, got.df})
        for (const auto &[ifindex, unused] : list) {
            const auto w = want.df.find(ifindex), g = got.df.find(ifindex);
            const Df wd = w == want.df.end() ? Df{} : w->second;
            const Df gd = g == got.df.end() ? Df{} : g->second;
            const std::string name = "df ifindex=" + std::to_string(ifindex);
            if (wd.mask != gd.mask)
                return Difference{name + " mask=" + hex(wd.mask), name + " mask=" + hex(gd.mask),
                                  "expect " + name + " mask=" + hex(wd.mask)};
            if (wd.q_handle != gd.q_handle)
                return Difference{name + " on queue " + hex(wd.q_handle),
                                  name + " on queue " + hex(gd.q_handle), ""};
        }
    for (const auto &[ifindex, w] : want.queries) {
        const auto g = got.queries.find(ifindex);
        const Queries gq = g == got.queries.end() ? Queries{} : g->second;
        if (!(w == gq)) {
            auto text = [index = ifindex](const Queries &q) {
                return "queries ifindex=" + std::to_string(index) +
                       " loopback0=" + std::to_string(q.loopback0) +
                       " loopback=" + std::to_string(q.loopback);
            };
            return Difference{text(w), text(gq), ""};
        }
    }
    if (want.heartbeats != got.heartbeats || want.heartbeats_failed != got.heartbeats_failed) {
        auto text = [](const View &v) {
            return "heartbeat count=" + std::to_string(v.heartbeats) +
                   " failed=" + std::to_string(v.heartbeats_failed);
        };
        return Difference{text(want), text(got), "expect " + text(want)};
    }
    return std::nullopt;
}

std::string logged_text(const Logged &l) {
    std::string text = l.text;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return std::string(l.error ? "error" : "trace") + " func=" + l.func + " text=\"" + text + "\"";
}

// "FUNC(LINE): TEXT" or "FUNC(LINE):ERROR: TEXT", as the plugin wraps a
// message; the line is not kept.
Logged logged_of(const emu::log::Event &e) {
    const std::string_view text = e.text;
    Logged l{e.level == RIRE_ORSK_LOG_LEVEL_ERROR, "", std::string(text)};
    const size_t open = text.find('(');
    const size_t close = text.find("):");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return l;
    l.func = text.substr(0, open);
    std::string_view rest = text.substr(close + 2);
    const std::string_view mark = l.error ? "ERROR: " : " ";
    if (rest.starts_with(mark))
        rest.remove_prefix(mark.size());
    l.text = rest;
    return l;
}

} // namespace

void observe_queries(View *got, const View &want) {
    got->queries.clear();
    for (const auto &entry : want.queries) {
        const auto q = emu::services::im::queries(entry.first);
        got->queries[entry.first] = Queries{q.loopback0, q.loopback};
    }
}

std::vector<Logged> logged(Session &session) {
    const auto &log = emu::log::event_log();
    std::vector<Logged> out;
    for (size_t seq = std::max(session.verdict().log_window(), log.first()); seq < log.size();
         seq++)
        out.push_back(logged_of(log[seq]));
    return out;
}

std::optional<Difference> compare_log(const std::vector<Logged> &want,
                                      const std::vector<Logged> &got) {
    for (size_t i = 0; i < std::max(want.size(), got.size()); i++) {
        if (i < want.size() && i < got.size() && want[i] == got[i])
            continue;
        const std::string nth = "record " + std::to_string(i + 1) + ": ";
        if (i >= got.size())
            return Difference{nth + logged_text(want[i]), nth + "none",
                              "expect log " + logged_text(want[i])};
        if (i >= want.size())
            return Difference{nth + "none", nth + logged_text(got[i]),
                              "expect no-log " + logged_text(got[i])};
        return Difference{nth + logged_text(want[i]), nth + logged_text(got[i]),
                          "expect log " + logged_text(want[i])};
    }
    return std::nullopt;
}

View observe(Session &session, bool bitmaps) {
    View v;
    if (const auto requests = session.requests())
        for (const Request &r : *requests) {
            Req req{r.req_id, r.type, {}};
            for (const HeldDi &h : r.held)
                req.held.push_back({h.di, h.oiflist_index, h.ref_count});
            v.requests.push_back(std::move(req));
        }
    for (Db db : {kHw, kPending})
        for (const auto &[key, value] : emu::pss::records(kDbNames[db]))
            v.stored[db][key_of(key)] = stored_of(db, key, value);
    for (const auto &p : emu::pss::pending()) {
        const Db db = p.service == kServices[kHw] ? kHw : kPending;
        Update u{db, key_of(p.key), std::nullopt};
        if (p.kind == emu::pss::Kind::kWrite)
            u.value = stored_of(db, p.key, p.value);
        v.queued.push_back(u);
    }
    for (const auto &c : emu::rire::stats::named()) {
        if (c.name == "num_index_realloc")
            v.index_realloc = c.value;
        else if (c.name == "num_pending_di_restored")
            v.pending_restored = c.value;
        else if (c.name == "num_hw_update_req_restored")
            v.hw_restored = c.value;
    }
    for (uint32_t type : {1u, 2u})
        for (uint32_t index :
             bitmaps ? emu::rire::bitmaps::allocator(type)->allocated() : std::vector<uint32_t>{})
            v.allocated[type].insert(index);
    for (const auto &i : emu::services::l3lif::interfaces())
        v.df[i.ifindex] = Df{i.df_mask, i.q_handle};
    if (const uint32_t *arena = session.plugin().pss_buf_used())
        v.arena = *arena;
    v.heartbeats = emu::rire::heartbeat::count();
    v.heartbeats_failed = emu::rire::heartbeat::failed();
    return v;
}

std::optional<Difference> compare(const View &want, const View &got, bool ordered) {
    if (auto d = compare_requests(want.requests, got.requests, ordered))
        return d;
    for (Db db : {kHw, kPending})
        if (auto d = compare_stored(db, want.stored[db], got.stored[db]))
            return d;
    if (auto d = compare_queued(want.queued, got.queued))
        return d;
    const std::pair<const char *, uint32_t View::*> counters[] = {
        {"num_index_realloc", &View::index_realloc},
        {"num_pending_di_restored", &View::pending_restored},
        {"num_hw_update_req_restored", &View::hw_restored}};
    for (const auto &[name, field] : counters)
        if (want.*field != got.*field) {
            const std::string w = std::string(name) + "=" + std::to_string(want.*field);
            return Difference{"stat " + w,
                              "stat " + std::string(name) + "=" + std::to_string(got.*field),
                              "expect stat " + w};
        }
    for (uint32_t type : {1u, 2u})
        if (want.allocated[type] != got.allocated[type]) {
            const std::string t = "type=" + std::to_string(type);
            std::set<uint32_t> missing, extra;
            std::set_difference(want.allocated[type].begin(), want.allocated[type].end(),
                                got.allocated[type].begin(), got.allocated[type].end(),
                                std::inserter(missing, missing.end()));
            std::set_difference(got.allocated[type].begin(), got.allocated[type].end(),
                                want.allocated[type].begin(), want.allocated[type].end(),
                                std::inserter(extra, extra.end()));
            return Difference{"reserved " + t + " index=" + indexes(want.allocated[type]),
                              "reserved " + t + " index=" + indexes(got.allocated[type]),
                              missing.empty()
                                  ? "expect no-reserved " + t + " index=" + indexes(extra)
                                  : "expect reserved " + t + " index=" + indexes(missing)};
        }
    if (want.arena != got.arena)
        return Difference{"arena " + std::to_string(want.arena) + " bytes in use",
                          "arena " + std::to_string(got.arena) + " bytes in use", ""};
    return compare_df(want, got);
}

} // namespace rire_host::explore
