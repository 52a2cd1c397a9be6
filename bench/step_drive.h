// How the benchmarks drive each scope: which inputs change from step to step
// and to what, so that the stage advances and the seat and power state change
// as in a real test, and the branches taken vary.
#pragma once

#include "harness_api.h"

#include <array>
#include <cstdint>

namespace kivbench {

inline constexpr int kPatternSteps = 16;  // the input pattern repeats after this many steps
inline constexpr int kMaxVaryingInputs = 3;

struct StepInputs {
    int n = 0;
    std::array<int32_t, kMaxVaryingInputs> index{};  // into the input index table
    std::array<int64_t, kMaxVaryingInputs> value{};
};

struct ScopeDrive {
    int32_t uid;
    const char* name;
    std::array<StepInputs, kPatternSteps> steps;
};

// The four scopes with their input patterns; calibration parameters are set
// once by prepare_scope, not per step.
extern const std::array<ScopeDrive, 4> kScopeDrives;
const ScopeDrive& scope_drive(int32_t uid);

// Registers the index tables and sets the calibration defaults through the
// scope's parameter inputs, then runs one step so that the scope's first-call
// initialisation is behind us.
void prepare_scope(const HarnessApi& api, const ScopeDrive& drive);

// The varying inputs of step k written by index, and the scope selected: what
// a host does before each step.
inline void write_inputs(const HarnessApi& api, const ScopeDrive& drive, uint32_t k) {
    const StepInputs& in = drive.steps[k % kPatternSteps];
    for (int i = 0; i < in.n; ++i)
        api.kiv_dll_set_input_int(in.index[i], in.value[i]);
    *api.KIV_SCOPE_UID = drive.uid;
}

// One step as a host runs it; `k` counts steps and picks the pattern row.
inline void host_step(const HarnessApi& api, const ScopeDrive& drive, uint32_t k) {
    write_inputs(api, drive, k);
    api.kiv_dll_step();
}

}  // namespace kivbench
