// Suite parsing against the generated catalog: what a good suite compiles to,
// and a located message for each kind of malformed suite.
#include "kivrun.h"

#include <gtest/gtest.h>

#include <sstream>

#include <fstream>

#include "host_test.h"

namespace {

const kiv::Catalog& catalog() {
    static const kiv::Catalog c = kiv::load_catalog(KIV_CATALOG_PATH);
    return c;
}

kiv::Plan parse(const std::string& text, bool wrap = false) {
    static const kiv::Schema schema = kiv::Schema::of(catalog());
    kiv::Plan plan;
    kiv::parse_suite("s.csv", text, schema, {wrap}, plan);
    return plan;
}

int input_index(int32_t id) {
    const auto& in = catalog().inputs;
    for (std::size_t i = 0; i < in.size(); ++i)
        if (in[i].id == id) return static_cast<int>(i);
    return -1;
}

TEST(KivrunSuite, CompilesCasesStepsInputsAndChecks) {
    const kiv::Plan plan = parse(
        "# a comment line\r\n"
        "case,scope,959,Wrapper_seat_heating_control.SeatOccupied,note,expect runa3.SetHeatingCoil_temp\r\n"
        "first,955,30,1,\"quoted, with comma\",\r\n"
        ",,,,,\r\n"
        ",Wrapper_seat_heating_control,,0,,\r\n"
        "  # indented comment\n"
        "second,runa3,,,,45\n");
    ASSERT_EQ(plan.cases.size(), 2u);
    EXPECT_EQ(plan.cases[0].name, "first");
    EXPECT_EQ(plan.cases[0].n_steps, 2u);  // the blank row is no step
    EXPECT_EQ(plan.cases[1].line, 7);
    ASSERT_EQ(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps[1].scope, 955);
    EXPECT_EQ(plan.steps[2].scope, 997);
    // An empty cell sets nothing: the harness variable keeps its value.
    EXPECT_EQ(plan.steps[0].n_inputs, 2u);
    EXPECT_EQ(plan.steps[1].n_inputs, 1u);
    EXPECT_EQ(plan.inputs[0].index, input_index(959));
    EXPECT_EQ(plan.inputs[0].value, 30);
    EXPECT_EQ(plan.inputs[2].index, input_index(966));
    ASSERT_EQ(plan.expects.size(), 1u);
    EXPECT_EQ(plan.expects[0].value, 45);
    EXPECT_EQ(catalog().outputs[plan.expects[0].output].name, "runa3.SetHeatingCoil_temp");
}

TEST(KivrunSuite, InheritsTheScopeAndReadsSemicolonSeparatedFiles) {
    const kiv::Plan plan = parse("case;scope;986\nc;runa2;1\n;;0\n;981;1\n");
    ASSERT_EQ(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps[1].scope, 981);
    EXPECT_EQ(plan.inputs[1].value, 0);
}

TEST(KivrunSuite, WrapLetsValuesThroughThatTheLibraryStoresModulo256) {
    const kiv::Plan plan = parse("case,scope,959,966\nc,955,300,7\n", true);
    ASSERT_EQ(plan.inputs.size(), 2u);
    EXPECT_EQ(plan.inputs[0].value, 300);
    EXPECT_EQ(plan.inputs[1].value, 7);
}

TEST(KivrunSuite, AFailedFileLeavesThePlanAsItWas) {
    static const kiv::Schema schema = kiv::Schema::of(catalog());
    kiv::Plan plan;
    kiv::parse_suite("a.csv", "case,scope\na,955\n", schema, {}, plan);
    EXPECT_THROW(kiv::parse_suite("b.csv", "case,scope\nb,955\na,955\nc,999\n", schema, {}, plan), kiv::SuiteError);
    EXPECT_EQ(plan.cases.size(), 1u);
    EXPECT_EQ(plan.files.size(), 1u);
}

using kivtest::Malformed;

const Malformed kMalformed[] = {
    {"UnknownColumn", "case,scope,bogus\nc,955,1\n", "1:12", "unknown column 'bogus'"},
    {"EmptyColumnHeader", "case,scope,,959\nc,955,,1\n", "1:12", "empty column header"},
    {"IdThatIsNotWritable", "case,scope,1542\n", "1:12", "not a writable variable ID"},
    {"RepeatedColumn", "case,scope,959,Wrapper_seat_heating_control.TemperatureStage1\nc,955,1,2\n", "1:16",
     "repeats the column at column 12"},
    {"UnknownOutput", "case,scope,expect runa9.Nothing\n", "1:12", "unknown output 'runa9.Nothing'"},
    {"NoScopeColumn", "case,959\nc,1\n", "1:1", "no 'scope' column"},
    {"NoCaseColumn", "scope,959\n955,1\n", "1:1", "no 'case' column"},
    {"UnknownScopeUid", "case,scope\nc,999\n", "2:3", "unknown scope '999'"},
    {"UnknownScopeName", "case,scope\nc,runa7\n", "2:3", "expected one of 955 (Wrapper_seat_heating_control)"},
    {"NonNumericValue", "case,scope,959\nc,955,warm\n", "2:7", "'warm' is not a number"},
    {"FractionalValue", "case,scope,959\nc,955,1.5\n", "2:7", "expected an integer 0..255"},
    {"ValueTheLibraryWouldWrap", "case,scope,959\nc,955,300\n", "2:7", "would store 44"},
    {"NegativeValue", "case,scope,959\nc,955,-1\n", "2:7", "would store 255"},
    {"BooleanOutOfRange", "case,scope,966\nc,955,2\n", "2:7", "expected 0 or 1"},
    {"ValueBeyond64Bits", "case,scope,959\nc,955,99999999999999999999\n", "2:7", "is not a number"},
    {"ExpectationOutOfRange", "case,scope,expect runa1.ActivationCondition\nc,987,256\n", "2:7", "0..255"},
    {"InputOfAnotherScope", "case,scope,990\nc,955,1\n", "2:7", "belongs to scope 987 (runa1)"},
    {"ExpectationOfAnotherScope", "case,scope,expect runa1.ActivationCondition\nc,runa3,1\n", "2:9",
     "belongs to scope 987"},
    {"StepWithoutCase", "case,scope\n,955\n", "2:1", "step without a case"},
    {"FirstStepWithoutScope", "case,scope\nc,\n", "2:3", "has no scope"},
    {"CaseNameReappears", "case,scope\na,955\nb,955\na,955\n", "4:1", "already defined at s.csv:2"},
    {"CellBeyondTheHeader", "case,scope\nc,955,5\n", "2:7", "cell beyond the last column"},
    {"UnclosedQuote", "case,scope\n\"c,955\n", "2:1", "never closed"},
    {"TextAfterQuote", "case,scope\n\"c\"x,955\n", "2:4", "unexpected text after a quoted cell"},
    {"NoHeader", "# only a comment\n", "1:1", "no header row"},
    {"NoSteps", "case,scope\n", "1:1", "has no steps"},
};

class KivrunMalformedSuite : public testing::TestWithParam<Malformed> {};

TEST_P(KivrunMalformedSuite, IsRejectedWithItsPosition) {
    kivtest::expect_rejected([](const std::string& text) { parse(text); }, "s.csv", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kinds, KivrunMalformedSuite, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<Malformed>& p) { return std::string(p.param.name); });

TEST(KivrunSuite, ReportsEveryProblemOfEveryFileAtOnce) {
    const kiv::Schema schema = kiv::Schema::of(catalog());
    try {
        kiv::load_suites({"/nonexistent/suite.csv"}, schema, {});
        FAIL();
    } catch (const kiv::SuiteError& e) {
        ASSERT_EQ(e.diagnostics.size(), 1u);
        EXPECT_EQ(e.diagnostics[0].str(), "/nonexistent/suite.csv: cannot read the suite file");
    }
    try {
        parse("case,scope,959\na,955,x\n,,300\n,999,\n");
        FAIL();
    } catch (const kiv::SuiteError& e) {
        EXPECT_EQ(e.diagnostics.size(), 3u) << e.what();
    }
}

TEST(KivrunSuite, NamesWhyAFileCannotBeASuite) {
    const kiv::Schema schema = kiv::Schema::of(catalog());
    const std::string dir = testing::TempDir();
    const std::string empty = dir + "kivrun_empty.csv";
    std::ofstream{empty};
    const struct {
        std::string file, message;
    } rows[] = {
        {"/nonexistent/suite.csv", "cannot read the suite file"},
        {empty, "the suite file is empty"},
        {dir, "is a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        try {
            kiv::load_suites({row.file}, schema, {});
            ADD_FAILURE() << "accepted";
        } catch (const kiv::SuiteError& e) {
            ASSERT_EQ(e.diagnostics.size(), 1u);
            EXPECT_NE(e.diagnostics[0].str().find(row.message), std::string::npos) << e.diagnostics[0].str();
        }
    }
}

TEST(KivrunThresholds, ParseCriterionNamesAndKinds) {
    EXPECT_EQ(kiv::parse_threshold("decision=90").criterion, "decision");
    EXPECT_EQ(kiv::parse_threshold("DC=90").criterion, "decision");
    EXPECT_EQ(kiv::parse_threshold("switch=100").criterion, "switch case");
    EXPECT_DOUBLE_EQ(kiv::parse_threshold("total=85.5").percent, 85.5);
    for (const char* bad : {"decision", "decision=", "decision=101", "decision=abc", "coverage=50", "total=-1",
                            "total=1e2", "total=.5", "total=50.1234567"})
        EXPECT_THROW(kiv::parse_threshold(bad), kiv::Error) << bad;
}

// Thresholds compare the exact share, never a rounded one, and the printed
// figures show the side of the threshold the share is on.
struct Gate {
    std::size_t covered, total;
    const char* required;
    bool met;
    const char* actual_text;
};
const Gate kGates[] = {
    {141, 176, "80.11", true, "80.114"},   // 80.1136...: rounded to 80.11 it would tie
    {27, 32, "84.38", false, "84.375"},    // rounded to one decimal, 84.4 would pass
    {27, 32, "84.375", true, "84.4"},      // exactly equal
    {176, 176, "100", true, "100.0"},
    {175, 176, "100", false, "99.4"},
    {0, 0, "100", true, "100.0"},          // no goals: nothing is missing
};

TEST(KivrunThresholds, CompareExactlyAndPrintTheDecidingDigits) {
    for (const Gate& g : kGates) {
        kiv::CoverageRow row;
        row.reached = g.covered;
        row.total = g.total;
        const auto t = kiv::parse_threshold(std::string("total=") + g.required);
        EXPECT_EQ(row.meets(t.percent), g.met) << g.covered << "/" << g.total << " vs " << g.required;
        EXPECT_EQ(kiv::percent_text(row.covered_percent(), t.percent), g.actual_text) << g.required;
    }
}

// A suite written by a spreadsheet on another platform carries bytes that are
// not UTF-8; every report still is well formed and reads back.
TEST(KivrunReports, NamesThatAreNotUtf8StillGiveWellFormedReports) {
    kiv::Result r;
    r.run.suites = {"Sitz\xfc.csv"};
    kiv::CaseResult c;
    c.suite = r.run.suites[0];
    c.name = "Sitz_Pr\xfc\x01fung";
    c.step_lines = {2};
    c.verdict = kiv::Verdict::failed;
    c.mismatch_count = 1;
    c.mismatches.push_back({1, 2, "out\x1b[31m", "1", 0});
    r.cases.push_back(c);
    const kiv::Summary s = kiv::summarize(r);
    std::ostringstream json, junit;
    kiv::write_json(r, json);
    std::istringstream back(json.str());
    EXPECT_EQ(kiv::read_json(back, "r.json").cases.at(0).mismatches.size(), 1u);
    kiv::write_junit(r, s, junit);
    const std::string xml = kivtest::write_file("not_utf8.xml", junit.str());
    const auto lint = kivtest::run_command("xmllint --noout " + xml);
    EXPECT_EQ(lint.code, 0) << lint.err << junit.str();
}

}  // namespace
