/* CodeAnnotation: the probe runtime that instrumented units call, and the probe
 * record kinds it writes. Each probe call site owns one record; a probe stamps
 * IXA_CALLER_ID into it, sets flags that only go from 0 to 1 (or counts), and
 * returns what it wrapped. Probes allocate nothing and call nothing. None of
 * these names is exported from the library.
 *
 * One implementation for C and C++: kivinst's output is C, compiled by the C
 * compiler, and the hand-written units are C++; both call the same static
 * inline functions, so a probe costs the same in either and is inlined. */
#ifndef IXA_CODE_ANNOTATION_H
#define IXA_CODE_ANNOTATION_H

#include <stdint.h>

#include "instrumentation/probe_records.h"

/* The probe families that share one rule, as lists for the definitions below
 * and for anyone who needs to enumerate them.
 * Pointer condition probes IXA_CC_PTR_<SUFFIX>: X(SUFFIX, object type). */
#define IXA_CC_PTR_PROBES(X) \
    X(U_8, uint8_t)          \
    X(S_8, int8_t)           \
    X(U_16, uint16_t)        \
    X(S_16, int16_t)         \
    X(U_32, uint32_t)        \
    X(S_32, int32_t)         \
    X(U_LL, uint64_t)        \
    X(S_LL, int64_t)
/* Relational probes IXA_<OP>_<SIG>.
 *   operator: X(OP, C operator) */
#define IXA_RELOP_OPERATORS(X) \
    X(NEQ, !=)                 \
    X(EQU, ==)                 \
    X(LES, <)                  \
    X(LEQ, <=)                 \
    X(GEQ, >=)                 \
    X(GRE, >)
/*   signature: X(OP, SIG, left type, right type, type the relation and the
 *   boundary arithmetic are evaluated in), for each operator OP */
#define IXA_RELOP_SIGNATURES(X, OP)            \
    X(OP, UU, uint32_t, uint32_t, uint32_t)    \
    X(OP, US, uint32_t, int32_t, uint32_t)     \
    X(OP, SU, int32_t, uint32_t, uint32_t)     \
    X(OP, SS, int32_t, int32_t, int32_t)       \
    X(OP, UU_LL, uint64_t, uint64_t, uint64_t) \
    X(OP, SS_LL, int64_t, int64_t, int64_t)

/* The probes are static inline: the instrumented units call one for nearly
 * every statement and condition, and a real call would cost more than the
 * record update itself. Every probe takes the probe number first (the
 * record's number; ignored), then the record, then what it wraps. */
#define IXA_PROBE static inline

/* Markers. */
IXA_PROBE void IXA_STM(int32_t no, IXA_STM_RECORD* rec) {
    (void)no;
    rec->callerId = IXA_CALLER_ID;
    rec->hitCount = rec->hitCount + 1u; /* unsigned: wraps to 0 after 4294967295 */
}
/* Marker records (FC, SC, ICF, DCF) only note that the site ran. */
#define IXA_DEFINE_MARK(KIND)                                    \
    IXA_PROBE void IXA_##KIND(int32_t no, IXA_##KIND##_RECORD* rec) { \
        (void)no;                                                \
        rec->callerId = IXA_CALLER_ID;                           \
        rec->reached = 1;                                        \
    }
IXA_DEFINE_MARK(FC)
IXA_DEFINE_MARK(SC)
IXA_DEFINE_MARK(ICF)
#undef IXA_DEFINE_MARK
IXA_PROBE void IXA_DCF(int32_t no, IXA_DCF_RECORD* rec, const char* calleeName) {
    (void)no;
    rec->callerId = IXA_CALLER_ID;
    rec->reached = 1;
    rec->calleeName = calleeName;
}

/* Outcome probes: record zero / non-zero over the full width, return the value
 * unchanged. */
#define IXA_DEFINE_OUTCOME(KIND, SUFFIX, T)                                \
    IXA_PROBE T IXA_##KIND##_##SUFFIX(int32_t no, IXA_##KIND##_RECORD* rec, T value) { \
        (void)no;                                                          \
        rec->callerId = IXA_CALLER_ID;                                     \
        if (value == 0)                                                    \
            rec->falseSeen = 1;                                            \
        else                                                               \
            rec->trueSeen = 1;                                             \
        return value;                                                      \
    }
IXA_DEFINE_OUTCOME(DC, U, uint32_t)
IXA_DEFINE_OUTCOME(DC, S, int32_t)
IXA_DEFINE_OUTCOME(DC, U_LL, uint64_t)
IXA_DEFINE_OUTCOME(DC, S_LL, int64_t)
IXA_DEFINE_OUTCOME(CC, U, uint32_t)
IXA_DEFINE_OUTCOME(CC, S, int32_t)
IXA_DEFINE_OUTCOME(CC, U_LL, uint64_t)
IXA_DEFINE_OUTCOME(CC, S_LL, int64_t)
#undef IXA_DEFINE_OUTCOME

/* Pointer condition probes: read the object, record, return the pointer unchanged. */
#define IXA_DEFINE_CC_PTR(SUFFIX, T)                                                         \
    IXA_PROBE const T* IXA_CC_PTR_##SUFFIX(int32_t no, IXA_CC_RECORD* rec, const T* object) { \
        (void)no;                                                                            \
        rec->callerId = IXA_CALLER_ID;                                                       \
        if (*object == 0)                                                                    \
            rec->falseSeen = 1;                                                              \
        else                                                                                 \
            rec->trueSeen = 1;                                                               \
        return object;                                                                       \
    }
IXA_CC_PTR_PROBES(IXA_DEFINE_CC_PTR)
#undef IXA_DEFINE_CC_PTR
/* A boolean byte: falseSeen when it differs from 1, trueSeen when it differs
 * from 0, so a corrupt byte (2) shows both outcomes. */
IXA_PROBE const uint8_t* IXA_CC_PTR_1(int32_t no, IXA_CC_RECORD* rec, const uint8_t* object) {
    (void)no;
    rec->callerId = IXA_CALLER_ID;
    if (*object != 1) rec->falseSeen = 1;
    if (*object != 0) rec->trueSeen = 1;
    return object;
}

/* Keeps the nearest gap as its complement (see the records): one compare and
 * at most one store, so that the relational probes stay cheap. */
IXA_PROBE void IXA_NEAR(uint32_t* kept, uint64_t gap) {
    const uint32_t near = ~(uint32_t)(gap > 0xFFFFFFFFu ? 0xFFFFFFFFu : gap);
    if (near > *kept) *kept = near;
}

/* Relational probes IXA_<OP>_<SIG>: return 1 when the relation holds, else 0,
 * and record outcome and boundary flags. Both operands are converted to the
 * signature's evaluation type first. The boundary flags come from the
 * difference taken in the unsigned type of the same width: it wraps like two's
 * complement, without signed overflow. */
#define IXA_RELATION_NEQ !=
#define IXA_RELATION_EQU ==
#define IXA_RELATION_LES <
#define IXA_RELATION_LEQ <=
#define IXA_RELATION_GEQ >=
#define IXA_RELATION_GRE >
#define IXA_BITS_uint32_t uint32_t
#define IXA_BITS_int32_t uint32_t
#define IXA_BITS_uint64_t uint64_t
#define IXA_BITS_int64_t uint64_t
#define IXA_DEFINE_RELOP_SIG(OP, SIG, L, R, EVAL)                                            \
    IXA_PROBE int32_t IXA_##OP##_##SIG(int32_t no, IXA_RELOP_RECORD* rec, L left, R right) { \
        const EVAL l = (EVAL)left, r = (EVAL)right;                                          \
        (void)no;                                                                            \
        rec->callerId = IXA_CALLER_ID;                                                       \
        if (l IXA_RELATION_##OP r)                                                           \
            rec->trueSeen = 1;                                                               \
        else                                                                                 \
            rec->falseSeen = 1;                                                              \
        {                                                                                    \
            const IXA_BITS_##EVAL difference = (IXA_BITS_##EVAL)((IXA_BITS_##EVAL)l - (IXA_BITS_##EVAL)r); \
            if (difference == (IXA_BITS_##EVAL) - 1) rec->oneBelow = 1;                      \
            if (difference == 0) rec->equal = 1;                                             \
            if (difference == 1) rec->oneAbove = 1;                                          \
            if (l < r)                                                                       \
                IXA_NEAR(&rec->nearBelow, (IXA_BITS_##EVAL)((IXA_BITS_##EVAL)0 - difference)); \
            else                                                                             \
                IXA_NEAR(&rec->nearAbove, difference);                                       \
        }                                                                                    \
        return (l IXA_RELATION_##OP r) ? 1 : 0;                                              \
    }
#define IXA_DEFINE_RELOP_OP(OP, COP) IXA_RELOP_SIGNATURES(IXA_DEFINE_RELOP_SIG, OP)
IXA_RELOP_OPERATORS(IXA_DEFINE_RELOP_OP)
#undef IXA_DEFINE_RELOP_OP
#undef IXA_DEFINE_RELOP_SIG

/* Cast probes: (no, rec, value, minimum, maximum) of the target type.
 * Integer to integer: flag only, the call site narrows the returned value.
 * Unsigned values cannot fall below any target minimum (all are <= 0); a
 * signed value above 0 is compared as an unsigned number of the maximum's
 * width. */
#define IXA_DEFINE_CAST_UNSIGNED(NAME, T, MIN, MAX)                                \
    IXA_PROBE T IXA_CAST_##NAME(int32_t no, IXA_CAST_RECORD* rec, T value, MIN min, MAX max) { \
        (void)no;                                                                  \
        (void)min;                                                                 \
        rec->callerId = IXA_CALLER_ID;                                             \
        if ((MAX)value > max)                                                      \
            rec->aboveMax = 1;                                                     \
        else                                                                       \
            IXA_NEAR(&rec->nearMax, (uint64_t)max - (uint64_t)(MAX)value);         \
        return value;                                                              \
    }
#define IXA_DEFINE_CAST_SIGNED(NAME, T, MIN, MAX)                                  \
    IXA_PROBE T IXA_CAST_##NAME(int32_t no, IXA_CAST_RECORD* rec, T value, MIN min, MAX max) { \
        (void)no;                                                                  \
        rec->callerId = IXA_CALLER_ID;                                             \
        if ((MIN)value < min)                                                      \
            rec->belowMin = 1;                                                     \
        else                                                                       \
            IXA_NEAR(&rec->nearMin, (uint64_t)(int64_t)value - (uint64_t)(int64_t)min); \
        if (value > 0 && (MAX)value > max)                                         \
            rec->aboveMax = 1;                                                     \
        else /* a value at or below 0 is at least max away */                     \
            IXA_NEAR(&rec->nearMax, value > 0 ? (uint64_t)max - (uint64_t)(MAX)value : (uint64_t)max); \
        return value;                                                              \
    }
IXA_DEFINE_CAST_UNSIGNED(U, uint32_t, int32_t, uint32_t)
IXA_DEFINE_CAST_UNSIGNED(U_64, uint32_t, int64_t, uint64_t)
IXA_DEFINE_CAST_UNSIGNED(U_LL, uint64_t, int64_t, uint64_t)
IXA_DEFINE_CAST_SIGNED(S, int32_t, int32_t, uint32_t)
IXA_DEFINE_CAST_SIGNED(S_64, int32_t, int64_t, uint64_t)
IXA_DEFINE_CAST_SIGNED(S_LL, int64_t, int64_t, uint64_t)
#undef IXA_DEFINE_CAST_UNSIGNED
#undef IXA_DEFINE_CAST_SIGNED

/* Floating to integer. The bounds are converted to the value's type first, so
 * in double a 64-bit maximum rounds up (2^63 - 1 becomes 2^63). Comparisons
 * are ordered: NaN sets no flag. The result is truncated toward zero and stays
 * defined outside the result's range: NaN gives 0, anything beyond a limit
 * gives that limit. Both limits are exact in every floating type used here
 * (0, -2^(n-1), 2^n, 2^(n-1)). */
#define IXA_DEFINE_CAST_TO_INTEGER(NAME, FLOAT, INT, INT_MIN_, INT_MAX_, MIN, MAX)                 \
    IXA_PROBE INT IXA_CAST_##NAME(int32_t no, IXA_CAST_RECORD* rec, FLOAT value, MIN min, MAX max) { \
        const FLOAT lowest = (FLOAT)(INT_MIN_);                                                    \
        const FLOAT beyond = (FLOAT)((INT_MAX_) / 2 + 1) * 2;                                       \
        (void)no;                                                                                  \
        rec->callerId = IXA_CALLER_ID;                                                             \
        if (value < (FLOAT)min) rec->belowMin = 1;                                                 \
        if (value > (FLOAT)max) rec->aboveMax = 1;                                                 \
        if (value > lowest && value < beyond) return (INT)value;                                   \
        if (value <= lowest) return (INT_MIN_); /* also (lowest-1, lowest) */                      \
        if (value >= beyond) return (INT_MAX_);                                                    \
        return 0; /* NaN */                                                                        \
    }
IXA_DEFINE_CAST_TO_INTEGER(D_U, double, uint32_t, 0, UINT32_MAX, int32_t, uint32_t)
IXA_DEFINE_CAST_TO_INTEGER(D_S, double, int32_t, INT32_MIN, INT32_MAX, int32_t, uint32_t)
IXA_DEFINE_CAST_TO_INTEGER(D_U_LL, double, uint64_t, 0, UINT64_MAX, int64_t, uint64_t)
IXA_DEFINE_CAST_TO_INTEGER(D_S_LL, double, int64_t, INT64_MIN, INT64_MAX, int64_t, uint64_t)
IXA_DEFINE_CAST_TO_INTEGER(LD_U, long double, uint32_t, 0, UINT32_MAX, int32_t, uint32_t)
IXA_DEFINE_CAST_TO_INTEGER(LD_S, long double, int32_t, INT32_MIN, INT32_MAX, int32_t, uint32_t)
IXA_DEFINE_CAST_TO_INTEGER(LD_U_LL, long double, uint64_t, 0, UINT64_MAX, int64_t, uint64_t)
IXA_DEFINE_CAST_TO_INTEGER(LD_S_LL, long double, int64_t, INT64_MIN, INT64_MAX, int64_t, uint64_t)
#undef IXA_DEFINE_CAST_TO_INTEGER

/* Floating to a narrower floating type: bounds of the value's own type, the
 * value converted under the current rounding mode. */
#define IXA_DEFINE_CAST_TO_FLOATING(NAME, FLOAT, TO)                                                    \
    IXA_PROBE TO IXA_CAST_##NAME(int32_t no, IXA_CAST_RECORD* rec, FLOAT value, FLOAT min, FLOAT max) { \
        (void)no;                                                                                     \
        rec->callerId = IXA_CALLER_ID;                                                                \
        if (value < min) rec->belowMin = 1;                                                           \
        if (value > max) rec->aboveMax = 1;                                                           \
        return (TO)value;                                                                             \
    }
IXA_DEFINE_CAST_TO_FLOATING(D_F, double, float)
IXA_DEFINE_CAST_TO_FLOATING(LD_F, long double, float)
IXA_DEFINE_CAST_TO_FLOATING(LD_D, long double, double)
#undef IXA_DEFINE_CAST_TO_FLOATING

/* Integer to floating: flag magnitudes above the last exactly representable
 * run of integers (2^24 in float, 2^53 in double), beyond which they round.
 * The bounds are fixed; the two double parameters are not read. */
#define IXA_DEFINE_CAST_EXACT(NAME, T, TO, EXACT, SIGNED)                                     \
    IXA_PROBE TO IXA_CAST_##NAME(int32_t no, IXA_CAST_RECORD* rec, T value, double min, double max) { \
        (void)no;                                                                           \
        (void)min;                                                                          \
        (void)max;                                                                          \
        rec->callerId = IXA_CALLER_ID;                                                      \
        if (SIGNED && value < -(T)(EXACT)) rec->belowMin = 1;                               \
        if (value > (T)(EXACT)) rec->aboveMax = 1;                                          \
        return (TO)value;                                                                   \
    }
IXA_DEFINE_CAST_EXACT(U_32FP, uint32_t, float, 16777216, 0)
IXA_DEFINE_CAST_EXACT(S_32FP, int32_t, float, 16777216, 1)
IXA_DEFINE_CAST_EXACT(U_LL_FP, uint64_t, float, 16777216, 0)
IXA_DEFINE_CAST_EXACT(S_LL_FP, int64_t, float, 16777216, 1)
IXA_DEFINE_CAST_EXACT(U_LL_DP, uint64_t, double, 9007199254740992, 0)
IXA_DEFINE_CAST_EXACT(S_LL_DP, int64_t, double, 9007199254740992, 1)
#undef IXA_DEFINE_CAST_EXACT

/* Divisor probes: record a zero divisor (+0.0 and -0.0 count, NaN does not:
 * ordered equality), return the divisor bit for bit. */
#define IXA_DEFINE_DIVISOR(NAME, T)                                           \
    IXA_PROBE T IXA_DBZ_##NAME(int32_t no, IXA_DBZ_RECORD* rec, T divisor) { \
        (void)no;                                                             \
        rec->callerId = IXA_CALLER_ID;                                        \
        if (divisor == 0) rec->zeroSeen = 1;                                  \
        return divisor;                                                       \
    }
IXA_DEFINE_DIVISOR(U, uint32_t)
IXA_DEFINE_DIVISOR(S, int32_t)
IXA_DEFINE_DIVISOR(U_LL, uint64_t)
IXA_DEFINE_DIVISOR(S_LL, int64_t)
IXA_DEFINE_DIVISOR(D, double)
IXA_DEFINE_DIVISOR(FD, double)
IXA_DEFINE_DIVISOR(LD, long double)
#undef IXA_DEFINE_DIVISOR

#endif
