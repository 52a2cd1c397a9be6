// A harness library as a host sees it: loaded with dlopen, every export
// resolved by name with dlsym, and the ID lists a host registers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace kivbench {

// One pointer per export; null for one the library does not have (the
// uninstrumented build has no exception entry).
struct HarnessApi {
#define KIV_EXPORT_DATA(type, name) type* name = nullptr;
#define KIV_EXPORT_FN(ret, name, params, args) ret(*name) params = nullptr;
#include "dllharness_exports.def"
};

// Loads the library privately (RTLD_LOCAL), so the two builds of the same
// names can sit in one process. Exits when the file or a step export is missing.
inline HarnessApi load_harness(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        std::exit(2);
    }
    HarnessApi api;
#define KIV_EXPORT_DATA(type, name) api.name = reinterpret_cast<type*>(dlsym(handle, #name));
#define KIV_EXPORT_FN(ret, name, params, args) api.name = reinterpret_cast<ret(*) params>(dlsym(handle, #name));
#include "dllharness_exports.def"
    if (api.KIV_SCOPE_UID == nullptr || api.kiv_dll_step == nullptr || api.kiv_register_inputs == nullptr) {
        std::fprintf(stderr, "%s lacks the step or registry exports\n", path);
        std::exit(2);
    }
    return api;
}

// The instrumented library and the same component built with pass-through
// probes and no goal evaluation. Each is loaded once per process.
const HarnessApi& instrumented();
const HarnessApi& uninstrumented();
// The same component built by kiv_add_harness from its plain sources and unit
// file; null when the build has no such library (tests switched off).
const HarnessApi* generated();

// Closes the registry of whichever of the two is loaded and gives the freed
// heap back to the system. An open registry keeps 3 MB of bucket arrays
// resident, which every fork of this process copies the page tables of; the
// host benchmarks fork as kivrun does, and kivrun has one registry, not three.
void close_registries();

// The writable IDs (inputs) and the goal IDs (outputs), in table order: index
// i of the host's index table holds ID k...Ids[i].
inline constexpr int32_t kInputIds[] = {
#define KIV_INPUT_ID(id, n, setter) id,
#include "unit/harness_ids.def"
};
inline constexpr int32_t kGoalIds[] = {
#define KIV_GOAL_ID(id, n) id,
#include "unit/harness_ids.def"
};
inline constexpr int kInputCount = sizeof kInputIds / sizeof kInputIds[0];
inline constexpr int kGoalCount = sizeof kGoalIds / sizeof kGoalIds[0];
static_assert(kInputCount == 16 && kGoalCount == 176);

// Index of an input ID in the input index table; -1 when it is not an input.
constexpr int input_index(int32_t id) {
    for (int i = 0; i < kInputCount; ++i)
        if (kInputIds[i] == id) return i;
    return -1;
}

// Registers every input and every goal under its table position, as a host
// does before its first step. Cheap enough to repeat before each benchmark, so
// that one that closed the registry leaves none behind it broken.
void register_all(const HarnessApi& api);

}  // namespace kivbench
