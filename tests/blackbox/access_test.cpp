// Black-box tests of access by index: the setter rules of every writable ID,
// goal flags before any step, and the floating access functions.
#include "library.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace {

struct InputRow {
    int id;
    bool boolean;
};
void PrintTo(const InputRow& row, std::ostream* out) {
    *out << row.id;
}

const InputRow kInputs[] = {
    {959, false}, {961, false}, {963, false}, {966, true},   {968, false},  {970, false},  {980, true},  {986, true},
    {990, true},  {992, false}, {994, false}, {1000, false}, {1002, false}, {1004, false}, {1006, true}, {1008, false},
};

// A written value and what each setter rule keeps of it.
struct WriteRow {
    int64_t value;
    int64_t plain;
    int64_t boolean;
};
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
const WriteRow kIntWrites[] = {
    {300, 44, 1},
    {256, 0, 1},
    {-1, 255, 1},
    {2, 2, 1},
    {255, 255, 1},
    {1, 1, 1},
    {0, 0, 0},
    {int64_t{1} << 40, 0, 1},
    {(int64_t{1} << 32) + 7, 7, 1},
    {kMax, 255, 1},
    {kMin, 0, 1},
};

// Doubles truncate toward zero, NaN gives 0 and the rest saturates before the
// setter rule applies.
struct FloatWriteRow {
    double value;
    int64_t plain;
    int64_t boolean;
};
const FloatWriteRow kFloatWrites[] = {
    {300.7, 44, 1},
    {-1.5, 255, 1},
    {0.5, 0, 0},
    {-0.5, 0, 0},
    {255.9, 255, 1},
    {256.0, 0, 1},
    {1e300, 255, 1},
    {-1e300, 0, 1},
    {std::numeric_limits<double>::quiet_NaN(), 0, 0},
    {std::numeric_limits<double>::infinity(), 255, 1},
};

using WritableId = KivLibraryParamTest<InputRow>;

TEST_P(WritableId, KeepsTheLowByteOrTheTruthOfAnIntegerWrite) {
    const InputRow& row = GetParam();
    lib.kiv_register_inputs(1, 0, std::to_string(row.id).c_str());
    for (const WriteRow& write : kIntWrites) {
        SCOPED_TRACE(write.value);
        lib.kiv_dll_set_input_int(0, write.value);
        const int64_t expected = row.boolean ? write.boolean : write.plain;
        EXPECT_EQ(lib.kiv_dll_get_input_int(0), expected);
        EXPECT_EQ(lib.kiv_dll_get_input_float(0), static_cast<double>(expected));
    }
}

TEST_P(WritableId, ConvertsAFloatingWriteToAnInteger) {
    const InputRow& row = GetParam();
    lib.kiv_register_params(1, 0, std::to_string(row.id).c_str());
    for (const FloatWriteRow& write : kFloatWrites) {
        SCOPED_TRACE(write.value);
        lib.kiv_dll_set_param_int(0, 99);
        lib.kiv_dll_set_param_float(0, write.value);
        EXPECT_EQ(lib.kiv_dll_get_param_int(0), row.boolean ? write.boolean : write.plain);
    }
}

INSTANTIATE_TEST_SUITE_P(Access, WritableId, ::testing::ValuesIn(kInputs),
                         [](const auto& info) { return "Id" + std::to_string(info.param.id); });

using Access = KivLibraryTest;

TEST_F(Access, EveryGoalFlagReadsZeroBeforeAnyStep) {
    int32_t index = 0;
    for (int id = 1542; id <= 1892; id += 2)
        lib.kiv_register_outputs(176, index++, std::to_string(id).c_str());
    ASSERT_EQ(index, 176);
    for (int32_t i = 0; i < index; ++i) {
        SCOPED_TRACE(1542 + 2 * i);
        EXPECT_EQ(lib.kiv_dll_get_output_int(i), 0);
    }
}

TEST_F(Access, OneIdUnderTwoKindsReachesOneVariable) {
    lib.kiv_register_inputs(1, 0, "990");
    lib.kiv_register_outputs(4, 3, "990");
    lib.kiv_dll_set_input_int(0, 5);
    EXPECT_EQ(lib.kiv_dll_get_output_int(3), 1);
    lib.kiv_dll_set_output_int(3, 0);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 0);
}

TEST_F(Access, TwoIdsFeedingOneUnitVariableStayApart) {
    lib.kiv_register_inputs(2, 0, "966");
    lib.kiv_register_inputs(2, 1, "990");
    lib.kiv_dll_set_input_int(0, 1);
    EXPECT_EQ(lib.kiv_dll_get_input_int(1), 0);
    lib.kiv_dll_set_input_int(1, 1);
    lib.kiv_dll_set_input_int(0, 0);
    EXPECT_EQ(lib.kiv_dll_get_input_int(1), 1);
}

TEST_F(Access, EveryKindReachesItsOwnTable) {
    lib.kiv_register_params(1, 0, "959");
    lib.kiv_register_inputs(1, 0, "961");
    lib.kiv_register_outputs(1, 0, "963");
    lib.kiv_dll_set_param_int(0, 1);
    lib.kiv_dll_set_input_float(0, 2.0);
    lib.kiv_dll_set_output_int(0, 3);
    EXPECT_EQ(lib.kiv_dll_get_param_float(0), 1.0);
    EXPECT_EQ(lib.kiv_dll_get_input_int(0), 2);
    EXPECT_EQ(lib.kiv_dll_get_output_float(0), 3.0);
}

}  // namespace
