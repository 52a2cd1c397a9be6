// The catalog: what stands behind each variable ID, harness variable, scope and
// goal of a harness library, read from the JSON the build writes beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

enum class Setter { plain, boolean, unknown };

// A name of an enum's value, as the unit's source declares it.
struct Enumerator {
    std::string name;
    int64_t value = 0;
};

// The C scalar type of a harness variable, as its unit's table spells it.
struct ValueType {
    std::string name = "uint8_t";  // older catalogs have no type: the 8-bit variables of then
    int size = 1;                  // bytes
    bool is_signed = false;
    bool floating = false;
    bool boolean = false;  // C's bool: holds 0 or 1
    // An enum's names, in declaration order (one value may have two); empty
    // for any other type. The integer type above is the enum's underlying one.
    std::vector<Enumerator> enumerators{};

    // The range of the type's values; for a floating type the finite range of
    // its values (as doubles), for the integer kinds exact as 64-bit integers.
    int64_t min_int() const;
    uint64_t max_uint() const;
    double min_float() const;
    double max_float() const;
};

// The type of that name ("int16_t", "unsigned short", "float", "bool", ...);
// nullopt for a name that is no C scalar type the harness variables can have.
std::optional<ValueType> value_type_named(const std::string& name);

struct CatalogInput {
    int32_t id = 0;
    std::string name;      // readable and unique: "<scope name>.<port element>"
    std::string variable;  // harness variable, kiv_haux<n>
    int32_t scope = 0;
    std::string feeds;  // the unit variable the scope's frame copies it into
    Setter setter = Setter::unknown;
    ValueType type{};
    // After a step it holds what the unit left in the variable it feeds (a
    // field of an object passed by pointer), not the value last written.
    bool follows_unit = false;
};

struct CatalogOutput {
    std::string name;
    std::string variable;  // harness variable; has no ID, read by symbol
    int32_t scope = 0;
    std::string from;  // the unit variable the frame copies it from
    ValueType type{};
};

struct CatalogScope {
    int32_t uid = 0;
    std::string name, step, unit, init;
    std::vector<int32_t> inputs;       // variable IDs, in copy order
    std::vector<std::string> outputs;  // output names, in copy order
};

struct CatalogGoal {
    int32_t id = 0;
    int32_t goal = 0;       // n of KIV_G<n>
    std::string criterion;  // the name of one of kCriteria
    std::string kind, record, field, function, meaning;
    // Where its record's probe call stands; empty file in an older catalog.
    std::string file{};
    int32_t line = 0, column = 0;
    std::string decision{};  // condition goals: the decision record it belongs to
    // Statement goals: the lines its block's run covers, from its record.
    std::vector<std::pair<int32_t, int32_t>> lines{};
};

// A probe record and its one call site in the unit sources.
struct CatalogRecord {
    std::string record, kind, function;
    int32_t unit = 0;  // translation unit, from the TU<n> prefix
    std::string file;  // relative to the repository root
    int32_t line = 0, column = 0;
    std::vector<int64_t> constants;       // RELOP: compared against; SC: its case label
    std::string decision;                 // CC: the decision record it is nested in
    std::vector<std::string> conditions;  // DC: condition records, in evaluation order
    std::string expression;               // DC: over c0..cN-1 with && || ! ( ); "c" without conditions
    // STM: the lines (first, last) its run of statements covers; empty in an older catalog.
    std::vector<std::pair<int32_t, int32_t>> lines;
};

// What a criterion's goals are on the source lines of a report.
enum class OnLines {
    run,      // the lines of a run of statements, with its count
    outcome,  // a branch of its line; reaching one shows the line ran
    bound,    // a branch of its line that only an extreme value reaches
    none,     // no branch of any line
};

// Criteria in report order, with the record kind each comes from: one per
// probe kind, from the runtime's table of them.
struct Criterion {
    const char* name;
    const char* kind;
    OnLines lines;
};
extern const std::span<const Criterion> kCriteria;

// The criterion of that name; null for a name no probe kind has ("unclassified").
const Criterion* criterion_info(const std::string& name);

// What reaching a goal on that field of a record of that kind shows, in a word
// or two ("true", "one below", "entered"); by the field alone when the kind is
// unknown, and "entered" when the field is too.
std::string goal_outcome(const std::string& kind, const std::string& field);

struct Catalog {
    std::string path;     // empty when the library came without one
    std::string id;       // sha256 of the file's bytes, naming the catalog in results
    std::string library;  // identity of the library build it was written beside; empty when unknown
    std::vector<CatalogScope> scopes;
    std::vector<CatalogInput> inputs;
    std::vector<CatalogOutput> outputs;
    std::vector<CatalogGoal> goals;
    std::vector<CatalogRecord> records;  // in table order; empty in an older catalog
    std::vector<int64_t> constants;      // sorted union of the records' constants

    bool present() const { return !path.empty(); }
    const CatalogScope* scope(int32_t uid) const;
    const CatalogGoal* goal(int32_t id) const;
    const CatalogRecord* record(const std::string& name) const;  // null when unknown
    // Every goal knows where its probe call stands (a catalog of this build, not an older one).
    bool has_positions() const;
};

// Where the catalog of a library sits: the library path with ".so" replaced.
std::string catalog_path_for(const std::string& library_path);

// Reads and checks a catalog; throws Error naming the file and the problem.
Catalog load_catalog(const std::string& path);

// The criterion named by a user ("decision", "DC", "switch", ...), if any.
std::optional<std::string> criterion_named(const std::string& text);

// Every criterion name in report order: the catalog's criteria, then "unclassified".
const std::vector<std::string>& criterion_order();

}  // namespace kiv
