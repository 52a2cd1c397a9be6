// Relational probes: the relation each member computes, and the outcome and
// boundary flags with their wrap-around at the signature's width.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>

#include "instrumentation/CodeAnnotation.h"

namespace {

enum : int { kTrue = 1, kFalse = 2, kOneBelow = 4, kEqual = 8, kOneAbove = 16 };

int flagsOf(const IXA_RELOP_RECORD& rec) {
    return (rec.trueSeen ? kTrue : 0) | (rec.falseSeen ? kFalse : 0) | (rec.oneBelow ? kOneBelow : 0) |
           (rec.equal ? kEqual : 0) | (rec.oneAbove ? kOneAbove : 0);
}

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kLongMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kLongMin = std::numeric_limits<int64_t>::min();

struct BoundaryRow {
    const char* name;
    int32_t (*call)(IXA_RELOP_RECORD*);
    int32_t result;
    int flags;
};
void PrintTo(const BoundaryRow& row, std::ostream* os) {
    *os << row.name;
}

const BoundaryRow kBoundaryRows[] = {
    {"LES_SS_3_4", [](IXA_RELOP_RECORD* r) { return IXA_LES_SS(1, r, 3, 4); }, 1, kTrue | kOneBelow},
    {"LES_SS_4_4", [](IXA_RELOP_RECORD* r) { return IXA_LES_SS(1, r, 4, 4); }, 0, kFalse | kEqual},
    {"LES_SS_5_4", [](IXA_RELOP_RECORD* r) { return IXA_LES_SS(1, r, 5, 4); }, 0, kFalse | kOneAbove},
    {"EQU_SS_5_5", [](IXA_RELOP_RECORD* r) { return IXA_EQU_SS(1, r, 5, 5); }, 1, kTrue | kEqual},
    {"NEQ_UU_5_5", [](IXA_RELOP_RECORD* r) { return IXA_NEQ_UU(1, r, 5, 5); }, 0, kFalse | kEqual},
    // The signed operand is compared as its 32-bit pattern.
    {"LES_US_0_minus1", [](IXA_RELOP_RECORD* r) { return IXA_LES_US(1, r, 0, -1); }, 1, kTrue | kOneAbove},
    {"GRE_SU_minus1_1", [](IXA_RELOP_RECORD* r) { return IXA_GRE_SU(1, r, -1, 1); }, 1, kTrue},
    {"GRE_SU_minus1_0", [](IXA_RELOP_RECORD* r) { return IXA_GRE_SU(1, r, -1, 0); }, 1, kTrue | kOneBelow},
    // Differences wrap at the signature's width.
    {"LES_UU_max_0", [](IXA_RELOP_RECORD* r) { return IXA_LES_UU(1, r, 4294967295u, 0); }, 0, kFalse | kOneBelow},
    {"GRE_SS_max_min", [](IXA_RELOP_RECORD* r) { return IXA_GRE_SS(1, r, kIntMax, kIntMin); }, 1, kTrue | kOneBelow},
    {"LES_SS_min_max", [](IXA_RELOP_RECORD* r) { return IXA_LES_SS(1, r, kIntMin, kIntMax); }, 1, kTrue | kOneAbove},
    {"GRE_SS_LL_max_min", [](IXA_RELOP_RECORD* r) { return IXA_GRE_SS_LL(1, r, kLongMax, kLongMin); }, 1,
     kTrue | kOneBelow},
    {"GEQ_SS_LL_minus1_0", [](IXA_RELOP_RECORD* r) { return IXA_GEQ_SS_LL(1, r, -1, 0); }, 0, kFalse | kOneBelow},
    // All 64 bits count: a 32-bit truncation would see 0 == 0, or 0 - 1.
    {"EQU_UU_LL_2p32_0", [](IXA_RELOP_RECORD* r) { return IXA_EQU_UU_LL(1, r, uint64_t{1} << 32, 0); }, 0, kFalse},
    {"GRE_UU_LL_2p32_1", [](IXA_RELOP_RECORD* r) { return IXA_GRE_UU_LL(1, r, uint64_t{1} << 32, 1); }, 1, kTrue},
    {"LES_UU_LL_0_max", [](IXA_RELOP_RECORD* r) { return IXA_LES_UU_LL(1, r, 0, ~uint64_t{0}); }, 1, kTrue | kOneAbove},
};

class RelationalBoundaries : public testing::TestWithParam<BoundaryRow> {};

TEST_P(RelationalBoundaries, ReturnsTheRelationAndSetsExactlyTheseFlags) {
    IXA_RELOP_RECORD rec{};
    EXPECT_EQ(GetParam().call(&rec), GetParam().result);
    EXPECT_EQ(flagsOf(rec), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(Cases, RelationalBoundaries, testing::ValuesIn(kBoundaryRows),
                         [](const testing::TestParamInfo<BoundaryRow>& info) { return std::string(info.param.name); });

TEST(RelationalProbes, FlagsAccumulateOverCallsOnOneRecord) {
    IXA_RELOP_RECORD rec{};
    IXA_LEQ_SS(1, &rec, 3, 4);
    IXA_LEQ_SS(1, &rec, 4, 4);
    EXPECT_EQ(flagsOf(rec), kTrue | kOneBelow | kEqual);
}

// Every member, generated from the same lists that define them, against a
// truth table written out by hand.
struct Member {
    const char* name;
    const char* op;
    bool signedEvaluation;
    int32_t (*call)(IXA_RELOP_RECORD*, int64_t, int64_t);
};
void PrintTo(const Member& m, std::ostream* os) {
    *os << m.name;
}

#define MEMBER(OP, SIG, L, R, EVAL)                                                               \
    {#OP "_" #SIG, #OP, std::is_signed_v<EVAL>, [](IXA_RELOP_RECORD* rec, int64_t l, int64_t r) { \
         return IXA_##OP##_##SIG(1, rec, static_cast<L>(l), static_cast<R>(r));                   \
     }},
#define OPERATOR(OP, CXXOP) IXA_RELOP_SIGNATURES(MEMBER, OP)
const Member kMembers[] = {IXA_RELOP_OPERATORS(OPERATOR)};
#undef OPERATOR
#undef MEMBER
static_assert(std::size(kMembers) == 36);

enum Order { kLess, kSame, kGreater };

struct Truth {
    const char* op;
    int32_t result[3];  // by Order
};
const Truth kTruth[] = {{"NEQ", {1, 0, 1}}, {"EQU", {0, 1, 0}}, {"LES", {1, 0, 0}},
                        {"LEQ", {1, 1, 0}}, {"GEQ", {0, 1, 1}}, {"GRE", {0, 0, 1}}};

class EveryRelationalMember : public testing::TestWithParam<Member> {};

TEST_P(EveryRelationalMember, ComputesItsRelationAndTheBoundaryFlags) {
    const Member& m = GetParam();
    const Truth* truth = nullptr;
    for (const Truth& t : kTruth)
        if (std::strcmp(t.op, m.op) == 0) truth = &t;
    ASSERT_NE(truth, nullptr);
    // -1 against 1 orders by the evaluation type: the unsigned pattern of -1 is the largest.
    const Order minusOneVsOne = m.signedEvaluation ? kLess : kGreater;
    const struct {
        int64_t left, right;
        Order order;
        int boundary;
    } pairs[] = {{1, 2, kLess, kOneBelow},
                 {2, 2, kSame, kEqual},
                 {2, 1, kGreater, kOneAbove},
                 {-1, 1, minusOneVsOne, 0},
                 {1, -1, Order(2 - minusOneVsOne), 0},
                 {7, 100, kLess, 0}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(testing::Message() << p.left << " vs " << p.right);
        IXA_RELOP_RECORD rec{};
        const int32_t expected = truth->result[p.order];
        EXPECT_EQ(m.call(&rec, p.left, p.right), expected);
        EXPECT_EQ(flagsOf(rec), (expected ? kTrue : kFalse) | p.boundary);
    }
}

INSTANTIATE_TEST_SUITE_P(All, EveryRelationalMember, testing::ValuesIn(kMembers),
                         [](const testing::TestParamInfo<Member>& info) { return std::string(info.param.name); });

}  // namespace
