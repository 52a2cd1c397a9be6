// Pass-through probes: the instrumented units compile against this in place of
// the probe runtime, for the benchmark's uninstrumented build. Every probe is
// an inline function that returns what it wraps and records nothing, so the
// optimiser reduces each call to the expression it wraps and what remains is
// the component's own work. The record types keep their fields: the units still
// define their records, the goal fold still names the fields, and both compile.
#pragma once

#include <cstdint>

// The real record types: the units still define their records.
#include "instrumentation/probe_records.h"

// Only the probe forms the two units call. A unit that starts calling another
// form fails to compile here, which is the cue to add it.
inline void IXA_STM(int32_t, IXA_STM_RECORD*) {}
inline void IXA_FC(int32_t, IXA_FC_RECORD*) {}
inline void IXA_SC(int32_t, IXA_SC_RECORD*) {}
inline void IXA_DCF(int32_t, IXA_DCF_RECORD*, const char*) {}

inline uint32_t IXA_DC_U(int32_t, IXA_DC_RECORD*, uint32_t value) {
    return value;
}
inline int32_t IXA_DC_S(int32_t, IXA_DC_RECORD*, int32_t value) {
    return value;
}
inline uint32_t IXA_CC_U(int32_t, IXA_CC_RECORD*, uint32_t value) {
    return value;
}
inline int32_t IXA_CC_S(int32_t, IXA_CC_RECORD*, int32_t value) {
    return value;
}

// Operands are converted to the form's evaluation type first, as the real
// probes do, so the comparison means the same in both builds.
inline int32_t IXA_EQU_UU(int32_t, IXA_RELOP_RECORD*, uint32_t left, uint32_t right) {
    return left == right;
}
inline int32_t IXA_NEQ_UU(int32_t, IXA_RELOP_RECORD*, uint32_t left, uint32_t right) {
    return left != right;
}
inline int32_t IXA_LES_UU(int32_t, IXA_RELOP_RECORD*, uint32_t left, uint32_t right) {
    return left < right;
}
inline int32_t IXA_EQU_SS(int32_t, IXA_RELOP_RECORD*, int32_t left, int32_t right) {
    return left == right;
}

inline uint32_t IXA_CAST_U(int32_t, IXA_CAST_RECORD*, uint32_t value, int32_t, uint32_t) {
    return value;
}
