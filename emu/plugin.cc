#include "emu/plugin.h"

#include <link.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "emu/faults.h"

namespace emu {
namespace {

// The malloc and free counters, one slot per loaded plugin. Each slot has its
// own entry functions, so a plugin's GOT names its slot without any lookup.
struct MallocHook {
    bool used = false;
    void *(*real)(std::size_t) = nullptr;
    void (*real_free)(void *) = nullptr;
    uint32_t calls = 0;
    Plugin::Heap heap;
};

std::array<MallocHook, Plugin::kMallocHookSlots> malloc_hooks;

template <std::size_t Slot> void *hooked_malloc(std::size_t size) {
    MallocHook &hook = malloc_hooks[Slot];
    ++hook.calls;
    if (faults::fires(faults::Id::kLibcMallocFail))
        return nullptr;
    void *block = hook.real(size);
    if (block != nullptr)
        ++hook.heap.allocated;
    return block;
}

template <std::size_t Slot> void hooked_free(void *block) {
    MallocHook &hook = malloc_hooks[Slot];
    if (block != nullptr)
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

void free_hold_elements(queue_hdr &hold_q) {
    auto *elem = static_cast<rire_orsk_di_hold_q_elem *>(hold_q.head);
    while (elem != nullptr) {
        rire_orsk_di_hold_q_elem *next = elem->next;
        std::free(elem);
        elem = next;
    }
    hold_q = queue_hdr{};
}

} // namespace

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
        free_outstanding_requests();
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
    std::string name = (std::filesystem::temp_directory_path() / "rire-plugin-XXXXXX.so").string();
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
    if (!elf::read(copy_, &layout_, error))
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
        elf::write_got(base_, got, layout_.relro, replacement);
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
        malloc_hooks[slot] = MallocHook{true,
                                        reinterpret_cast<void *(*)(std::size_t)>(real),
                                        reinterpret_cast<void (*)(void *)>(real_free),
                                        0,
                                        {}};
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

bool Plugin::init() {
    auto entry = fn<void (*)(rire_orsk_platform_api *)>("rire_orsk_platform_api_init");
    if (entry == nullptr)
        return false;
    entry(api());
    return true;
}

void *Plugin::object(const std::string &name) const {
    for (const auto &[symbol, address] : layout_.objects) {
        if (elf::denotes(symbol, name))
            return reinterpret_cast<void *>(base_ + address);
    }
    return nullptr;
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

void Plugin::free_outstanding_requests() {
    queue_hdr *q = hw_update_req_q();
    if (q == nullptr)
        return;
    auto *req = static_cast<rire_orsk_hw_update_req *>(q->head);
    while (req != nullptr) {
        rire_orsk_hw_update_req *next = req->next;
        free_hold_elements(req->hold_q);
        std::free(req);
        req = next;
    }
    *q = queue_hdr{};
}

} // namespace emu
