// A harness library loaded with dlopen: its 23 exports resolved by name, its
// symbol table for the output harness variables, its writable data segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kiv {

// One pointer per export, expanded from the library's export list.
struct Exports {
#define KIV_EXPORT_DATA(type, name) type* name = nullptr;
#define KIV_EXPORT_FN(ret, name, params, args) ret(*name) params = nullptr;
#include "dllharness_exports.def"
};

struct Range {
    std::uintptr_t begin = 0, end = 0;
    std::size_t size() const { return end - begin; }
};

class Library {
public:
    // Loads and resolves every export; throws Error naming the first missing
    // export, or the loader's message when the file does not load.
    explicit Library(const std::string& path);
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const Exports& api() const { return api_; }
    const std::string& path() const { return path_; }

    // Address of a local data object named in the file's .symtab, or null when
    // the file has no such symbol (or no symbol table at all).
    volatile uint8_t* data_symbol(const std::string& name, std::size_t size) const;
    bool has_symbol_table() const { return has_symtab_; }
    // Whether the library calls any of `names` from another library (an
    // undefined symbol of its dynamic table); true when the file could not be read.
    bool imports_any(std::initializer_list<const char*> names) const;

    // The library's writable data as mapped now (.data and .bss), without
    // the part that becomes read-only after relocation.
    const std::vector<Range>& writable() const { return writable_; }

private:
    struct Symbol {
        std::uintptr_t value;
        std::size_t size;
    };
    void read_symbols();
    void find_segments();

    struct Unload {
        void operator()(void* handle) const;
    };

    std::string path_;
    std::unique_ptr<void, Unload> handle_;  // closed on every path out, a throw from the constructor included
    std::uintptr_t base_ = 0;
    Exports api_;
    bool has_symtab_ = false;
    std::map<std::string, Symbol> symbols_;
    std::set<std::string> imports_;  // undefined symbols of the dynamic table
    bool imports_known_ = false;
    std::vector<Range> writable_;
};

}  // namespace kiv
