// Tests of coverage on the source: the catalog's probe positions generated from
// the unit sources, and the reports that place goals on them.
//
// The lcov and Cobertura output of the example suite is compared with golden
// files in data/, with the source root written as <ROOT> and the timestamp as
// 0. After an intended change, regenerate them with
//   KIV_GENGOLDEN=1 ctest -R SourceReports
// and review the diff.
#include "host_test.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;
using kivtest::kivrun;
using kivtest::read_file;
using kivtest::run_command;

const std::string kRoot = KIV_SOURCE_DIR;
const std::string kData = kRoot + "/tests/host/data/";
const std::string kExampleRun = "run " + std::string(KIV_LIBRARY_PATH) + " " + kRoot +
                                "/examples/seat_heater.csv --justify " + kRoot +
                                "/examples/seat_heater.justify.csv --source-root " + kRoot + " -q";

// A folder of its own for each test process.
std::string scratch() {
    const fs::path dir = fs::path(::testing::TempDir()) / ("kivrun_source_" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir.string() + "/";
}

// The example suite's reports: lcov and Cobertura as the golden files, read
// without a warning by lcov, genhtml and xmllint against the Cobertura DTD;
// the HTML's marks and index agree with the JSON; and `kivrun report` from the
// saved JSON writes the very same files.
TEST(SourceReports, OfTheExampleSuiteAreReadByTheirConsumersAndAgreeWithTheJson) {
    const std::string d = scratch();
    auto run = kivrun(kExampleRun + " --json " + d + "r.json --lcov " + d + "r.info --cobertura " + d +
                      "r.xml --html " + d + "html");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    kivtest::expect_golden(read_file(d + "r.info"), "seat_heater.info");
    kivtest::expect_golden(read_file(d + "r.xml"), "seat_heater.cobertura.xml");

    for (const std::string& consumer :
         {"lcov --rc lcov_branch_coverage=1 --summary " + d + "r.info",
          "genhtml --branch-coverage -o " + d + "genhtml " + d + "r.info",
          "xmllint --nonet --noout --dtdvalid " + kData + "coverage-04.dtd " + d + "r.xml",
          "python3 " + kRoot + "/tests/host/html_counts.py " + d + "html " + d + "r.json"}) {
        auto c = run_command(consumer);
        EXPECT_EQ(c.code, 0) << consumer << "\n" << c.out << c.err;
        EXPECT_EQ((c.out + c.err).find("WARNING"), std::string::npos) << consumer << "\n" << c.out << c.err;
    }
    auto again = kivrun("report " + d + "r.json --lcov " + d + "again.info --cobertura " + d +
                        "again.xml --source-root " + kRoot);
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(read_file(d + "again.info"), read_file(d + "r.info"));
    EXPECT_EQ(read_file(d + "again.xml"), read_file(d + "r.xml"));
    fs::remove_all(d);
}

// Source roots whose bytes XML cannot hold as they are: the Cobertura and HTML
// reports must still be read by a strict parser.
struct OddRoot {
    const char* name;
    const char* root;
};

const OddRoot kOddRoots[] = {
    {"Latin1Byte", "src\xe9"},
    {"Surrogate", "src\xed\xa0\x80"},
    {"OverlongSlash", "src\xc0\xaf"},
    {"ControlCharacter", "src\x01"},
    {"MarkupCharacters", "src&<>\""},
};

class SourceReportsOfAnOddRoot : public ::testing::TestWithParam<OddRoot> {};

TEST_P(SourceReportsOfAnOddRoot, AreWellFormedXml) {
    const std::string d = scratch();
    const std::string root = d + GetParam().root;
    fs::create_directories(root);
    auto run = kivrun("run " + std::string(KIV_LIBRARY_PATH) + " " + kRoot + "/examples/seat_heater.csv -q --source-root '" +
                      root + "' --cobertura " + d + "odd.xml --html " + d + "odd");
    ASSERT_EQ(run.code, 0) << run.err;
    for (const std::string& check : {"xmllint --nonet --noout --dtdvalid " + kData + "coverage-04.dtd " + d + "odd.xml",
                                     "xmllint --nonet --noout --html --encode utf-8 " + d + "odd/index.html"}) {
        auto c = run_command(check);
        EXPECT_EQ(c.code, 0) << check << "\n" << c.out << c.err;
        EXPECT_EQ(c.out + c.err, "") << check;
    }
    fs::remove_all(d);
}

INSTANTIATE_TEST_SUITE_P(Roots, SourceReportsOfAnOddRoot, ::testing::ValuesIn(kOddRoots),
                         [](const auto& info) { return std::string(info.param.name); });

// gcov is the anchor users check line coverage against: on a partial suite,
// in the library built again with gcov's counters, every statement line,
// decision line and case label the Cobertura and lcov reports list is hit
// exactly when gcov counts it run, and no branch outcome is reached on a line
// gcov never ran. (A line holding only an operand of && or ||, or a cast, is
// not compared for hits: gcov puts the operator's jump on whichever line
// the compiler chose, so its count there says nothing of the operand.)
struct PartialSuite {
    const char* name;
    const char* suite;  // by bare ID: the gcov build has no catalog
};

const PartialSuite kPartialSuites[] = {
    {"Stage1NotStage2", "case,scope,1000,1002,1004,1006,1008\ns1,997,30,35,45,1,1\n"},
    {"DefaultLabelOnly", "case,scope,1000,1002,1004,1006,1008\nd,997,30,35,45,1,7\n"},
    {"Stages1And3", "case,scope,1000,1002,1004,1006,1008\ns1,997,30,35,45,1,1\ns3,997,30,35,45,1,3\n"},
    {"HeatingNotAllowed", "case,scope,1000,1002,1004,1006,1008\noff,997,30,35,45,0,2\n"},
    {"OnePressThroughTheWrapper",
     "case,scope,959,961,963,966,968,970,980\np,955,30,35,45,1,1,0,0\np,955,,,,,,,1\n"},
};

// Per absolute source path and line: gcov's count, from every .gcda under `objects`.
std::map<std::string, std::map<int, long long>> gcov_counts(const std::string& objects) {
    std::map<std::string, std::map<int, long long>> counts;
    for (const auto& e : fs::recursive_directory_iterator(objects)) {
        if (e.path().extension() != ".gcda") continue;
        auto g = run_command("gcov --json-format --stdout '" + e.path().string() + "'");
        std::istringstream lines(g.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.empty()) continue;
            const auto j = nlohmann::json::parse(line);
            const fs::path cwd = j.at("current_working_directory").get<std::string>();
            for (const auto& f : j.at("files")) {
                const std::string path = fs::weakly_canonical(cwd / f.at("file").get<std::string>()).string();
                for (const auto& l : f.at("lines"))
                    counts[path][l.at("line_number").get<int>()] += l.at("count").get<long long>();
            }
        }
    }
    return counts;
}

struct ReportLine {
    std::string file;  // absolute
    int line = 0;
    int hits = 0;
    int branches_reached = 0;
    std::string where;  // the report and its entry, for messages
};

// Every line of a Cobertura file and of an lcov tracefile, DA and BRDA alike.
std::vector<ReportLine> report_lines(const std::string& cobertura, const std::string& lcov) {
    std::vector<ReportLine> out;
    static const std::regex kClass(R"re(<class name="[^"]*" filename="([^"]*)")re");
    static const std::regex kLine(R"re(<line number="(\d+)" hits="(\d+)"(?: branch="true" condition-coverage="\d+% \((\d+)/)?)re");
    std::string file;
    std::istringstream xml(read_file(cobertura));
    for (std::string text; std::getline(xml, text);) {
        std::smatch m;
        if (std::regex_search(text, m, kClass)) file = fs::weakly_canonical(fs::path(kRoot) / m[1].str()).string();
        if (std::regex_search(text, m, kLine))
            out.push_back({file, std::stoi(m[1]), std::stoi(m[2]), m[3].matched ? std::stoi(m[3]) : 0,
                           "cobertura " + text});
    }
    std::istringstream info(read_file(lcov));
    for (std::string text; std::getline(info, text);) {
        if (text.rfind("SF:", 0) == 0) file = fs::weakly_canonical(text.substr(3)).string();
        int n = 0, hits = 0, block = 0, branch = 0;
        char taken[16] = "";
        if (std::sscanf(text.c_str(), "DA:%d,%d", &n, &hits) == 2) out.push_back({file, n, hits, 0, "lcov " + text});
        if (std::sscanf(text.c_str(), "BRDA:%d,%d,%d,%15s", &n, &block, &branch, taken) == 4)
            out.push_back({file, n, -1, std::string(taken) == "1" ? 1 : 0, "lcov " + text});
    }
    return out;
}

class SourceReportsOnAPartialSuite : public ::testing::TestWithParam<PartialSuite> {};

TEST_P(SourceReportsOnAPartialSuite, AgreeWithGcovLineByLine) {
    // gcov reads the counters GCC writes; clang's need its own reader, which
    // has no JSON form. The GCC build (make test) makes this comparison.
    if (!KIV_GCOV_COMPILER_IS_GCC) GTEST_SKIP() << "the plain units were not compiled by GCC";
    const std::string d = scratch() + GetParam().name + "/";
    fs::remove_all(d);
    fs::create_directories(d);
    const std::string suite = d + "partial.csv";
    std::ofstream(suite) << GetParam().suite;
    // Counters of this row only, under a folder of its own, each beside a copy of its notes file.
    const std::string counters = d + "gcov";
    auto drive = run_command("GCOV_PREFIX='" + counters + "' " + KIV_GCOV_DRIVE_PATH + " " + KIV_GCOV_LIBRARY_PATH +
                             " " + suite);
    ASSERT_EQ(drive.code, 0) << drive.err;
    auto run = kivrun("run " + std::string(KIV_LIBRARY_PATH) + " " + suite + " -q --source-root " + kRoot +
                      " --cobertura " + d + "r.xml --lcov " + d + "r.info --json " + d + "r.json");
    ASSERT_EQ(run.code, 0) << run.err;
    for (const auto& e : fs::recursive_directory_iterator(counters))
        if (e.path().extension() == ".gcda") {
            const std::string object = e.path().string().substr(counters.size());
            fs::copy_file(fs::path(object).replace_extension(".gcno"), fs::path(e.path()).replace_extension(".gcno"));
        }
    const auto counts = gcov_counts(counters);
    std::set<std::pair<std::string, int>> anchored;  // lines with a statement, decision or case goal
    const auto result = nlohmann::json::parse(read_file(d + "r.json"));
    for (const auto& g : result.at("goals"))
        if (g.at("criterion") == "statement" || g.at("criterion") == "decision" || g.at("criterion") == "switch case")
            anchored.emplace(fs::weakly_canonical(fs::path(kRoot) / g.at("file").get<std::string>()).string(),
                             g.at("line").get<int>());
    const auto lines = report_lines(d + "r.xml", d + "r.info");
    std::size_t compared = 0, anchored_compared = 0;
    for (const ReportLine& l : lines) {
        const auto f = counts.find(l.file);
        ASSERT_NE(f, counts.end()) << "gcov counted nothing of " << l.file;
        // A line inside a longer expression may carry no code of its own for gcov.
        const auto c = f->second.find(l.line);
        if (c == f->second.end()) continue;
        ++compared;
        if (l.hits >= 0 && anchored.count({l.file, l.line})) {
            ++anchored_compared;
            EXPECT_EQ(l.hits > 0, c->second > 0) << l.where << "; gcov counts " << c->second;
        }
        if (c->second == 0) {
            EXPECT_EQ(l.branches_reached, 0) << l.where << "; gcov never ran the line";
        }
    }
    EXPECT_GT(compared, lines.size() * 3 / 4);
    // Most line entries are statement, decision or case lines gcov counts.
    EXPECT_GT(anchored_compared, static_cast<std::size_t>(std::count_if(
                                     lines.begin(), lines.end(), [](const ReportLine& l) { return l.hits >= 0; })) / 2);
    fs::remove_all(d);
}

INSTANTIATE_TEST_SUITE_P(Suites, SourceReportsOnAPartialSuite, ::testing::ValuesIn(kPartialSuites),
                         [](const auto& info) { return std::string(info.param.name); });

// What `kivrun report` and the source reports do with input they cannot use.
struct BadSource {
    const char* name;
    const char* args;  // {d}: the scratch folder holding r.json, old.json (a catalog without positions), other.json
    int code;
    const char* err;     // expected in stderr
    const char* absent;  // a file that must not have been written
};

class SourceReportsRefuse : public ::testing::TestWithParam<BadSource> {};

TEST_P(SourceReportsRefuse, WithAMessageAndWithoutTheReport) {
    const BadSource& b = GetParam();
    const std::string d = scratch();
    ASSERT_EQ(kivrun(kExampleRun + " --json " + d + "r.json").code, 0);
    // A catalog of an older build: the same goals, no positions.
    auto catalog = nlohmann::json::parse(read_file(KIV_CATALOG_PATH));
    catalog.erase("records");
    for (auto& g : catalog["goals"])
        for (const char* k : {"file", "line", "column", "decision"})
            g.erase(k);
    std::ofstream(d + "old.json") << catalog.dump();
    catalog["goals"][3]["field"] = "trueSeen";
    catalog["goals"][3]["record"] = "TU18ixa_dc_cond1";
    std::ofstream(d + "other.json") << catalog.dump();
    auto in_scratch = [&](std::string s) {
        for (std::size_t at; (at = s.find("{d}")) != std::string::npos;)
            s.replace(at, 3, d);
        return s;
    };
    auto r = kivrun(in_scratch(b.args));
    EXPECT_EQ(r.code, b.code) << r.err;
    EXPECT_NE(r.err.find(in_scratch(b.err)), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(d + b.absent));
    fs::remove_all(d);
}

const BadSource kBadSource[] = {
    {"ReportOfAFileThatIsNoResult", "report {d}old.json --lcov {d}x.info", 2, "not a kivrun result", "x.info"},
    {"ReportAgainstADifferentCatalog", "report {d}r.json --catalog {d}other.json --lcov {d}x.info", 2,
     "is the result of a different catalog", "x.info"},
    {"RunWithACatalogWithoutPositions",
     "run " KIV_LIBRARY_PATH " " KIV_SOURCE_DIR "/examples/seat_heater.csv --catalog {d}old.json -q --lcov {d}x.info "
     "--json {d}y.json",
     0, "--lcov {d}x.info not written: the goals have no source positions", "x.info"},
    {"UnwritableHtmlFolder", "report {d}r.json --html /proc/kivrun/html", 2, "--html /proc/kivrun/html", "x.info"},
};
INSTANTIATE_TEST_SUITE_P(Bad, SourceReportsRefuse, ::testing::ValuesIn(kBadSource),
                         [](const auto& info) { return std::string(info.param.name); });

// A copy of the seat heater's sites files with one edit, and what catalog_gen says of it.
struct DoctoredSites {
    const char* name;
    const char* from;  // text in seat_heating_control_sites.json
    const char* to;
    int code;
    const char* says;  // in its diagnostic; empty when it must succeed
};

class CatalogGenOnSites : public ::testing::TestWithParam<DoctoredSites> {};

TEST_P(CatalogGenOnSites, NamesTheRecordOfEveryMisplacedSite) {
    const DoctoredSites& d = GetParam();
    const fs::path root = fs::path(::testing::TempDir()) / ("catalog_gen_" + std::to_string(getpid()));
    fs::create_directories(root);
    const std::string unit = KIV_SOURCE_DIR "/units/seat_heater/unit/";
    std::string controller = read_file(unit + "seat_heating_control_sites.json");
    const auto at = controller.find(d.from);
    ASSERT_NE(at, std::string::npos) << d.from;
    controller.replace(at, std::string(d.from).size(), d.to);
    std::ofstream(root / "seat_heating_control_sites.json") << controller;
    fs::copy_file(unit + "Wrapper_seat_heating_control_sites.json", root / "Wrapper_seat_heating_control_sites.json",
                  fs::copy_options::overwrite_existing);
    const std::string out = (root / "catalog.json").string(), err = (root / "stderr.txt").string();
    const int status = std::system((std::string(KIV_CATALOG_GEN_PATH) + " --library " KIV_LIBRARY_PATH " " + out + " " +
                                    (root / "Wrapper_seat_heating_control_sites.json").string() + " " +
                                    (root / "seat_heating_control_sites.json").string() + " 2>" + err)
                                       .c_str());
    const std::string said = read_file(err);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, d.code) << said;
    if (*d.says) {
        EXPECT_NE(said.find(d.says), std::string::npos) << said;
        EXPECT_FALSE(fs::exists(out)) << "no catalog is written from bad sites";
    } else {  // the files as they are give the very catalog the build installed
        EXPECT_EQ(read_file(out), read_file(KIV_CATALOG_PATH));
    }
    fs::remove_all(root);
}

#define KIV_STM5_SITE                                                                                              \
    "{\"record\": \"TU18ixa_stm_cond5\", \"kind\": \"STM\", \"function\": \"runa2\", \"file\": "                     \
    "\"examples/units/seat_heating_control.c\", \"line\": 29, \"column\": 5},"

const DoctoredSites kDoctored[] = {
    {"Unchanged", "", "", 0, ""},
    {"RecordWithoutSite", KIV_STM5_SITE, "", 2, "TU18ixa_stm_cond5: probe record with no site in the sites files"},
    {"RecordWithTwoSites", KIV_STM5_SITE, KIV_STM5_SITE "\n  " KIV_STM5_SITE, 2,
     "TU18ixa_stm_cond5: probe record with 2 sites"},
    {"SiteOfAnUnknownRecord", "\"record\": \"TU18ixa_stm_cond5\"", "\"record\": \"TU18ixa_stm_cond99\"", 2,
     "(TU18ixa_stm_cond99): the record is in no records table of the unit"},
    {"SiteOfAnotherKind", "\"record\": \"TU18ixa_stm_cond5\", \"kind\": \"STM\"",
     "\"record\": \"TU18ixa_stm_cond5\", \"kind\": \"DC\"", 2,
     "a DC site, but the records table has a STM record"},
    {"NotJson", "\"sites\": [", "\"sites\": [[", 2, "seat_heating_control_sites.json: not a sites file"},
};
INSTANTIATE_TEST_SUITE_P(Doctored, CatalogGenOnSites, ::testing::ValuesIn(kDoctored),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
