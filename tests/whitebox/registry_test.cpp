// Tests of the registry from the inside: which variable each ID reaches,
// duplicate IDs, and the conversions of the floating access functions.
#include "dllharness.h"
#include "frame/harness_variables.h"
#include "harness/harness_main.h"
#include "instrumentation/goal_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>

namespace {

uint8_t* haux(int n) {
    static uint8_t* byNumber[kKivHarnessVariableCount + 1] = {};
    if (byNumber[1] == nullptr) {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) byNumber[n] = &kiv_haux##n;
#include "unit/harness_variables.def"
    }
    return byNumber[n];
}

uint32_t* goal(int n) {
    static uint32_t* byNumber[kKivGoalCount + 1] = {};
    if (byNumber[1] == nullptr) {
#define KIV_GOAL(n, record, field, rule) byNumber[n] = &KIV_G##n;
#include "unit/goals.def"
    }
    return byNumber[n];
}

// The writable IDs, the harness variable behind each and its setter rule.
struct InputRow {
    int id;
    int haux;
    bool boolean;
};
const InputRow kInputs[] = {
    {959, 1, false},   {961, 2, false},   {963, 3, false},  {966, 4, true},    {968, 5, false},  {970, 6, false},
    {980, 11, true},   {986, 13, true},   {990, 14, true},  {992, 15, false},  {994, 16, false}, {1000, 18, false},
    {1002, 19, false}, {1004, 20, false}, {1006, 21, true}, {1008, 22, false},
};

// Runs of consecutive even goal IDs that map to consecutive goal flags.
struct GoalRun {
    int firstId, lastId, firstGoal;
};
const GoalRun kGoalRuns[] = {
    {1542, 1560, 5},   {1562, 1562, 1},   {1564, 1574, 15},  {1576, 1576, 2},   {1578, 1658, 21},  {1660, 1662, 3},
    {1664, 1682, 135}, {1684, 1690, 106}, {1692, 1692, 158}, {1694, 1694, 167}, {1696, 1696, 70},  {1698, 1698, 168},
    {1700, 1702, 86},  {1704, 1706, 110}, {1708, 1708, 169}, {1710, 1712, 88},  {1714, 1714, 170}, {1716, 1724, 130},
    {1726, 1726, 63},  {1728, 1728, 157}, {1730, 1736, 160}, {1738, 1740, 76},  {1742, 1742, 164}, {1744, 1746, 78},
    {1748, 1748, 165}, {1750, 1752, 80},  {1754, 1754, 166}, {1756, 1762, 82},  {1764, 1764, 64},  {1766, 1766, 173},
    {1768, 1770, 96},  {1772, 1772, 174}, {1774, 1776, 98},  {1778, 1778, 175}, {1780, 1780, 65},  {1782, 1784, 100},
    {1786, 1786, 176}, {1788, 1794, 102}, {1796, 1802, 66},  {1804, 1804, 62},  {1806, 1824, 120}, {1826, 1828, 72},
    {1830, 1848, 145}, {1850, 1850, 74},  {1852, 1854, 155}, {1856, 1856, 75},  {1858, 1858, 159}, {1860, 1862, 112},
    {1864, 1866, 90},  {1868, 1870, 114}, {1872, 1872, 171}, {1874, 1876, 92},  {1878, 1880, 116}, {1882, 1882, 172},
    {1884, 1886, 94},  {1888, 1890, 118}, {1892, 1892, 71},
};

TEST(IdMapping, EveryWritableIdReachesItsHarnessVariable) {
    const int32_t count = static_cast<int32_t>(std::size(kInputs));
    for (int32_t i = 0; i < count; ++i)
        kiv_register_inputs(count, i, std::to_string(kInputs[i].id).c_str());
    for (int32_t i = 0; i < count; ++i) {
        const InputRow& row = kInputs[i];
        SCOPED_TRACE(row.id);
        ASSERT_NE(haux(row.haux), nullptr);
        kiv_dll_set_input_int(i, 300);
        EXPECT_EQ(*haux(row.haux), row.boolean ? 1 : 44);
        *haux(row.haux) = static_cast<uint8_t>(200 + i);
        EXPECT_EQ(kiv_dll_get_input_int(i), 200 + i);
    }
}

TEST(IdMapping, EveryGoalIdReachesItsGoalFlag) {
    int32_t index = 0;
    for (const GoalRun& run : kGoalRuns) {
        for (int id = run.firstId; id <= run.lastId; id += 2)
            kiv_register_outputs(kKivGoalCount, index++, std::to_string(id).c_str());
    }
    ASSERT_EQ(index, kKivGoalCount);
    for (int n = 1; n <= kKivGoalCount; ++n)
        *goal(n) = 1000u + static_cast<uint32_t>(n);

    index = 0;
    for (const GoalRun& run : kGoalRuns) {
        for (int id = run.firstId, n = run.firstGoal; id <= run.lastId; id += 2, ++n) {
            SCOPED_TRACE(id);
            EXPECT_EQ(kiv_dll_get_output_int(index++), 1000 + n);
        }
    }
}

TEST(IdMapping, GoalFlagsReadZeroExtended) {
    kiv_register_outputs(1, 0, "1562");
    for (uint32_t value : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
        *goal(1) = value;
        EXPECT_EQ(kiv_dll_get_output_int(0), static_cast<int64_t>(value));
        EXPECT_EQ(kiv_dll_get_output_float(0), static_cast<double>(value));
    }
}

// IDs of the test's own, over variables of the test.
int64_t probeValue;
int64_t otherValue = -7;
const kiv_id_entry kProbe{"4242", &probeValue, kiv_type::I64, kiv_setter_rule::PLAIN};
const kiv_id_entry kProbeReadOnly{"4242", &probeValue, kiv_type::I64, kiv_setter_rule::NONE};
const kiv_id_entry kOther{"4242", &otherValue, kiv_type::I64, kiv_setter_rule::PLAIN};
const kiv_id_entry kOther959{"959", &otherValue, kiv_type::I64, kiv_setter_rule::NONE};

TEST(SingleId, AnIdEnteredTwiceKeepsItsFirstVariable) {
    kiv_init_harness();
    kiv_register_single_id(&kOther959);
    EXPECT_EQ(kiv_nr_registered_functions("959"), 2);
    kiv_register_inputs(1, 0, "959");
    kiv_haux1 = 17;
    EXPECT_EQ(kiv_dll_get_input_int(0), 17);

    kiv_register_single_id(&kProbeReadOnly);
    kiv_register_single_id(&kOther);
    EXPECT_EQ(kiv_nr_registered_functions("4242"), 1);
}

TEST(SingleId, ANullEntryOrIdIsIgnored) {
    kiv_init_harness();
    const kiv_id_entry no_id{nullptr, &probeValue, kiv_type::I64, kiv_setter_rule::PLAIN};
    kiv_register_single_id(&no_id);
    kiv_register_single_id(nullptr);
    EXPECT_EQ(kiv_nr_registered_functions(nullptr), 0);
    EXPECT_EQ(kiv_nr_registered_functions(""), 0);
}

struct FloatRow {
    const char* name;
    double value;
    int64_t stored;
};
void PrintTo(const FloatRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
const FloatRow kFloatRows[] = {
    {"Zero", 0.0, 0},
    {"NegativeZero", -0.0, 0},
    {"PositiveFractionTruncates", 2.9, 2},
    {"NegativeFractionTruncatesTowardZero", -2.9, -2},
    {"LargeExact", 4503599627370496.0, 4503599627370496},
    {"LargestBelowTwoTo63", 9223372036854774784.0, 9223372036854774784},
    {"TwoTo63Saturates", 9223372036854775808.0, kMax},
    {"MinusTwoTo63IsExact", -9223372036854775808.0, kMin},
    {"HugeSaturates", 1e300, kMax},
    {"HugeNegativeSaturates", -1e300, kMin},
    {"InfinitySaturates", std::numeric_limits<double>::infinity(), kMax},
    {"NegativeInfinitySaturates", -std::numeric_limits<double>::infinity(), kMin},
    {"NaNGivesZero", std::numeric_limits<double>::quiet_NaN(), 0},
};

struct FloatAccess : ::testing::TestWithParam<FloatRow> {};

TEST_P(FloatAccess, SetConvertsTheDoubleIntoTheIntegerVariable) {
    kiv_init_harness();
    kiv_register_single_id(&kProbe);
    kiv_register_params(1, 0, "4242");
    probeValue = 12345;
    kiv_dll_set_param_float(0, GetParam().value);
    EXPECT_EQ(probeValue, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Conversions, FloatAccess, ::testing::ValuesIn(kFloatRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FloatAccessGet, ReturnsTheIntegerAsADouble) {
    kiv_init_harness();
    kiv_register_single_id(&kProbe);
    kiv_register_inputs(1, 0, "4242");
    for (int64_t value : {int64_t{0}, int64_t{-5}, int64_t{4294967295}, int64_t{1} << 53}) {
        SCOPED_TRACE(value);
        probeValue = value;
        EXPECT_EQ(kiv_dll_get_input_float(0), static_cast<double>(value));
    }
}

}  // namespace
