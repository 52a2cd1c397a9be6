// MC/DC: the analysis against a brute-force reference (C++'s own && and ||
// give the vectors, a pair is checked by trying every full assignment), and
// kivrun run --mcdc on the real library.
#include "mcdc/mcdc.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <sstream>

#include "error.h"
#include "host_test.h"

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

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kExample = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv";

nlohmann::json run_json(const std::string& args, const std::string& name) {
    const std::string path = kivtest::write_file(name, "");
    const auto r = kivtest::kivrun("run " + kLib + " " + kExample + " -q --json " + path + " " + args);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    return nlohmann::json::parse(kivtest::read_file(path));
}

// The replay runs apart from the workers: every figure of the run stays as it
// was; a process per case replays the same; the section reads back as written.
TEST(McdcRun, ExampleSuiteKeepsItsGoalsAndShowsAllButTheConstantDecisions) {
    const auto plain = run_json("", "plain.json");
    const auto with = run_json("--mcdc", "mcdc.json");
    EXPECT_EQ(plain["goals"], with["goals"]);
    EXPECT_EQ(plain["coverage"], with["coverage"]);
    ASSERT_TRUE(with.contains("mcdc"));
    const auto& m = with["mcdc"];
    EXPECT_EQ(m["steps"], 60);
    EXPECT_EQ(m["steps_not_replayed"], 0);
    EXPECT_EQ(m["coverage"]["total"], 23);
    std::vector<std::string> open;
    for (const auto& d : m["decisions"]) {
        EXPECT_EQ(d["repeated"], 0);
        for (const auto& c : d["conditions"])
            if (!c["shown"].get<bool>()) open.push_back(c["record"]);
    }
    // The wrapper's tick_counter tests have the same outcome on every step.
    EXPECT_EQ(open, (std::vector<std::string>{"TU16ixa_dc_cond1", "TU16ixa_dc_cond3", "TU16ixa_dc_cond4",
                                              "TU16ixa_dc_cond5"}));
    EXPECT_EQ(run_json("--mcdc --isolation fork", "fork.json")["mcdc"], m);
    std::ostringstream again;
    const kiv::Result read = kiv::read_json_file(kivtest::write_file("mcdc.json", with.dump()));
    kiv::write_json(read, kiv::summarize(read), again);
    EXPECT_EQ(nlohmann::json::parse(again.str())["mcdc"], m);
}

struct Invocation {
    const char* name;
    const char* args;  // {lib}, {stripped}, {example}, {ids}, {old}, {justify} are replaced
    int code;
    const char* says;  // in stdout or stderr
};

const Invocation kInvocations[] = {
    {"StrippedLibraryIsRefused", "{stripped} {ids} --catalog " KIV_CATALOG_PATH " --mcdc", 2,
     "has no symbol table (stripped?)"},
    {"StrippedLibraryRunsWithoutMcdc", "{stripped} {ids} --catalog " KIV_CATALOG_PATH, 0, "PASSED"},
    {"CatalogWithoutDecisionsIsRefused", "{lib} {ids} --catalog {old} --mcdc", 2, "lists no decisions"},
    {"CatalogWithoutDecisionsRunsWithoutMcdc", "{lib} {ids} --catalog {old}", 0, "PASSED"},
    {"NoCatalogIsRefused", "{lib} {ids} --no-catalog --mcdc", 2, "--mcdc needs the library's catalog"},
    {"ThresholdWithoutMcdcIsRefused", "{lib} {ids} --fail-under mcdc=10", 2, "--fail-under mcdc needs --mcdc"},
    // 19 of 23 is 82.608...%: compared exactly.
    {"ThresholdMet", "{lib} {example} --mcdc --fail-under mcdc=82.6", 0, "mcdc 82.61% >= 82.60%: met"},
    {"ThresholdMissed", "{lib} {example} --mcdc --fail-under mcdc=82.7", 1, "mcdc 82.6% < 82.7%: NOT MET"},
    {"JustifiedConditionsCountAsCovered", "{lib} {example} --mcdc --justify {justify} --fail-under mcdc=100", 0,
     "mcdc 100.0% >= 100.0%: met (23 of 23 conditions)"},
    {"UnknownConditionOfAJustificationIsRefused", "{lib} {ids} --justify {bad_justify}", 2,
     "'2' is not a condition of TU18ixa_dc_cond1"},
};

class McdcCommandLine : public ::testing::TestWithParam<Invocation> {};

TEST_P(McdcCommandLine, ExitsWithItsCodeAndSaysWhy) {
    const std::string stripped = kivtest::write_file("stripped.so", "");
    ASSERT_EQ(kivtest::run_command("strip -o '" + stripped + "' '" + kLib + "'").code, 0);
    auto catalog = nlohmann::json::parse(kivtest::read_file(KIV_CATALOG_PATH));
    catalog.erase("records");
    std::string args = GetParam().args;
    const std::pair<std::string, std::string> values[] = {
        {"{lib}", kLib},
        {"{stripped}", stripped},
        {"{example}", kExample},
        {"{ids}", kivtest::write_file("ids.csv", "case,scope,959\nc,955,30\n")},
        {"{old}", kivtest::write_file("old.catalog.json", catalog.dump())},
        {"{justify}", kivtest::write_file("j.csv",
                                          "goal,reason\n"
                                          "MCDC:TU16ixa_dc_cond1:0,tick_counter < 1 holds on every step\n"
                                          "MCDC:TU16ixa_dc_cond3:TU16ixa_dc_cond3,tick_counter is 1 here\n"
                                          "mcdc:TU16ixa_dc_cond4:0,tick_counter is 1 here\n"
                                          "MCDC:TU16ixa_dc_cond5:0,tick_counter is 1 here\n")},
        {"{bad_justify}", kivtest::write_file("bad.csv", "goal,reason\nMCDC:TU18ixa_dc_cond1:2,no such\n")}};
    for (const auto& [key, value] : values)
        for (std::size_t at; (at = args.find(key)) != std::string::npos;)
            args.replace(at, key.size(), value);
    const auto r = kivtest::kivrun("run " + args);
    EXPECT_EQ(r.code, GetParam().code) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(GetParam().says), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Invocations, McdcCommandLine, ::testing::ValuesIn(kInvocations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
