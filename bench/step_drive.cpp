// The input patterns of the step benchmarks, and the one-time preparation of a
// scope in a loaded harness.
#include "step_drive.h"

namespace kivbench {

namespace {

// Value of the scope's i-th varying input at step k.
using Pattern = int64_t (*)(int i, uint32_t k);

// A press every second step walks the stage 0, 1, 2, 3, 0; the seat empties for
// 4 steps of 16 and the power state leaves 1 for 2 of 8, so heating switches
// off and on and runa3 takes both sides of its activation test.
int64_t wrapper_pattern(int i, uint32_t k) {
    switch (i) {
        case 0:
            return k & 1u;
        case 1:
            return k % 16 < 12;
        default:
            return k % 8 < 6 ? 1 : 2;
    }
}

int64_t runa2_pattern(int, uint32_t k) {
    return k & 1u;
}

// Seat, state and reception status each break the condition on their own steps.
int64_t runa1_pattern(int i, uint32_t k) {
    switch (i) {
        case 0:
            return k % 4 != 0;
        case 1:
            return k % 8 < 5 ? 1 : 2;
        default:
            return k % 16 == 7 ? 1 : 0;
    }
}

// Stages 0 to 4 reach every case of the switch, the default included.
int64_t runa3_pattern(int i, uint32_t k) {
    return i == 0 ? int64_t{k % 4 != 3} : int64_t{k % 5};
}

template <std::size_t N>
ScopeDrive make_drive(int32_t uid, const char* name, const int32_t (&ids)[N], Pattern pattern) {
    static_assert(N <= kMaxVaryingInputs);
    ScopeDrive drive{uid, name, {}};
    for (uint32_t k = 0; k < kPatternSteps; ++k) {
        StepInputs& in = drive.steps[k];
        in.n = static_cast<int>(N);
        for (std::size_t i = 0; i < N; ++i) {
            in.index[i] = input_index(ids[i]);
            in.value[i] = pattern(static_cast<int>(i), k);
        }
    }
    return drive;
}

constexpr int32_t kWrapperInputs[] = {980, 966, 968};  // button, seat, power state
constexpr int32_t kRuna2Inputs[] = {986};              // button
constexpr int32_t kRuna1Inputs[] = {990, 992, 994};    // seat, power state, its status
constexpr int32_t kRuna3Inputs[] = {1006, 1008};       // activation, stage

// The calibration defaults, fed through each scope's parameter inputs.
struct Parameter {
    int32_t scope, id;
    int64_t value;
};
constexpr Parameter kParameters[] = {{955, 959, 30},  {955, 961, 35},  {955, 963, 45},
                                     {997, 1000, 30}, {997, 1002, 35}, {997, 1004, 45}};

}  // namespace

const std::array<ScopeDrive, 4> kScopeDrives = {
    make_drive(955, "wrapper", kWrapperInputs, wrapper_pattern),
    make_drive(981, "runa2", kRuna2Inputs, runa2_pattern),
    make_drive(987, "runa1", kRuna1Inputs, runa1_pattern),
    make_drive(997, "runa3", kRuna3Inputs, runa3_pattern),
};

const ScopeDrive& scope_drive(int32_t uid) {
    for (const ScopeDrive& d : kScopeDrives)
        if (d.uid == uid) return d;
    std::fprintf(stderr, "no scope %d\n", static_cast<int>(uid));
    std::exit(2);
}

void prepare_scope(const HarnessApi& api, const ScopeDrive& drive) {
    register_all(api);
    for (const Parameter& p : kParameters)
        if (p.scope == drive.uid) api.kiv_dll_set_input_int(input_index(p.id), p.value);
    host_step(api, drive, 0);
}

}  // namespace kivbench
