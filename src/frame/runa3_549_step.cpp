// runa3_549_step: the step frame of scope 997 (runa3), its normal step, and the
// harness variables of that scope.
#include "frame/scope_frames.h"
#include "unit/seat_heating_control.h"

#define KIV_HAUX_997(n, direction, unit_variable) uint8_t kiv_haux##n;
#include "frame/harness_variables.def"

void runa3_549_step_norm() {
    static bool isInitialized;
    kiv_normal_step<997, SeatHeatControl_Init, runa3>(isInitialized);
}

void runa3_549_step() {
    runa3_549_step_pre_step_hook();
    runa3_549_step_norm();
    runa3_549_step_coverage_post_step_hook();
    runa3_549_step_observer_post_step_hook();
}
