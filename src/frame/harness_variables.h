// The harness variables kiv_haux1..kiv_haux26 through which the host feeds and
// observes each scope. Each is defined in the step unit of its scope.
#pragma once

#include <cstdint>

#define KIV_HAUX(n, scope, direction, unit_variable) extern uint8_t kiv_haux##n;
#include "frame/harness_variables.def"

inline constexpr int kKivHarnessVariableCount = 26;
