#include "emu/loader/elf.h"

#include <elf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace emu::loader::elf {
namespace {

using Image = std::vector<char>;

bool read_file(const std::filesystem::path &path, Image *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // One read of the file's size, not a copy byte by byte through a stream
    // iterator; what cannot be read (a directory) is an empty image.
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    out->resize(ec ? 0 : size);
    in.read(out->data(), static_cast<std::streamsize>(out->size()));
    out->resize(static_cast<std::size_t>(in.gcount()));
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

// Appends the defined symbols of one type (STT_OBJECT, STT_FUNC) of one
// symbol table section.
void collect_defined(const Image &image, const Elf32_Shdr *sections, uint32_t nsections,
                     const Elf32_Shdr &symtab, unsigned type, Symbols *out) {
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
        if (ELF32_ST_TYPE(s.st_info) != type || s.st_shndx == SHN_UNDEF ||
            s.st_name >= strtab.sh_size)
            continue;
        const char *name = names + s.st_name;
        out->emplace_back(std::string(name, strnlen(name, strtab.sh_size - s.st_name)), s.st_value);
    }
}

// Appends the GOT entries that bind imported symbols in one REL section whose
// symbols come from the dynamic symbol table.
void collect_imports(const Image &image, const Elf32_Shdr *sections, uint32_t nsections,
                     const Elf32_Shdr &rel, Symbols *out) {
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

} // namespace

bool read(const std::filesystem::path &path, Layout *out, std::string *error) {
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
        if (sections[i].sh_type == SHT_SYMTAB) {
            collect_defined(image, sections, eh->e_shnum, sections[i], STT_OBJECT, &out->objects);
            collect_defined(image, sections, eh->e_shnum, sections[i], STT_FUNC, &out->functions);
        }
        if (sections[i].sh_type == SHT_REL)
            collect_imports(image, sections, eh->e_shnum, sections[i], &out->imports);
    }
    out->relro = read_relro(image, eh);
    return true;
}

bool denotes(const std::string &symbol, const std::string &name) {
    if (symbol == name)
        return true;
    const std::string tail = std::to_string(name.size()) + name;
    if (symbol == "_ZL" + tail)
        return true;
    return symbol.starts_with("_ZN") && symbol.ends_with(tail + "E");
}

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

} // namespace emu::loader::elf
