// runa2_519_step: the step frame of scope 981 (runa2), its normal step, and the
// harness variables of that scope.
#include "frame/scope_frames.h"
#include "unit/seat_heating_control.h"

#define KIV_HAUX_981(n, direction, unit_variable) uint8_t kiv_haux##n;
#include "frame/harness_variables.def"

void runa2_519_step_norm() {
    static bool isInitialized;
    kiv_normal_step<981, SeatHeatControl_Init, runa2>(isInitialized);
}

void runa2_519_step() {
    runa2_519_step_pre_step_hook();
    runa2_519_step_norm();
    runa2_519_step_coverage_post_step_hook();
    runa2_519_step_observer_post_step_hook();
}
