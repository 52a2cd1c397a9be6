// The probe record kinds: what each probe call site records. Shared by the
// probe runtime and by anything that must compile the instrumented units
// without it.
#pragma once

#include <cstdint>

// Copied into every record a probe touches. Nothing assigns it, so it stays 0.
extern int32_t IXA_CALLER_ID;

struct IXA_STM_RECORD {
    int32_t callerId;
    uint32_t hitCount;  // executions of the statement run; wraps modulo 2^32
};
struct IXA_FC_RECORD {
    int32_t callerId;
    uint8_t reached;
};
struct IXA_SC_RECORD {
    int32_t callerId;
    uint8_t reached;
};
struct IXA_ICF_RECORD {
    int32_t callerId;
    uint8_t reached;
};
struct IXA_DCF_RECORD {
    int32_t callerId;
    uint8_t reached;
    const char* calleeName;  // latest name passed; points at a literal, not owned
};
// Decision and condition records: falseSeen first.
struct IXA_DC_RECORD {
    int32_t callerId;
    uint8_t falseSeen;
    uint8_t trueSeen;
};
struct IXA_CC_RECORD {
    int32_t callerId;
    uint8_t falseSeen;
    uint8_t trueSeen;
};
// Relational records: trueSeen first, unlike decisions and conditions.
struct IXA_RELOP_RECORD {
    int32_t callerId;
    uint8_t trueSeen;
    uint8_t falseSeen;
    uint8_t oneBelow;  // left + 1 == right, in wrapping arithmetic of the operand width
    uint8_t equal;
    uint8_t oneAbove;  // left == right + 1, likewise
};
struct IXA_CAST_RECORD {
    int32_t callerId;
    uint8_t belowMin;
    uint8_t aboveMax;
};
struct IXA_DBZ_RECORD {
    int32_t callerId;
    uint8_t zeroSeen;
};
