// The goal mapping checked field by field: setting one record field alone must
// raise exactly the goal that the numbering rules give it, and nothing for the
// records and fields that no goal reads. The expected numbers are computed
// here from the numbering rules, independently of the goal table.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "instrumentation/goal_harness.h"
#include "unit/Wrapper_seat_heating_control.h"
#include "unit/seat_heating_control.h"

namespace {

uint32_t* const kGoals[] = {
#define KIV_GOAL(n, record, field, rule) &KIV_G##n,
#include "unit/goals.def"
};
// goals.def lists the goals in number order, so kGoals[n - 1] is KIV_Gn.

struct Field {
    std::string name;
    uint8_t* byte;  // the flag, or the low byte of hitCount
    bool isCount;
};

struct Record {
    std::string name;  // e.g. TU18ixa_dc_cond4, TU16_RELOP_2
    std::string kind;  // STM FC SC DCF DC CC RELOP CAST
    std::vector<Field> fields;
    int32_t* callerId;
};

template <typename R>
Record describe(const char* kind, const char* name, R& rec);

#define FLAG(f)           \
    Field {               \
#f, &rec.f, false \
    }
template <>
Record describe(const char* kind, const char* name, IXA_STM_RECORD& rec) {
    return {name, kind, {Field{"hitCount", reinterpret_cast<uint8_t*>(&rec.hitCount), true}}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_FC_RECORD& rec) {
    return {name, kind, {FLAG(reached)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_SC_RECORD& rec) {
    return {name, kind, {FLAG(reached)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_DCF_RECORD& rec) {
    return {name, kind, {FLAG(reached)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_DC_RECORD& rec) {
    return {name, kind, {FLAG(falseSeen), FLAG(trueSeen)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_CC_RECORD& rec) {
    return {name, kind, {FLAG(falseSeen), FLAG(trueSeen)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_RELOP_RECORD& rec) {
    return {name, kind, {FLAG(trueSeen), FLAG(falseSeen), FLAG(oneBelow), FLAG(equal), FLAG(oneAbove)}, &rec.callerId};
}
template <>
Record describe(const char* kind, const char* name, IXA_CAST_RECORD& rec) {
    return {name, kind, {FLAG(belowMin), FLAG(aboveMax)}, &rec.callerId};
}
#undef FLAG

std::vector<Record> allRecords() {
    std::vector<Record> all;
#define IXA_RECORD(kind, record, function, text) all.push_back(describe(#kind, #record, record));
#include "unit/Wrapper_seat_heating_control_records.def"
#define IXA_RECORD(kind, record, function, text) all.push_back(describe(#kind, #record, record));
#include "unit/seat_heating_control_records.def"
    return all;
}

int recordNumber(const std::string& name) {
    return std::stoi(name.substr(name.find_last_not_of("0123456789") + 1));
}

int fieldIndex(const std::string& field, std::initializer_list<const char*> order) {
    int i = 0;
    for (const char* f : order) {
        if (field == f) return i;
        ++i;
    }
    return -1;
}

// The numbering rules: by unit, then kind, records in descending number,
// falseSeen before trueSeen. 0 means no goal reads the field.
int expectedGoal(const Record& r, const std::string& field) {
    const bool wrapper = r.name.rfind("TU16", 0) == 0;
    const int k = recordNumber(r.name);
    const int outcome = fieldIndex(field, {"falseSeen", "trueSeen"});
    const int relop = fieldIndex(field, {"falseSeen", "trueSeen", "oneBelow", "equal", "oneAbove"});
    if (wrapper) {
        if (r.kind == "STM") return k >= 2 && k <= 13 ? 14 - k : 0;
        if (r.kind == "DC") return 13 + 2 * (6 - k) + outcome;
        if (r.kind == "RELOP") return 25 + 5 * (6 - k) + relop;
        if (r.kind == "FC") return k == 2 ? 55 : 0;
        if (r.kind == "DCF") return k <= 6 ? 62 - k : 0;
        return -1;
    }
    if (r.kind == "STM") return k <= 14 ? 76 - k : 0;
    if (r.kind == "DC") return 76 + 2 * (10 - k) + outcome;
    if (r.kind == "CC") {
        const std::array<int, 12> order{16, 15, 14, 13, 12, 7, 6, 5, 4, 3, 2, 1};
        for (int i = 0; i < 12; ++i)
            if (order[i] == k) return 96 + 2 * i + outcome;
        return -1;
    }
    if (r.kind == "RELOP") return 120 + 5 * (7 - k) + relop;
    if (r.kind == "CAST") return field == "belowMin" ? 155 : 156;
    if (r.kind == "FC") return k <= 3 ? 160 - k : 0;
    if (r.kind == "DCF") return k <= 13 ? 173 - k : 0;
    if (r.kind == "SC") return 184 - k;
    return -1;
}

void clearGoals() {
    for (uint32_t* g : kGoals)
        *g = 0;
}

std::vector<int> raisedGoals() {
    std::vector<int> raised;
    for (int n = 1; n <= kKivGoalCount; ++n)
        if (*kGoals[n - 1] != 0) raised.push_back(n);
    return raised;
}

TEST(GoalMapping, TablesHaveTheirCounts) {
    EXPECT_EQ(std::size(kGoals), 176u);
    EXPECT_EQ(allRecords().size(), 105u);
}

TEST(GoalMapping, EachFieldRaisesExactlyItsGoal) {
    std::array<int, 177> seen{};
    for (const Record& r : allRecords()) {
        for (const Field& f : r.fields) {
            SCOPED_TRACE(r.name + "." + f.name);
            const int goal = expectedGoal(r, f.name);
            ASSERT_GE(goal, 0) << "no numbering rule for this record";
            clearGoals();
            *f.byte = f.isCount ? 7 : 1;  // a flag holds 0 or 1, a count anything
            kiv_goals_evaluate();
            *f.byte = 0;
            if (goal == 0) {
                EXPECT_EQ(raisedGoals(), std::vector<int>{}) << "a field no goal reads raised a goal";
                continue;
            }
            EXPECT_EQ(raisedGoals(), std::vector<int>{goal});
            EXPECT_EQ(*kGoals[goal - 1], f.isCount ? 7u : 1u) << "count goals copy hitCount, flag goals hold 1";
            ++seen[goal];
        }
    }
    for (int n = 1; n <= 176; ++n)
        EXPECT_EQ(seen[n], 1) << "KIV_G" << n << " must be read from exactly one field";
}

TEST(GoalMapping, CallerIdAndCalleeNameAreReadByNothing) {
    clearGoals();
    for (const Record& r : allRecords())
        *r.callerId = 3;
    TU18ixa_dcf_cond1.calleeName = "runa2";
    kiv_goals_evaluate();
    EXPECT_EQ(raisedGoals(), std::vector<int>{});
}

TEST(GoalMapping, SpotChecksAgainstTheDocumentedNumbers) {
    struct Row {
        uint8_t* field;
        int goal;
    } rows[] = {
        {&TU18ixa_sc_cond11.reached, 173},  // the default case
        {&TU18_CAST_1.belowMin, 155},      {&TU18_CAST_1.aboveMax, 156},       {&TU16_RELOP_6.falseSeen, 25},
        {&TU16_RELOP_6.trueSeen, 26},  // trueSeen comes first in the record, second in the goals
        {&TU16ixa_dc_cond1.trueSeen, 24},  {&TU18ixa_cc_cond1.falseSeen, 118}, {&TU18ixa_dcf_cond1.reached, 172},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.goal);
        clearGoals();
        *row.field = 1;
        kiv_goals_evaluate();
        *row.field = 0;
        EXPECT_EQ(raisedGoals(), std::vector<int>{row.goal});
    }
}

TEST(GoalRules, GoalsNeverFallBack) {
    TU16ixa_stm_cond2.hitCount = 3;
    TU16ixa_dc_cond2.trueSeen = 1;
    kiv_goals_evaluate();
    EXPECT_EQ(KIV_G12, 3u);
    EXPECT_EQ(KIV_G22, 1u);

    // A statement goal follows a growing count, and a zero count leaves it alone.
    TU16ixa_stm_cond2.hitCount = 4;
    kiv_goals_evaluate();
    EXPECT_EQ(KIV_G12, 4u);
    TU16ixa_stm_cond2.hitCount = 0;
    TU16ixa_dc_cond2.trueSeen = 0;
    kiv_goals_evaluate();
    EXPECT_EQ(KIV_G12, 4u);
    EXPECT_EQ(KIV_G22, 1u);
}

TEST(GoalRules, CountAboveTwoToThe31IsKeptWhole) {
    TU18ixa_stm_cond1.hitCount = 0x80000001u;
    kiv_goals_evaluate();
    EXPECT_EQ(KIV_G75, 0x80000001u);
}

}  // namespace
