// Wrapper_seat_heating_control_step_518_step: the step frame of scope 955 (the wrapper model), its normal step, and the
// harness variables of that scope.
#include "frame/scope_frames.h"
#include "unit/Wrapper_seat_heating_control.h"

#define KIV_HAUX_955(n, direction, unit_variable) uint8_t kiv_haux##n;
#include "frame/harness_variables.def"

void Wrapper_seat_heating_control_step_518_step_norm() {
    static bool isInitialized;
    kiv_normal_step<955, Wrapper_seat_heating_control_initialize, Wrapper_seat_heating_control_step>(isInitialized);
}

void Wrapper_seat_heating_control_step_518_step() {
    Wrapper_seat_heating_control_step_518_step_pre_step_hook();
    Wrapper_seat_heating_control_step_518_step_norm();
    Wrapper_seat_heating_control_step_518_step_coverage_post_step_hook();
    Wrapper_seat_heating_control_step_518_step_observer_post_step_hook();
}
