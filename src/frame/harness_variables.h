// The harness variables kiv_haux<n> through which the host feeds and observes
// each scope, typed as the unit's harness_variables.def says; defined once,
// in frame/frames.cpp.
#pragma once

#include <cstdint>

#include "harness/table_count.h"

#define KIV_HAUX(n, scope, direction, type, unit_variable, name) extern type kiv_haux##n;
#include "unit/harness_variables.def"

inline constexpr int kKivHarnessVariableCount = kiv_sum({0
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) , 1
#include "unit/harness_variables.def"
});
inline constexpr int kKivHarnessInputCount = kiv_sum({0
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) , (#direction[0] == 'I' ? 1 : 0)
#include "unit/harness_variables.def"
});
