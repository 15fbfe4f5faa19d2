#include "emu/loader/plugin.h"

#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <string_view>
#include <unordered_map>

#include "emu/base/faults.h"
#include "emu/loader/requests.h"

namespace emu::loader {
namespace {

// A live block of the plugin's heap.
struct Block {
    std::size_t size;
    bool dropped; // by a queue reset
};

// The ledger's nodes come from a pool of their own, so that they do not lie
// between the plugin's blocks: the plugin's queue walks then touch as few
// cache lines as they would without the ledger.
std::pmr::memory_resource *ledger_pool() {
    static std::pmr::unsynchronized_pool_resource pool;
    return &pool;
}

// The malloc and free counters and the heap ledger, one slot per loaded
// plugin. Each slot has its own entry functions, so a plugin's GOT names its
// slot without any lookup.
struct MallocHook {
    bool used = false;
    void *(*real)(std::size_t) = nullptr;
    void (*real_free)(void *) = nullptr;
    uint32_t calls = 0;
    Plugin::Heap heap;
    std::pmr::unordered_map<const void *, Block> ledger{ledger_pool()};
};

std::array<MallocHook, Plugin::kMallocHookSlots> malloc_hooks;

template <std::size_t Slot> void *hooked_malloc(std::size_t size) {
    MallocHook &hook = malloc_hooks[Slot];
    ++hook.calls;
    if (base::faults::fires(base::faults::Id::kLibcMallocFail))
        return nullptr;
    void *block = hook.real(size);
    if (block != nullptr) {
        ++hook.heap.allocated;
        hook.ledger.emplace(block, Block{size, false});
    }
    return block;
}

template <std::size_t Slot> void hooked_free(void *block) {
    MallocHook &hook = malloc_hooks[Slot];
    if (block != nullptr && hook.ledger.erase(block) != 0)
        ++hook.heap.freed;
    hook.real_free(block);
}

template <std::size_t... Slot>
constexpr std::array<void *(*)(std::size_t), sizeof...(Slot)>
hooked_mallocs(std::index_sequence<Slot...>) {
    return {&hooked_malloc<Slot>...};
}

template <std::size_t... Slot>
constexpr std::array<void (*)(void *), sizeof...(Slot)> hooked_frees(std::index_sequence<Slot...>) {
    return {&hooked_free<Slot>...};
}

constexpr auto kHookedMallocs =
    hooked_mallocs(std::make_index_sequence<Plugin::kMallocHookSlots>{});
constexpr auto kHookedFrees = hooked_frees(std::make_index_sequence<Plugin::kMallocHookSlots>{});

// Adds the elements of a host queue to `blocks`, `limit` at most, so that a
// list the plugin broke into a cycle still ends. Every element begins with
// its next link.
void add_elements(const queue_hdr &q, std::size_t limit, std::unordered_set<const void *> *blocks) {
    for (const void *e = q.head; e != nullptr && limit-- != 0;
         e = *static_cast<const void *const *>(e))
        blocks->insert(e);
}

constexpr std::string_view kCopyPrefix = "rire-plugin-";

// Removes the copies of processes that died without deleting theirs (a
// SIGKILL, a crash). A copy's name carries its process id, and a copy whose
// process is gone is loaded by nobody. Done once per directory and process.
void remove_orphaned_copies(const std::filesystem::path &dir) {
    static std::filesystem::path swept;
    if (swept == dir)
        return;
    swept = dir;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kCopyPrefix))
            continue;
        char *end = nullptr;
        const long pid = std::strtol(name.c_str() + kCopyPrefix.size(), &end, 10);
        if (pid > 0 && *end == '-' && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(entry.path(), ec);
    }
}

} // namespace

std::string Plugin::default_path() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&Plugin::default_path), &self) == 0 ||
        self.dli_fname == nullptr)
        return RIRE_PLUGIN_FILE;
    return (std::filesystem::absolute(self.dli_fname).parent_path() / RIRE_PLUGIN_FILE).string();
}

std::unique_ptr<Plugin> Plugin::load(const std::string &so_path, std::string *error) {
    std::unique_ptr<Plugin> plugin(new Plugin);
    std::string reason;
    if (!plugin->copy_from(so_path, &reason) || !plugin->open(&reason)) {
        // The temporary copy means nothing to whoever named the plugin.
        const std::string &copy = plugin->copy_;
        for (size_t at = reason.find(copy); !copy.empty() && at != std::string::npos;
             at = reason.find(copy, at + so_path.size()))
            reason.replace(at, copy.size(), so_path);
        if (error != nullptr)
            *error = reason;
        return nullptr;
    }
    return plugin;
}

Plugin::~Plugin() {
    if (handle_ != nullptr) {
        reclaim();
        dlclose(handle_);
    }
    if (malloc_slot_ >= 0)
        malloc_hooks[malloc_slot_] = MallocHook{};
    if (!copy_.empty()) {
        std::error_code ec;
        std::filesystem::remove(copy_, ec);
    }
}

bool Plugin::copy_from(const std::string &so_path, std::string *error) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    remove_orphaned_copies(dir);
    std::string name =
        (dir / (std::string(kCopyPrefix) + std::to_string(getpid()) + "-XXXXXX.so")).string();
    const int fd = mkstemps(name.data(), 3);
    if (fd < 0) {
        *error = "cannot create a temporary copy of " + so_path;
        return false;
    }
    close(fd);
    copy_ = name;
    std::error_code ec;
    std::filesystem::copy_file(so_path, copy_, std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (ec) {
        *error = "cannot copy " + so_path + ": " + ec.message();
        return false;
    }
    return true;
}

bool Plugin::open(std::string *error) {
    if (!loader::elf::read(copy_, &layout_, error))
        return false;
    handle_ = dlopen(copy_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        *error = dlerror();
        return false;
    }
    link_map *map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        *error = dlerror();
        return false;
    }
    base_ = map->l_addr;
    std::memset(&storage_, kApiFill, sizeof storage_);
    hook_malloc();
    return true;
}

void *Plugin::replace_import(const std::string &symbol, void *replacement) {
    void *previous = nullptr;
    for (const auto &[name, got] : layout_.imports) {
        if (name != symbol)
            continue;
        if (previous == nullptr)
            std::memcpy(&previous, reinterpret_cast<void *>(base_ + got), sizeof previous);
        loader::elf::write_got(base_, got, layout_.relro, replacement);
    }
    return previous;
}

void Plugin::hook_malloc() {
    for (std::size_t slot = 0; slot < kMallocHookSlots; ++slot) {
        if (malloc_hooks[slot].used)
            continue;
        void *real = replace_import("malloc", reinterpret_cast<void *>(kHookedMallocs[slot]));
        if (real == nullptr)
            return;
        void *real_free = replace_import("free", reinterpret_cast<void *>(kHookedFrees[slot]));
        MallocHook &hook = malloc_hooks[slot];
        hook = MallocHook{};
        hook.used = true;
        hook.real = reinterpret_cast<void *(*)(std::size_t)>(real);
        hook.real_free = reinterpret_cast<void (*)(void *)>(real_free);
        malloc_slot_ = static_cast<int>(slot);
        return;
    }
}

uint32_t Plugin::malloc_calls() const {
    return malloc_slot_ < 0 ? 0 : malloc_hooks[malloc_slot_].calls;
}

Plugin::Heap Plugin::heap() const {
    return malloc_slot_ < 0 ? Heap{} : malloc_hooks[malloc_slot_].heap;
}

std::unordered_set<const void *> Plugin::queued_blocks() const {
    std::unordered_set<const void *> blocks;
    const queue_hdr *q = hw_update_req_q();
    if (q == nullptr || malloc_slot_ < 0)
        return blocks;
    for (const auto &r : requests::decode(*q, malloc_hooks[malloc_slot_].ledger.size() + 1)) {
        blocks.insert(r.block);
        for (const auto &h : r.held)
            blocks.insert(h.block);
    }
    return blocks;
}

Plugin::Census Plugin::census(std::span<const queue_hdr *const> host_queues) const {
    Census c;
    if (malloc_slot_ < 0)
        return c;
    const MallocHook &hook = malloc_hooks[malloc_slot_];
    const auto queued = queued_blocks();
    std::unordered_set<const void *> hosted;
    for (const queue_hdr *q : host_queues)
        add_elements(*q, hook.ledger.size(), &hosted);
    for (const auto &[block, info] : hook.ledger) {
        if (queued.contains(block))
            ++c.in_requests;
        else if (hosted.contains(block))
            ++c.in_host;
        else if (info.dropped)
            ++c.dropped;
        else
            ++c.lost, c.lost_bytes += info.size;
    }
    return c;
}

void Plugin::release(void *block) {
    if (malloc_slot_ < 0) {
        std::free(block);
        return;
    }
    MallocHook &hook = malloc_hooks[malloc_slot_];
    if (block != nullptr && hook.ledger.erase(block) != 0)
        ++hook.heap.released;
    hook.real_free(block);
}

void Plugin::drop_queue() {
    if (malloc_slot_ < 0)
        return;
    auto &ledger = malloc_hooks[malloc_slot_].ledger;
    for (const void *block : queued_blocks())
        if (const auto it = ledger.find(block); it != ledger.end())
            it->second.dropped = true;
}

// What the OS takes back at the process's death. A block nothing holds is
// left allocated and forgotten: it leaked, and a leak checker should see it.
void Plugin::reclaim() {
    if (malloc_slot_ < 0)
        return;
    MallocHook &hook = malloc_hooks[malloc_slot_];
    const auto queued = queued_blocks();
    for (const auto &[block, info] : hook.ledger)
        if (info.dropped || queued.contains(block))
            hook.real_free(const_cast<void *>(block));
    hook.ledger.clear();
    if (queue_hdr *q = hw_update_req_q())
        *q = queue_hdr{};
}

bool Plugin::init() {
    auto entry = fn<void (*)(rire_orsk_platform_api *)>("rire_orsk_platform_api_init");
    if (entry == nullptr)
        return false;
    drop_queue();
    entry(api());
    return true;
}

int32_t Plugin::reset_queue(const char *export_name) {
    auto reset = fn<int32_t (*)()>(export_name);
    if (reset == nullptr)
        return -1;
    drop_queue();
    return reset();
}

namespace {

void *find(const loader::elf::Symbols &symbols, uintptr_t base, const std::string &name) {
    for (const auto &[symbol, address] : symbols) {
        if (loader::elf::denotes(symbol, name))
            return reinterpret_cast<void *>(base + address);
    }
    return nullptr;
}

} // namespace

void *Plugin::object(const std::string &name) const {
    const auto [at, added] = objects_.try_emplace(name, nullptr);
    if (added)
        at->second = find(layout_.objects, base_, name);
    return at->second;
}

void *Plugin::function(const std::string &name) const {
    return find(layout_.functions, base_, name);
}

queue_hdr *Plugin::hw_update_req_q() const {
    return static_cast<queue_hdr *>(object("hw_update_req_q"));
}

uint32_t *Plugin::mts_q_handle() const {
    return static_cast<uint32_t *>(object("mts_q_handle"));
}

uint8_t *Plugin::pss_buf() const {
    return static_cast<uint8_t *>(object("pss_buf"));
}

uint32_t *Plugin::pss_buf_used() const {
    return static_cast<uint32_t *>(object("pss_buf_used"));
}

uint8_t **Plugin::pss_buf_cursor() const {
    return static_cast<uint8_t **>(object("pss_buf_cursor"));
}

} // namespace emu::loader
