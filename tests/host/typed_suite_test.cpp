// Typed suite cells: what an input cell stores and an expect cell accepts for
// each C type of a harness variable, and the message for a value its type
// cannot hold; one row per case, against a schema of one variable per type.
#include "kivrun.h"
#include "suite/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

const char* const kTypes[] = {"uint8_t", "int8_t", "uint16_t", "int16_t", "uint32_t", "int32_t",
                              "uint64_t", "int64_t", "bool",    "float",   "double"};

// Input and output k of scope 1 have type kTypes[k] and are named by it.
const kiv::Schema& schema() {
    static const kiv::Schema s = [] {
        kiv::Schema s;
        s.from_catalog = true;
        int32_t id = 100;
        for (const char* t : kTypes) {
            const kiv::ValueType type = *kiv::value_type_named(t);
            s.inputs.push_back({id++, std::string("u.in_") + t, kiv::Setter::plain, 1, type});
            s.outputs.push_back({std::string("u.out_") + t, std::string("out_") + t, 1, nullptr, type});
        }
        s.scopes.push_back({1, {"u"}});
        return s;
    }();
    return s;
}

kiv::Plan parse(const std::string& heading, const std::string& cell, bool wrap = false) {
    kiv::Plan plan;
    kiv::parse_suite("t.csv", "case,scope," + heading + "\nc,1," + cell + "\n", schema(), {wrap}, plan);
    return plan;
}

std::string problem(const std::string& heading, const std::string& cell, bool wrap = false) {
    try {
        parse(heading, cell, wrap);
    } catch (const kiv::SuiteError& e) {
        return e.what();
    }
    return {};
}

struct InputCell {
    const char* name;
    const char* type;
    const char* cell;
    bool wrap;
    int64_t stored;      // the value written, as the _int accessor takes it
    double as_float;     // NaN: an integer input
    const char* error;   // in the message; empty when the cell is good
};
void PrintTo(const InputCell& c, std::ostream* out) {
    *out << c.name;
}

constexpr double kInt = std::numeric_limits<double>::quiet_NaN();

const InputCell kInputCells[] = {
    {"Uint8Top", "uint8_t", "255", false, 255, kInt, ""},
    {"Uint8Beyond", "uint8_t", "256", false, 0, kInt, "expected an integer 0..255 (8-bit input u.in_uint8_t) (the library would store 0; --wrap allows that)"},
    {"Uint8WrappedNegative", "uint8_t", "-1", true, -1, kInt, ""},
    {"Int8Negative", "int8_t", "-128", false, -128, kInt, ""},
    {"Int8BelowItsRange", "int8_t", "-129", false, 0, kInt, "expected an integer -128..127 (int8_t input u.in_int8_t) (the library would store 127"},
    {"Int16Hex", "int16_t", "-0x10", false, -16, kInt, ""},
    {"Uint16Negative", "uint16_t", "-1", false, 0, kInt, "(the library would store 65535"},
    {"Int32Bottom", "int32_t", "-2147483648", false, -2147483648LL, kInt, ""},
    {"Uint32Top", "uint32_t", "4294967295", false, 4294967295LL, kInt, ""},
    {"Uint64Top", "uint64_t", "18446744073709551615", false, -1, kInt, ""},
    {"Uint64Beyond64Bits", "uint64_t", "18446744073709551616", true, 0, kInt, "beyond 64 bits"},
    {"Int64Bottom", "int64_t", "-9223372036854775808", false, std::numeric_limits<int64_t>::min(), kInt, ""},
    {"Int64NoFraction", "int64_t", "1.5", false, 0, kInt, "'1.5' is not a number; expected an integer"},
    {"BoolTwo", "bool", "2", false, 0, kInt, "expected an integer 0..1"},
    {"FloatFraction", "float", "1.25", false, 0, 1.25, ""},
    {"FloatExponent", "float", "-2.5e3", false, 0, -2500, ""},
    {"FloatInteger", "float", "7", false, 0, 7, ""},
    {"FloatBeyondItsRange", "float", "1e39", false, 0, 0, "value 1e39 is out of range; expected a number (float input u.in_float)"},
    {"DoubleTakesWhatFloatCannot", "double", "1e39", false, 0, 1e39, ""},
    {"DoubleNoWords", "double", "nan", false, 0, 0, "'nan' is not a number"},
};

class TypedInputCell : public ::testing::TestWithParam<InputCell> {};

TEST_P(TypedInputCell, StoresItsTypesValueOrSaysWhy) {
    const InputCell& c = GetParam();
    const std::string heading = std::string("in_") + c.type;
    if (*c.error) {
        EXPECT_NE(problem(heading, c.cell, c.wrap).find(c.error), std::string::npos) << problem(heading, c.cell, c.wrap);
        return;
    }
    const kiv::Plan plan = parse(heading, c.cell, c.wrap);
    ASSERT_EQ(plan.inputs.size(), 1u);
    EXPECT_EQ(plan.inputs[0].floating, !std::isnan(c.as_float));
    if (plan.inputs[0].floating) {
        EXPECT_EQ(kiv::double_of(static_cast<uint64_t>(plan.inputs[0].value)), c.as_float);
    } else {
        EXPECT_EQ(plan.inputs[0].value, c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, TypedInputCell, ::testing::ValuesIn(kInputCells),
                         [](const auto& info) { return std::string(info.param.name); });

struct ExpectCell {
    const char* name;
    const char* type;
    const char* cell;
    const char* actual;  // the output's value, as a cell would write it
    bool accepted;
};
void PrintTo(const ExpectCell& c, std::ostream* out) {
    *out << c.name;
}

const ExpectCell kExpectCells[] = {
    {"Uint8Exact", "uint8_t", "35", "35", true},
    {"Uint8Set", "uint8_t", "0|1", "2", false},
    {"Int8NegativeRange", "int8_t", "-5..-1", "-3", true},
    {"Int8NegativeRangeAboveIt", "int8_t", "-5..-1", "0", false},
    {"Int16SetOfSigns", "int16_t", "-1|1", "-1", true},
    {"Uint64AboveTheSignedRange", "uint64_t", "9223372036854775808..18446744073709551615", "18446744073709551615", true},
    {"Int64Range", "int64_t", "-9223372036854775808..0", "-1", true},
    {"FloatExactHalf", "float", "1.5", "1.5", true},
    {"FloatWithinTolerance", "float", "1.5~0.01", "1.505", true},
    {"FloatBeyondTolerance", "float", "1.5~0.01", "1.52", false},
    {"DoubleRange", "double", "0.5..2", "2", true},
    {"DoubleRangeBelow", "double", "0.5..2", "0.4999", false},
    {"DoubleNegativeRange", "double", "-2.5..-1e-3", "-0.01", true},
};

class TypedExpectCell : public ::testing::TestWithParam<ExpectCell> {};

TEST_P(TypedExpectCell, ComparesInItsOutputsType) {
    const ExpectCell& c = GetParam();
    const kiv::Plan plan = parse(std::string("expect out_") + c.type, c.cell);
    ASSERT_EQ(plan.expects.size(), 1u);
    uint64_t actual = 0;
    ASSERT_EQ(kiv::parse_value(c.actual, *kiv::value_type_named(c.type), actual), kiv::ValueParse::ok);
    EXPECT_EQ(kiv::accepts(plan, plan.expects[0], actual), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Types, TypedExpectCell, ::testing::ValuesIn(kExpectCells),
                         [](const auto& info) { return std::string(info.param.name); });

const std::pair<const char*, const char*> kBadExpects[] = {
    {"expect out_int8_t", "200"},       // beyond int8_t
    {"expect out_float", "1.5~-1"},     // a negative tolerance
    {"expect out_double", "2..1"},      // an empty range
    {"expect out_uint8_t", "1.5"},      // no fractions for an integer output
};

TEST(TypedExpectCells, ThatCannotHoldForTheTypeAreRejected) {
    for (const auto& [heading, cell] : kBadExpects)
        EXPECT_FALSE(problem(heading, cell).empty()) << heading << " " << cell;
}

}  // namespace

// What a baseline writer (generate, --record) puts in an expect cell reads
// back as the same value; a value no cell can state leaves the cell empty.
TEST(TypedExpectCells, WrittenFromAnObservedValueReadBack) {
    using namespace kiv;
    const ValueType f = *value_type_named("float"), s16 = *value_type_named("int16_t");
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0, -0.5, 2.0025, 3.4e38, std::nan(""), -std::nan(""), inf, -inf}) {
        const std::string text = expect_text(ValueKind::floating, raw_of(v));
        uint64_t raw = 0;
        if (!std::isfinite(v)) {
            EXPECT_EQ(text, "") << v;
            continue;
        }
        ASSERT_EQ(parse_value(text, f, raw), ValueParse::ok) << text;
        EXPECT_EQ(double_of(raw), v);
    }
    uint64_t raw = 0;
    ASSERT_EQ(parse_value(expect_text(ValueKind::signed_int, static_cast<uint64_t>(int64_t{-895})), s16, raw), ValueParse::ok);
    EXPECT_EQ(static_cast<int64_t>(raw), -895);
}

// A buffer's elements in one cell: values separated by spaces, the rest 0,
// never more values than elements, each value checked as its element's cell.
namespace {

struct BufferCell {
    const char* name;
    const char* cell;
    std::vector<int64_t> stored;  // every element, in order
    const char* error;            // in the message; empty when the cell is good
};
void PrintTo(const BufferCell& c, std::ostream* out) {
    *out << c.name;
}

const BufferCell kBufferCells[] = {
    {"ValuesThenZeros", "1 -2 0x10", {1, -2, 16, 0}, ""},
    {"SpacesRunTogether", "  7   8 ", {7, 8, 0, 0}, ""},
    {"Full", "1 2 3 4", {1, 2, 3, 4}, ""},
    {"MoreThanItHolds", "1 2 3 4 5", {}, "t.csv:2:5: 'buf' holds 4 elements; the cell gives 5 values"},
    {"AWord", "1 x", {}, "'x' is not a number"},
    {"BeyondTheElementType", "40000", {}, "value 40000 is out of range"},
};

class BufferCells : public ::testing::TestWithParam<BufferCell> {};

TEST_P(BufferCells, FillEveryElementOrSayWhy) {
    kiv::Schema s;
    s.from_catalog = true;
    const kiv::ValueType t = *kiv::value_type_named("int16_t");
    for (int i = 0; i < 4; ++i) {
        s.inputs.push_back({200 + i, "u.buf[" + std::to_string(i) + "]", kiv::Setter::plain, 1, t});
        s.outputs.push_back({"u.buf[" + std::to_string(i) + "]", "buf" + std::to_string(i), 1, nullptr, t});
    }
    s.scopes.push_back({1, {"u"}});
    const BufferCell& c = GetParam();
    kiv::Plan plan;
    try {
        kiv::parse_suite("t.csv", std::string("case,scope,buf,expect buf\nc,1,") + c.cell + ",5 6\n", s, {false}, plan);
    } catch (const kiv::SuiteError& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        return;
    }
    ASSERT_EQ(*c.error, '\0');
    ASSERT_EQ(plan.inputs.size(), c.stored.size());
    for (std::size_t k = 0; k < c.stored.size(); ++k) EXPECT_EQ(plan.inputs[k].value, c.stored[k]) << k;
    EXPECT_EQ(plan.expects.size(), 2u);  // only the elements the expect cell gives
}

INSTANTIATE_TEST_SUITE_P(Cells, BufferCells, ::testing::ValuesIn(kBufferCells),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
