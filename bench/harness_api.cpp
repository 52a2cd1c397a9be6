// The two harness builds the benchmarks load, and the host's registration.
#include "harness_api.h"

#include <malloc.h>

#include <string>

namespace kivbench {

namespace {
const HarnessApi* g_loaded[3];  // instrumented, uninstrumented, generated; null until loaded
}  // namespace

const HarnessApi& instrumented() {
    static const HarnessApi api = load_harness(KIV_LIBRARY_PATH);
    return *(g_loaded[0] = &api);
}

const HarnessApi& uninstrumented() {
    static const HarnessApi api = load_harness(KIV_NOPROBE_LIBRARY_PATH);
    return *(g_loaded[1] = &api);
}

const HarnessApi* generated() {
#ifdef KIV_GENERATED_LIBRARY_PATH
    static const HarnessApi api = load_harness(KIV_GENERATED_LIBRARY_PATH);
    return g_loaded[2] = &api;
#else
    return nullptr;
#endif
}

void close_registries() {
    for (const HarnessApi* api : g_loaded)
        if (api != nullptr) api->kiv_close_harness();
    malloc_trim(0);
}

void register_all(const HarnessApi& api) {
    for (int i = 0; i < kInputCount; ++i)
        api.kiv_register_inputs(kInputCount, i, std::to_string(kInputIds[i]).c_str());
    for (int i = 0; i < kGoalCount; ++i)
        api.kiv_register_outputs(kGoalCount, i, std::to_string(kGoalIds[i]).c_str());
}

}  // namespace kivbench
