// CodeAnnotation: the probe runtime that instrumented units call, and the probe
// record kinds it writes. Each probe call site owns one record; a probe stamps
// IXA_CALLER_ID into it, sets flags that only go from 0 to 1 (or counts), and
// returns what it wrapped. Probes allocate nothing and call nothing. None of
// these names is exported from the library.
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

// Every probe takes the probe number first (the record's number; ignored),
// then the record, then what it wraps.

// Markers.
void IXA_STM(int32_t no, IXA_STM_RECORD* rec);
void IXA_FC(int32_t no, IXA_FC_RECORD* rec);
void IXA_SC(int32_t no, IXA_SC_RECORD* rec);
void IXA_ICF(int32_t no, IXA_ICF_RECORD* rec);
void IXA_DCF(int32_t no, IXA_DCF_RECORD* rec, const char* calleeName);

// Outcome probes: record zero / non-zero over the full width, return the value unchanged.
uint32_t IXA_DC_U(int32_t no, IXA_DC_RECORD* rec, uint32_t value);
int32_t IXA_DC_S(int32_t no, IXA_DC_RECORD* rec, int32_t value);
uint64_t IXA_DC_U_LL(int32_t no, IXA_DC_RECORD* rec, uint64_t value);
int64_t IXA_DC_S_LL(int32_t no, IXA_DC_RECORD* rec, int64_t value);
uint32_t IXA_CC_U(int32_t no, IXA_CC_RECORD* rec, uint32_t value);
int32_t IXA_CC_S(int32_t no, IXA_CC_RECORD* rec, int32_t value);
uint64_t IXA_CC_U_LL(int32_t no, IXA_CC_RECORD* rec, uint64_t value);
int64_t IXA_CC_S_LL(int32_t no, IXA_CC_RECORD* rec, int64_t value);

// Pointer condition probes: read the object, record, return the pointer unchanged.
// IXA_CC_PTR_1 reads a boolean byte: falseSeen when it differs from 1, trueSeen
// when it differs from 0.
#define IXA_CC_PTR_PROBES(X) \
    X(U_8, uint8_t)          \
    X(S_8, int8_t)           \
    X(U_16, uint16_t)        \
    X(S_16, int16_t)         \
    X(U_32, uint32_t)        \
    X(S_32, int32_t)         \
    X(U_LL, uint64_t)        \
    X(S_LL, int64_t)
#define IXA_DECLARE_CC_PTR(SUFFIX, T) const T* IXA_CC_PTR_##SUFFIX(int32_t no, IXA_CC_RECORD* rec, const T* object);
IXA_CC_PTR_PROBES(IXA_DECLARE_CC_PTR)
#undef IXA_DECLARE_CC_PTR
const uint8_t* IXA_CC_PTR_1(int32_t no, IXA_CC_RECORD* rec, const uint8_t* object);

// Relational probes IXA_<OP>_<SIG>: return 1 when the relation holds, else 0,
// and record outcome and boundary flags.
//   operator: X(OP, C++ operator)
#define IXA_RELOP_OPERATORS(X) \
    X(NEQ, !=)                 \
    X(EQU, ==)                 \
    X(LES, <)                  \
    X(LEQ, <=)                 \
    X(GEQ, >=)                 \
    X(GRE, >)
//   signature: X(OP, SIG, left type, right type, type the relation and the
//   boundary arithmetic are evaluated in), for each operator OP
#define IXA_RELOP_SIGNATURES(X, OP)            \
    X(OP, UU, uint32_t, uint32_t, uint32_t)    \
    X(OP, US, uint32_t, int32_t, uint32_t)     \
    X(OP, SU, int32_t, uint32_t, uint32_t)     \
    X(OP, SS, int32_t, int32_t, int32_t)       \
    X(OP, UU_LL, uint64_t, uint64_t, uint64_t) \
    X(OP, SS_LL, int64_t, int64_t, int64_t)
#define IXA_DECLARE_RELOP_SIG(OP, SIG, L, R, EVAL) \
    int32_t IXA_##OP##_##SIG(int32_t no, IXA_RELOP_RECORD* rec, L left, R right);
#define IXA_DECLARE_RELOP_OP(OP, CXXOP) IXA_RELOP_SIGNATURES(IXA_DECLARE_RELOP_SIG, OP)
IXA_RELOP_OPERATORS(IXA_DECLARE_RELOP_OP)
#undef IXA_DECLARE_RELOP_OP
#undef IXA_DECLARE_RELOP_SIG

// Cast probes: (no, rec, value, minimum, maximum) of the target type.
// Integer members return the value unconverted; floating-to-integer members
// return it converted by truncation (NaN gives 0, out of range saturates).
uint32_t IXA_CAST_U(int32_t no, IXA_CAST_RECORD* rec, uint32_t value, int32_t min, uint32_t max);
uint32_t IXA_CAST_U_64(int32_t no, IXA_CAST_RECORD* rec, uint32_t value, int64_t min, uint64_t max);
uint64_t IXA_CAST_U_LL(int32_t no, IXA_CAST_RECORD* rec, uint64_t value, int64_t min, uint64_t max);
int32_t IXA_CAST_S(int32_t no, IXA_CAST_RECORD* rec, int32_t value, int32_t min, uint32_t max);
int32_t IXA_CAST_S_64(int32_t no, IXA_CAST_RECORD* rec, int32_t value, int64_t min, uint64_t max);
int64_t IXA_CAST_S_LL(int32_t no, IXA_CAST_RECORD* rec, int64_t value, int64_t min, uint64_t max);
uint32_t IXA_CAST_D_U(int32_t no, IXA_CAST_RECORD* rec, double value, int32_t min, uint32_t max);
int32_t IXA_CAST_D_S(int32_t no, IXA_CAST_RECORD* rec, double value, int32_t min, uint32_t max);
uint64_t IXA_CAST_D_U_LL(int32_t no, IXA_CAST_RECORD* rec, double value, int64_t min, uint64_t max);
int64_t IXA_CAST_D_S_LL(int32_t no, IXA_CAST_RECORD* rec, double value, int64_t min, uint64_t max);
uint32_t IXA_CAST_LD_U(int32_t no, IXA_CAST_RECORD* rec, long double value, int32_t min, uint32_t max);
int32_t IXA_CAST_LD_S(int32_t no, IXA_CAST_RECORD* rec, long double value, int32_t min, uint32_t max);
uint64_t IXA_CAST_LD_U_LL(int32_t no, IXA_CAST_RECORD* rec, long double value, int64_t min, uint64_t max);
int64_t IXA_CAST_LD_S_LL(int32_t no, IXA_CAST_RECORD* rec, long double value, int64_t min, uint64_t max);
float IXA_CAST_D_F(int32_t no, IXA_CAST_RECORD* rec, double value, double min, double max);
float IXA_CAST_LD_F(int32_t no, IXA_CAST_RECORD* rec, long double value, long double min, long double max);
// Integer to float: flag magnitudes above 2^24, which have no exact float.
// The bounds are fixed; the two double parameters are not read.
float IXA_CAST_U_32FP(int32_t no, IXA_CAST_RECORD* rec, uint32_t value, double min, double max);
float IXA_CAST_S_32FP(int32_t no, IXA_CAST_RECORD* rec, int32_t value, double min, double max);

// Divisor probes: record a zero divisor (+0.0 and -0.0 count, NaN does not),
// return the divisor bit for bit.
uint32_t IXA_DBZ_U(int32_t no, IXA_DBZ_RECORD* rec, uint32_t divisor);
int32_t IXA_DBZ_S(int32_t no, IXA_DBZ_RECORD* rec, int32_t divisor);
uint64_t IXA_DBZ_U_LL(int32_t no, IXA_DBZ_RECORD* rec, uint64_t divisor);
int64_t IXA_DBZ_S_LL(int32_t no, IXA_DBZ_RECORD* rec, int64_t divisor);
double IXA_DBZ_D(int32_t no, IXA_DBZ_RECORD* rec, double divisor);
double IXA_DBZ_FD(int32_t no, IXA_DBZ_RECORD* rec, double divisor);
long double IXA_DBZ_LD(int32_t no, IXA_DBZ_RECORD* rec, long double divisor);
