// Cast probes (range flags, truncation, saturation, NaN) and divisor probes.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>

#include "instrumentation/CodeAnnotation.h"

namespace {

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr uint32_t kUintMax = std::numeric_limits<uint32_t>::max();
constexpr int64_t kLongMin = std::numeric_limits<int64_t>::min();
constexpr uint64_t kLongMax = std::numeric_limits<int64_t>::max();
constexpr uint64_t kUlongMax = std::numeric_limits<uint64_t>::max();
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every result fits a long double exactly (64-bit integers, floats), so one
// comparison serves all members.
struct CastRow {
    const char* name;
    long double (*call)(IXA_CAST_RECORD*);
    int belowMin;
    int aboveMax;
    long double result;  // NaN: the result must be NaN
};
void PrintTo(const CastRow& row, std::ostream* os) {
    *os << row.name;
}

#define CAST(expr) [](IXA_CAST_RECORD* r) -> long double { return (expr); }
const CastRow kCastRows[] = {
    // Integer members return the value unconverted.
    {"U_255_in_u8", CAST(IXA_CAST_U(1, r, 255, 0, 255)), 0, 0, 255},
    {"U_256_above_u8", CAST(IXA_CAST_U(1, r, 256, 0, 255)), 0, 1, 256},
    {"U_64_widest_fits", CAST(IXA_CAST_U_64(1, r, kUintMax, 0, kUintMax)), 0, 0, kUintMax},
    {"U_LL_2p32_above_u32", CAST(IXA_CAST_U_LL(1, r, uint64_t{1} << 32, 0, kUintMax)), 0, 1, 4294967296.0L},
    {"S_minus1_below_u8", CAST(IXA_CAST_S(1, r, -1, 0, 255)), 1, 0, -1},
    {"S_minus129_below_s8", CAST(IXA_CAST_S(1, r, -129, -128, 127)), 1, 0, -129},
    {"S_minus128_in_s8", CAST(IXA_CAST_S(1, r, -128, -128, 127)), 0, 0, -128},
    {"S_127_in_s8", CAST(IXA_CAST_S(1, r, 127, -128, 127)), 0, 0, 127},
    {"S_128_above_s8", CAST(IXA_CAST_S(1, r, 128, -128, 127)), 0, 1, 128},
    {"S_5_in_full_range", CAST(IXA_CAST_S(1, r, 5, kIntMin, kUintMax)), 0, 0, 5},
    {"S_64_minus1_below_u64", CAST(IXA_CAST_S_64(1, r, -1, 0, kUlongMax)), 1, 0, -1},
    {"S_LL_min_in_s64", CAST(IXA_CAST_S_LL(1, r, kLongMin, kLongMin, kLongMax)), 0, 0, kLongMin},
    // Floating to integer: truncation toward zero.
    {"D_U_255_5_above_u8", CAST(IXA_CAST_D_U(1, r, 255.5, 0, 255)), 0, 1, 255},
    {"D_U_minus0_5_below_u8", CAST(IXA_CAST_D_U(1, r, -0.5, 0, 255)), 1, 0, 0},
    {"D_S_minus2_9_in_s8", CAST(IXA_CAST_D_S(1, r, -2.9, -128, 127)), 0, 0, -2},
    {"LD_U_just_above_u32", CAST(IXA_CAST_LD_U(1, r, 4294967295.5L, 0, kUintMax)), 0, 1, kUintMax},
    // A 64-bit bound rounds to the nearest double, but is exact in long double.
    {"D_S_LL_2p63_bound_rounds", CAST(IXA_CAST_D_S_LL(1, r, kTwo63, kLongMin, kLongMax)), 0, 0, kLongMax},
    {"LD_S_LL_2p63_above", CAST(IXA_CAST_LD_S_LL(1, r, kTwo63, kLongMin, kLongMax)), 0, 1, kLongMax},
    {"D_U_LL_2p64_bound_rounds", CAST(IXA_CAST_D_U_LL(1, r, kTwo64, 0, kUlongMax)), 0, 0, kUlongMax},
    {"LD_U_LL_2p64_above", CAST(IXA_CAST_LD_U_LL(1, r, kTwo64, 0, kUlongMax)), 0, 1, kUlongMax},
    // Out of the result type's range: saturate rather than convert.
    {"D_S_1e10_saturates", CAST(IXA_CAST_D_S(1, r, 1e10, kIntMin, 2147483647)), 0, 1, 2147483647},
    {"D_S_minus_inf_saturates", CAST(IXA_CAST_D_S(1, r, -kInf, kIntMin, 2147483647)), 1, 0, kIntMin},
    {"D_U_minus1e10_saturates", CAST(IXA_CAST_D_U(1, r, -1e10, 0, kUintMax)), 1, 0, 0},
    {"D_U_inf_saturates", CAST(IXA_CAST_D_U(1, r, kInf, 0, kUintMax)), 0, 1, kUintMax},
    {"D_S_LL_minus1e19_saturates", CAST(IXA_CAST_D_S_LL(1, r, -1e19, kLongMin, kLongMax)), 1, 0, kLongMin},
    {"LD_S_1e30_saturates", CAST(IXA_CAST_LD_S(1, r, 1e30L, kIntMin, 2147483647)), 0, 1, 2147483647},
    // NaN is ordered against nothing and converts to 0.
    {"D_S_NaN", CAST(IXA_CAST_D_S(1, r, kNaN, -128, 127)), 0, 0, 0},
    {"D_U_LL_NaN", CAST(IXA_CAST_D_U_LL(1, r, kNaN, 0, kUlongMax)), 0, 0, 0},
    {"LD_S_LL_NaN", CAST(IXA_CAST_LD_S_LL(1, r, kNaN, kLongMin, kLongMax)), 0, 0, 0},
    {"D_F_NaN", CAST(IXA_CAST_D_F(1, r, kNaN, -1.0, 1.0)), 0, 0, kNaN},
    // To float.
    {"D_F_1e300_above", CAST(IXA_CAST_D_F(1, r, 1e300, -3.4e38, 3.4e38)), 0, 1, kInf},
    {"LD_F_minus1e4000_below", CAST(IXA_CAST_LD_F(1, r, -1e4000L, -3.4e38L, 3.4e38L)), 1, 0, -kInf},
    {"D_F_half_in", CAST(IXA_CAST_D_F(1, r, 0.5, -1.0, 1.0)), 0, 0, 0.5},
    // Integer to float: 2^24 is the last exact magnitude.
    {"U_32FP_2p24", CAST(IXA_CAST_U_32FP(1, r, 16777216, 0, 0)), 0, 0, 16777216},
    {"U_32FP_2p24_plus1_rounds", CAST(IXA_CAST_U_32FP(1, r, 16777217, 0, 0)), 0, 1, 16777216},
    {"S_32FP_minus2p24", CAST(IXA_CAST_S_32FP(1, r, -16777216, 0, 0)), 0, 0, -16777216},
    {"S_32FP_minus2p24_minus1", CAST(IXA_CAST_S_32FP(1, r, -16777217, 0, 0)), 1, 0, -16777216},
    {"S_32FP_2p24_plus1", CAST(IXA_CAST_S_32FP(1, r, 16777217, 0, 0)), 0, 1, 16777216},
    // 64-bit integers to float (2^24) and to double (2^53), at and past the last exact magnitude.
    {"U_LL_FP_2p24", CAST(IXA_CAST_U_LL_FP(1, r, 16777216, 0, 0)), 0, 0, 16777216},
    {"U_LL_FP_max_rounds", CAST(IXA_CAST_U_LL_FP(1, r, kUlongMax, 0, 0)), 0, 1, kTwo64},
    {"S_LL_FP_min", CAST(IXA_CAST_S_LL_FP(1, r, kLongMin, 0, 0)), 1, 0, -kTwo63},
    {"S_LL_FP_minus2p24_plus1_in", CAST(IXA_CAST_S_LL_FP(1, r, -16777215, 0, 0)), 0, 0, -16777215},
    {"U_LL_DP_2p53", CAST(IXA_CAST_U_LL_DP(1, r, uint64_t{1} << 53, 0, 0)), 0, 0, 9007199254740992.0L},
    {"U_LL_DP_2p53_plus1_rounds", CAST(IXA_CAST_U_LL_DP(1, r, (uint64_t{1} << 53) + 1, 0, 0)), 0, 1, 9007199254740992.0L},
    {"S_LL_DP_minus2p53_minus1", CAST(IXA_CAST_S_LL_DP(1, r, -(int64_t{1} << 53) - 1, 0, 0)), 1, 0, -9007199254740992.0L},
    {"S_LL_DP_max_rounds", CAST(IXA_CAST_S_LL_DP(1, r, INT64_MAX, 0, 0)), 0, 1, kTwo63},
    // long double to double keeps double precision and range: 0.1L is the double nearest 0.1, not the float.
    {"LD_D_tenth", CAST(IXA_CAST_LD_D(1, r, 0.1L, -DBL_MAX, DBL_MAX)), 0, 0, 0.1},
    {"LD_D_1e300_in", CAST(IXA_CAST_LD_D(1, r, 1e300L, -DBL_MAX, DBL_MAX)), 0, 0, 1e300},
    {"LD_D_1e400_above", CAST(IXA_CAST_LD_D(1, r, 1e400L, -DBL_MAX, DBL_MAX)), 0, 1, kInf},
    {"LD_D_minus1e400_below", CAST(IXA_CAST_LD_D(1, r, -1e400L, -DBL_MAX, DBL_MAX)), 1, 0, -kInf},
    {"LD_D_NaN", CAST(IXA_CAST_LD_D(1, r, kNaN, -DBL_MAX, DBL_MAX)), 0, 0, kNaN},
};
#undef CAST

class CastProbes : public testing::TestWithParam<CastRow> {};

TEST_P(CastProbes, FlagsTheRangeAndReturnsTheValue) {
    const CastRow& row = GetParam();
    IXA_CAST_RECORD rec{};
    const long double got = row.call(&rec);
    EXPECT_EQ(rec.belowMin, row.belowMin);
    EXPECT_EQ(rec.aboveMax, row.aboveMax);
    if (std::isnan(row.result))
        EXPECT_TRUE(std::isnan(got));
    else
        EXPECT_EQ(got, row.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, CastProbes, testing::ValuesIn(kCastRows),
                         [](const testing::TestParamInfo<CastRow>& info) { return std::string(info.param.name); });

// Divisors come back bit for bit; long double compares only its 10 value bytes.
template <class T>
bool sameBits(T a, T b) {
    return std::memcmp(&a, &b, std::is_same_v<T, long double> ? 10 : sizeof(T)) == 0;
}

struct DivisorRow {
    const char* name;
    bool (*callReturnsSameBits)(IXA_DBZ_RECORD*);
    int zeroSeen;
};
void PrintTo(const DivisorRow& row, std::ostream* os) {
    *os << row.name;
}

#define DIVISOR(probe, T, value) [](IXA_DBZ_RECORD* r) { return sameBits<T>(probe(1, r, value), value); }
const DivisorRow kDivisorRows[] = {
    {"U_0", DIVISOR(IXA_DBZ_U, uint32_t, 0), 1},
    {"S_minus3", DIVISOR(IXA_DBZ_S, int32_t, -3), 0},
    {"U_LL_2p32", DIVISOR(IXA_DBZ_U_LL, uint64_t, uint64_t{1} << 32), 0},
    {"S_LL_min", DIVISOR(IXA_DBZ_S_LL, int64_t, kLongMin), 0},
    {"D_minus0", DIVISOR(IXA_DBZ_D, double, -0.0), 1},
    {"D_NaN", DIVISOR(IXA_DBZ_D, double, kNaN), 0},
    {"D_smallest_denormal", DIVISOR(IXA_DBZ_D, double, 5e-324), 0},
    {"FD_minus0", DIVISOR(IXA_DBZ_FD, double, -0.0), 1},
    {"FD_NaN", DIVISOR(IXA_DBZ_FD, double, kNaN), 0},
    {"LD_minus0", DIVISOR(IXA_DBZ_LD, long double, -0.0L), 1},
    {"LD_NaN", DIVISOR(IXA_DBZ_LD, long double, std::numeric_limits<long double>::quiet_NaN()), 0},
};
#undef DIVISOR

class DivisorProbes : public testing::TestWithParam<DivisorRow> {};

TEST_P(DivisorProbes, FlagsZeroAndReturnsTheDivisorBitForBit) {
    IXA_DBZ_RECORD rec{};
    EXPECT_TRUE(GetParam().callReturnsSameBits(&rec));
    EXPECT_EQ(rec.zeroSeen, GetParam().zeroSeen);
}

INSTANTIATE_TEST_SUITE_P(Cases, DivisorProbes, testing::ValuesIn(kDivisorRows),
                         [](const testing::TestParamInfo<DivisorRow>& info) { return std::string(info.param.name); });

}  // namespace
