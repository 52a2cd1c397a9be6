// MC/DC analysis against a brute-force reference: C++'s own && and || give
// the vectors, and a pair is checked by trying every full assignment.
#include "mcdc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "error.h"

namespace {

using kiv::mcdc::Vector;
// c(i) reads condition i and marks it evaluated.
using Reference = std::function<bool(const std::function<bool(int)>& c)>;

struct Row {
    const char* name;
    const char* expression;
    std::size_t conditions;  // 0: the decision alone
    Reference reference;
    std::vector<uint32_t> assignments;  // evaluated in this order; bit i is condition i
};

Vector reference_vector(const Row& row, std::size_t n, uint32_t a) {
    Vector v{std::string(n, '-'), false};
    v.outcome = row.reference([&](int i) {
        const bool b = (a >> i) & 1u;
        v.values[static_cast<std::size_t>(i)] = b ? 'T' : 'F';
        return b;
    });
    return v;
}

// Two vectors show i when they have completions that differ in i alone and in the outcome.
bool reference_shows(const Row& row, std::size_t n, const Vector& v, const Vector& w, std::size_t i) {
    if (v.values[i] == '-' || w.values[i] == '-') return false;
    auto agrees = [&](const Vector& x, uint32_t a) {
        for (std::size_t j = 0; j < n; ++j)
            if (x.values[j] != '-' && (x.values[j] == 'T') != (((a >> j) & 1u) != 0)) return false;
        return true;
    };
    for (uint32_t a = 0; a < (1u << n); ++a) {
        const uint32_t b = a ^ (1u << i);
        if (agrees(v, a) && agrees(w, b) && reference_vector(row, n, a).outcome != reference_vector(row, n, b).outcome)
            return true;
    }
    return false;
}

class McdcAnalysis : public ::testing::TestWithParam<Row> {};

TEST_P(McdcAnalysis, AgreesWithBruteForce) {
    const Row& row = GetParam();
    const kiv::mcdc::Expression e(row.expression, row.conditions);
    const std::size_t n = e.conditions();
    for (uint32_t a = 0; a < (1u << n); ++a)
        ASSERT_EQ(e.evaluate(a), reference_vector(row, n, a)) << "assignment " << a;
    std::vector<Vector> seen;
    for (uint32_t a : row.assignments)
        if (Vector v = e.evaluate(a); std::find(seen.begin(), seen.end(), v) == seen.end()) seen.push_back(v);
    const auto verdicts = kiv::mcdc::analyse(e, seen);
    ASSERT_EQ(verdicts.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE("condition " + std::to_string(i));
        bool any = false;
        for (std::size_t b = 0; b < seen.size(); ++b)
            for (std::size_t a = 0; a < b; ++a)
                any = any || reference_shows(row, n, seen[a], seen[b], i);
        ASSERT_EQ(verdicts[i].shown, any);
        if (verdicts[i].shown) {
            EXPECT_TRUE(reference_shows(row, n, seen[verdicts[i].first], seen[verdicts[i].second], i));
            continue;
        }
        // What is missing must be vectors the decision can produce, and adding them must show i.
        ASSERT_FALSE(verdicts[i].missing.empty());
        for (const Vector& m : verdicts[i].missing) {
            bool possible = false;
            for (uint32_t a = 0; a < (1u << n); ++a)
                possible = possible || reference_vector(row, n, a) == m;
            EXPECT_TRUE(possible) << m.values;
        }
        const Vector& other = verdicts[i].missing.size() == 2 ? verdicts[i].missing[1] : seen.at(verdicts[i].partner);
        EXPECT_TRUE(reference_shows(row, n, verdicts[i].missing[0], other, i));
    }
}

// Assignments: bit 0 is c0. "TT" reads c0 then c1.
const Row kRows[] = {
    // (1,1) and (0,0) set all four condition flags; a short circuit still shows c0 but not c1.
    {"AndWithBothTrueAndBothFalse", "c0 && c1", 2, [](auto& c) { return c(0) && c(1); }, {0b11, 0b00}},
    {"AndFully", "c0 && c1", 2, [](auto& c) { return c(0) && c(1); }, {0b11, 0b01, 0b10}},
    {"AndNothingSeen", "c0 && c1", 2, [](auto& c) { return c(0) && c(1); }, {}},
    {"ThreeAndsShortCircuited", "c0 && c1 && c2", 3, [](auto& c) { return c(0) && c(1) && c(2); },
     {0b111, 0b000, 0b001}},
    {"ThreeAndsOnlyFalse", "c0 && c1 && c2", 3, [](auto& c) { return c(0) && c(1) && c(2); }, {0b011, 0b101}},
    {"OrOfAnd", "c0 || (c1 && c2)", 3, [](auto& c) { return c(0) || (c(1) && c(2)); }, {0b001, 0b110, 0b010}},
    {"OrOfAndWithNegation", "!c0 && (c1 || !c2)", 3, [](auto& c) { return !c(0) && (c(1) || !c(2)); },
     {0b000, 0b100, 0b111}},
    {"AndOfOrsEverything", "(c0 || c1) && (c2 || c3)", 4,
     [](auto& c) { return (c(0) || c(1)) && (c(2) || c(3)); },
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
    {"SingleConditionBothWays", "c", 0, [](auto& c) { return c(0); }, {1, 0}},
    {"SingleConditionTrueOnly", "c", 0, [](auto& c) { return c(0); }, {1, 1}},
};

INSTANTIATE_TEST_SUITE_P(Decisions, McdcAnalysis, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(McdcExpression, RejectsWhatIsNotAFormulaOfEachConditionOnce) {
    const std::pair<const char*, std::size_t> bad[] = {
        {"c0 &&", 2}, {"c0 && c0", 2}, {"c0 || c2", 2}, {"(c0 && c1", 2}, {"c0 & c1", 2}, {"c0", 2}, {"", 0}};
    for (const auto& [text, n] : bad)
        EXPECT_THROW(kiv::mcdc::Expression(text, n), kiv::Error) << text;
}

}  // namespace
