// Justified goals: a located message for each kind of malformed justification
// file, and runs of the real library whose reports count justified goals,
// warn about wrong justifications and apply --fail-under to percent covered.
#include "kivrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>

#include "host_test.h"
#include "suite/unproven.h"

namespace {

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kExample = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv";
const std::string kExampleJustify = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.justify.csv";

const kiv::Schema& schema() {
    static const kiv::Catalog catalog = kiv::load_catalog(KIV_CATALOG_PATH);
    static const kiv::Schema s = kiv::Schema::of(catalog);
    return s;
}

std::vector<kiv::Justification> parse(const std::string& text, const kiv::Schema& s = schema()) {
    std::vector<kiv::Justification> list;
    kiv::parse_justifications("j.csv", text, s, list);
    return list;
}

TEST(KivrunJustify, ReadsIdsNamesNotesAndQuotedReasons) {
    const auto list =
        parse("# why\r\nGoal;Reason;note\r\n1564;never false;x\r\nkiv_g155;\"unsigned,\r\n  never below 0\"\r\n\r\n");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(schema().goals[list[0].goal].id, 1564);
    EXPECT_EQ(list[0].line, 3);
    EXPECT_EQ(schema().goals[list[1].goal].info->goal, 155);
    EXPECT_EQ(list[1].reason, "unsigned, never below 0");  // one line in every report
}

using kivtest::Malformed;

const Malformed kMalformed[] = {
    {"NoGoalColumn", "reason\nx\n", "1:1", "no 'goal' column"},
    {"NoReasonColumn", "goal,note\n1564,x\n", "1:1", "no 'reason' column"},
    {"UnknownColumn", "goal,reason,owner\n", "1:13",
     "unknown column 'owner'; expected goal, reason, note, method, proof or tool"},
    {"ProofWithoutMethod", "goal,reason,method,proof\n1564,x,,cnt <= 1\n", "2:1",
     "KIV_G15 (ID 1564) has a proof or tool but no method"},
    {"RepeatedColumn", "goal,reason,goal\n", "1:13", "repeats the column at column 1"},
    {"NoHeader", "# nothing\n", "1:1", "no header row"},
    {"UnknownGoalId", "goal,reason\n1543,x\n", "2:1", "'1543' is not the variable ID of a goal"},
    {"InputIdIsNoGoal", "goal,reason\n959,x\n", "2:1", "expected a goal's variable ID (176 IDs from 1542 to 1892)"},
    {"UnknownGoalName", "goal,reason\nKIV_G177,x\n", "2:1", "unknown goal 'KIV_G177'"},
    {"NoGoal", "goal,reason\n,x\n", "2:1", "no goal"},
    {"EmptyReason", "goal,reason\n1564,\n", "2:6", "empty reason for KIV_G15 (ID 1564)"},
    {"BlankQuotedReason", "goal,reason\n1564,\" \n \"\n", "2:6", "empty reason"},
    {"NoReasonCell", "goal,reason\n1564\n", "2:1", "empty reason"},
    {"GoalTwiceByIdAndName", "goal,reason\n1852,a\nKIV_G155,b\n", "3:1",
     "KIV_G155 (ID 1852) is already justified at j.csv:2"},
    {"CellBeyondTheHeader", "goal,reason\n1564,x,y\n", "2:8", "cell beyond the last column"},
    {"McdcUnknownDecision", "goal,reason\nMCDC:TU18ixa_cc_cond1:0,x\n", "2:1",
     "'TU18ixa_cc_cond1' is not a decision record"},
    {"McdcWithoutCondition", "goal,reason\nMCDC:TU18ixa_dc_cond1,x\n", "2:1",
     "expected MCDC:<decision record>:<condition index or record>"},
    {"McdcEmptyReason", "goal,reason\nMCDC:TU18ixa_dc_cond1:0,\n", "2:25", "empty reason for MCDC:TU18ixa_dc_cond1:0"},
};

class KivrunMalformedJustification : public testing::TestWithParam<Malformed> {};

TEST_P(KivrunMalformedJustification, IsRejectedWithItsPosition) {
    kivtest::expect_rejected([](const std::string& text) { parse(text); }, "j.csv", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kinds, KivrunMalformedJustification, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<Malformed>& p) { return std::string(p.param.name); });

TEST(KivrunJustify, AGoalJustifiedInTwoFilesNamesTheFirstAndKeepsTheListAsItWas) {
    const std::string a = kivtest::write_file("a.justify.csv", "goal,reason\nKIV_G15,x\n");
    const std::string b = kivtest::write_file("b.justify.csv", "goal,reason\nKIV_G23,y\n1564,z\n");
    try {
        kiv::load_justifications({a, b}, schema());
        FAIL();
    } catch (const kiv::SuiteError& e) {
        ASSERT_EQ(e.diagnostics.size(), 1u);
        EXPECT_EQ(e.diagnostics[0].str(), b + ":3:1: KIV_G15 (ID 1564) is already justified at " + a +
                                              ":2; expected each goal once across all justification files");
    }
    std::vector<kiv::Justification> list;
    kiv::parse_justifications("a", "goal,reason\n1564,x\n", schema(), list);
    EXPECT_THROW(kiv::parse_justifications("b", "goal,reason\n1582,y\n1564,z\n", schema(), list), kiv::SuiteError);
    EXPECT_EQ(list.size(), 1u);
}

TEST(KivrunJustify, GoalNamesNeedTheCatalogButIdsDoNot) {
    kiv::Schema bare;
    bare.goals.push_back({1852, nullptr});
    EXPECT_EQ(parse("goal,reason\n1852,x\n", bare).size(), 1u);
    try {
        parse("goal,reason\nKIV_G155,x\n", bare);
        FAIL();
    } catch (const kiv::SuiteError& e) {
        EXPECT_NE(e.diagnostics.at(0).message.find("needs the catalog"), std::string::npos) << e.what();
    }
}

// Occupied seat, power state 1, a press on step 2: reaches 112 goals, but
// neither cast goal nor the false outcome of the wrapper's first decision.
const char* const kPress =
    "case,scope,959,966,968,970,980\n"
    "press,955,30,1,1,0,0\n"
    ",,,,,,1\n";
const char* const kCastAndTick = "goal,reason\nKIV_G155,unsigned\n1854,stage 0..3\nKIV_G23,counter is 0\n";

TEST(KivrunJustifiedReports, JsonCountsJustifiedGoalsPerCriterionWithTheirReasons) {
    const std::string suite = kivtest::write_file("press.csv", kPress);
    const std::string just = kivtest::write_file("cast.justify.csv", kCastAndTick);
    const std::string json = kivtest::write_file("justified.json", "");
    const auto r = kivtest::kivrun("run " + kLib + " " + suite + " -q --justify " + just + " --json " + json);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = nlohmann::json::parse(kivtest::read_file(json));
    std::map<std::string, int> justified;
    for (const auto& c : j["coverage"]["criteria"]) {
        SCOPED_TRACE(c.dump());
        justified[c["criterion"]] = c["justified"];
        const double covered = 100.0 * (c["reached"].get<int>() + c["justified"].get<int>()) / c["total"].get<int>();
        EXPECT_DOUBLE_EQ(c["covered_percent"].get<double>(), covered);
    }
    EXPECT_EQ(justified, (std::map<std::string, int>{{"statement", 0},
                                                     {"decision", 1},
                                                     {"condition", 0},
                                                     {"relational", 0},
                                                     {"cast", 2},
                                                     {"function", 0},
                                                     {"call", 0},
                                                     {"switch case", 0}}));
    EXPECT_EQ(j["coverage"]["total"]["justified"], 3);
    std::map<int, std::string> reasons;
    for (const auto& g : j["goals"])
        if (g.contains("justification")) {
            EXPECT_EQ(g["status"], "justified");
            reasons[g["goal"]] = g["justification"]["reason"];
        }
    EXPECT_EQ(reasons, (std::map<int, std::string>{{23, "counter is 0"}, {155, "unsigned"}, {156, "stage 0..3"}}));
    EXPECT_TRUE(j["warnings"].empty());
}

// A justification or proof of a goal a case reaches hides a gap: the run
// fails, the goal counts as reached, and every format names the error.
struct WrongJustification {
    const char* name;
    const char* file;  // justifies KIV_G24, the true outcome of tick_counter < 1, reached on the first step
    const char* what;
};
const WrongJustification kWrong[] = {
    {"ByHand", "goal,reason\nKIV_G24,never true\n", "justified as not reachable ({just}:2) but case press step 1 "
                                                     "({suite}:2) reached it: the justification is wrong"},
    {"ByATool", "goal,reason,method,proof,tool\nKIV_G24,never true,value range,cnt is 0,prover 1\n",
     "proven not reachable ({just}:2) but case press step 1 ({suite}:2) reached it: the proof by prover 1 is wrong"},
};

class KivrunWrongJustification : public testing::TestWithParam<WrongJustification> {};

TEST_P(KivrunWrongJustification, FailsTheRunInEveryFormat) {
    const std::string name = GetParam().name;
    const std::string suite = kivtest::write_file(name + ".csv", kPress);
    const std::string just = kivtest::write_file(name + ".justify.csv", GetParam().file);
    const std::string json = kivtest::write_file(name + ".json", ""), xml = kivtest::write_file(name + ".xml", "");
    const auto r =
        kivtest::kivrun("run " + kLib + " " + suite + " --justify " + just + " --json " + json + " --junit " + xml);
    std::string error = "KIV_G24 is " + std::string(GetParam().what);
    for (auto [key, value] : {std::pair<std::string, std::string>{"{just}", just}, {"{suite}", suite}})
        error.replace(error.find(key), key.size(), value);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.out.find("Errors (1):\n  " + error + "\n"), std::string::npos) << r.out;
    const auto j = nlohmann::json::parse(kivtest::read_file(json));
    EXPECT_EQ(j["coverage"]["total"]["justified"], 0);
    EXPECT_EQ(j["summary"]["all_passed"], false);
    ASSERT_EQ(j["errors"].size(), 1u);
    EXPECT_EQ(j["errors"][0]["message"], error);
    EXPECT_EQ(j["errors"][0]["step"], 1);
    const std::string x = kivtest::read_file(xml);
    EXPECT_NE(x.find("<system-out>error: " + error + "\n</system-out>"), std::string::npos) << x;
}

INSTANTIATE_TEST_SUITE_P(Sources, KivrunWrongJustification, testing::ValuesIn(kWrong),
                         [](const testing::TestParamInfo<WrongJustification>& p) { return std::string(p.param.name); });

// Proofs and hand justifications are counted apart, beside reached and
// unknown goals, in every format; a proof keeps its method and tool.
TEST(KivrunJustifiedReports, ProvenGoalsAreCountedApartFromHandJustifications) {
    const std::string suite = kivtest::write_file("verdicts.csv", kPress);
    const std::string proofs = kivtest::write_file(
        "verdicts.proven.csv", "goal,reason,method,proof,tool\nKIV_G155,unsigned,value range,types,kivinst 0.1\n");
    const std::string hand = kivtest::write_file("verdicts.justify.csv", "goal,reason\n1854,stage 0..3\n");
    const std::string json = kivtest::write_file("verdicts.json", ""), xml = kivtest::write_file("verdicts.xml", "");
    const auto r = kivtest::kivrun("run " + kLib + " " + suite + " --justify " + proofs + " --justify " + hand +
                                   " --json " + json + " --junit " + xml);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Verdicts: 112 reached, 1 proven unreachable, 1 justified by hand, 62 unknown\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("proven (value range, kivinst 0.1): unsigned\n      by: types\n"), std::string::npos) << r.out;
    const auto j = nlohmann::json::parse(kivtest::read_file(json));
    const auto& total = j["coverage"]["total"];
    EXPECT_EQ(total["justified"], 2);
    EXPECT_EQ(total["proven"], 1);
    EXPECT_EQ(total["justified_by_hand"], 1);
    EXPECT_EQ(total["unknown"], 62);
    for (const auto& g : j["goals"])
        if (g["goal"] == 155) {
            EXPECT_EQ(g["status"], "proven");
            EXPECT_EQ(g["justification"]["tool"], "kivinst 0.1");
        }
    // The JSON reads back with its proofs: the report from it says the same.
    const auto again = kivtest::kivrun("report " + json);
    EXPECT_NE(again.out.find("1 proven unreachable, 1 justified by hand"), std::string::npos) << again.out << again.err;
    const std::string x = kivtest::read_file(xml);
    EXPECT_NE(x.find("<property name=\"goals.proven\" value=\"1\"/>"), std::string::npos) << x;
}

struct Gate {
    const char* name;
    const char* args;  // {lib}, {suite}, {just}, {example}, {example-just} are replaced
    int code;
    const char* out;
    const char* err;
};

const Gate kGates[] = {
    {"PercentReachedWithoutJustifications", "run {lib} {suite} --fail-under cast=100", 1, "cast 0.0% < 100.0%: NOT MET",
     ""},
    {"PercentCoveredWithJustifications", "run {lib} {suite} --justify {just} --fail-under cast=100", 0,
     "Thresholds (percent covered: reached + justified):\n  cast 100.0% >= 100.0%: met", ""},
    {"JustificationsDoNotFillOpenGoals", "run {lib} {suite} --justify {just} --fail-under total=100", 1,
     "total 65.3% < 100.0%: NOT MET", ""},
    {"JustifyBeforeTheSuiteTakesOneFile", "run {lib} --justify {just} {suite} --fail-under DC=68", 0,
     "decision 68.8% >= 68.0%: met", ""},
    {"ExampleSuiteFallsShortAlone", "run {lib} {example} --fail-under total=100", 1, "total 86.9% < 100.0%", ""},
    {"ExampleSuiteIsFullyCoveredWithItsJustifications",
     "run {lib} {example} --justify {example-just} --fail-under total=100", 0,
     "  total             153         23    176       86.9      100.0\n", ""},
    {"MalformedJustificationRunsNothing", "run {lib} {suite} --justify {suite}", 2, "",
     "{suite}:1:1: unknown column 'case'; expected goal, reason, note, method, proof or tool"},
    {"MissingJustificationFile", "run {lib} {suite} --justify {suite}.none", 2, "",
     "{suite}.none: cannot read the justification file"},
};

std::string expand(std::string s, const std::string& suite, const std::string& just) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{lib}", kLib},
                              {"{suite}", suite},
                              {"{just}", just},
                              {"{example-just}", kExampleJustify},
                              {"{example}", kExample}})
        for (std::size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    return s;
}

class KivrunFailUnder : public testing::TestWithParam<Gate> {};

TEST_P(KivrunFailUnder, ComparesPercentCovered) {
    const Gate& g = GetParam();
    const std::string suite = kivtest::write_file(std::string(g.name) + ".csv", kPress);
    const std::string just = kivtest::write_file(std::string(g.name) + ".justify.csv", kCastAndTick);
    const auto r = kivtest::kivrun(expand(g.args, suite, just));
    EXPECT_EQ(r.code, g.code) << r.out << r.err;
    EXPECT_NE(r.out.find(expand(g.out, suite, just)), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(expand(g.err, suite, just)), std::string::npos) << r.err;
    if (g.code == 2) {
        EXPECT_EQ(r.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Gates, KivrunFailUnder, testing::ValuesIn(kGates),
                         [](const testing::TestParamInfo<Gate>& p) { return std::string(p.param.name); });

TEST(KivrunExampleJustifications, CoverEveryGoalTheExampleSuiteLeavesOpenAndNoOther) {
    kiv::Target target(kLib);
    const kiv::Plan plan = kiv::load_suites({kExample}, target.schema(), {});
    auto justifications = kiv::load_justifications({kExampleJustify}, target.schema());
    const auto result = kiv::run(target, plan, {});
    kiv::RunDescription desc;
    desc.justification_files = {kExampleJustify};
    const kiv::Summary s = kiv::summarize(kiv::make_result(target, plan, result, desc, justifications, {}));
    EXPECT_EQ(s.total.reached, 153u);
    EXPECT_EQ(s.total.justified, 23u);
    EXPECT_TRUE(s.contradictions.empty());
    for (const auto& row : s.criteria)
        EXPECT_DOUBLE_EQ(row.covered_percent(), 100.0) << row.criterion;
}


// ---- the goals kivinst leaves open ----

std::vector<kiv::UnsettledGoal> parse_unproven(const std::string& text) {
    return kiv::parse_unproven("u.csv", text, schema());
}

TEST(KivrunUnproven, ReadsKivinstsFileWithCommentsAndAnyColumnOrder) {
    const auto list = parse_unproven(
        "# left open\ngoal,record,flag,not_within,why\nKIV_G15,TU16ixa_dc_cond5,falseSeen,12,\"the invariant\n allows it\"\n"
        "\nkiv_g155,TU18_CAST_1,belowMin,0,x,\n");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(schema().goals[list[0].goal].id, 1564);
    EXPECT_EQ(list[0].what.not_within, 12u);
    EXPECT_EQ(list[0].what.why, "the invariant  allows it");  // one line in every report
    EXPECT_EQ(list[0].what.file + ":" + std::to_string(list[0].what.line), "u.csv:3");
    EXPECT_EQ(schema().goals[list[1].goal].id, 1852);
    EXPECT_EQ(parse_unproven("why,not_within,goal\nx,3,KIV_G15\n").at(0).what.not_within, 3u);
}

const Malformed kMalformedUnproven[] = {
    {"NoBoundColumn", "goal,record,flag,why\n", "1:1", "no 'not_within' column"},
    {"UnknownColumn", "goal,steps,not_within,why\n", "1:6", "unknown column 'steps'"},
    {"RepeatedColumn", "goal,why,not_within,goal\n", "1:21", "column 'goal' repeats"},
    {"NoHeader", "# nothing\n", "1:1", "no header row"},
    {"GoalTheCatalogLacks", "goal,not_within,why\nKIV_G177,1,x\n", "2:1", "unknown goal 'KIV_G177'"},
    {"GoalById", "goal,not_within,why\n1564,1,x\n", "2:1", "unknown goal '1564'; expected KIV_G<n>"},
    {"RecordOfAnotherBuild", "goal,record,not_within,why\nKIV_G15,TU16ixa_dc_cond6,1,x\n", "2:9",
     "KIV_G15 has record 'TU16ixa_dc_cond5' in the catalog, not 'TU16ixa_dc_cond6'"},
    {"FlagOfAnotherBuild", "goal,flag,not_within,why\nKIV_G15,trueSeen,1,x\n", "2:9", "has flag 'falseSeen'"},
    {"BoundNotANumber", "goal,not_within,why\nKIV_G15,twelve,x\n", "2:9", "not_within 'twelve' of KIV_G15 is not a whole"},
    {"NegativeBound", "goal,not_within,why\nKIV_G15,-1,x\n", "2:9", "not_within '-1'"},
    {"BoundBeyondRange", "goal,not_within,why\nKIV_G15,4294967296,x\n", "2:9", "not_within '4294967296'"},
    {"EmptyBound", "goal,not_within,why\nKIV_G15,,x\n", "2:9", "not_within ''"},
    {"GoalTwice", "goal,not_within,why\nKIV_G15,1,x\nKIV_G15,2,y\n", "3:1", "KIV_G15 is already listed on line 2"},
    {"CellBeyondTheHeader", "goal,not_within,why\nKIV_G15,1,x,y\n", "2:13", "cell beyond the last column"},
};

class KivrunMalformedUnproven : public testing::TestWithParam<Malformed> {};

TEST_P(KivrunMalformedUnproven, IsRejectedWithItsPosition) {
    kivtest::expect_rejected([](const std::string& text) { parse_unproven(text); }, "u.csv", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kinds, KivrunMalformedUnproven, testing::ValuesIn(kMalformedUnproven),
                         [](const testing::TestParamInfo<Malformed>& p) { return std::string(p.param.name); });

}  // namespace
