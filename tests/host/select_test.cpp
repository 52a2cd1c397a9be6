// Choosing cases: filters, shards (whose union must be the whole run, each
// case once), the command line's answers to a bad share; and --record's
// round trip.
#include "kivrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>

#include "host_test.h"

namespace {

kiv::Plan two_suites() {
    static const kiv::Catalog catalog = kiv::load_catalog(KIV_CATALOG_PATH);
    static const kiv::Schema schema = kiv::Schema::of(catalog);  // points into the catalog
    kiv::Plan plan;
    kiv::parse_suite("a.csv", "case,scope\nstage_up,955\nstage_down,955\nsetup_like,955\n", schema, {}, plan);
    kiv::parse_suite("dir/b.csv", "case,scope\nstage_up,955\nother,955\n", schema, {}, plan);
    return plan;
}

std::string ids(const kiv::Plan& plan) {
    std::string s;
    for (const auto& c : plan.cases)
        s += (s.empty() ? "" : " ") + kiv::case_id(plan, c);
    return s;
}

const struct {
    std::vector<std::string> filters;
    const char* chosen;
} kFilters[] = {
    {{}, "a:stage_up a:stage_down a:setup_like b:stage_up b:other"},
    {{"stage_*"}, "a:stage_up a:stage_down b:stage_up"},
    {{"b:*"}, "b:stage_up b:other"},
    {{"*up", "-b:*"}, "a:stage_up"},
    {{"-stage_?own"}, "a:stage_up a:setup_like b:stage_up b:other"},
    {{"a:stage_down", "other"}, "a:stage_down b:other"},
};

TEST(KivrunSelect, FiltersMatchNamesOrSuiteAndCaseAndExclude) {
    for (const auto& row : kFilters) {
        kiv::Selection s;
        s.filters = row.filters;
        EXPECT_EQ(ids(kiv::select_cases(two_suites(), s)), row.chosen) << testing::PrintToString(row.filters);
    }
    kiv::Selection typo;
    typo.filters = {"stage_upp"};
    EXPECT_THROW(kiv::select_cases(two_suites(), typo), kiv::Error);
}

TEST(KivrunSelect, RepeatAndShuffleKeepEveryCaseAndASeedsOrder) {
    kiv::Selection s;
    s.repeat = 2, s.shuffle = true, s.seed = 7;
    const std::string order = ids(kiv::select_cases(two_suites(), s));
    EXPECT_EQ(order, ids(kiv::select_cases(two_suites(), s)));
    std::multiset<std::string> seen;
    for (const auto& c : kiv::select_cases(two_suites(), s).cases)
        seen.insert(c.name);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen.count("stage_up#2"), 2u);
}

TEST(KivrunSelect, BadSharesAreRefusedWithExit2) {
    for (const char* bad : {"3/3", "-1/2", "0/0", "1", "a/b", "1/2/3", "/2"}) {
        const auto r = kivtest::kivrun("run " KIV_LIBRARY_PATH " " KIV_SOURCE_DIR "/examples/seat_heater.csv --shard " +
                                       std::string(bad));
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.err.find("--shard '" + std::string(bad) + "'"), std::string::npos) << r.err;
    }
    const auto r = kivtest::kivrun("run " KIV_LIBRARY_PATH " " KIV_SOURCE_DIR
                                   "/examples/seat_heater.csv --list");  // no environment: no shard
    EXPECT_EQ(r.code, 0) << r.err;
}

struct Outcomes {
    std::map<std::string, std::string> cases;  // name -> status
    std::set<int64_t> goals;                   // IDs reached
};

Outcomes run_json(const std::string& extra) {
    const std::string json = kivtest::write_file("shard.json", "");
    const auto r = kivtest::kivrun("run " KIV_LIBRARY_PATH " " KIV_SOURCE_DIR "/examples/seat_heater.csv -q --json " +
                                   json + " " + extra);
    EXPECT_LE(r.code, 1) << r.err;
    Outcomes o;
    const auto j = nlohmann::json::parse(kivtest::read_file(json));
    for (const auto& c : j.at("cases")) {
        const std::string name = c.at("name");
        EXPECT_TRUE(o.cases.emplace(name, c.at("status").get<std::string>()).second) << name;
    }
    for (const auto& g : j.at("goals"))
        if (g.value("reached", false)) o.goals.insert(g.at("id").get<int64_t>());
    return o;
}

class KivrunShards : public testing::TestWithParam<int> {};

TEST_P(KivrunShards, TogetherRunEveryCaseOnceAndReachTheSameGoals) {
    const Outcomes whole = run_json("");
    Outcomes joined;
    const int n = GetParam();
    for (int k = 0; k < n; ++k) {
        const Outcomes share = run_json("--shard " + std::to_string(k) + "/" + std::to_string(n));
        for (const auto& [name, status] : share.cases)
            EXPECT_TRUE(joined.cases.emplace(name, status).second) << name << " in two shards";
        joined.goals.insert(share.goals.begin(), share.goals.end());
    }
    EXPECT_EQ(joined.cases, whole.cases);
    EXPECT_EQ(joined.goals, whole.goals);
    EXPECT_FALSE(whole.goals.empty());
}

INSTANTIATE_TEST_SUITE_P(N, KivrunShards, testing::Values(1, 2, 3, 7));

TEST(KivrunRecord, ARecordedSuitePassesEveryCheckAndNeverOverwritesAnInput) {
    // Wrong expectations, a setup case, a range and a set: the record holds
    // what the library did, so running it passes.
    const std::string suite = kivtest::write_file(
        "to_record.csv",
        "case,scope,SeatOccupied,PowerMgtState,GetButtonPressed_status,expect SetHeatingCoil_temp,expect "
        "LEDFeedback[0]\n"
        "setup,Wrapper_seat_heating_control,1,1,0,99,\n"
        "press,Wrapper_seat_heating_control,,,1,0x2F,0|7\n"
        ",,,,0,1..2,\n"
        "empty_seat,Wrapper_seat_heating_control,0,,1,,\n");
    const std::string recorded = kivtest::write_file("recorded.csv", "");
    const std::string examples = KIV_SOURCE_DIR "/examples/seat_heater.csv";
    const auto first =
        kivtest::kivrun("run " KIV_LIBRARY_PATH " " + suite + " " + examples + " -q --record-all --record " + recorded);
    EXPECT_EQ(first.code, 1) << first.err;  // its own checks fail
    const auto again = kivtest::kivrun("run " KIV_LIBRARY_PATH " " + recorded + " --json " + recorded + ".json");
    EXPECT_EQ(again.code, 0) << again.out << again.err;
    const auto j = nlohmann::json::parse(kivtest::read_file(recorded + ".json"));
    EXPECT_EQ(j.at("cases").size(), 13u);  // 2 + the example's 11; the setup's steps are in each case
    const std::string text = kivtest::read_file(recorded);
    EXPECT_NE(text.find("expect runa2.TemperatureStage"), std::string::npos);  // --record-all
    const auto refused = kivtest::kivrun("run " KIV_LIBRARY_PATH " " + suite + " -q --record " + suite);
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(kivtest::read_file(suite).find("0x2F"), std::string::npos);
}

}  // namespace
