// Loading a harness library: dlopen, dlsym per export, libelf for the local
// symbols, dl_iterate_phdr for the writable segments.
#include "load/library.h"

#include "error.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gelf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

namespace kiv {

Library::Library(const std::string& path) : path_(path) {
    if (access(path.c_str(), R_OK) != 0) throw Error("cannot read library " + path + ": " + std::strerror(errno));
    handle_.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle_) throw Error("cannot load library " + path + ": " + dlerror());
    std::string missing;
#define KIV_EXPORT_DATA(type, name) \
    if (!(api_.name = reinterpret_cast<decltype(api_.name)>(dlsym(handle_.get(), #name))) && missing.empty()) missing = #name;
#define KIV_EXPORT_FN(ret, name, params, args) KIV_EXPORT_DATA(ret, name)
#include "dllharness_exports.def"
    if (!missing.empty()) throw Error("library " + path + " does not export " + missing + ", not a harness library");
    link_map* map = nullptr;
    if (dlinfo(handle_.get(), RTLD_DI_LINKMAP, &map) != 0 || !map) throw Error("cannot locate " + path + " in memory");
    base_ = map->l_addr;
    read_symbols();
    find_segments();
}

void Library::Unload::operator()(void* handle) const {
    dlclose(handle);
}

namespace {

// The undefined symbols of a dynamic symbol table into `to`; false when its data cannot be read.
bool read_imports(Elf* elf, Elf_Scn* scn, const GElf_Shdr& sh, std::set<std::string>& to) {
    Elf_Data* data = elf_getdata(scn, nullptr);
    const std::size_t count = sh.sh_size / sh.sh_entsize;
    for (std::size_t i = 1; data && i < count; ++i) {
        GElf_Sym sym;
        if (!gelf_getsym(data, static_cast<int>(i), &sym) || sym.st_shndx != SHN_UNDEF) continue;
        const char* name = elf_strptr(elf, sh.sh_link, sym.st_name);
        if (name && *name) to.insert(name);
    }
    return data != nullptr;
}

}  // namespace

void Library::read_symbols() {
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    elf_version(EV_CURRENT);
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    for (Elf_Scn* scn = nullptr; elf && (scn = elf_nextscn(elf, scn));) {
        GElf_Shdr sh;
        if (gelf_getshdr(scn, &sh) && sh.sh_type == SHT_DYNSYM && sh.sh_entsize != 0)
            imports_known_ = read_imports(elf, scn, sh, imports_);
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
        has_symtab_ = true;
        Elf_Data* data = elf_getdata(scn, nullptr);
        const std::size_t count = sh.sh_size / sh.sh_entsize;
        for (std::size_t i = 0; data && i < count; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, static_cast<int>(i), &sym) || GELF_ST_TYPE(sym.st_info) != STT_OBJECT ||
                sym.st_shndx == SHN_UNDEF)
                continue;
            const char* name = elf_strptr(elf, sh.sh_link, sym.st_name);
            if (name && *name) symbols_.emplace(name, Symbol{sym.st_value, sym.st_size});
        }
    }
    if (elf) elf_end(elf);
    close(fd);
}

bool Library::imports_any(std::initializer_list<const char*> names) const {
    if (!imports_known_) return true;
    for (const char* n : names)
        if (imports_.count(n)) return true;
    return false;
}

namespace {
struct SegmentQuery {
    std::uintptr_t base;
    std::vector<Range>* out;
    bool found = false;
};
}  // namespace

void Library::find_segments() {
    SegmentQuery q{base_, &writable_};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* arg) -> int {
            auto* q = static_cast<SegmentQuery*>(arg);
            if (info->dlpi_addr != q->base) return 0;
            Range relro;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& ph = info->dlpi_phdr[i];
                if (ph.p_type == PT_GNU_RELRO) relro = {q->base + ph.p_vaddr, q->base + ph.p_vaddr + ph.p_memsz};
            }
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_W)) continue;
                Range r{q->base + ph.p_vaddr, q->base + ph.p_vaddr + ph.p_memsz};
                // The relocated pointers before .data turn read-only once loaded.
                if (relro.begin < r.end && relro.end > r.begin) {
                    if (relro.begin > r.begin) q->out->push_back({r.begin, relro.begin});
                    r.begin = std::max(r.begin, relro.end);
                }
                if (r.begin < r.end) q->out->push_back(r);
            }
            q->found = true;
            return 1;
        },
        &q);
    if (!q.found) throw Error("cannot find the segments of " + path_ + " in memory");
}

volatile uint8_t* Library::data_symbol(const std::string& name, std::size_t size) const {
    auto it = symbols_.find(name);
    if (it == symbols_.end() || it->second.size != size) return nullptr;
    const std::uintptr_t at = base_ + it->second.value;
    for (const auto& r : writable_)
        if (at >= r.begin && at + size <= r.end) return reinterpret_cast<volatile uint8_t*>(at);
    return nullptr;
}

}  // namespace kiv
