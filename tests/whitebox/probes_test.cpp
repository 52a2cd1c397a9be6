// Marker, outcome and pointer condition probes, record layout, and the
// callerId stamp that every probe family writes.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "instrumentation/CodeAnnotation.h"

// Condition and relational records hold their outcome flags in opposite orders.
// Every other test addresses fields by name, so a swapped pair would pass them.
static_assert(offsetof(IXA_DC_RECORD, falseSeen) < offsetof(IXA_DC_RECORD, trueSeen));
static_assert(offsetof(IXA_CC_RECORD, falseSeen) < offsetof(IXA_CC_RECORD, trueSeen));
static_assert(offsetof(IXA_RELOP_RECORD, trueSeen) < offsetof(IXA_RELOP_RECORD, falseSeen));
static_assert(offsetof(IXA_RELOP_RECORD, falseSeen) < offsetof(IXA_RELOP_RECORD, oneBelow));
static_assert(offsetof(IXA_RELOP_RECORD, oneBelow) < offsetof(IXA_RELOP_RECORD, equal));
static_assert(offsetof(IXA_RELOP_RECORD, equal) < offsetof(IXA_RELOP_RECORD, oneAbove));
static_assert(offsetof(IXA_CAST_RECORD, belowMin) < offsetof(IXA_CAST_RECORD, aboveMax));
static_assert(offsetof(IXA_STM_RECORD, callerId) == 0 && offsetof(IXA_RELOP_RECORD, callerId) == 0);

namespace {

TEST(MarkerProbes, StatementCountsEveryRunAndWrapsAfterTheLargestCount) {
    IXA_STM_RECORD rec{};
    for (int i = 0; i < 3; ++i)
        IXA_STM(1, &rec);
    EXPECT_EQ(rec.hitCount, 3u);
    rec.hitCount = std::numeric_limits<uint32_t>::max();
    IXA_STM(1, &rec);
    EXPECT_EQ(rec.hitCount, 0u);
}

TEST(MarkerProbes, CallMarkerKeepsTheLatestCalleeName) {
    static const char first[] = "runa2";
    static const char second[] = "runa1";
    IXA_DCF_RECORD rec{};
    IXA_DCF(1, &rec, first);
    IXA_DCF(1, &rec, second);
    EXPECT_EQ(rec.reached, 1);
    EXPECT_EQ(rec.calleeName, second);  // the pointer itself, not a copy
}

TEST(MarkerProbes, EntryCaseAndIndirectCallMarkersSetReached) {
    IXA_FC_RECORD fc{};
    IXA_SC_RECORD sc{};
    IXA_ICF_RECORD icf{};
    IXA_FC(1, &fc);
    IXA_SC(2, &sc);
    IXA_ICF(3, &icf);
    EXPECT_EQ(fc.reached + sc.reached + icf.reached, 3);
}

// One probe of each family, so a family that forgets the stamp shows up.
TEST(CallerId, EveryProbeFamilyStampsTheCurrentCallerId) {
    IXA_CALLER_ID = 42;
    IXA_STM_RECORD stm{};
    IXA_FC_RECORD fc{};
    IXA_DCF_RECORD dcf{};
    IXA_DC_RECORD dc{};
    IXA_CC_RECORD cc{}, ptr{}, ptr1{};
    IXA_RELOP_RECORD relop{};
    IXA_CAST_RECORD castInt{}, castFloat{}, castToFloat{}, cast32fp{};
    IXA_DBZ_RECORD dbz{};
    const int16_t object = 0;
    const uint8_t flag = 0;
    IXA_STM(1, &stm);
    IXA_FC(1, &fc);
    IXA_DCF(1, &dcf, "runa3");
    IXA_DC_S(1, &dc, 0);
    IXA_CC_PTR_S_16(1, &ptr, &object);
    IXA_CC_PTR_1(1, &ptr1, &flag);
    IXA_CC_U_LL(1, &cc, 0);
    IXA_GEQ_SU(1, &relop, 0, 0);
    IXA_CAST_S_64(1, &castInt, 0, 0, 0);
    IXA_CAST_LD_U(1, &castFloat, 0.0L, 0, 0);
    IXA_CAST_D_F(1, &castToFloat, 0.0, 0.0, 0.0);
    IXA_CAST_S_32FP(1, &cast32fp, 0, 0.0, 0.0);
    IXA_DBZ_LD(1, &dbz, 1.0L);
    IXA_CALLER_ID = 0;
    for (int32_t id :
         {stm.callerId, fc.callerId, dcf.callerId, dc.callerId, ptr.callerId, ptr1.callerId, cc.callerId,
          relop.callerId, castInt.callerId, castFloat.callerId, castToFloat.callerId, cast32fp.callerId, dbz.callerId})
        EXPECT_EQ(id, 42);
}

TEST(OutcomeProbes, OutcomesAccumulateOverCalls) {
    IXA_DC_RECORD rec{};
    IXA_DC_S(1, &rec, 1);
    IXA_DC_S(1, &rec, 0);
    IXA_DC_S(1, &rec, 1);
    EXPECT_EQ(rec.falseSeen, 1);
    EXPECT_EQ(rec.trueSeen, 1);
}

// Outcome and pointer condition probes, driven through one shape: the value's
// bits go in, the record's flags and whether the probe handed back exactly what
// it wrapped come out.
struct Seen {
    int falseSeen;
    int trueSeen;
    bool returnedUnchanged;
};

template <class Record, class T, T (*Probe)(int32_t, Record*, T)>
Seen runOutcome(uint64_t bits) {
    Record rec{};
    const T value = static_cast<T>(bits);
    const T got = Probe(1, &rec, value);
    return {rec.falseSeen, rec.trueSeen, got == value};
}

template <class T, const T* (*Probe)(int32_t, IXA_CC_RECORD*, const T*)>
Seen runPointer(uint64_t bits) {
    IXA_CC_RECORD rec{};
    const T object = static_cast<T>(bits);
    const T* got = Probe(1, &rec, &object);
    return {rec.falseSeen, rec.trueSeen, got == &object};
}

struct ConditionRow {
    std::string name;
    Seen (*run)(uint64_t);
    uint64_t bits;
    int falseSeen;
    int trueSeen;
};
void PrintTo(const ConditionRow& row, std::ostream* os) {
    *os << row.name;
}

struct Probe {
    const char* name;
    Seen (*run)(uint64_t);
    int width;
};

const Probe kProbes[] = {{"DC_U", runOutcome<IXA_DC_RECORD, uint32_t, IXA_DC_U>, 32},
                         {"DC_S", runOutcome<IXA_DC_RECORD, int32_t, IXA_DC_S>, 32},
                         {"DC_U_LL", runOutcome<IXA_DC_RECORD, uint64_t, IXA_DC_U_LL>, 64},
                         {"DC_S_LL", runOutcome<IXA_DC_RECORD, int64_t, IXA_DC_S_LL>, 64},
                         {"CC_U", runOutcome<IXA_CC_RECORD, uint32_t, IXA_CC_U>, 32},
                         {"CC_S", runOutcome<IXA_CC_RECORD, int32_t, IXA_CC_S>, 32},
                         {"CC_U_LL", runOutcome<IXA_CC_RECORD, uint64_t, IXA_CC_U_LL>, 64},
                         {"CC_S_LL", runOutcome<IXA_CC_RECORD, int64_t, IXA_CC_S_LL>, 64},
#define POINTER_PROBE(SUFFIX, T) {"CC_PTR_" #SUFFIX, runPointer<T, IXA_CC_PTR_##SUFFIX>, 8 * int(sizeof(T))},
                         IXA_CC_PTR_PROBES(POINTER_PROBE)
#undef POINTER_PROBE
};

// Zero, a small value that must come back unnormalised, and the top bit alone,
// which only a test over the full width sees.
std::vector<ConditionRow> conditionRows() {
    std::vector<ConditionRow> rows;
    for (const Probe& p : kProbes) {
        rows.push_back({std::string(p.name) + "_of_0", p.run, 0, 1, 0});
        rows.push_back({std::string(p.name) + "_of_5", p.run, 5, 0, 1});
        rows.push_back({std::string(p.name) + "_of_top_bit", p.run, uint64_t{1} << (p.width - 1), 0, 1});
    }
    rows.push_back({"CC_PTR_U_16_of_256", runPointer<uint16_t, IXA_CC_PTR_U_16>, 256, 0, 1});
    rows.push_back({"CC_PTR_1_of_0", runPointer<uint8_t, IXA_CC_PTR_1>, 0, 1, 0});
    rows.push_back({"CC_PTR_1_of_1", runPointer<uint8_t, IXA_CC_PTR_1>, 1, 0, 1});
    rows.push_back({"CC_PTR_1_of_2", runPointer<uint8_t, IXA_CC_PTR_1>, 2, 1, 1});
    return rows;
}

class ConditionProbes : public testing::TestWithParam<ConditionRow> {};

TEST_P(ConditionProbes, RecordsTheOutcomeAndReturnsWhatItWrapped) {
    const ConditionRow& row = GetParam();
    const Seen seen = row.run(row.bits);
    EXPECT_EQ(seen.falseSeen, row.falseSeen);
    EXPECT_EQ(seen.trueSeen, row.trueSeen);
    EXPECT_TRUE(seen.returnedUnchanged);
}

INSTANTIATE_TEST_SUITE_P(All, ConditionProbes, testing::ValuesIn(conditionRows()),
                         [](const testing::TestParamInfo<ConditionRow>& info) { return info.param.name; });

}  // namespace
