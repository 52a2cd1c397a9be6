// CodeAnnotation: the probe runtime that instrumented units call, and the probe
// record kinds it writes. Each probe call site owns one record; a probe stamps
// IXA_CALLER_ID into it, sets flags that only go from 0 to 1 (or counts), and
// returns what it wrapped. Probes allocate nothing and call nothing. None of
// these names is exported from the library.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "instrumentation/probe_records.h"

// The probe families that share one rule, as lists for the definitions below
// and for anyone who needs to enumerate them.
// Pointer condition probes IXA_CC_PTR_<SUFFIX>: X(SUFFIX, object type).
#define IXA_CC_PTR_PROBES(X) \
    X(U_8, uint8_t)          \
    X(S_8, int8_t)           \
    X(U_16, uint16_t)        \
    X(S_16, int16_t)         \
    X(U_32, uint32_t)        \
    X(S_32, int32_t)         \
    X(U_LL, uint64_t)        \
    X(S_LL, int64_t)
// Relational probes IXA_<OP>_<SIG>.
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

// The probes are defined inline: the instrumented units call one for nearly
// every statement and condition, and a real call would cost more than the
// record update itself. Each family is one template in ixa_probe; the named
// probes below are one-line wrappers over it.
namespace ixa_probe {

// Marker records (FC, SC, ICF, DCF) only note that the site ran.
template <class Record>
inline void mark(Record* rec) {
    rec->callerId = IXA_CALLER_ID;
    rec->reached = 1;
}

// Decision and condition outcomes: zero over the full width is false.
template <class Record, class T>
inline T outcome(Record* rec, T value) {
    rec->callerId = IXA_CALLER_ID;
    if (value == 0)
        rec->falseSeen = 1;
    else
        rec->trueSeen = 1;
    return value;
}

template <class T>
inline const T* condition_at(IXA_CC_RECORD* rec, const T* object) {
    rec->callerId = IXA_CALLER_ID;
    if (*object == 0)
        rec->falseSeen = 1;
    else
        rec->trueSeen = 1;
    return object;
}

// One tag type per relational operator, each holding the operator's test.
#define IXA_DEFINE_RELATION(OP, CXXOP)                 \
    struct relation_##OP {                             \
        template <class T>                             \
        static constexpr bool holds(T left, T right) { \
            return left CXXOP right;                   \
        }                                              \
    };
IXA_RELOP_OPERATORS(IXA_DEFINE_RELATION)
#undef IXA_DEFINE_RELATION

// Both operands arrive already converted to the signature's evaluation type.
// The boundary flags come from the difference taken in the unsigned type of
// the same width: it wraps like two's complement, without signed overflow.
template <class Relation, class T>
inline int32_t relation(IXA_RELOP_RECORD* rec, T left, T right) {
    using Bits = std::make_unsigned_t<T>;
    rec->callerId = IXA_CALLER_ID;
    const bool holds = Relation::holds(left, right);
    if (holds)
        rec->trueSeen = 1;
    else
        rec->falseSeen = 1;
    const Bits difference = static_cast<Bits>(static_cast<Bits>(left) - static_cast<Bits>(right));
    if (difference == static_cast<Bits>(-1)) rec->oneBelow = 1;
    if (difference == 0) rec->equal = 1;
    if (difference == 1) rec->oneAbove = 1;
    return holds ? 1 : 0;
}

// Integer to integer: flag only, the call site narrows the returned value.
// Unsigned values cannot fall below any target minimum (all are <= 0).
template <class T, class Min, class Max>
inline T cast_integer(IXA_CAST_RECORD* rec, T value, Min min, Max max) {
    rec->callerId = IXA_CALLER_ID;
    if constexpr (std::is_signed_v<T>) {
        if (static_cast<Min>(value) < min) rec->belowMin = 1;
        if (value > 0 && static_cast<Max>(value) > max) rec->aboveMax = 1;
    } else {
        if (static_cast<Max>(value) > max) rec->aboveMax = 1;
    }
    return value;
}

// Truncation toward zero that stays defined outside the result's range: NaN
// gives 0, anything beyond a limit gives that limit. Both limits are exact in
// every floating type used here (0, -2^(n-1), 2^n, 2^(n-1)).
template <class Int, class Float>
inline Int truncate_saturating(Float value) {
    constexpr Float lowest = static_cast<Float>(std::numeric_limits<Int>::min());
    constexpr Float beyond = static_cast<Float>(std::numeric_limits<Int>::max() / 2 + 1) * 2;
    if (value > lowest && value < beyond) return static_cast<Int>(value);
    if (value <= lowest) return std::numeric_limits<Int>::min();  // also (lowest-1, lowest)
    if (value >= beyond) return std::numeric_limits<Int>::max();
    return 0;  // NaN
}

// Floating to integer. The bounds are converted to the value's type first, so
// in double a 64-bit maximum rounds up (2^63 - 1 becomes 2^63). Comparisons
// are ordered: NaN sets no flag.
template <class Int, class Float, class Min, class Max>
inline Int cast_to_integer(IXA_CAST_RECORD* rec, Float value, Min min, Max max) {
    rec->callerId = IXA_CALLER_ID;
    if (value < static_cast<Float>(min)) rec->belowMin = 1;
    if (value > static_cast<Float>(max)) rec->aboveMax = 1;
    return truncate_saturating<Int>(value);
}

template <class Float>
inline float cast_to_float(IXA_CAST_RECORD* rec, Float value, Float min, Float max) {
    rec->callerId = IXA_CALLER_ID;
    if (value < min) rec->belowMin = 1;
    if (value > max) rec->aboveMax = 1;
    return static_cast<float>(value);
}

// Integers of magnitude up to 2^24 are exact in float; beyond it they round.
template <class T>
inline float cast_to_32fp(IXA_CAST_RECORD* rec, T value) {
    constexpr T exact = 16777216;
    rec->callerId = IXA_CALLER_ID;
    if constexpr (std::is_signed_v<T>) {
        if (value < -exact) rec->belowMin = 1;
    }
    if (value > exact) rec->aboveMax = 1;
    return static_cast<float>(value);
}

// Floating divisors: ordered equality, so -0.0 counts and NaN does not.
template <class T>
inline T divisor(IXA_DBZ_RECORD* rec, T value) {
    rec->callerId = IXA_CALLER_ID;
    if (value == 0) rec->zeroSeen = 1;
    return value;
}

}  // namespace ixa_probe

// Every probe takes the probe number first (the record's number; ignored),
// then the record, then what it wraps.

// Markers.
inline void IXA_STM(int32_t /*no*/, IXA_STM_RECORD* rec) {
    rec->callerId = IXA_CALLER_ID;
    rec->hitCount = rec->hitCount + 1u;  // unsigned: wraps to 0 after 4294967295
}
inline void IXA_FC(int32_t /*no*/, IXA_FC_RECORD* rec) {
    ixa_probe::mark(rec);
}
inline void IXA_SC(int32_t /*no*/, IXA_SC_RECORD* rec) {
    ixa_probe::mark(rec);
}
inline void IXA_ICF(int32_t /*no*/, IXA_ICF_RECORD* rec) {
    ixa_probe::mark(rec);
}
inline void IXA_DCF(int32_t /*no*/, IXA_DCF_RECORD* rec, const char* calleeName) {
    ixa_probe::mark(rec);
    rec->calleeName = calleeName;
}

// Outcome probes: record zero / non-zero over the full width, return the value unchanged.
inline uint32_t IXA_DC_U(int32_t /*no*/, IXA_DC_RECORD* rec, uint32_t value) {
    return ixa_probe::outcome(rec, value);
}
inline int32_t IXA_DC_S(int32_t /*no*/, IXA_DC_RECORD* rec, int32_t value) {
    return ixa_probe::outcome(rec, value);
}
inline uint64_t IXA_DC_U_LL(int32_t /*no*/, IXA_DC_RECORD* rec, uint64_t value) {
    return ixa_probe::outcome(rec, value);
}
inline int64_t IXA_DC_S_LL(int32_t /*no*/, IXA_DC_RECORD* rec, int64_t value) {
    return ixa_probe::outcome(rec, value);
}
inline uint32_t IXA_CC_U(int32_t /*no*/, IXA_CC_RECORD* rec, uint32_t value) {
    return ixa_probe::outcome(rec, value);
}
inline int32_t IXA_CC_S(int32_t /*no*/, IXA_CC_RECORD* rec, int32_t value) {
    return ixa_probe::outcome(rec, value);
}
inline uint64_t IXA_CC_U_LL(int32_t /*no*/, IXA_CC_RECORD* rec, uint64_t value) {
    return ixa_probe::outcome(rec, value);
}
inline int64_t IXA_CC_S_LL(int32_t /*no*/, IXA_CC_RECORD* rec, int64_t value) {
    return ixa_probe::outcome(rec, value);
}

// Pointer condition probes: read the object, record, return the pointer unchanged.
#define IXA_DEFINE_CC_PTR(SUFFIX, T)                                                           \
    inline const T* IXA_CC_PTR_##SUFFIX(int32_t /*no*/, IXA_CC_RECORD* rec, const T* object) { \
        return ixa_probe::condition_at(rec, object);                                           \
    }
IXA_CC_PTR_PROBES(IXA_DEFINE_CC_PTR)
#undef IXA_DEFINE_CC_PTR
// A boolean byte: falseSeen when it differs from 1, trueSeen when it differs
// from 0, so a corrupt byte (2) shows both outcomes.
inline const uint8_t* IXA_CC_PTR_1(int32_t /*no*/, IXA_CC_RECORD* rec, const uint8_t* object) {
    rec->callerId = IXA_CALLER_ID;
    if (*object != 1) rec->falseSeen = 1;
    if (*object != 0) rec->trueSeen = 1;
    return object;
}

// Relational probes IXA_<OP>_<SIG>: return 1 when the relation holds, else 0,
// and record outcome and boundary flags.
#define IXA_DEFINE_RELOP_SIG(OP, SIG, L, R, EVAL)                                                                     \
    inline int32_t IXA_##OP##_##SIG(int32_t /*no*/, IXA_RELOP_RECORD* rec, L left, R right) {                         \
        return ixa_probe::relation<ixa_probe::relation_##OP>(rec, static_cast<EVAL>(left), static_cast<EVAL>(right)); \
    }
#define IXA_DEFINE_RELOP_OP(OP, CXXOP) IXA_RELOP_SIGNATURES(IXA_DEFINE_RELOP_SIG, OP)
IXA_RELOP_OPERATORS(IXA_DEFINE_RELOP_OP)
#undef IXA_DEFINE_RELOP_OP
#undef IXA_DEFINE_RELOP_SIG

// Cast probes: (no, rec, value, minimum, maximum) of the target type.
// Integer members return the value unconverted; floating-to-integer members
// return it converted by truncation (NaN gives 0, out of range saturates).
inline uint32_t IXA_CAST_U(int32_t /*no*/, IXA_CAST_RECORD* rec, uint32_t value, int32_t min, uint32_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline uint32_t IXA_CAST_U_64(int32_t /*no*/, IXA_CAST_RECORD* rec, uint32_t value, int64_t min, uint64_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline uint64_t IXA_CAST_U_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, uint64_t value, int64_t min, uint64_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline int32_t IXA_CAST_S(int32_t /*no*/, IXA_CAST_RECORD* rec, int32_t value, int32_t min, uint32_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline int32_t IXA_CAST_S_64(int32_t /*no*/, IXA_CAST_RECORD* rec, int32_t value, int64_t min, uint64_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline int64_t IXA_CAST_S_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, int64_t value, int64_t min, uint64_t max) {
    return ixa_probe::cast_integer(rec, value, min, max);
}
inline uint32_t IXA_CAST_D_U(int32_t /*no*/, IXA_CAST_RECORD* rec, double value, int32_t min, uint32_t max) {
    return ixa_probe::cast_to_integer<uint32_t>(rec, value, min, max);
}
inline int32_t IXA_CAST_D_S(int32_t /*no*/, IXA_CAST_RECORD* rec, double value, int32_t min, uint32_t max) {
    return ixa_probe::cast_to_integer<int32_t>(rec, value, min, max);
}
inline uint64_t IXA_CAST_D_U_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, double value, int64_t min, uint64_t max) {
    return ixa_probe::cast_to_integer<uint64_t>(rec, value, min, max);
}
inline int64_t IXA_CAST_D_S_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, double value, int64_t min, uint64_t max) {
    return ixa_probe::cast_to_integer<int64_t>(rec, value, min, max);
}
inline uint32_t IXA_CAST_LD_U(int32_t /*no*/, IXA_CAST_RECORD* rec, long double value, int32_t min, uint32_t max) {
    return ixa_probe::cast_to_integer<uint32_t>(rec, value, min, max);
}
inline int32_t IXA_CAST_LD_S(int32_t /*no*/, IXA_CAST_RECORD* rec, long double value, int32_t min, uint32_t max) {
    return ixa_probe::cast_to_integer<int32_t>(rec, value, min, max);
}
inline uint64_t IXA_CAST_LD_U_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, long double value, int64_t min, uint64_t max) {
    return ixa_probe::cast_to_integer<uint64_t>(rec, value, min, max);
}
inline int64_t IXA_CAST_LD_S_LL(int32_t /*no*/, IXA_CAST_RECORD* rec, long double value, int64_t min, uint64_t max) {
    return ixa_probe::cast_to_integer<int64_t>(rec, value, min, max);
}
inline float IXA_CAST_D_F(int32_t /*no*/, IXA_CAST_RECORD* rec, double value, double min, double max) {
    return ixa_probe::cast_to_float(rec, value, min, max);
}
inline float IXA_CAST_LD_F(int32_t /*no*/, IXA_CAST_RECORD* rec, long double value, long double min, long double max) {
    return ixa_probe::cast_to_float(rec, value, min, max);
}
// Integer to float: flag magnitudes above 2^24, which have no exact float.
// The bounds are fixed; the two double parameters are not read.
inline float IXA_CAST_U_32FP(int32_t /*no*/, IXA_CAST_RECORD* rec, uint32_t value, double /*min*/, double /*max*/) {
    return ixa_probe::cast_to_32fp(rec, value);
}
inline float IXA_CAST_S_32FP(int32_t /*no*/, IXA_CAST_RECORD* rec, int32_t value, double /*min*/, double /*max*/) {
    return ixa_probe::cast_to_32fp(rec, value);
}

// Divisor probes: record a zero divisor (+0.0 and -0.0 count, NaN does not),
// return the divisor bit for bit.
inline uint32_t IXA_DBZ_U(int32_t /*no*/, IXA_DBZ_RECORD* rec, uint32_t divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline int32_t IXA_DBZ_S(int32_t /*no*/, IXA_DBZ_RECORD* rec, int32_t divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline uint64_t IXA_DBZ_U_LL(int32_t /*no*/, IXA_DBZ_RECORD* rec, uint64_t divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline int64_t IXA_DBZ_S_LL(int32_t /*no*/, IXA_DBZ_RECORD* rec, int64_t divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline double IXA_DBZ_D(int32_t /*no*/, IXA_DBZ_RECORD* rec, double divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline double IXA_DBZ_FD(int32_t /*no*/, IXA_DBZ_RECORD* rec, double divisor) {
    return ixa_probe::divisor(rec, divisor);
}
inline long double IXA_DBZ_LD(int32_t /*no*/, IXA_DBZ_RECORD* rec, long double divisor) {
    return ixa_probe::divisor(rec, divisor);
}
