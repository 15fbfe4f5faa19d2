#include "emu/pss/pss.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

#include "emu/base/faults.h"
#include "emu/base/journal.h"
#include "emu/pss/check.h"
#include "emu/pss/store.h"
#include "emu/services/tlv.h"

namespace emu::pss {
namespace {

using store::load_datum;
using store::Update;

// A heap block of exactly the size asked for, so that a sanitizer sees any
// read past it; reused while consecutive sizes match.
class ExactBuffer {
  public:
    uint8_t *resize(std::size_t n) {
        if (!data_ || n != size_) {
            data_.reset(new uint8_t[n]);
            size_ = n;
        }
        return data_.get();
    }

  private:
    std::unique_ptr<uint8_t[]> data_;
    std::size_t size_ = 0;
};

struct Service {
    uint32_t type;
    std::string name;
    MDB_dbi dbi;
    store::Cursor cursor;
    bool on_record = false;
    uint32_t position = 0;   // 1-based ordinal of the record at the cursor
    std::vector<Bytes> walk; // a walk other than ascending: its keys, in order
    ExactBuffer key_buf;
    ExactBuffer value_buf;
    pss_datum key{};
    pss_datum value{};
};

// Counts of the updates flushes applied and skipped, for the commit journal.
struct Stats {
    uint64_t flushes = 0;  // successful flushes
    uint64_t applied = 0;  // updates applied by them
    uint64_t rejected = 0; // updates skipped at flush (empty or oversized key, null data)
};

struct State {
    std::map<uint32_t, Service> services;
    std::vector<Update> queue;
    Stats stats;
    std::function<int()> hook;
};

State g;
WalkOrder g_order; // run configuration: reset() keeps it

Service *by_type(uint32_t type) {
    const auto it = g.services.find(type);
    return it == g.services.end() ? nullptr : &it->second;
}

Service *by_handle(uint32_t handle) {
    return handle < kHandleBase ? nullptr : by_type(handle - kHandleBase);
}

void close_cursors() {
    for (auto &[type, s] : g.services) {
        store::close_cursor(&s.cursor);
        services::tlv::clear_read_extent(type);
    }
}

void reset_fu_global() {
    fu_global = fu_global_t{kFuMagic, kVdcNum, 0, {&g, {}}};
}

int register_service(uint32_t type, const std::string &name) {
    if (check::is_bookkeeping(name))
        return kErrBadArg;
    if (const Service *s = by_type(type))
        return s->name == name ? 0 : kErrBadArg;
    for (const auto &[other, s] : g.services) {
        if (s.name == name)
            return kErrBadArg;
    }
    MDB_dbi dbi;
    if (const int rc = store::open_dbi(name, true, &dbi); rc != 0)
        return rc;
    Service &s = g.services[type];
    s.type = type;
    s.name = name;
    s.dbi = dbi;
    return 0;
}

int queue_update(Kind kind, uint32_t vdc_num, fu_vdc_ctx *ctx, uint32_t service, pss_datum *key,
                 pss_datum *value) {
    if (vdc_num != fu_global.vdc_num || ctx != &fu_global.vdc)
        return kErrBadContext;
    const Service *s = by_type(service);
    if (s == nullptr)
        return kErrNoService;
    if (base::faults::fires(kind == Kind::kWrite ? base::faults::Id::kPssWriteRefuse
                                                 : base::faults::Id::kPssDeleteRefuse,
                            service))
        return kErrRefused;
    if (key == nullptr || (kind == Kind::kWrite && value == nullptr))
        return kErrBadArg;
    g.queue.push_back(Update{kind, service, s->dbi, key, value});
    return 0;
}

// Copies the record into the service's buffers and hands them out.
void take_record(Service &s, const MDB_val &k, const MDB_val &v) {
    uint8_t *key = s.key_buf.resize(k.mv_size);
    std::memcpy(key, k.mv_data, k.mv_size);
    uint8_t *value = s.value_buf.resize(v.mv_size + kValuePadding);
    std::memcpy(value, v.mv_data, v.mv_size);
    std::memset(value + v.mv_size, 0, kValuePadding);
    s.key = pss_datum{key, static_cast<uint32_t>(k.mv_size)};
    s.value = pss_datum{value, static_cast<uint32_t>(v.mv_size)};
    services::tlv::set_read_extent(s.type, value, value + v.mv_size, kValuePadding);
    s.on_record = true;
}

// The database's keys in the walk order. The shuffle draws from mt19937,
// whose output the C++ standard fixes, and not through a distribution, whose
// results it leaves to each library: a seed gives one order everywhere.
std::vector<Bytes> ordered_keys(const Service &s) {
    std::vector<Bytes> keys;
    for (auto &record : records(s.name))
        keys.push_back(std::move(record.first));
    if (g_order.order == Order::kDescending) {
        std::reverse(keys.begin(), keys.end());
    } else {
        std::mt19937 draw(g_order.seed);
        for (std::size_t n = keys.size(); n > 1; --n)
            std::swap(keys[n - 1], keys[draw() % n]);
    }
    return keys;
}

// A walk other than ascending: the record of the position-th key of the
// walk, or of the first key after it that is still there.
int move_in_order(Service &s, uint32_t position, MDB_val *k, MDB_val *v) {
    if (position == 1)
        s.walk = ordered_keys(s);
    const std::size_t at = position - 1;
    while (at < s.walk.size()) {
        const int rc = store::seek(&s.cursor, s.dbi, s.walk[at], k, v);
        if (rc != kErrNoRecord)
            return rc;
        s.walk.erase(s.walk.begin() + static_cast<std::ptrdiff_t>(at)); // deleted since
    }
    return kErrEndOfData;
}

// A move the fault table refuses leaves the cursor on no record, as a failed
// move does, though the record is there.
int move(Service &s, int where) {
    if (where == PSS2_LOC_NEXT && !s.on_record)
        return kErrNoRecord;
    const uint32_t position = where == PSS2_LOC_FIRST ? 1 : s.position + 1;
    MDB_val k, v;
    int rc = g_order.order == Order::kAscending
                 ? store::move(&s.cursor, s.dbi, where == PSS2_LOC_FIRST, s.key, &k, &v)
                 : move_in_order(s, position, &k, &v);
    if (rc == 0 && base::faults::fires(base::faults::Id::kPssMoveRefuse, s.type, position))
        rc = kErrRefused;
    if (rc != 0) {
        s.on_record = false;
        return rc;
    }
    take_record(s, k, v);
    s.position = position;
    return 0;
}

pss_datum *fetch(uint32_t handle, int *err, bool value) {
    Service *s = by_handle(handle);
    int rc = 0;
    if (s == nullptr)
        rc = kErrNoService;
    else if (!s->on_record)
        rc = kErrNoRecord;
    else if (base::faults::fires(value ? base::faults::Id::kPssGetvalueFail
                                       : base::faults::Id::kPssGetkeyFail,
                                 s->type, s->position))
        rc = kErrInjected;
    if (err != nullptr)
        *err = rc;
    if (rc != 0)
        return nullptr;
    return value ? &s->value : &s->key;
}

const std::string *name_of(uint32_t type) {
    const Service *s = by_type(type);
    return s == nullptr ? nullptr : &s->name;
}

// The journal detail of a queued update; empty while the journal is off, so
// queueing costs no formatting then.
std::string describe(const pss_datum *key, const pss_datum *value) {
    if (!base::journal::enabled())
        return {};
    std::string out = "key=";
    if (key != nullptr) {
        const pss_datum k = load_datum(key);
        out += base::bytes::hex(k.data, k.len, 16);
    }
    if (value != nullptr)
        out += " value_len=" + std::to_string(load_datum(value).len);
    return out;
}

} // namespace

void reset() {
    close_cursors();
    g = State{};
    reset_fu_global();
}

int flush() {
    if (!store::is_open())
        return kErrNoStore;
    const Stats before = g.stats;
    if (!g.queue.empty()) {
        if (const int rc = store::apply(g.queue, &g.stats.applied, &g.stats.rejected); rc != 0)
            return rc;
    }
    ++g.stats.flushes;
    base::journal::record("fu_pss_commit",
                          {static_cast<int64_t>(g.stats.applied - before.applied),
                           static_cast<int64_t>(g.stats.rejected - before.rejected)});
    g.queue.clear();
    if (g.hook)
        g.hook();
    return 0;
}

void set_walk_order(WalkOrder order) {
    g_order = order;
}

void set_commit_hook(std::function<int()> hook) {
    g.hook = std::move(hook);
}

std::vector<Pending> pending() {
    std::vector<Pending> out;
    out.reserve(g.queue.size());
    for (const Update &u : g.queue) {
        const pss_datum k = load_datum(u.key);
        Pending p{u.kind, u.service, base::bytes::copy(k.data, k.len), {}};
        if (u.kind == Kind::kWrite) {
            const pss_datum v = load_datum(u.value);
            p.value = base::bytes::copy(v.data, v.len);
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::size_t pending_count() {
    return g.queue.size();
}

std::size_t pending_count(Kind kind) {
    return static_cast<std::size_t>(std::count_if(
        g.queue.begin(), g.queue.end(), [kind](const Update &u) { return u.kind == kind; }));
}

void discard_pending() {
    g.queue.clear();
}

std::map<uint32_t, std::string> services() {
    std::map<uint32_t, std::string> out;
    for (const auto &[type, s] : g.services)
        out.emplace(type, s.name);
    return out;
}

Records records(uint32_t type) {
    const std::string *name = name_of(type);
    return name == nullptr ? Records{} : records(*name);
}

int put_raw(uint32_t type, const Bytes &key, const Bytes &value) {
    return put_raw(type, std::vector<Bytes>{key}, value);
}

int put_raw(uint32_t type, const std::vector<Bytes> &keys, const Bytes &value) {
    const std::string *name = name_of(type);
    return name == nullptr ? kErrNoService : store::write_raw(*name, keys, &value);
}

int delete_raw(uint32_t type, const Bytes &key) {
    const std::string *name = name_of(type);
    return name == nullptr ? kErrNoService : store::write_raw(*name, {key}, nullptr);
}

} // namespace emu::pss

namespace pss = emu::pss;
namespace base = emu::base;

extern "C" {
fu_global_t fu_global = {pss::kFuMagic, pss::kVdcNum, 0, {&pss::g, {}}};
}

extern "C" void fu_global_pss_service_default_arg(pss_service_arg *arg) {
    base::journal::record("fu_global_pss_service_default_arg");
    if (arg == nullptr)
        return;
    *arg = pss_service_arg{};
}

extern "C" int fu_init_arg_add_pss_service(void *init_arg, pss_service_arg *arg) {
    if (arg == nullptr) {
        base::journal::record("fu_init_arg_add_pss_service");
        return pss::kErrBadArg;
    }
    base::journal::record("fu_init_arg_add_pss_service",
                          {arg->pss_type, arg->word1, arg->word9, arg->word10},
                          arg->name == nullptr ? "" : arg->name);
    auto *ia = static_cast<pss::InitArg *>(init_arg);
    if (ia == nullptr || ia->magic != pss::InitArg::kMagic || arg->name == nullptr ||
        arg->name[0] == '\0' || arg->pss_type == 0)
        return pss::kErrBadArg;
    if (emu::base::faults::fires(emu::base::faults::Id::kPssRegisterRefuse, arg->pss_type))
        return pss::kErrRefused;
    const int rc = pss::register_service(arg->pss_type, arg->name);
    if (rc == 0)
        ia->registered.push_back(arg->pss_type);
    return rc;
}

extern "C" int fu_vdc_add_pss_data(uint32_t vdc_num, fu_vdc_ctx *ctx, uint32_t service,
                                   pss_datum *key, int key_flags, pss_datum *value,
                                   int value_flags) {
    base::journal::record("fu_vdc_add_pss_data", {vdc_num, service, key_flags, value_flags},
                          pss::describe(key, value));
    return pss::queue_update(pss::Kind::kWrite, vdc_num, ctx, service, key, value);
}

extern "C" int fu_vdc_add_pss_key_to_delete(uint32_t vdc_num, fu_vdc_ctx *ctx, uint32_t service,
                                            pss_datum *key, int key_flags) {
    base::journal::record("fu_vdc_add_pss_key_to_delete", {vdc_num, service, key_flags},
                          pss::describe(key, nullptr));
    return pss::queue_update(pss::Kind::kDelete, vdc_num, ctx, service, key, nullptr);
}

extern "C" int fu_pss_service_get(uint32_t pss_type, uint32_t *handle) {
    base::journal::record("fu_pss_service_get", {pss_type});
    if (handle == nullptr)
        return pss::kErrBadArg;
    if (emu::base::faults::fires(emu::base::faults::Id::kPssLookupRefuse, pss_type))
        return pss::kErrRefused;
    if (pss::by_type(pss_type) == nullptr)
        return pss::kErrNoService;
    const bool zero =
        emu::base::faults::fires(emu::base::faults::Id::kPssLookupZero, pss_type).has_value();
    *handle = zero ? 0 : pss::kHandleBase + pss_type;
    return 0;
}

// The walk keeps its state in the service, so the caller's scratch word is unused.
extern "C" int pss2_move2location(uint32_t *service_ref, int one, int where,
                                  uint32_t * /*scratch*/) {
    base::journal::record("pss2_move2location",
                          {service_ref == nullptr ? -1 : int64_t{*service_ref}, one, where});
    if (service_ref == nullptr)
        return pss::kErrBadArg;
    pss::Service *s = pss::by_handle(*service_ref);
    if (s == nullptr)
        return pss::kErrNoService;
    if (where != PSS2_LOC_FIRST && where != PSS2_LOC_NEXT)
        return pss::kErrBadWhere;
    return pss::move(*s, where);
}

extern "C" pss_datum *pss2_getkey(uint32_t handle, int *err) {
    base::journal::record("pss2_getkey", {handle});
    return pss::fetch(handle, err, false);
}

extern "C" pss_datum *pss2_getvalue(uint32_t handle, int *err) {
    base::journal::record("pss2_getvalue", {handle});
    return pss::fetch(handle, err, true);
}

extern "C" const char *syserr2str(int code) {
    static char unknown[32];
    base::journal::record("syserr2str", {code});
    switch (code) {
    case 0:
        return "success";
    case pss::kErrNoService:
        return "no such PSS service";
    case pss::kErrRefused:
        return "refused by the framework";
    case pss::kErrEndOfData:
        return "no more records";
    case pss::kErrNoRecord:
        return "cursor is not on a record";
    case pss::kErrBadWhere:
        return "invalid cursor location";
    case pss::kErrBadContext:
        return "invalid framework context";
    case pss::kErrBadArg:
        return "invalid argument";
    case pss::kErrInjected:
        return "injected fetch failure";
    case pss::kErrStore:
        return "storage failure";
    case pss::kErrNoStore:
        return "storage is not open";
    case pss::kErrUnusable:
        return "storage is damaged";
    default:
        std::snprintf(unknown, sizeof unknown, "unknown error 0x%x", static_cast<unsigned>(code));
        return unknown;
    }
}
