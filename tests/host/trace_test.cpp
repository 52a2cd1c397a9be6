// Requirements traced to cases: the suite's traceability cells, requirement
// sets in CSV and ReqIF, statuses, gates and the reports, through kivrun as a
// user runs it.
#include "host_test.h"
#include "identity/identity.h"
#include "trace/requirements.h"

#include <nlohmann/json.hpp>

namespace {

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kHeader =
    "case,scope,959,966,968,970,980,expect Wrapper_seat_heating_control.LEDFeedback[0],req,verifies,technique,"
    "description\n";

// One case of every status: press verifies R-1 in full and cites R-4 at an
// older revision and R-6, whose text changed since it was accepted; half
// verifies R-2 in part; wrong fails R-3; ghost cites an ID not in the set;
// lone names none; R-5 has no case.
const std::string kSuite = kHeader +
                           "press,955,30,1,1,0,0,0,\"R-1, R-4@1, R-6\",full,boundary value,a press lights LED 0\n"
                           ",,,,,,1,1\n"
                           "half,955,30,1,1,0,0,0,R-2,partial,equivalence class,\n"
                           "wrong,955,30,1,1,0,0,0,R-3,,error guessing,\n"
                           ",,,,,,1,0\n"
                           "ghost,955,30,1,1,0,0,0,R-9,,,\n"
                           "lone,955,30,1,1,0,0,0,,,,\n";
const std::string kRequirements =
    "id,title,text,revision,level\n"
    "R-1,Verified,A press lights LED 0.,1,B\n"
    "R-2,Partial,Stage 1 heats at the first calibrated temperature.,1,B\n"
    "R-3,Failing,A press lights no LED.,1,B\n"
    "R-4,Suspect by revision,The stage wraps to 0.,2,A\n"
    "R-5,Untested,An empty seat is never heated.,1,B\n"
    "R-6,Suspect by text,\"The first press\n counts.\",1,\n";
// R-6 accepted with another text.
const std::string kAccepted = "req,sha256,revision,note\nR-6,sha256:" + std::string(64, '0') + ",1,reviewed\n";

std::string tmp_dir() {
    return std::filesystem::path(kivtest::write_file("x", "")).parent_path().string();
}

// The temporary folder as <TMP>, so output compares with a golden file.
std::string untemp(std::string text) {
    const std::string dir = tmp_dir();
    for (std::size_t at; (at = text.find(dir)) != std::string::npos;)
        text.replace(at, dir.size(), "<TMP>");
    return text;
}

// A ReqIF document of string attributes, one object per row of
// {{"ReqIF.ForeignID", "R-1"}, ...}.
std::string reqif(const std::vector<std::vector<std::pair<std::string, std::string>>>& objects) {
    std::string defs, values;
    std::vector<std::string> names;
    for (const auto& o : objects)
        for (const auto& [name, value] : o)
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    for (std::size_t k = 0; k < names.size(); ++k)
        defs += "<ATTRIBUTE-DEFINITION-STRING IDENTIFIER=\"a" + std::to_string(k) + "\" LONG-NAME=\"" + names[k] +
                "\"/>\n";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        values += "<SPEC-OBJECT IDENTIFIER=\"o" + std::to_string(i) + "\"><VALUES>\n";
        for (const auto& [name, value] : objects[i]) {
            const auto k = std::find(names.begin(), names.end(), name) - names.begin();
            values += "<ATTRIBUTE-VALUE-STRING THE-VALUE=\"" + value +
                      "\"><DEFINITION><ATTRIBUTE-DEFINITION-STRING-REF>a" + std::to_string(k) +
                      "</ATTRIBUTE-DEFINITION-STRING-REF></DEFINITION></ATTRIBUTE-VALUE-STRING>\n";
        }
        values += "</VALUES></SPEC-OBJECT>\n";
    }
    return "<?xml version=\"1.0\"?>\n<REQ-IF><CORE-CONTENT><REQ-IF-CONTENT><SPEC-TYPES><SPEC-OBJECT-TYPE "
           "IDENTIFIER=\"t\"><SPEC-ATTRIBUTES>\n" +
           defs + "</SPEC-ATTRIBUTES></SPEC-OBJECT-TYPE></SPEC-TYPES><SPEC-OBJECTS>\n" + values +
           "</SPEC-OBJECTS></REQ-IF-CONTENT></CORE-CONTENT></REQ-IF>\n";
}

// FIPS 180-2's examples, and a text hashed alike whatever its blanks.
TEST(Trace, TextsHashAsSha256) {
    EXPECT_EQ(kiv::text_sha256("abc"), "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(kiv::text_sha256(std::string(1000000, 'a')),
              "sha256:cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(kiv::requirement_text_hash(" abc \n"), kiv::text_sha256("abc"));
    EXPECT_EQ(kiv::requirement_text_hash("a \r\n\t b"), kiv::text_sha256("a b"));
}

// ---- bad input: exit 2, located, nothing written ----

struct BadInput {
    const char* name;
    std::string suite;         // a case row after kHeader
    std::string requirements;  // file name and text; empty: none
    std::string requirement_text;
    std::string extra;  // more options
    std::string says;   // "<file>:<line>: message part"
};

const BadInput kBadInputs[] = {
    {"UnknownTechnique", "c,955,30,1,1,0,0,0,R-1,,black magic,\n", "", "", "",
     "s.csv:2:25: unknown technique 'black magic'; expected one of requirement analysis, equivalence class"},
    {"StrayCommaAtTheEnd", "c,955,30,1,1,0,0,0,\"R-1,\",,,\n", "", "", "", "s.csv:2:20: a comma ends the list"},
    {"EmptyEntryBetweenCommas", "c,955,30,1,1,0,0,0,\"R-1,,R-2\",,,\n", "", "", "",
     "s.csv:2:20: an empty entry between commas"},
    {"RevisionNotANumber", "c,955,30,1,1,0,0,0,R-1@two,,,\n", "", "", "",
     "s.csv:2:20: revision 'two' of R-1 is not a whole number"},
    {"BlankInsideAnId", "c,955,30,1,1,0,0,0,R 1,,,\n", "", "", "", "s.csv:2:20: 'R 1' is not a requirement ID"},
    {"UnknownExtent", "c,955,30,1,1,0,0,0,R-1,most,,\n", "", "", "", "s.csv:2:24: 'most' is not a verification extent"},
    {"ExtentWithoutRequirement", "c,955,30,1,1,0,0,0,,full,,\n", "", "", "", "s.csv:2:21: case 'c' says what it verifies"},
    {"LinkOnALaterRow", "c,955,30,1,1,0,0,0,R-1,,,\n,,,,,,1,1,,,interface,\n", "", "", "",
     "s.csv:3:13: 'technique' of case 'c' belongs on its first row (line 2)"},
    {"DuplicateRequirement", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.csv", "id,text\nR-1,a\nR-1,b\n", "",
     "r.csv:3:1: requirement R-1 is defined twice; first at <TMP>/r.csv:2"},
    {"CsvRevisionNotANumber", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.csv", "id,text,revision\nR-1,a,2b\n", "",
     "r.csv:2:7: revision '2b' of R-1 is not a whole number"},
    {"CsvWithoutText", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.csv", "id,title\nR-1,a\n", "", "r.csv:1:1: no 'text' column"},
    {"MalformedReqif", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.reqif", "<REQ-IF><CORE-CONTENT>\n</REQ-IF>\n", "",
     "r.reqif:2:10: malformed XML: Opening and ending tag mismatch"},
    {"ReqifWithoutId", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.reqif", reqif({{{"ReqIF.Text", "a"}}}), "",
     "r.reqif:5:1: SPEC-OBJECT o0 has no 'ReqIF.ForeignID'"},
    {"ReqifRevisionNotANumber", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.reqif",
     reqif({{{"ReqIF.ForeignID", "R-1"}, {"ReqIF.Text", "a"}, {"Revision", "x"}}}), "",
     "r.reqif:7:1: revision 'x' of R-1 is not a whole number"},
    {"ReqifWithADoctype", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.reqif",
     "<!DOCTYPE REQ-IF [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n<REQ-IF>&b;</REQ-IF>\n",
     "", "r.reqif:1:1: a ReqIF file has no <!DOCTYPE>"},
    {"ReqifzThatIsNoZip", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.reqifz", "not a zip", "",
     "r.reqifz: not a readable .reqifz (zip) file"},
    {"AcceptanceOfNoHash", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.csv", "id,text\nR-1,a\n",
     "--accepted " + kivtest::write_file("a.csv", "req,sha256\nR-1,abc\n"),
     "a.csv:2:5: 'abc' is not a text hash"},
    {"AcceptOfAnUnknownId", "c,955,30,1,1,0,0,0,R-1,,,\n", "r.csv", "id,text\nR-1,a\n", "--accept R-77",
     "--accept R-77: not a requirement of the set"},
    {"GateOfAnUnknownCount", "c,955,30,1,1,0,0,0,R-1,,,\n", "", "", "--gate missing=0", "--gate: unknown count 'missing'"},
};

class TraceBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(TraceBadInput, IsRejectedWithItsPlaceBeforeAnythingRuns) {
    const BadInput& b = GetParam();
    const std::string suite = kivtest::write_file("s.csv", kHeader + b.suite);
    std::string args = "run " + kLib + " " + suite + " " + b.extra;
    if (!b.requirements.empty())
        args += " --requirements " + kivtest::write_file(b.requirements, b.requirement_text);
    const std::string json = tmp_dir() + "/never.json";
    std::filesystem::remove(json);
    const auto r = kivtest::kivrun(args + " --json " + json);
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_NE(untemp(r.err).find(b.says), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(json));
}

INSTANTIATE_TEST_SUITE_P(Rows, TraceBadInput, testing::ValuesIn(kBadInputs),
                         [](const testing::TestParamInfo<BadInput>& p) { return std::string(p.param.name); });

// ---- statuses, reports and gates ----

struct Traced {
    std::string suite, requirements, accepted, json, junit;
    kivtest::Outcome run;
};

Traced run_traced(const std::string& more = "") {
    Traced t;
    t.suite = kivtest::write_file("traced.csv", kSuite);
    t.requirements = kivtest::write_file("reqs.csv", kRequirements);
    t.accepted = kivtest::write_file("accepted.csv", kAccepted);
    t.json = kivtest::write_file("traced.json", "");
    t.junit = kivtest::write_file("traced.xml", "");
    t.run = kivtest::kivrun("run " + kLib + " " + t.suite + " --requirements " + t.requirements + " --accepted " +
                            t.accepted + " --json " + t.json + " --junit " + t.junit + " " + more);
    return t;
}

// The text report's requirements section and the gate's messages, against a
// golden file: one requirement of every status.
TEST(Trace, TextReportAndGateMessagesMatchTheirGoldenFile) {
    const Traced t = run_traced("--gate untested=0,failing=0,suspect=0,partial=0,unknown=0,unlinked=0");
    EXPECT_EQ(t.run.code, 1) << t.run.err;
    const std::string out = t.run.out.substr(t.run.out.find("\nRequirements:"));
    kivtest::expect_golden(untemp(out + "--- stderr\n" + t.run.err), "trace.txt");
}

TEST(Trace, AnAcceptanceClearsASuspectRequirementAndIsRecorded) {
    const Traced t = run_traced("--accept R-4 --accept R-6 --gate suspect=0");
    EXPECT_EQ(t.run.code, 1) << t.run.err;  // wrong still fails
    EXPECT_EQ(t.run.err.find("suspect"), std::string::npos) << t.run.err;
    const auto j = nlohmann::json::parse(kivtest::read_file(t.json));
    EXPECT_EQ(j["trace"]["counts"]["suspect"], 0);
    EXPECT_EQ(j["trace"]["accepted"].back()["source"], "--accept");
}

// A baseline recorded from a linked suite keeps what each case verifies.
TEST(Trace, RecordKeepsEachCaseLinks) {
    const Traced t = run_traced();
    const std::string recorded = tmp_dir() + "/recorded.csv", junit = kivtest::write_file("recorded.xml", "");
    std::filesystem::remove(recorded);
    ASSERT_EQ(kivtest::kivrun("run " + kLib + " " + t.suite + " -q --record " + recorded).code, 1);
    kivtest::kivrun("run " + kLib + " " + recorded + " -q --junit " + junit);
    // The case properties, without the coverage figures, which recording changes.
    const auto properties = [](const std::string& xml) {
        std::istringstream in(kivtest::read_file(xml));
        std::string all;
        for (std::string line; std::getline(in, line);)
            if (line.find("<property name=\"coverage.") == std::string::npos &&
                line.find("<property ") != std::string::npos)
                all += line + "\n";
        return all;
    };
    EXPECT_EQ(properties(junit), properties(t.junit));
}

// A suite without traceability cells fails a gate on cases without a requirement.
TEST(Trace, AGateOnUnlinkedCasesCountsEveryCaseOfASuiteWithoutRequirements) {
    const std::string suite = kivtest::write_file("plain.csv", "case,scope,959\nsetup,955,30\nc,955,30\n");
    const auto r = kivtest::kivrun("run " + kLib + " " + suite + " -q --gate unlinked=0");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(untemp(r.err), "<TMP>/plain.csv:3: error: case c names no requirement\n"
                             "kivrun: gate unlinked=0 not met: 1 case names no requirement\n");
}

// The acceptance rows the text report prints clear what they are printed for.
TEST(Trace, TheAcceptanceRowsTheReportPrintsClearTheSuspects) {
    const Traced t = run_traced();
    std::string rows = "req,sha256,revision\n";
    const std::string mark = "to accept (req,sha256,revision): ";
    for (std::size_t at = t.run.out.find(mark); at != std::string::npos; at = t.run.out.find(mark, at + 1))
        rows += t.run.out.substr(at + mark.size(), t.run.out.find('\n', at) + 1 - at - mark.size());
    ASSERT_EQ(std::count(rows.begin(), rows.end(), '\n'), 3) << t.run.out;
    const std::string json2 = kivtest::write_file("accepted_all.json", "");
    const auto r = kivtest::kivrun("report " + t.json + " --accepted " + kivtest::write_file("rows.csv", rows) +
                                   " --json " + json2);
    EXPECT_EQ(r.code, 1) << r.err;  // wrong still fails
    EXPECT_EQ(nlohmann::json::parse(kivtest::read_file(json2))["trace"]["counts"]["suspect"], 0);
}

// A saved result reports the same statuses; the ReqIF export read back as
// the requirement set (plain and zipped) gives the same statuses again.
TEST(Trace, ReqifExportReimportsToTheSameStatuses) {
    const Traced t = run_traced();
    ASSERT_EQ(t.run.code, 1) << t.run.err;
    const std::string a = kivtest::write_file("a.reqif", ""), b = kivtest::write_file("b.reqif", "");
    const std::string csv_a = kivtest::write_file("a.trace.csv", ""), csv_b = kivtest::write_file("b.trace.csv", "");
    auto r = kivtest::kivrun("report " + t.json + " --reqif-out " + a + " --trace-csv " + csv_a);
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(kivtest::run_command("xmllint --nonet --noout " + a).code, 0);
    r = kivtest::kivrun("report " + t.json + " --requirements " + a + " --reqif-out " + b + " --trace-csv " + csv_b);
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(kivtest::read_file(csv_a), kivtest::read_file(csv_b));
    const std::string status_a = kivtest::run_command("grep -o 'THE-VALUE=\"[a-z]*\"' " + a).out;
    EXPECT_NE(status_a.find("\"suspect\""), std::string::npos);
    EXPECT_EQ(status_a, kivtest::run_command("grep -o 'THE-VALUE=\"[a-z]*\"' " + b).out);
    const std::string z = tmp_dir() + "/a.reqifz", csv_z = kivtest::write_file("z.trace.csv", "");
    ASSERT_EQ(kivtest::run_command("/usr/bin/python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w')"
                                   ".write(sys.argv[2], 'status.reqif')\" " + z + " " + a).code, 0);
    r = kivtest::kivrun("report " + t.json + " --requirements " + z + " --trace-csv " + csv_z);
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(kivtest::read_file(csv_a), kivtest::read_file(csv_z));
}

// JUnit consumers read a case's requirements as properties.
TEST(Trace, JUnitPropertiesAreReadByJunitparser) {
    const Traced t = run_traced();
    const auto parsed = kivtest::run_command(
        "/usr/bin/python3 -c \"import sys, junitparser as j; x = j.JUnitXml.fromfile(sys.argv[1]); "
        "[print(c.name, ';'.join(p.name + '=' + p.value for p in (c.child(j.Properties) or []))) "
        "for s in x for c in s]\" " + t.junit);
    EXPECT_EQ(parsed.out,
              "press req=R-1;req=R-4@1;req=R-6;verifies=full;technique=boundary value;description=a press lights LED 0\n"
              "half req=R-2;verifies=partial;technique=equivalence class\n"
              "wrong req=R-3;verifies=full;technique=error guessing\n"
              "ghost req=R-9;verifies=full\nlone \n")
        << parsed.err;
}

TEST(Trace, HtmlHasTheMatrixAndAPagePerRequirementWithItsGoals) {
    const Traced t = run_traced();
    const std::string dir = tmp_dir() + "/trace-html";
    const auto r = kivtest::kivrun("report " + t.json + " --trace-html " + dir);
    ASSERT_EQ(r.code, 1) << r.err;
    const std::string index = kivtest::read_file(dir + "/index.html");
    EXPECT_NE(index.find("Goals no requirement-linked case reached"), std::string::npos);
    const std::string r1 = kivtest::read_file(dir + "/req-1.html");
    EXPECT_NE(r1.find("A press lights LED 0."), std::string::npos);
    EXPECT_NE(r1.find("KIV_G"), std::string::npos);  // the goals its case reached
    EXPECT_EQ(kivtest::run_command("xmllint --nonet --noout --html " + dir + "/index.html").code, 0);
}

// A result knows its suites by content: one suite under two spellings is
// one suite (its cases are not counted twice), and one path that held two
// contents is two suites that cannot be merged.
TEST(Trace, MergeKnowsASuiteByItsContent) {
    const std::string suite = kivtest::write_file("one.csv", kHeader + "press,955,30,1,1,0,0,0,R-1,,,\n");
    const std::string a = kivtest::write_file("one_a.json", ""), b = kivtest::write_file("one_b.json", "");
    const std::string dotted = tmp_dir() + "/./one.csv";
    ASSERT_EQ(kivtest::kivrun("run " + kLib + " " + suite + " -q --json " + a).code, 0);
    ASSERT_EQ(kivtest::kivrun("run " + kLib + " " + dotted + " -q --json " + b).code, 0);
    auto r = kivtest::kivrun("merge " + a + " " + b + " -o " + tmp_dir() + "/m.json");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("case " + suite + ":press is in both"), std::string::npos) << r.err;
    kivtest::write_file("one.csv", kHeader + "press,955,30,1,1,0,0,1,R-1,,,\n");
    ASSERT_EQ(kivtest::kivrun("run " + kLib + " " + suite + " -q --json " + b).code, 1);
    r = kivtest::kivrun("merge " + a + " " + b + " -o " + tmp_dir() + "/m.json");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("suite " + suite + " had different contents in"), std::string::npos) << r.err;
    const auto j = nlohmann::json::parse(kivtest::read_file(a));
    EXPECT_EQ(j["run"]["inputs"][0]["role"], "suite");
    EXPECT_EQ(j["run"]["inputs"][0]["sha256"].get<std::string>().size(), 71u);
}

// diff flags a requirement that became suspect (its text differs from the
// one now on record as accepted) as a regression.
TEST(Trace, DiffReportsRequirementsNewlySuspect) {
    const Traced t = run_traced();
    const std::string accepted = kivtest::write_file("accepted2.csv", "req,sha256\nR-1,sha256:" + std::string(64, '1') + "\n");
    const std::string json2 = kivtest::write_file("traced2.json", "");
    ASSERT_EQ(kivtest::kivrun("report " + t.json + " --accepted " + accepted + " --json " + json2).code, 1);
    const auto d = kivtest::kivrun("diff " + t.json + " " + json2);
    EXPECT_EQ(d.code, 1);
    EXPECT_NE(d.out.find("Requirements newly untested, failing or suspect (1):\n  R-1  verified -> suspect"),
              std::string::npos)
        << d.out;
}

}  // namespace
