// Tests of coverage on the source: the catalog's probe positions generated from
// the unit sources, and the reports that place goals on them.
//
// The lcov and Cobertura output of the example suite is compared with golden
// files in data/, with the source root written as <ROOT> and the timestamp as
// 0. After an intended change, regenerate them with
//   KIV_GENGOLDEN=1 ctest -R SourceReports
// and review the diff.
#include "host_test.h"
#include "path_text.h"

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
                      root + "' --cobertura " + d + "odd.xml --lcov " + d + "odd.info --html " + d + "odd");
    ASSERT_EQ(run.code, 0) << run.err;
    // Lossless: the lcov file holds the bytes, Cobertura's <source> reads back as them.
    EXPECT_NE(read_file(d + "odd.info").find("SF:" + fs::absolute(root).lexically_normal().string() + "/"),
              std::string::npos);
    std::smatch source;
    const std::string xml = read_file(d + "odd.xml");
    ASSERT_TRUE(std::regex_search(xml, source, std::regex("<source>([^<]*)</source>")));
    std::string text = source[1];
    for (const auto& [entity, ch] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}})
        for (std::size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, std::string(entity).size(), ch);
    EXPECT_EQ(fs::path(kiv::path_bytes(text)).lexically_normal(), (fs::absolute(root) / "").lexically_normal());
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

// A unit in a folder whose name is not UTF-8: kivinst's sites file is JSON,
// and its paths read back as the bytes of the file.
TEST(SitesFile, OfAUnitInAFolderThatIsNotUtf8NamesItLosslessly) {
    if (std::string(KIVINST_PATH).empty()) GTEST_SKIP() << "kivinst is not built";
    const std::string d = scratch(), folder = d + "unit\xe9%41/";
    fs::create_directories(folder);
    fs::create_directories(d + "out");
    for (const char* f : {"debounce.c", "debounce.h"})
        fs::copy_file(kRoot + "/examples/units/" + f, folder + f, fs::copy_options::overwrite_existing);
    auto inst = run_command(std::string(KIVINST_PATH) + " -u 1 -o '" + d + "out/debounce.c' --root '" + d + "' '" +
                            folder + "debounce.c'");
    ASSERT_EQ(inst.code, 0) << inst.err;
    const auto sites = nlohmann::json::parse(read_file(d + "out/debounce_sites.json"));
    EXPECT_EQ(sites.at("source"), "unit%E9%2541/debounce.c");
    for (const auto& s : sites.at("sites")) EXPECT_TRUE(fs::exists(d + kiv::path_bytes(s.at("file")))) << s.dump();
    fs::remove_all(d);
}

// gcov is the anchor users check line coverage against: on partial suites of
// each shipped unit, replayed through the unit built again from its plain C
// with gcov's counters, every line gcov counts has a DA line in the lcov file
// and a line in the Cobertura file, and both say it ran exactly when gcov
// does, and the lcov file's count is gcov's (but on a line holding an operand
// of && or ||); no branch outcome is reached on a line gcov never ran. Lines gcov
// does not count (a declaration without a value, a line inside a longer
// statement) may have a DA line: the whole statement's lines run together.
struct Unit {
    const char* library;       // instrumented, with its catalog beside it
    const char* gcov_library;  // the plain C with gcov's counters
    const char* catalog;       // for the drive; empty: the suite is by bare ID
};
const Unit kSeatHeater{KIV_LIBRARY_PATH, KIV_GCOV_LIBRARY_PATH, ""};
const Unit kWindowLifter{KIV_EXAMPLES_BINARY_DIR "/libwindow_lifter.so",
                         KIV_TESTS_BINARY_DIR "/libkiv_window_lifter_gcov.so",
                         KIV_EXAMPLES_BINARY_DIR "/libwindow_lifter.catalog.json"};
const Unit kDebounce{KIV_EXAMPLES_BINARY_DIR "/libdebounce.so", KIV_TESTS_BINARY_DIR "/libkiv_debounce_gcov.so",
                     KIV_EXAMPLES_BINARY_DIR "/libdebounce.catalog.json"};

struct PartialSuite {
    const char* name;
    const Unit* unit;
    const char* suite;  // the CSV, or "@FILE:N": the first N cases of FILE (under the source folder)
};

const PartialSuite kPartialSuites[] = {
    {"SeatHeaterStage1NotStage2", &kSeatHeater, "case,scope,1000,1002,1004,1006,1008\ns1,997,30,35,45,1,1\n"},
    {"SeatHeaterDefaultLabelOnly", &kSeatHeater, "case,scope,1000,1002,1004,1006,1008\nd,997,30,35,45,1,7\n"},
    {"SeatHeaterStages1And3", &kSeatHeater,
     "case,scope,1000,1002,1004,1006,1008\ns1,997,30,35,45,1,1\ns3,997,30,35,45,1,3\n"},
    {"SeatHeaterHeatingNotAllowed", &kSeatHeater, "case,scope,1000,1002,1004,1006,1008\noff,997,30,35,45,0,2\n"},
    {"SeatHeaterOnePressThroughTheWrapper", &kSeatHeater,
     "case,scope,959,961,963,966,968,970,980\np,955,30,35,45,1,1,0,0\np,955,,,,,,,1\n"},
    {"WindowLifterFirstCase", &kWindowLifter, "@examples/window_lifter.csv:1"},
    {"WindowLifterFirstThreeCases", &kWindowLifter, "@examples/window_lifter.csv:3"},
    {"WindowLifterFirstSixCases", &kWindowLifter, "@examples/window_lifter.csv:6"},
    {"DebounceOneBounce", &kDebounce, "case,scope,sample\nbounce,debounce_step,1\nbounce,,0\n"},
    {"DebouncePressedNotReleased", &kDebounce,
     "case,scope,sample\npress,debounce_step,1\npress,,1\npress,,1\npress,,1\npress,,1\npress,,1\n"},
};

// The first n cases of a suite file, with its header and without its comments.
std::string first_cases(const std::string& path, int n) {
    std::istringstream in(read_file(path));
    std::string out, last_case;
    bool header = true;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (header) {
            out += line + "\n", header = false;
            continue;
        }
        const std::string name = line.substr(0, line.find(','));
        if (name != last_case && --n < 0) break;
        last_case = name;
        out += line + "\n";
    }
    return out;
}

// Per absolute source path and line: gcov's count, from every .gcda under
// `objects`; only the lines of the functions named in `observed`.
std::map<std::string, std::map<int, long long>> gcov_counts(const std::string& objects,
                                                           const std::set<std::string>& observed) {
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
                std::set<int> in_observed;
                for (const auto& fn : f.at("functions"))
                    if (observed.count(fn.at("name").get<std::string>()))
                        for (int n = fn.at("start_line").get<int>(); n <= fn.at("end_line").get<int>(); ++n)
                            in_observed.insert(n);
                for (const auto& l : f.at("lines"))
                    if (in_observed.count(l.at("line_number").get<int>()))
                        counts[path][l.at("line_number").get<int>()] += l.at("count").get<long long>();
            }
        }
    }
    return counts;
}

// What one report says of each line of each file: hits, or -1 where it has no
// line entry; and the branch outcomes reached on it.
struct Said {
    int hits = -1;
    int branches_reached = 0;
};
using Lines = std::map<std::string, std::map<int, Said>>;  // absolute file -> line

Lines cobertura_lines(const std::string& cobertura) {
    Lines out;
    static const std::regex kClass(R"re(<class name="[^"]*" filename="([^"]*)")re");
    static const std::regex kLine(R"re(<line number="(\d+)" hits="(\d+)"(?: branch="true" condition-coverage="\d+% \((\d+)/)?)re");
    std::string file;
    std::istringstream xml(read_file(cobertura));
    for (std::string text; std::getline(xml, text);) {
        std::smatch m;
        if (std::regex_search(text, m, kClass)) file = fs::weakly_canonical(fs::path(kRoot) / m[1].str()).string();
        if (std::regex_search(text, m, kLine))
            out[file][std::stoi(m[1])] = {std::stoi(m[2]), m[3].matched ? std::stoi(m[3]) : 0};
    }
    return out;
}

Lines lcov_lines(const std::string& lcov) {
    Lines out;
    std::string file;
    std::istringstream info(read_file(lcov));
    for (std::string text; std::getline(info, text);) {
        if (text.rfind("SF:", 0) == 0) file = fs::weakly_canonical(text.substr(3)).string();
        int n = 0, hits = 0, block = 0, branch = 0;
        char taken[16] = "";
        if (std::sscanf(text.c_str(), "DA:%d,%d", &n, &hits) == 2) out[file][n].hits = hits;
        if (std::sscanf(text.c_str(), "BRDA:%d,%d,%d,%15s", &n, &block, &branch, taken) == 4)
            out[file][n].branches_reached += std::string(taken) == "1";
    }
    return out;
}

std::string status(long long count) { return count > 0 ? "executed" : count == 0 ? "not executed" : "no line"; }

class SourceReportsOnAPartialSuite : public ::testing::TestWithParam<PartialSuite> {};

TEST_P(SourceReportsOnAPartialSuite, AgreeWithGcovLineByLine) {
    // gcov reads the counters GCC writes; clang's need its own reader, which
    // has no JSON form. The GCC build (make test) makes this comparison.
    if (!KIV_GCOV_COMPILER_IS_GCC) GTEST_SKIP() << "the plain units were not compiled by GCC";
    const PartialSuite& p = GetParam();
    if (!fs::exists(p.unit->library)) GTEST_SKIP() << p.unit->library << " is not built (no kivinst)";
    const std::string d = scratch() + p.name + "/";
    fs::remove_all(d);
    fs::create_directories(d);
    const std::string suite = d + "partial.csv";
    std::string text = p.suite;
    if (text[0] == '@') {
        const auto colon = text.rfind(':');
        text = first_cases(kRoot + "/" + text.substr(1, colon - 1), std::stoi(text.substr(colon + 1)));
    }
    std::ofstream(suite) << text;
    // Counters of this row only, under a folder of its own, each beside a copy of its notes file.
    const std::string counters = d + "gcov";
    auto drive = run_command("GCOV_PREFIX='" + counters + "' " + KIV_GCOV_DRIVE_PATH + " " + p.unit->gcov_library +
                             " " + suite + " " + p.unit->catalog);
    ASSERT_EQ(drive.code, 0) << drive.err;
    auto run = kivrun("run " + std::string(p.unit->library) + " " + suite + " -q --source-root " + kRoot +
                      " --cobertura " + d + "r.xml --lcov " + d + "r.info --json " + d + "r.json");
    ASSERT_EQ(run.code, 0) << run.err;
    for (const auto& e : fs::recursive_directory_iterator(counters))
        if (e.path().extension() == ".gcda") {
            const std::string object = e.path().string().substr(counters.size());
            fs::copy_file(fs::path(object).replace_extension(".gcno"), fs::path(e.path()).replace_extension(".gcno"));
        }
    // The functions kivrun observes: those with goals (the seat heater's
    // hand-kept tables leave a few out).
    std::set<std::string> observed;
    std::set<std::pair<std::string, int>> operands;  // lines holding an operand of && or ||
    const auto result = nlohmann::json::parse(read_file(d + "r.json"));
    for (const auto& g : result.at("goals")) {
        if (g.at("criterion") == "statement") observed.insert(g.at("function").get<std::string>());
        if (g.at("criterion") == "condition")
            operands.emplace(fs::weakly_canonical(fs::path(kRoot) / g.at("file").get<std::string>()).string(),
                             g.at("line").get<int>());
    }
    const auto counts = gcov_counts(counters, observed);
    const Lines lcov = lcov_lines(d + "r.info"), cobertura = cobertura_lines(d + "r.xml");
    ASSERT_FALSE(lcov.empty());
    std::size_t compared = 0;
    for (const auto& [report, lines] : {std::pair{"lcov", &lcov}, std::pair{"cobertura", &cobertura}})
        for (const auto& [file, ours] : *lines) {
            const auto f = counts.find(file);
            ASSERT_NE(f, counts.end()) << "gcov counted nothing of " << file;
            for (const auto& [n, count] : f->second) {
                const auto said = ours.find(n);
                const int hits = said == ours.end() ? -1 : said->second.hits;
                ++compared;
                EXPECT_TRUE(hits >= 0 && (hits > 0) == (count > 0))
                    << file << ":" << n << ": gcov: " << status(count) << " (" << count << "), " << report << ": "
                    << status(hits);
                // The count too, where the statement goals count the runs: gcov
                // counts an operand of && or || on a line of its own apart.
                if (std::string(report) == "lcov" && hits > 0 && !operands.count({file, n})) {
                    EXPECT_EQ(hits, count) << file << ":" << n << ": gcov runs it " << count << " times, lcov " << hits;
                }
                if (count == 0 && said != ours.end()) {
                    EXPECT_EQ(said->second.branches_reached, 0)
                        << file << ":" << n << ": gcov never ran the line, " << report << " reaches a branch on it";
                }
            }
        }
    EXPECT_GT(compared, 0u);
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

// A result whose positions point past the end of one source: the report names
// the file and the line and fails, and the other files' pages are written.
TEST(SourceReportsRefuse, APositionPastTheEndOfOneSourceAndWriteTheOtherPages) {
    const std::string d = scratch();
    ASSERT_EQ(kivrun(kExampleRun + " --json " + d + "r.json").code, 0);
    auto result = nlohmann::json::parse(read_file(d + "r.json"));
    for (auto& g : result["goals"])
        if (g["file"] == "examples/units/Wrapper_seat_heating_control.c" && g.contains("lines")) {
            g["lines"].push_back({998, 999});
            break;
        }
    std::ofstream(d + "bad.json") << result.dump();
    auto r = kivrun("report " + d + "bad.json --html " + d + "html --source-root " + kRoot);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("examples/units/Wrapper_seat_heating_control.c:999: goal "), std::string::npos) << r.err;
    const std::string good = read_file(d + "html/examples_units_seat_heating_control.c.html");
    EXPECT_NE(good.find("SeatHeatControl_Init(void)"), std::string::npos) << "the other page has its code";
    const std::string bad = read_file(d + "html/examples_units_Wrapper_seat_heating_control.c.html");
    EXPECT_NE(bad.find("not the source that was run"), std::string::npos);
    fs::remove_all(d);
}

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
    "\"examples/units/seat_heating_control.c\", \"line\": 29, \"column\": 5, \"lines\": [[29, 31]]},"

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
