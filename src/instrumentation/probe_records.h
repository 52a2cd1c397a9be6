/* The probe record kinds: what each probe call site records. Shared by the
 * probe runtime and by anything that must compile the instrumented units
 * without it; C and C++ alike (the records have the same layout in both). */
#ifndef IXA_PROBE_RECORDS_H
#define IXA_PROBE_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copied into every record a probe touches. Nothing assigns it, so it stays 0. */
extern int32_t IXA_CALLER_ID;

typedef struct IXA_STM_RECORD {
    int32_t callerId;
    uint32_t hitCount;  /* executions of the statement run; wraps modulo 2^32 */
} IXA_STM_RECORD;
typedef struct IXA_FC_RECORD {
    int32_t callerId;
    uint8_t reached;
} IXA_FC_RECORD;
typedef struct IXA_SC_RECORD {
    int32_t callerId;
    uint8_t reached;
} IXA_SC_RECORD;
typedef struct IXA_ICF_RECORD {
    int32_t callerId;
    uint8_t reached;
} IXA_ICF_RECORD;
typedef struct IXA_DCF_RECORD {
    int32_t callerId;
    uint8_t reached;
    const char* calleeName;  /* latest name passed; points at a literal, not owned */
} IXA_DCF_RECORD;
/* Decision and condition records: falseSeen first. */
typedef struct IXA_DC_RECORD {
    int32_t callerId;
    uint8_t falseSeen;
    uint8_t trueSeen;
} IXA_DC_RECORD;
typedef struct IXA_CC_RECORD {
    int32_t callerId;
    uint8_t falseSeen;
    uint8_t trueSeen;
} IXA_CC_RECORD;
/* Relational records: trueSeen first, unlike decisions and conditions. */
typedef struct IXA_RELOP_RECORD {
    int32_t callerId;
    uint8_t trueSeen;
    uint8_t falseSeen;
    uint8_t oneBelow;  /* left + 1 == right, in wrapping arithmetic of the operand width */
    uint8_t equal;
    uint8_t oneAbove;  /* left == right + 1, likewise */
    /* For a search, how near the operands came, per side: the complement of
     * the smallest right - left seen with left below right, and of the
     * smallest left - right with left at or above it, saturated to 32 bits.
     * A complement, so that a zeroed record reads "never". */
    uint32_t nearBelow;
    uint32_t nearAbove;
} IXA_RELOP_RECORD;
typedef struct IXA_CAST_RECORD {
    int32_t callerId;
    uint8_t belowMin;
    uint8_t aboveMax;
    /* Likewise for an integer value within the bounds: the complement of the
     * smallest value - min and of the smallest max - value seen. */
    uint32_t nearMin;
    uint32_t nearMax;
} IXA_CAST_RECORD;
typedef struct IXA_DBZ_RECORD {
    int32_t callerId;
    uint8_t zeroSeen;
} IXA_DBZ_RECORD;

#ifdef __cplusplus
}
#endif

#endif
