// The two harness builds the benchmarks load, and the host's registration.
#include "harness_api.h"

#include <string>

namespace kivbench {

const HarnessApi& instrumented()
{
    static const HarnessApi api = load_harness(KIV_LIBRARY_PATH);
    return api;
}

const HarnessApi& uninstrumented()
{
    static const HarnessApi api = load_harness(KIV_NOPROBE_LIBRARY_PATH);
    return api;
}

void register_all(const HarnessApi& api)
{
    for (int i = 0; i < kInputCount; ++i)
        api.kiv_register_inputs(kInputCount, i, std::to_string(kInputIds[i]).c_str());
    for (int i = 0; i < kGoalCount; ++i)
        api.kiv_register_outputs(kGoalCount, i, std::to_string(kGoalIds[i]).c_str());
}

}  // namespace kivbench
