// kivrun generate: the same seed gives the same suite, what it writes passes
// `kivrun run` with every expectation, minimising loses no goal, a crashing
// library leaves findings and a search that went on, --mcdc keeps the MC/DC
// pairs, and bad input writes nothing.
#include "kivrun.h"
#include "generate/minimise.h"
#include "generate/runner.h"
#include "generate/search.h"
#include "generate/suite_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "host_test.h"

namespace {

const std::string kLib = KIV_LIBRARY_PATH;
const std::string kJustify = std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.justify.csv";

std::string fresh_path(const std::string& name) {
    const std::string p = kivtest::write_file(name, "");
    std::filesystem::remove(p);
    return p;
}

TEST(KivrunGenerate, TheSameSeedWritesTheSameSuiteAndItPassesRunWithEveryExpectation) {
    const std::string a = fresh_path("a.csv"), b = fresh_path("b.csv");
    const auto ra = kivtest::kivrun("generate " + kLib + " -o " + a + " --seed 7 --justify " + kJustify);
    ASSERT_EQ(ra.code, 0) << ra.out << ra.err;
    EXPECT_NE(ra.out.find("153 of 176 goals reached, 23 justified (23 proven), 0 missed"), std::string::npos) << ra.out;
    const auto rb = kivtest::kivrun("generate " + kLib + " -o " + b + " --seed 7 --justify " + kJustify);
    ASSERT_EQ(rb.code, 0) << rb.out << rb.err;
    EXPECT_EQ(kivtest::read_file(a), kivtest::read_file(b));

    const auto run = kivtest::kivrun("run " + kLib + " " + a + " --justify " + kJustify + " --fail-under total=100");
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("0 failed, 0 crashed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("total             153         23    176"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("(0 checks)"), std::string::npos) << "a case without expectations:\n" << run.out;
}

// Conditions `kivrun run --mcdc` shows independent on a suite, and their count
// as the line of generate's report claims it.
std::set<std::string> shown_by(const std::string& suite) {
    const std::string json = fresh_path("mcdc.json");
    const auto r = kivtest::kivrun("run " + kLib + " " + suite + " -q --mcdc --json " + json);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::set<std::string> shown;
    const auto report = nlohmann::json::parse(kivtest::read_file(json));
    EXPECT_TRUE(report.contains("mcdc")) << r.out << report.dump().substr(0, 300);
    for (const auto& d : report["mcdc"]["decisions"])
        for (const auto& c : d["conditions"])
            if (c["shown"].get<bool>()) shown.insert(d["record"].get<std::string>() + "/" + c["record"].get<std::string>());
    return shown;
}

// With --mcdc the suite keeps cases for pairs, not only for goals: it shows
// every condition the hand-written example shows (all but the wrapper's
// constant ones), no fewer than a suite generated for the goals alone, and
// the figure generate reports is the one the run measures.
TEST(KivrunGenerate, McdcSuiteShowsEveryConditionTheExampleShows) {
    const std::string plain = fresh_path("plain.csv"), mcdc = fresh_path("mcdc.csv");
    const auto rp = kivtest::kivrun("generate " + kLib + " -o " + plain + " --seed 7 -q --justify " + kJustify);
    ASSERT_EQ(rp.code, 0) << rp.out << rp.err;
    const auto rm = kivtest::kivrun("generate " + kLib + " -o " + mcdc + " --seed 7 -q --mcdc --plateau 4000 --justify " + kJustify);
    ASSERT_EQ(rm.code, 0) << rm.out << rm.err;
    const auto example = shown_by(std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.csv");
    const auto with = shown_by(mcdc);
    ASSERT_EQ(example.size(), 19u);
    for (const auto& c : example)
        EXPECT_TRUE(with.count(c)) << c << " not shown by the --mcdc suite";
    EXPECT_GE(with.size(), shown_by(plain).size());
    EXPECT_NE(rm.out.find("mcdc: " + std::to_string(with.size()) + " of 23 conditions"), std::string::npos) << rm.out;
}

// The cover and the shortening of a partial corpus (a short search, so not
// every goal is reached) keep exactly the goals the corpus reached.
TEST(KivrunGenerate, MinimisingKeepsEveryGoalTheCorpusReached) {
    kiv::Target target(kLib, std::string(KIV_CATALOG_PATH));
    kiv::gen::Runner runner(target, {3, 4});
    kiv::gen::Execute exec = [&](const kiv::gen::Case& c, kiv::gen::Observation& o) { runner.execute(c, o); };
    for (uint64_t seed : {1, 2, 3}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        kiv::gen::Engine engine(runner.space(), exec, seed, {});
        kiv::gen::Limits limits;
        limits.max_executions = 300;
        engine.run(limits);
        const auto suite = kiv::gen::minimise(engine.corpus(), exec);
        std::vector<uint8_t> kept(runner.space().goals, 0);
        std::size_t steps = 0, corpus_steps = 0;
        for (const auto& c : suite) {
            steps += c.steps.size();
            kiv::gen::Observation again;
            runner.execute(c.steps, again);
            EXPECT_EQ(again.reached, c.seen.reached);  // what is written is what a new run shows
            for (std::size_t g = 0; g < kept.size(); ++g)
                kept[g] |= again.reached[g];
        }
        for (const auto& e : engine.corpus())
            corpus_steps += e.steps.size();
        EXPECT_EQ(kept, engine.reached());
        EXPECT_LT(steps, corpus_steps);
    }
}

// A counter behind a comparison, as a search sees it: input 0 at 1 counts a
// step, anything else resets the count; goal 0 is "count reached 20", goal 1
// "input 0 was 1 once". The distance of goal 0 is 20 minus the highest count.
struct Counter {
    int target = 20;
    kiv::gen::Space space() const {
        kiv::gen::Space s;
        s.scopes = {1};
        kiv::gen::InputSpace in;
        in.dictionary = {0, 1, 2};
        s.inputs = {in};
        s.at_load = {0};
        s.goals = 2;
        return s;
    }
    void operator()(const kiv::gen::Case& c, kiv::gen::Observation& o) const {
        int64_t value = 0;
        int count = 0, most = 0;
        uint32_t at = 0;
        for (std::size_t k = 0; k < c.size(); ++k) {
            for (const auto& x : c[k].sets)
                value = x.value;
            count = value == 1 ? count + 1 : 0;
            if (count > most) most = count, at = static_cast<uint32_t>(k);
        }
        o.reached = {uint8_t(most >= target), uint8_t(most > 0)};
        o.distance = {most >= target ? 0u : uint64_t(target - most), most > 0 ? 0u : kiv::gen::kFar};
        o.near_step = {at, 0};
    }
};

// The goal is reached, and each case kept for coming nearer to it came
// nearer than the one before: the search climbs the counter, it does not
// stumble on the goal. The same seed gives the same corpus.
TEST(KivrunGenerate, AGoalBehindACounterIsReachedAsItsDistanceShrinks) {
    std::vector<std::vector<kiv::gen::Case>> corpora;
    for (int run = 0; run < 2; ++run) {
        kiv::gen::Engine engine(Counter{}.space(), Counter{}, 5, {});
        std::vector<uint64_t> nearer;
        engine.on_entry = [&](const kiv::gen::Entry& e) {
            if (!e.distance.empty() && (nearer.empty() || e.distance[0] < nearer.back())) nearer.push_back(e.distance[0]);
        };
        kiv::gen::Limits limits;
        limits.max_executions = 20000;
        EXPECT_EQ(engine.run(limits), kiv::gen::Stop::goals);
        EXPECT_EQ(engine.reached(), (std::vector<uint8_t>{1, 1}));
        ASSERT_GE(nearer.size(), 3u);
        EXPECT_EQ(nearer.back(), 0u);
        EXPECT_TRUE(std::is_sorted(nearer.rbegin(), nearer.rend()));
        const auto near = kiv::gen::closest(engine.corpus(), 2);
        EXPECT_EQ(near[0].distance, 0u);
        std::vector<kiv::gen::Case> cases;
        for (const auto& e : engine.corpus())
            cases.push_back(e.steps);
        corpora.push_back(std::move(cases));
    }
    EXPECT_EQ(corpora[0], corpora[1]);
}

// With a goal out of reach the search does not stop on its first plateau:
// it lets cases grow, up to --max-steps, and stops on a second plateau at
// that length, with the nearest distance and the step where it was seen.
TEST(KivrunGenerate, AnUnreachableGoalEndsOnAPlateauAtFullLengthWithItsClosestDistance) {
    const Counter far{100};  // more presses than the longest case allowed
    kiv::gen::Engine engine(far.space(), far, 3, {});
    kiv::gen::Limits limits;
    limits.plateau = 500;
    limits.first_steps = 4;
    limits.max_steps = 64;
    EXPECT_EQ(engine.run(limits), kiv::gen::Stop::plateau);
    EXPECT_EQ(engine.progress().steps_cap, 64u);
    EXPECT_EQ(engine.progress().plateaus, 2u);  // cases grow to 64 first, then two plateaus there
    const auto near = kiv::gen::closest(engine.corpus(), 2);
    EXPECT_EQ(near[0].distance, 100u - 64u);  // a whole case of presses
    EXPECT_EQ(near[0].step, 63u);
}

// A counter that needs more steps than --max-steps: past it the cases grow
// only when a goal still comes nearer at a case's last step, up to
// needed_steps; held at max_steps, the search says the cap held a goal back.
struct LongCaseRow {
    const char* name;
    std::size_t needed_steps;
    kiv::gen::Stop stop;
    bool reached, held_back;
};
const LongCaseRow kLongCaseRows[] = {
    {"GrowsPastMaxStepsWhenAGoalNeedsIt", 4096, kiv::gen::Stop::goals, true, false},
    {"SaysTheCapHeldAGoalBackWhenHeldToMaxSteps", 0, kiv::gen::Stop::plateau, false, true},
};
class KivrunGenerateLongCases : public testing::TestWithParam<LongCaseRow> {};
TEST_P(KivrunGenerateLongCases, ForACounterOf259Steps) {
    const auto& row = GetParam();
    const Counter counter{259};
    kiv::gen::Engine engine(counter.space(), counter, 11, {});
    kiv::gen::Limits limits;
    limits.plateau = 2000;
    limits.max_steps = 256;
    limits.needed_steps = row.needed_steps;
    limits.max_executions = 400000;
    EXPECT_EQ(engine.run(limits), row.stop);
    EXPECT_EQ(engine.reached()[0] != 0, row.reached);
    EXPECT_EQ(engine.progress().held_back, row.held_back ? 1u : 0u);
    if (row.held_back) {
        EXPECT_EQ(engine.progress().held_back_goals[0], 0u);  // the counter's goal
    }
    if (row.reached) EXPECT_GT(engine.progress().steps_cap, 256u);
    else EXPECT_EQ(engine.progress().steps_cap, 256u);
}
INSTANTIATE_TEST_SUITE_P(Rows, KivrunGenerateLongCases, testing::ValuesIn(kLongCaseRows),
                         [](const testing::TestParamInfo<LongCaseRow>& i) { return std::string(i.param.name); });

// Cases that killed the search's process, handed to a fresh engine as a
// restart does: the step from the load state that killed is not run again,
// and a scope that killed three times but let other inputs pass is still
// searched (the search reaches the counter's goals within its budget rather
// than stopping when every variation is avoided).
struct AvoidRow {
    const char* name;
    std::vector<kiv::gen::Case> fatal;
    std::vector<kiv::gen::Case> adopted;
};

const AvoidRow kAvoidRows[] = {
    {"TheLoadStateStepThatKilled", {{{1, {}}}}, {}},
    {"AScopeThatKilledThriceButLetsOtherInputsPass",
     {{{1, {{0, 7}}}}, {{1, {{0, 8}}}}, {{1, {{0, 9}}}}},
     {{{1, {{0, 2}}}}}},
};

class KivrunGenerateAvoids : public testing::TestWithParam<AvoidRow> {};

TEST_P(KivrunGenerateAvoids, WhatKilledAndSearchesOn) {
    const AvoidRow& row = GetParam();
    std::vector<kiv::gen::Case> ran;
    const Counter counter{4};
    kiv::gen::Engine engine(counter.space(), counter, 7, {});
    for (const auto& f : row.fatal)
        engine.avoid(f);
    for (const auto& c : row.adopted) {
        kiv::gen::Observation o;
        counter(c, o);
        engine.adopt({c, o.reached, o.outputs, o.vectors, o.distance, o.near_step});
    }
    engine.before_run = [&](const kiv::gen::Case& c) { ran.push_back(c); };
    kiv::gen::Limits limits;
    limits.max_executions = 20000;
    EXPECT_EQ(engine.run(limits), kiv::gen::Stop::goals);
    for (const auto& c : ran)
        for (const auto& f : row.fatal)
            EXPECT_FALSE(c.size() == 1 && c == f) << "ran a case that killed the search";
}

INSTANTIATE_TEST_SUITE_P(Rows, KivrunGenerateAvoids, testing::ValuesIn(kAvoidRows),
                         [](const testing::TestParamInfo<AvoidRow>& p) { return std::string(p.param.name); });

// The stand-in library segfaults in scope 1 on input 254 and raises goal 107
// on input 2; its catalog offers scope 1 alone. The crash is a finding, and
// the search goes on to its plateau with both goals of scope 1 reached.
TEST(KivrunGenerate, ACrashingCaseIsKeptAsAFindingAndTheSearchGoesOn) {
    std::string goals;
    for (int g = 0; g < 8; ++g)
        goals += std::string(g ? "," : "") + "{\"id\":" + std::to_string(100 + g) + ",\"goal\":" + std::to_string(g + 1) +
                 ",\"criterion\":\"statement\",\"kind\":\"STM\",\"record\":\"r" + std::to_string(g) +
                 "\",\"field\":\"hitCount\",\"function\":\"step\",\"meaning\":\"goal " + std::to_string(g) + "\"}";
    const std::string catalog = kivtest::write_file(
        "standin.catalog.json",
        R"({"format":1,"scopes":[{"uid":1,"name":"plus_one","step":"s","unit":"u","init":"i","inputs":[10],)"
        R"("outputs":["plus_one.out"]}],"inputs":[{"id":10,"name":"plus_one.in","variable":"kiv_haux0",)"
        R"("scope":1,"feeds":"v","setter":"plain"}],"outputs":[{"name":"plus_one.out","variable":"kiv_haux1",)"
        R"("scope":1,"from":"v"}],"goals":[)" +
            goals + "]}");
    const std::string suite = fresh_path("standin.csv"), crashes = fresh_path("standin.crashes.csv");
    const auto r = kivtest::kivrun("generate " KIV_STANDIN_PATH " --catalog " + catalog + " -o " + suite +
                                   " --seed 3 --plateau 3000");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("2 of 8 goals reached, 0 justified, 6 missed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("crash: SIGSEGV at step"), std::string::npos) << r.out;
    EXPECT_NE(kivtest::read_file(suite).find(",2,3,for KIV_G"), std::string::npos) << kivtest::read_file(suite);
    EXPECT_NE(kivtest::read_file(crashes).find(",254"), std::string::npos) << kivtest::read_file(crashes);

    const auto again = kivtest::kivrun("run " KIV_STANDIN_PATH " --catalog " + catalog + " " + crashes);
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.out.find("1 crashed"), std::string::npos) << again.out << again.err;
    const auto passes = kivtest::kivrun("run " KIV_STANDIN_PATH " --catalog " + catalog + " " + suite);
    EXPECT_EQ(passes.code, 0) << passes.out << passes.err;
}

// A case is named by its goal's meaning: operators as words, a field path as
// a path, nothing but [a-z0-9_].
struct NameRow {
    const char* meaning;
    const char* name;
};
const NameRow kNameRows[] = {
    {"handle->repeat > 3", "reaches_G7_handle_repeat_gt_3"},
    {"ctx->rx.state != IDLE && !p->busy", "reaches_G7_ctx_rx_state_ne_idle_and_not_p_busy"},
    {"p->n >= 2", "reaches_G7_p_n_ge_2"},
};
class KivrunGenerateNames : public testing::TestWithParam<NameRow> {};
TEST_P(KivrunGenerateNames, ReadAsTheGoalsMeaning) {
    kiv::CatalogGoal info;
    info.goal = 7;
    info.meaning = GetParam().meaning;
    EXPECT_EQ(kiv::gen::case_name_for({1, &info}), GetParam().name);
}
INSTANTIATE_TEST_SUITE_P(Rows, KivrunGenerateNames, testing::ValuesIn(kNameRows));

struct BadInvocation {
    const char* name;
    const char* args;  // {lib}, {out}, {dir} replaced
    const char* err;
};

const BadInvocation kBad[] = {
    {"OutputInAMissingDirectory", "generate {lib} -o {dir}/no/such/dir/s.csv", "does not exist"},
    {"OutputIsADirectory", "generate {lib} -o {dir}", "is a directory"},
    {"ExistingOutputWithoutForce", "generate {lib} -o {existing}", "exists; give --force"},
    {"ZeroTimeBudget", "generate {lib} -o {out} --time-budget 0", "--time-budget"},
    {"NegativeMaxExecutions", "generate {lib} -o {out} --max-executions -5", "--max-executions"},
    {"JustificationOfAnUnknownGoal", "generate {lib} -o {out} --justify {justify}", "KIV_G999"},
};

class KivrunGenerateBadInput : public ::testing::TestWithParam<BadInvocation> {};

TEST_P(KivrunGenerateBadInput, ExitsTwoAndWritesNothing) {
    const auto& p = GetParam();
    const std::string out = fresh_path("bad.csv");
    const std::string existing = kivtest::write_file("existing.csv", "keep me");
    const std::string justify = kivtest::write_file("bad.justify.csv", "goal,reason\nKIV_G999,why\n");
    std::string args = p.args;
    auto put = [&](const std::string& key, const std::string& v) {
        for (std::size_t at; (at = args.find(key)) != std::string::npos;)
            args.replace(at, key.size(), v);
    };
    put("{lib}", kLib), put("{out}", out), put("{existing}", existing), put("{justify}", justify);
    put("{dir}", std::filesystem::path(out).parent_path().string());
    const auto r = kivtest::kivrun(args);
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(p.err), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(kivtest::read_file(existing), "keep me");
}

INSTANTIATE_TEST_SUITE_P(, KivrunGenerateBadInput, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
