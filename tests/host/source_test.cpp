// Tests of coverage on the source: the catalog's probe positions generated from
// the unit sources, and the reports that place goals on them.
//
// The lcov and Cobertura output of the example suite is compared with golden
// files in data/, with the source root written as <ROOT> and the timestamp as
// 0. After an intended change, regenerate them with
//   KIV_GENGOLDEN=1 ctest -R SourceReports
// and review the diff.
#include "host_test.h"

#include <filesystem>
#include <regex>

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
