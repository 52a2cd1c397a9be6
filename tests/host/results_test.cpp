// kivrun merge and diff through the binary, on results of real runs of the
// example suite: what merge refuses (and that it then writes nothing), diff's
// verdicts, and the shares of a sharded run merging into the unsharded run.
#include "kivrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <sstream>

#include "host_test.h"
#include "compare/merge.h"

namespace {

using nlohmann::json;

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kExample = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv";

// The example suite's result, run once, as JSON to alter.
const json& example_result() {
    static const json j = [] {
        const std::string path = kivtest::write_file("example.json", "");
        const auto r = kivtest::kivrun("run " + kLib + " " + kExample + " -q --json " + path);
        EXPECT_EQ(r.code, 0) << r.err;
        return json::parse(kivtest::read_file(path));
    }();
    return j;
}

std::string save(const std::string& name, const json& j) {
    return kivtest::write_file(name, j.dump(1));
}

// The example's result split in two by case: even and odd positions.
json half(int parity) {
    json j = example_result();
    json cases = json::array();
    for (std::size_t c = 0; c < j["cases"].size(); ++c)
        if (static_cast<int>(c % 2) == parity) cases.push_back(j["cases"][c]);
    j["cases"] = cases;
    for (auto& g : j["goals"])  // each half reaches nothing: enough to merge
        g.erase("first"), g["reached"] = false;
    return j;
}

struct Refusal {
    const char* name;
    std::function<std::vector<json>()> inputs;  // saved as files, in this order
    const char* says;
};

const Refusal kRefusals[] = {
    {"AnotherLibraryBuild",
     [] {
         json other = half(1);
         other["run"]["library_id"] = "build-id:00ff";
         return std::vector<json>{half(0), other};
     },
     "are results of different library builds"},
    {"AnotherCatalog",
     [] {
         json other = half(1);
         other["run"]["catalog_id"] = "sha256:00ff";
         return std::vector<json>{half(0), other};
     },
     "are results of different catalogs"},
    {"ACaseTwice", [] { return std::vector<json>{half(0), example_result()}; }, "is in both"},
    {"NotAResult", [] { return std::vector<json>{half(0), json{{"cases", json::array()}}}; },
     "not a kivrun result (no \"format\""},
    {"NotJson", [] { return std::vector<json>{half(0), json("{")}; }, "not a kivrun result"},
    {"ACaseWithoutAName",
     [] {
         json bad = half(1);
         bad["cases"][0].erase("name");
         return std::vector<json>{half(0), bad};
     },
     "not a kivrun result (missing 'name')"},
    {"AGoalReachedByNoCase",
     [] {
         json bad = half(1);
         bad["goals"][0]["first"] = {{"case_index", bad["cases"].size()}, {"step", 1}};
         return std::vector<json>{half(0), bad};
     },
     "names no case"},
    {"AMissingShard",
     [] {
         json a = half(0), b = half(1);
         a["run"]["shard"] = {{"index", 0}, {"count", 3}};
         b["run"]["shard"] = {{"index", 2}, {"count", 3}};
         return std::vector<json>{a, b};
     },
     "shard 1/3 is missing"},
    {"MissingShardsAsRanges",
     [] {
         json a = half(0), b = half(1);
         a["run"]["shard"] = {{"index", 0}, {"count", 10}};
         b["run"]["shard"] = {{"index", 5}, {"count", 10}};
         return std::vector<json>{a, b};
     },
     "shards 1-4/10, 6-9/10 are missing"},
};

class MergeRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(MergeRefuses, ExitsTwoNamingTheProblemAndWritesNothing) {
    std::string args;
    int n = 0;
    for (const json& j : GetParam().inputs()) {
        const std::string name = std::string(GetParam().name) + std::to_string(n++) + ".json";
        // A JSON string stands for raw text, so that text which is not JSON can be given.
        args += " " + (j.is_string() ? kivtest::write_file(name, j.get<std::string>()) : save(name, j));
    }
    const std::string out = kivtest::write_file(std::string(GetParam().name) + ".merged.json", "");
    std::filesystem::remove(out);
    const auto r = kivtest::kivrun("merge" + args + " -o " + out);
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Inputs, MergeRefuses, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

TEST(Merge, RefusesNoResultsAndAnOutputThatIsAnInput) {
    const std::string in = save("alone.json", example_result());
    EXPECT_EQ(kivtest::kivrun("merge -o " + kivtest::write_file("none.json", "")).code, 2);
    const auto r = kivtest::kivrun("merge " + in + " -o " + in);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(json::parse(kivtest::read_file(in)), example_result()) << "the input was overwritten";
}

struct Change {
    const char* name;
    std::function<void(json&)> apply;  // to a copy of the example's result, the new one
    int code;
    const char* says;
};

json& goal_numbered(json& j, int n) {
    for (json& g : j["goals"])
        if (g["goal"] == n) return g;
    throw std::runtime_error("no goal " + std::to_string(n));
}

const Change kChanges[] = {
    {"NothingChanged", [](json&) {}, 0, "NO REGRESSION"},
    {"AGoalLost", [](json& j) { goal_numbered(j, 1).erase("first"); }, 1, "Goals lost (1):\n  ID 1562 KIV_G1   statement "},
    {"ACaseNewlyFailing",
     [](json& j) {
         j["cases"][2]["status"] = "failed";
         j["cases"][2]["mismatches"] = 1;
     },
     1, "seat_heater.csv:empty_seat_blocks_heating  passed -> failed: (1 of 16 checks failed)"},
    {"ANewCaseFailing",
     [](json& j) {
         json c = j["cases"][0];
         c["name"] = "new_case", c["status"] = "crashed";
         c["fault"] = {{"step", 1}, {"line", 7}, {"signal", "SIGSEGV"}, {"goals_kept", true}};
         j["cases"].push_back(c);
     },
     1, "seat_heater.csv:new_case  crashed: SIGSEGV in step 1"},
    {"ACaseRemovedAndNoGoalLost",
     [](json& j) {
         const std::size_t last = j["cases"].size() - 1;
         j["cases"].erase(last);
         for (json& g : j["goals"])  // reached by another case instead
             if (g.contains("first") && g["first"]["case_index"] == last) g["first"]["case_index"] = 0;
     },
     0, "seat_heater.csv:stage_from_runa2_carries_into_the_wrapper\n\nNO REGRESSION"},
    {"AGoalGained",
     [](json& j) { goal_numbered(j, 15)["first"] = goal_numbered(j, 1)["first"]; }, 0,
     "  total              153 of 176        154 of 176        1       0"},
};

class Diff : public testing::TestWithParam<Change> {};

TEST_P(Diff, ExitsOneOnlyOnALostGoalOrANewFailure) {
    json changed = example_result();
    GetParam().apply(changed);
    const std::string before = save("before.json", example_result());
    const std::string after = save(std::string(GetParam().name) + ".json", changed);
    const auto text = kivtest::kivrun("diff " + before + " " + after);
    EXPECT_EQ(text.code, GetParam().code) << text.err;
    EXPECT_NE(text.out.find(GetParam().says), std::string::npos) << text.out;
    const auto js = kivtest::kivrun("diff --json " + before + " " + after);
    EXPECT_EQ(js.code, GetParam().code) << js.err;
    EXPECT_EQ(json::parse(js.out)["regressed"], GetParam().code == 1);
}

INSTANTIATE_TEST_SUITE_P(Changes, Diff, testing::ValuesIn(kChanges),
                         [](const testing::TestParamInfo<Change>& p) { return std::string(p.param.name); });

TEST(DiffInput, NotAResultExitsTwo) {
    const auto r = kivtest::kivrun("diff " + save("d.json", example_result()) + " " +
                                   kivtest::write_file("e.json", "[]"));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("e.json: not a kivrun result"), std::string::npos) << r.err;
}

// Whether two results hold the same cases in the same order with the same
// outcomes, and the same goals first reached by the same case and step.
void expect_same_run(const kiv::Result& parts, const kiv::Result& whole) {
    ASSERT_EQ(parts.cases.size(), whole.cases.size());
    for (std::size_t c = 0; c < whole.cases.size(); ++c) {
        EXPECT_EQ(parts.cases[c].id(), whole.cases[c].id());
        EXPECT_EQ(parts.cases[c].verdict, whole.cases[c].verdict);
        EXPECT_EQ(parts.cases[c].checks, whole.cases[c].checks);
        EXPECT_EQ(parts.cases[c].step_lines, whole.cases[c].step_lines);
        EXPECT_GE(parts.cases[c].shard, 0);
        EXPECT_EQ(parts.cases[c].unique_goals, whole.cases[c].unique_goals) << whole.cases[c].id();
    }
    ASSERT_EQ(parts.goals.size(), whole.goals.size());
    for (std::size_t g = 0; g < whole.goals.size(); ++g) {
        EXPECT_EQ(parts.goals[g].first_case, whole.goals[g].first_case) << whole.goals[g].name();
        EXPECT_EQ(parts.goals[g].first_step, whole.goals[g].first_step) << whole.goals[g].name();
    }
}

class SharesMerged : public testing::TestWithParam<int> {};

// The example's cases dealt out of order to N shares, each run on its own:
// merged, they are the whole run.
TEST_P(SharesMerged, AreTheWholeRun) {
    const int n = GetParam();
    kiv::Target target(kLib);
    const kiv::Plan plan = kiv::load_suites({kExample}, target.schema(), {});
    kiv::RunDescription desc;
    desc.library = kLib;
    const kiv::Result whole = kiv::make_result(target, plan, kiv::run(target, plan, {}), desc, {}, {});
    std::vector<kiv::NamedResult> shares;
    for (int k = 0; k < n; ++k) {
        kiv::Plan share = plan;
        share.cases.clear();
        for (std::size_t c = 0; c < plan.cases.size(); ++c)
            if (static_cast<int>((c * 5 + c / 2) % static_cast<std::size_t>(n)) == k) share.cases.push_back(plan.cases[c]);
        desc.shard_index = k, desc.shard_count = n;
        shares.push_back({"share" + std::to_string(k),
                          kiv::make_result(target, share, kiv::run(target, share, {}), desc, {}, {})});
    }
    expect_same_run(kiv::merge_results(std::move(shares)), whole);
}

INSTANTIATE_TEST_SUITE_P(N, SharesMerged, testing::Values(1, 2, 3, 7));

class ShardsMerged : public testing::TestWithParam<int> {};

// The shares' merge is the unsharded run: the same cases in the same order
// with the same outcomes, the same goals first reached by the same case and step.
TEST_P(ShardsMerged, AreTheUnshardedRun) {
    if (kivtest::kivrun("run --help").out.find("--shard") == std::string::npos)
        GTEST_SKIP() << "kivrun run has no --shard yet";
    const int n = GetParam();
    std::string shards;
    for (int k = 0; k < n; ++k) {
        const std::string path = kivtest::write_file("shard" + std::to_string(k) + "of" + std::to_string(n) + ".json", "");
        const auto r = kivtest::kivrun("run " + kLib + " " + kExample + " -q --shard " + std::to_string(k) + "/" +
                                       std::to_string(n) + " --json " + path);
        ASSERT_EQ(r.code, 0) << r.err;
        shards += " " + path;
    }
    const std::string merged = kivtest::write_file("merged" + std::to_string(n) + ".json", "");
    const auto m = kivtest::kivrun("merge" + shards + " -o " + merged);
    ASSERT_EQ(m.code, 0) << m.err;
    std::istringstream text(example_result().dump());
    const kiv::Result whole = kiv::read_json(text, "whole");
    expect_same_run(kiv::read_json_file(merged), whole);
}

INSTANTIATE_TEST_SUITE_P(N, ShardsMerged, testing::Values(1, 2, 3, 7));

}  // namespace
