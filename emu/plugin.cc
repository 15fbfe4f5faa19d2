#include "emu/plugin.h"

#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace emu {
namespace {

using Image = std::vector<char>;

bool read_file(const std::filesystem::path &path, Image *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The `T` at byte `offset` of the image, or null when it does not fit.
template <class T> const T *at(const Image &image, uint64_t offset, uint64_t count = 1) {
    if (offset + sizeof(T) * count > image.size())
        return nullptr;
    return reinterpret_cast<const T *>(image.data() + offset);
}

bool is_elf32_le(const Elf32_Ehdr *eh) {
    return eh != nullptr && std::memcmp(eh->e_ident, ELFMAG, SELFMAG) == 0 &&
           eh->e_ident[EI_CLASS] == ELFCLASS32 && eh->e_ident[EI_DATA] == ELFDATA2LSB &&
           eh->e_shentsize == sizeof(Elf32_Shdr);
}

// Appends the defined data objects of one symbol table section.
void collect_objects(const Image &image, const Elf32_Shdr *sections, uint32_t nsections,
                     const Elf32_Shdr &symtab, std::vector<std::pair<std::string, uint32_t>> *out) {
    if (symtab.sh_link >= nsections)
        return;
    const Elf32_Shdr &strtab = sections[symtab.sh_link];
    const uint32_t count = symtab.sh_size / sizeof(Elf32_Sym);
    const auto *syms = at<Elf32_Sym>(image, symtab.sh_offset, count);
    const char *names = at<char>(image, strtab.sh_offset, strtab.sh_size);
    if (syms == nullptr || names == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i) {
        const Elf32_Sym &s = syms[i];
        if (ELF32_ST_TYPE(s.st_info) != STT_OBJECT || s.st_shndx == SHN_UNDEF ||
            s.st_name >= strtab.sh_size)
            continue;
        const char *name = names + s.st_name;
        out->emplace_back(std::string(name, strnlen(name, strtab.sh_size - s.st_name)), s.st_value);
    }
}

// Appends the GOT entries that bind imported symbols in one REL section whose
// symbols come from the dynamic symbol table.
void collect_imports(const Image &image, const Elf32_Shdr *sections, uint32_t nsections,
                     const Elf32_Shdr &rel, std::vector<std::pair<std::string, uint32_t>> *out) {
    if (rel.sh_link >= nsections || sections[rel.sh_link].sh_type != SHT_DYNSYM)
        return;
    const Elf32_Shdr &dynsym = sections[rel.sh_link];
    if (dynsym.sh_link >= nsections)
        return;
    const Elf32_Shdr &dynstr = sections[dynsym.sh_link];
    const uint32_t nrels = rel.sh_size / sizeof(Elf32_Rel);
    const uint32_t nsyms = dynsym.sh_size / sizeof(Elf32_Sym);
    const auto *rels = at<Elf32_Rel>(image, rel.sh_offset, nrels);
    const auto *syms = at<Elf32_Sym>(image, dynsym.sh_offset, nsyms);
    const char *names = at<char>(image, dynstr.sh_offset, dynstr.sh_size);
    if (rels == nullptr || syms == nullptr || names == nullptr)
        return;
    for (uint32_t i = 0; i < nrels; ++i) {
        const uint32_t type = ELF32_R_TYPE(rels[i].r_info);
        const uint32_t sym = ELF32_R_SYM(rels[i].r_info);
        if ((type != R_386_JMP_SLOT && type != R_386_GLOB_DAT) || sym >= nsyms ||
            syms[sym].st_name >= dynstr.sh_size)
            continue;
        const char *name = names + syms[sym].st_name;
        out->emplace_back(std::string(name, strnlen(name, dynstr.sh_size - syms[sym].st_name)),
                          rels[i].r_offset);
    }
}

// The link-time range that the dynamic loader makes read-only after
// relocation; {0, 0} when the object has none.
std::pair<uint32_t, uint32_t> read_relro(const Image &image, const Elf32_Ehdr *eh) {
    if (eh->e_phentsize != sizeof(Elf32_Phdr))
        return {0, 0};
    const auto *phdrs = at<Elf32_Phdr>(image, eh->e_phoff, eh->e_phnum);
    for (uint32_t i = 0; phdrs != nullptr && i < eh->e_phnum; ++i) {
        if (phdrs[i].p_type == PT_GNU_RELRO)
            return {phdrs[i].p_vaddr, phdrs[i].p_vaddr + phdrs[i].p_memsz};
    }
    return {0, 0};
}

bool read_objects(const std::filesystem::path &path,
                  std::vector<std::pair<std::string, uint32_t>> *out,
                  std::vector<std::pair<std::string, uint32_t>> *imports,
                  std::pair<uint32_t, uint32_t> *relro, std::string *error) {
    Image image;
    if (!read_file(path, &image)) {
        *error = "cannot read " + path.string();
        return false;
    }
    const auto *eh = at<Elf32_Ehdr>(image, 0);
    if (!is_elf32_le(eh)) {
        *error = path.string() + " is no 32-bit little-endian ELF object";
        return false;
    }
    const auto *sections = at<Elf32_Shdr>(image, eh->e_shoff, eh->e_shnum);
    if (sections == nullptr) {
        *error = path.string() + ": section headers out of the file";
        return false;
    }
    for (uint32_t i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type == SHT_SYMTAB)
            collect_objects(image, sections, eh->e_shnum, sections[i], out);
        if (sections[i].sh_type == SHT_REL)
            collect_imports(image, sections, eh->e_shnum, sections[i], imports);
    }
    *relro = read_relro(image, eh);
    return true;
}

// True when `symbol` names `name` plainly or as an Itanium-mangled variable
// of internal linkage or inside namespaces ("_ZL7pss_buf", "_ZN3ns7pss_bufE").
bool denotes(const std::string &symbol, const std::string &name) {
    if (symbol == name)
        return true;
    const std::string tail = std::to_string(name.size()) + name;
    if (symbol == "_ZL" + tail)
        return true;
    return symbol.starts_with("_ZN") && symbol.ends_with(tail + "E");
}

// The malloc counters, one slot per loaded plugin. Each slot has its own
// entry function, so a plugin's GOT names its slot without any lookup.
struct MallocHook {
    bool used = false;
    void *(*real)(std::size_t) = nullptr;
    uint32_t calls = 0;
    uint32_t fail_at = 0; // the value of `calls` whose call fails; 0: none
};

std::array<MallocHook, Plugin::kMallocHookSlots> malloc_hooks;

template <std::size_t Slot> void *hooked_malloc(std::size_t size) {
    MallocHook &hook = malloc_hooks[Slot];
    if (++hook.calls == hook.fail_at) {
        hook.fail_at = 0;
        return nullptr;
    }
    return hook.real(size);
}

template <std::size_t... Slot>
constexpr std::array<void *(*)(std::size_t), sizeof...(Slot)>
hooked_mallocs(std::index_sequence<Slot...>) {
    return {&hooked_malloc<Slot>...};
}

constexpr auto kHookedMallocs =
    hooked_mallocs(std::make_index_sequence<Plugin::kMallocHookSlots>{});

// Writes one GOT word. A word inside the RELRO range lies on a page that the
// loader made read-only (all pages from the range's first up to, not
// including, the page of its end); such a page is opened for the write and
// closed again.
void write_got(uintptr_t base, uint32_t offset, std::pair<uint32_t, uint32_t> relro, void *value) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t word = base + offset;
    const uintptr_t word_page = word & ~(page - 1);
    const bool read_only = word_page >= ((base + relro.first) & ~(page - 1)) &&
                           word_page < ((base + relro.second) & ~(page - 1));
    void *p = reinterpret_cast<void *>(word_page);
    if (read_only)
        mprotect(p, page, PROT_READ | PROT_WRITE);
    std::memcpy(reinterpret_cast<void *>(word), &value, sizeof value);
    if (read_only)
        mprotect(p, page, PROT_READ);
}

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
    if (!read_objects(copy_, &objects_, &imports_, &relro_, error))
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
    for (const auto &[name, got] : imports_) {
        if (name != symbol)
            continue;
        if (previous == nullptr)
            std::memcpy(&previous, reinterpret_cast<void *>(base_ + got), sizeof previous);
        write_got(base_, got, relro_, replacement);
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
        malloc_hooks[slot] = MallocHook{true, reinterpret_cast<void *(*)(std::size_t)>(real), 0, 0};
        malloc_slot_ = static_cast<int>(slot);
        return;
    }
}

bool Plugin::fail_malloc_at(uint32_t n) {
    if (malloc_slot_ < 0)
        return false;
    MallocHook &hook = malloc_hooks[malloc_slot_];
    hook.fail_at = n == 0 ? 0 : hook.calls + n;
    return true;
}

uint32_t Plugin::malloc_calls() const {
    return malloc_slot_ < 0 ? 0 : malloc_hooks[malloc_slot_].calls;
}

bool Plugin::init() {
    auto entry = fn<void (*)(rire_orsk_platform_api *)>("rire_orsk_platform_api_init");
    if (entry == nullptr)
        return false;
    entry(api());
    return true;
}

void *Plugin::object(const std::string &name) const {
    for (const auto &[symbol, address] : objects_) {
        if (denotes(symbol, name))
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
