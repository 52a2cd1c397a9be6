// Black-box table of typed conversions: a unit whose inputs have every scalar
// type, written and read through the exported _int and _float accessors.
// Integer variables convert by C's rules from the 64-bit value (a double
// written through _float is first truncated, NaN as 0, saturating); floating
// variables take a double through C's conversion and read back truncated and
// saturated through _int.
#include "library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Conversion {
    const char* name;
    int id;
    bool write_float;  // through kiv_dll_set_input_float, else _int
    int64_t int_value;
    double float_value;
    int64_t reads_int;
    double reads_float;  // NaN: not checked
};
void PrintTo(const Conversion& c, std::ostream* out) {
    *out << c.name;
}

const Conversion kConversions[] = {
    {"Uint8KeepsTheLowByte", 101, false, 300, 0, 44, 44},
    {"Uint8WrapsMinusOne", 101, false, -1, 0, 255, 255},
    {"Uint8FromFloatTruncatesFirst", 101, true, 0, 259.9, 3, 3},
    {"Int8IsSigned", 102, false, 200, 0, -56, -56},
    {"Uint16WrapsMinusOne", 103, false, -1, 0, 65535, 65535},
    {"Int16KeepsItsLowBits", 104, false, 70000, 0, 4464, 4464},
    {"Int16Negative", 104, false, -32768, 0, -32768, -32768},
    {"Uint32WrapsMinusOne", 105, false, -1, 0, 4294967295, 4294967295.0},
    {"Int32TopBitIsItsSign", 106, false, int64_t{1} << 31, 0, -2147483648LL, -2147483648.0},
    {"Uint64TopValueReadsAsItsBitPattern", 107, false, -1, 0, -1, kNaN},
    {"Int64Minimum", 108, false, kMin, 0, kMin, -9223372036854775808.0},
    {"Int64FromHugeFloatSaturates", 108, true, 0, 1e30, kMax, kNaN},
    {"Int64FromNaNIsZero", 108, true, 0, kNaN, 0, 0},
    {"BoolOfAnyNonZeroIsOne", 109, false, 256, 0, 1, 1},
    {"BoolOfZeroIsZero", 109, false, 0, 0, 0, 0},
    {"BooleanSetterOnAByte", 110, false, 256, 0, 1, 1},
    {"FloatKeepsAHalf", 111, true, 0, 1.5, 1, 1.5},
    {"FloatRoundsADouble", 111, true, 0, 0.1, 0, static_cast<double>(0.1f)},
    {"FloatNegativeTruncatesTowardZero", 111, true, 0, -2.75, -2, -2.75},
    {"FloatFromAnIntegerRounds", 111, false, 16777217, 0, 16777216, 16777216.0},
    {"FloatBeyondItsRangeIsInfinite", 111, true, 0, 1e300, kMax, kInf},
    {"FloatNaNReadsZeroAsInteger", 111, true, 0, kNaN, 0, kNaN},
    {"DoubleKeepsItsValue", 112, true, 0, 1e300, kMax, 1e300},
    {"DoubleNegativeTruncates", 112, true, 0, -2.9, -2, -2.9},
    {"DoubleBelowTheInt64RangeSaturates", 112, true, 0, -1e19, kMin, -1e19},
    {"DoubleFromTheLargestInteger", 112, false, kMax, 0, kMax, 9223372036854775808.0},
    {"DoubleKeepsMinusInfinity", 112, true, 0, -kInf, kMin, -kInf},
};

class TypedAccess : public KivLibraryParamTest<Conversion> {};

TEST_P(TypedAccess, ConvertsByTheVariablesType) {
    const Conversion& c = GetParam();
    const std::string id = std::to_string(c.id);
    ASSERT_EQ(lib.kiv_nr_registered_functions(id.c_str()), 2);
    lib.kiv_register_inputs(1, 0, id.c_str());
    if (c.write_float)
        lib.kiv_dll_set_input_float(0, c.float_value);
    else
        lib.kiv_dll_set_input_int(0, c.int_value);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), c.reads_int);
    if (!std::isnan(c.reads_float)) {
        EXPECT_EQ(lib.kiv_dll_get_input_float(0), c.reads_float);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, TypedAccess, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return std::string(info.param.name); });

// A floating variable keeps a NaN written through _float (C's conversion),
// while every integer variable stores 0 for it.
TEST_F(KivLibraryTest, AFloatingVariableKeepsANaN) {
    lib.kiv_register_inputs(2, 0, "111");
    lib.kiv_register_inputs(2, 1, "104");
    lib.kiv_dll_set_input_float(0, kNaN);
    lib.kiv_dll_set_input_float(1, kNaN);
    EXPECT_TRUE(std::isnan(lib.kiv_dll_get_input_float(0)));
    EXPECT_EQ(lib.kiv_dll_get_input_float(1), 0.0);
}

}  // namespace
