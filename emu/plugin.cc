#include "emu/plugin.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

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

bool read_objects(const std::filesystem::path &path,
                  std::vector<std::pair<std::string, uint32_t>> *out, std::string *error) {
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
    }
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
    if (!read_objects(copy_, &objects_, error))
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
    return true;
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
