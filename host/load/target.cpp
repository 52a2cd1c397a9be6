// Registering a library's IDs and checking them against its catalog.
#include "load/target.h"

#include "error.h"
#include "identity/identity.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>

namespace kiv {

namespace {
// IDs are decimal texts. Without a catalog every ID below the wide limit is
// asked for; with one, its own IDs and those below the narrow limit, enough
// to notice a catalog that is out of date.
constexpr int32_t kScanLimit = 100000;
constexpr int32_t kCheckLimit = 10000;
// Harness variables are numbered from 1; a library has far fewer than this.
constexpr int kMaxHarnessVariable = 999;
}  // namespace

Schema Schema::of(const Catalog& catalog) {
    Schema s;
    s.from_catalog = true;
    for (const auto& i : catalog.inputs)
        s.inputs.push_back({i.id, i.name, i.setter, i.scope, i.type});
    for (const auto& o : catalog.outputs)
        s.outputs.push_back({o.name, o.variable, o.scope, nullptr, o.type});
    for (const auto& g : catalog.goals)
        s.goals.push_back({g.id, &g});
    for (const auto& sc : catalog.scopes)
        s.scopes.push_back({sc.uid, {sc.name, sc.unit, sc.step}});
    return s;
}

Target::Target(const std::string& library_path, std::optional<std::string> catalog_path, bool use_catalog) {
    lib_ = std::make_unique<Library>(library_path);
    // From the first registry call on, the library holds memory that only
    // closing the harness releases, and the destructor does not run after a throw.
    struct CloseOnThrow {
        const Library& lib;
        bool armed = true;
        ~CloseOnThrow() {
            if (armed) lib.api().kiv_close_harness();
        }
    } guard{*lib_};
    if (use_catalog) {
        if (catalog_path) {
            catalog_ = load_catalog(*catalog_path);
        } else if (std::string beside = catalog_path_for(library_path); access(beside.c_str(), F_OK) == 0) {
            catalog_ = load_catalog(beside);
        }
    }
    library_id_ = library_identity(library_path);
    std::vector<int32_t> writable, readonly;
    scan_ids(writable, readonly);
    if (catalog_.present()) {
        check_catalog(writable, readonly);
        schema_ = Schema::of(catalog_);
    } else {
        for (int32_t id : writable)
            schema_.inputs.push_back({id, std::to_string(id), Setter::unknown, 0});
        for (int32_t id : readonly)
            schema_.goals.push_back({id, nullptr});
        for (int n = 1; n <= kMaxHarnessVariable; ++n) {
            std::string var = "kiv_haux" + std::to_string(n);
            schema_.outputs.push_back({var, var, 0, nullptr});
        }
    }
    resolve_outputs();
    register_ids();
    guard.armed = false;
}

Target::~Target() {
    const Exports& api = lib_->api();
    api.kiv_unregister_inputs();
    api.kiv_unregister_outputs();
    api.kiv_close_harness();
}

// Asks the library for every possible ID: the first registry call, in the
// host calling order, and the source of truth for what exists. A catalog
// written beside this very build lists all its IDs, so only those are asked
// for; the wide search costs more than the rest of a small run.
void Target::scan_ids(std::vector<int32_t>& writable, std::vector<int32_t>& readonly) const {
    const Exports& api = lib_->api();
    std::vector<int32_t> ids;
    const bool same_build = catalog_.present() && !library_id_.empty() && catalog_.library == library_id_;
    if (!same_build)
        for (int32_t id = 0; id < (catalog_.present() ? kCheckLimit : kScanLimit); ++id)
            ids.push_back(id);
    for (const auto& i : catalog_.inputs)
        ids.push_back(i.id);
    for (const auto& g : catalog_.goals)
        ids.push_back(g.id);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    char text[16];
    for (int32_t id : ids) {
        *std::to_chars(text, text + sizeof text - 1, id).ptr = '\0';
        const int32_t kind = api.kiv_nr_registered_functions(text);
        if (kind == 2)
            writable.push_back(id);
        else if (kind == 1)
            readonly.push_back(id);
    }
}

void Target::check_catalog(const std::vector<int32_t>& writable, const std::vector<int32_t>& readonly) const {
    std::set<int32_t> in_lib(writable.begin(), writable.end()), goals_lib(readonly.begin(), readonly.end());
    std::set<int32_t> in_cat, goals_cat;
    for (const auto& i : catalog_.inputs)
        in_cat.insert(i.id);
    for (const auto& g : catalog_.goals)
        goals_cat.insert(g.id);
    auto differ = [&](const std::set<int32_t>& lib, const std::set<int32_t>& cat, const char* what) {
        for (int32_t id : cat)
            if (!lib.count(id))
                throw Error("catalog " + catalog_.path + " does not match " + lib_->path() + ": ID " +
                            std::to_string(id) + " is not a " + what + " of the library");
        for (int32_t id : lib)
            if (!cat.count(id))
                throw Error("catalog " + catalog_.path + " does not match " + lib_->path() + ": the library's " + what +
                            " ID " + std::to_string(id) + " is not in the catalog");
    };
    differ(in_lib, in_cat, "writable input");
    differ(goals_lib, goals_cat, "read-only goal");
}

void Target::resolve_outputs() {
    for (auto& o : schema_.outputs)
        o.address = lib_->data_symbol(o.variable, static_cast<std::size_t>(o.type.size));
    schema_.outputs_resolved = true;
    if (!schema_.from_catalog) std::erase_if(schema_.outputs, [](const OutputSlot& o) { return o.address == nullptr; });
}

void Target::register_ids() {
    const Exports& api = lib_->api();
    const auto n_in = static_cast<int32_t>(schema_.inputs.size());
    for (int32_t i = 0; i < n_in; ++i)
        api.kiv_register_inputs(n_in, i, std::to_string(schema_.inputs[i].id).c_str());
    const auto n_goals = static_cast<int32_t>(schema_.goals.size());
    for (int32_t i = 0; i < n_goals; ++i)
        api.kiv_register_outputs(n_goals, i, std::to_string(schema_.goals[i].id).c_str());
}

}  // namespace kiv
