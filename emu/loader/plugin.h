// One loaded instance of the platform plugin. load() copies the .so to a
// fresh temporary file and dlopens the copy (RTLD_NOW | RTLD_LOCAL), so every
// load gets its own instance with zeroed statics even when dlclose keeps an
// earlier one mapped; the plugin binds the host operations of librire_emu at
// load time.
//
// The Plugin owns the host's callback vector: kApiStorageSize bytes filled
// with kApiFill before init(), so tests can see which slots the plugin left
// alone. It also finds the plugin's hidden state through the copy's ELF
// static symbol table (emu/loader/elf.h) plus the load base; an accessor returns
// null when its symbol is missing (a stripped plugin).
//
// Faults on the plugin's imports. Each copy binds its imports through its own
// GOT (emu/loader/elf.h), so a test can point one of them elsewhere without touching
// the rest of the process. At load the copy's `malloc` is routed through a
// counter that asks the fault table's libc.malloc.fail row (emu/base/faults.h)
// whether the call fails; it forwards every other call to the malloc the copy
// was bound to (the C library's, or the sanitizer's in an ASan build).
//
// The heap ledger. The copy's `free` is routed through the same slot, and
// every block its malloc hands out stays in the slot's ledger until the
// plugin frees it or the host releases it (release(): a hold element the
// host dequeued from one of its own records). So the host can always say
// where each live block is (census()), and a block nothing holds any more is
// a leak of the plugin, not an unknown. The queue resets (init() and
// reset_queue()) drop the queue's requests without freeing them, by design;
// the ledger marks those blocks as dropped.
//
// Destroying the Plugin is the process death of the plugin: the blocks its
// queue holds and the blocks a reset dropped are freed, as the OS would
// reclaim them; a lost block is forgotten unfreed, so a leak checker still
// sees it. The copy is dlclosed and deleted; the copies of processes that
// were killed are deleted by the next load in the same temporary directory.
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "emu/loader/elf.h"
#include "plugin/include/rire_orsk_platform_api.h"

namespace emu::loader {

class Plugin {
  public:
    static constexpr std::size_t kApiStorageSize = 128;
    static constexpr uint8_t kApiFill = 0xA5;

    // Null on failure, with the reason in *error (when error is not null).
    static std::unique_ptr<Plugin> load(const std::string &so_path, std::string *error);
    // The plugin beside this library (librire_emu.so): where the build puts
    // both, and where the package installs both.
    static std::string default_path();
    ~Plugin();
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    // An exported function of the plugin; null when it is absent.
    template <class F> F fn(const char *name) const {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }
    // Calls rire_orsk_platform_api_init on the vector; false when the plugin
    // has no such entry point. What the queue held is dropped, not freed.
    bool init();
    // Calls one of the exported queue resets (rire_orsk_hw_update_req_q_init,
    // rire_orsk_oiflist_db_init) and returns its result; what the queue held
    // is dropped, not freed.
    int32_t reset_queue(const char *export_name);
    rire_orsk_platform_api *api() { return &storage_.api; }
    // The whole vector storage, kApiStorageSize bytes.
    const uint8_t *api_bytes() const { return reinterpret_cast<const uint8_t *>(&storage_); }

    // Address of a data object of the plugin by its source name, hidden or
    // not; null when the symbol table has no such object.
    void *object(const std::string &name) const;
    // Address of a function of the plugin, exported or not, by its name; null
    // when the symbol table has none.
    void *function(const std::string &name) const;
    queue_hdr *hw_update_req_q() const;
    uint32_t *mts_q_handle() const;
    uint8_t *pss_buf() const;
    uint32_t *pss_buf_used() const;
    uint8_t **pss_buf_cursor() const;

    // Points the copy's GOT entries of the imported function `symbol` at
    // `replacement`; returns the address they held, or null (nothing changed)
    // when the copy does not import `symbol`.
    void *replace_import(const std::string &symbol, void *replacement);
    // The plugin's calls to malloc since load, failed ones included; 0 when
    // its malloc is not routed through a counter (the copy imports no malloc,
    // or kMallocHookSlots plugins are loaded).
    uint32_t malloc_calls() const;
    static constexpr std::size_t kMallocHookSlots = 8;
    // Blocks the plugin's malloc handed out since load, and how they ended;
    // zeros when its malloc is not routed through a counter.
    struct Heap {
        uint32_t allocated = 0;
        uint32_t freed = 0;    // by the plugin
        uint32_t released = 0; // by the host, through release()
        uint32_t live() const { return allocated - freed - released; }
    };
    Heap heap() const;
    // Where the live blocks are. `host_queues` are the hold queues of the
    // host's own records, whose elements the plugin allocated.
    struct Census {
        uint32_t in_requests = 0; // requests on hw_update_req_q, their hold elements
        uint32_t in_host = 0;     // elements on one of host_queues
        uint32_t dropped = 0;     // dropped by a queue reset
        uint32_t lost = 0;        // nothing holds them: leaked
        uint64_t lost_bytes = 0;
    };
    Census census(std::span<const queue_hdr *const> host_queues = {}) const;
    // Frees a block the plugin allocated and handed to the host.
    void release(void *block);

    // The temporary copy that was loaded.
    const std::filesystem::path &path() const { return copy_; }

  private:
    struct ApiStorage {
        rire_orsk_platform_api api;
        uint8_t beyond[kApiStorageSize - sizeof(rire_orsk_platform_api)];
    };

    Plugin() = default;
    bool copy_from(const std::string &so_path, std::string *error);
    bool open(std::string *error);
    void hook_malloc();
    // Marks what the queue holds as dropped, before a reset empties it.
    void drop_queue();
    // The blocks reachable from hw_update_req_q.
    std::unordered_set<const void *> queued_blocks() const;
    void reclaim();

    void *handle_ = nullptr;
    std::filesystem::path copy_;
    uintptr_t base_ = 0;
    loader::elf::Layout layout_;
    // Objects looked up so far, by name: a lookup scans the symbol table.
    mutable std::unordered_map<std::string, void *> objects_;
    int malloc_slot_ = -1; // index of the malloc hook, or -1
    ApiStorage storage_;
};

} // namespace emu::loader
