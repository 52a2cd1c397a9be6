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

// A plan in one line per case: each step's scope, inputs by ID and checks.
std::string dump(const kiv::Plan& plan) {
    std::string s;
    for (const auto& c : plan.cases) {
        s += c.name + "[" + std::to_string(c.n_setup) + "]:";
        for (uint32_t k = c.first_step; k < c.first_step + c.n_steps; ++k) {
            const kiv::PlanStep& st = plan.steps[k];
            s += " " + std::to_string(st.scope);
            for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
                s += " " + std::to_string(catalog().inputs[plan.inputs[i].index].id) + "=" +
                     std::to_string(plan.inputs[i].value);
            for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e)
                s += " " + catalog().outputs[plan.expects[e].output].name + "=" +
                     kiv::expect_text(plan, plan.expects[e]);
            s += ";";
        }
        s += "\n";
    }
    return s;
}

struct Accepted {
    const char* name;
    const char* text;
    const char* plan;  // as dump() writes it
};

const Accepted kAccepted[] = {
    {"ShortNamesAnyCaseChosenByTheStepsScope",
     "CASE,Scope,seatoccupied,expect LEDFEEDBACK[0]\nc,wrapper_seat_heating_control,1,1\n,RUNA1,0,\n",
     "c[0]: 955 966=1 Wrapper_seat_heating_control.LEDFeedback[0]=1; 987 990=0;\n"},
    {"HexBinaryRangesSetsAndEmptyChecks",
     "case;scope;TemperatureStage1;expect SetHeatingCoil_temp\nc;runa3;0x1F;30..35\n;;0b101;0|45|1\n;;+7;\n",
     "c[0]: 997 1000=31 runa3.SetHeatingCoil_temp=30..35; 997 1000=5 runa3.SetHeatingCoil_temp=0|1|45; 997 "
     "1000=7;\n"},
    {"SetupStepsRunBeforeEveryCaseWithoutTheirChecks",
     "case,scope,SeatOccupied,expect LEDFeedback[0]\nsetup,955,1,0\n,,,0\na,955,,1\nb,955,0,\n",
     "setup[0]: 955 966=1 Wrapper_seat_heating_control.LEDFeedback[0]=0; 955 "
     "Wrapper_seat_heating_control.LEDFeedback[0]=0;\n"
     "a[2]: 955 966=1; 955; 955 Wrapper_seat_heating_control.LEDFeedback[0]=1;\n"
     "b[2]: 955 966=1; 955; 955 966=0;\n"},
    {"RepeatHoldsARowWithItsChecksOnTheLast",
     "case,scope,SeatOccupied,repeat,expect LEDFeedback[0]\nsetup,955,1,2,0\na,955,0,3,1\n,,,,0\n",
     "setup[0]: 955 966=1; 955 966=1 Wrapper_seat_heating_control.LEDFeedback[0]=0;\n"
     "a[2]: 955 966=1; 955 966=1; 955 966=0; 955 966=0; 955 966=0 Wrapper_seat_heating_control.LEDFeedback[0]=1; 955 "
     "Wrapper_seat_heating_control.LEDFeedback[0]=0;\n"},
};

class KivrunAcceptedSuite : public testing::TestWithParam<Accepted> {};

TEST_P(KivrunAcceptedSuite, CompilesTo) {
    EXPECT_EQ(dump(parse(GetParam().text)), GetParam().plan);
}

INSTANTIATE_TEST_SUITE_P(Kinds, KivrunAcceptedSuite, testing::ValuesIn(kAccepted),
                         [](const testing::TestParamInfo<Accepted>& p) { return std::string(p.param.name); });

TEST(KivrunSuite, CaseNamesAreUniquePerFileAndIdentifiedBySuite) {
    static const kiv::Schema schema = kiv::Schema::of(catalog());
    kiv::Plan plan;
    kiv::parse_suite("dir/a.csv", "case,scope\nc,955\n", schema, {}, plan);
    kiv::parse_suite("b.csv", "case,scope\nc,955\n", schema, {}, plan);
    ASSERT_EQ(plan.cases.size(), 2u);
    EXPECT_EQ(kiv::case_id(plan, plan.cases[0]), "a:c");
    EXPECT_EQ(kiv::case_id(plan, plan.cases[1]), "b:c");
}

TEST(KivrunSuite, ChecksAcceptWhatTheCellWrites) {
    const kiv::Plan plan = parse("case,scope,expect runa1.ActivationCondition\nc,987,30..35\n,,0|7|200\n,,9\n");
    ASSERT_EQ(plan.expects.size(), 3u);
    std::string accepted[3];
    for (int v = 0; v < 256; ++v)
        for (int e = 0; e < 3; ++e)
            if (kiv::accepts(plan, plan.expects[e], static_cast<uint8_t>(v))) accepted[e] += std::to_string(v) + " ";
    EXPECT_EQ(accepted[0], "30 31 32 33 34 35 ");
    EXPECT_EQ(accepted[1], "0 7 200 ");
    EXPECT_EQ(accepted[2], "9 ");
}

using kivtest::Malformed;

// A setup held for 100000 steps, then 101 cases that each run it again.
const std::string kManyHeldSteps = [] {
    std::string s = "case,scope,repeat\nsetup,955,100000\n";
    for (int k = 0; k < 101; ++k)
        s += "c" + std::to_string(k) + ",955,\n";
    return s;
}();

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
    {"ValueBeyond64Bits", "case,scope,959\nc,955,99999999999999999999\n", "2:7", "is out of range (beyond 64 bits)"},
    {"HexBeyond64Bits", "case,scope,959\nc,955,0x10000000000000000\n", "2:7", "is out of range (beyond 64 bits)"},
    {"BinaryWithoutDigits", "case,scope,959\nc,955,0b\n", "2:7", "'0b' is not a number"},
    {"EmptyRange", "case,scope,expect runa1.ActivationCondition\nc,987,5..3\n", "2:7", "range '5..3' is empty"},
    {"SetMemberOutOfRange", "case,scope,expect runa1.ActivationCondition\nc,987,0|256\n", "2:7",
     "'256' is out of range for output runa1.ActivationCondition"},
    {"MisspeltColumn", "case,scope,SeatOcupied\nc,955,1\n", "1:12",
     "unknown column 'SeatOcupied' (did you mean 'SeatOccupied'?)"},
    {"MisspeltOutput", "case,scope,expect LEDFedback[0]\n", "1:12",
     "unknown output 'LEDFedback[0]' (did you mean 'LEDFeedback[0]'?)"},
    {"MisspeltScope", "case,scope\nc,rnua2\n", "2:3", "unknown scope 'rnua2' (did you mean 'runa2'"},
    {"ShortNameNotInTheStepsScope", "case,scope,SeatOccupied\nc,runa2,1\n", "2:9",
     "'SeatOccupied' names no input of this step's scope 981 (runa2); it stands for one of "
     "Wrapper_seat_heating_control.SeatOccupied, runa1.SeatOccupied"},
    {"SetupAfterACase", "case,scope\na,955\nSetup,955\nsetup,955\nb,955\n", "3:1",
     "the 'setup' case must be the file's first case"},
    {"NotUtf8",
     "case,scope\nSitz_Pr\xfc"
     "fung,955\n",
     "2:8", "not UTF-8; save the file as UTF-8"},
    {"ControlBytesAreNotEchoed", "case,scope,bo\x1b[2Jgus\n", "1:12", "unknown column 'bo\\x1B[2Jgus'"},
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
    {"RepeatOfZero", "case,scope,repeat\nc,955,0\n", "2:7", "repeat '0' is not a whole number from 1 to 100000"},
    {"RepeatBeyondItsLimit", "case,scope,repeat\nc,955,100001\n", "2:7", "repeat '100001' is not a whole number"},
    {"RepeatNotWhole", "case,scope,repeat\nc,955,2.5\n", "2:7", "repeat '2.5' is not a whole number"},
    // A held setup is copied into every case: bounded in all, not per row.
    {"RepeatsAddingTooManySteps", kManyHeldSteps.c_str(), "102:1", "add more than 10000000 steps"},
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
        {KIVRUN_PATH, "is a binary file (an executable or library), not a text file; expected a suite file"},
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
    c.checks = c.mismatch_count = 1;
    c.mismatches.push_back({1, 2, "out\x1b[31m", "1", 0});
    r.cases.push_back(c);
    const kiv::Summary s = kiv::summarize(r);
    std::ostringstream json, junit;
    kiv::write_json(r, kiv::summarize(r), json);
    std::istringstream back(json.str());
    EXPECT_EQ(kiv::read_json(back, "r.json").cases.at(0).mismatches.size(), 1u);
    kiv::write_junit(r, s, junit);
    const std::string xml = kivtest::write_file("not_utf8.xml", junit.str());
    const auto lint = kivtest::run_command("xmllint --noout " + xml);
    EXPECT_EQ(lint.code, 0) << lint.err << junit.str();
}

}  // namespace
