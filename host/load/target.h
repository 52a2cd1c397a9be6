// The library under test as the host sees it: loaded, its IDs registered in
// the index tables, and the schema a suite is checked against.
#pragma once

#include "catalog/catalog.h"
#include "load/library.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

struct InputSlot {  // position = index in the library's input index table
    int32_t id = 0;
    std::string name;  // catalog name, or the ID's text without a catalog
    Setter setter = Setter::unknown;
    int32_t scope = 0;  // 0: unknown
    ValueType type{};   // uint8_t without a catalog
};

struct OutputSlot {
    std::string name;                     // catalog name, or the variable's name without a catalog
    std::string variable;                 // kiv_haux<n>
    int32_t scope = 0;                    // 0: unknown
    volatile uint8_t* address = nullptr;  // null: the file has no symbol for it
    ValueType type{};                     // uint8_t without a catalog; address spans its size
};

struct GoalSlot {  // position = index in the library's output index table
    int32_t id = 0;
    const CatalogGoal* info = nullptr;  // null without a catalog
};

struct ScopeSlot {
    int32_t uid = 0;
    std::vector<std::string> names;  // short name, unit function, step function
};

// What a suite may name. Complete (scopes, ranges, owners) only with a catalog.
struct Schema {
    bool from_catalog = false;
    bool outputs_resolved = false;  // addresses looked up in a loaded library
    std::vector<InputSlot> inputs;
    std::vector<OutputSlot> outputs;
    std::vector<GoalSlot> goals;
    std::vector<ScopeSlot> scopes;

    // The schema a catalog describes, with no output addresses.
    static Schema of(const Catalog& catalog);
};

class Target {
public:
    // Loads the library, reads its catalog (catalog_path, else the default
    // path beside the library if that file exists, else none) and registers
    // every input ID and goal ID. Throws Error when the library is unusable
    // or the catalog does not describe it.
    Target(const std::string& library_path, std::optional<std::string> catalog_path = std::nullopt,
           bool use_catalog = true);
    ~Target();  // unregisters and closes the harness

    const Library& library() const { return *lib_; }
    const Catalog& catalog() const { return catalog_; }
    const Schema& schema() const { return schema_; }
    // The library's build-id, else the SHA-256 of its file.
    const std::string& library_id() const { return library_id_; }

private:
    void scan_ids(std::vector<int32_t>& writable, std::vector<int32_t>& readonly) const;
    void check_catalog(const std::vector<int32_t>& writable, const std::vector<int32_t>& readonly) const;
    void resolve_outputs();
    void register_ids();

    std::unique_ptr<Library> lib_;
    std::string library_id_;
    Catalog catalog_;
    Schema schema_;
};

}  // namespace kiv
