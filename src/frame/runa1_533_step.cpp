// runa1_533_step: the step frame of scope 987 (runa1), its normal step, and the
// harness variables of that scope.
#include "frame/scope_frames.h"
#include "unit/seat_heating_control.h"

#define KIV_HAUX_987(n, direction, unit_variable) uint8_t kiv_haux##n;
#include "frame/harness_variables.def"

void runa1_533_step_norm() {
    static bool isInitialized;
    kiv_normal_step<987, SeatHeatControl_Init, runa1>(isInitialized);
}

void runa1_533_step() {
    runa1_533_step_pre_step_hook();
    runa1_533_step_norm();
    runa1_533_step_coverage_post_step_hook();
    runa1_533_step_observer_post_step_hook();
}
