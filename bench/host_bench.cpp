// Fresh-state test cases through kivrun's own execution path (suite text,
// plan, workers, isolation), and the cost of the isolation alone.
#include "benchmarks.h"
#include "harness_api.h"
#include "summary.h"

#ifdef KIV_BENCH_HOST

#include "kivrun.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace kivbench {

namespace {

// Ten wrapper steps: the stage walks 0, 1, 2, 3 and wraps, the power state and
// then the seat switch heating off and on again; every step checks the LEDs
// and the coil. An empty cell keeps the previous value.
constexpr const char* kTenStepSuite =
    "case,scope,"
    "Wrapper_seat_heating_control.TemperatureStage1,Wrapper_seat_heating_control.TemperatureStage2,"
    "Wrapper_seat_heating_control.TemperatureStage3,Wrapper_seat_heating_control.SeatOccupied,"
    "Wrapper_seat_heating_control.PowerMgtState,Wrapper_seat_heating_control.PowerMgtState_err,"
    "Wrapper_seat_heating_control.GetButtonPressed_status,"
    "expect Wrapper_seat_heating_control.LEDFeedback[0],expect Wrapper_seat_heating_control.LEDFeedback[1],"
    "expect Wrapper_seat_heating_control.LEDFeedback[2],expect Wrapper_seat_heating_control.SetHeatingCoil_temp\n"
    "ten_steps,Wrapper_seat_heating_control,30,35,45,1,1,0,0,0,0,0,0\n"
    "ten_steps,,,,,,,,1,1,0,0,30\n"
    "ten_steps,,,,,,,,0,1,0,0,30\n"
    "ten_steps,,,,,,,,1,1,1,0,35\n"
    "ten_steps,,,,,,,,0,1,1,0,35\n"
    "ten_steps,,,,,,,,1,1,1,1,45\n"
    "ten_steps,,,,,,2,,0,1,1,1,45\n"
    "ten_steps,,,,,,1,,1,0,0,0,0\n"
    "ten_steps,,,,,0,,,0,0,0,0,0\n"
    "ten_steps,,,,,1,,,1,1,0,0,30\n";

// The host's target, loaded from a private copy of the library: the step
// benchmarks of this process have stepped the library file's first load, and
// each case here must start from the state at load.
class HostFixture {
public:
    HostFixture() {
        char dir_template[] = "/tmp/kiv_bench_XXXXXX";
        if (mkdtemp(dir_template) == nullptr) throw kiv::Error("cannot make a temporary directory");
        dir_ = dir_template;
        const auto copy = dir_ / "libdllharness.so";
        std::filesystem::copy_file(KIV_LIBRARY_PATH, copy);
        target_ = std::make_unique<kiv::Target>(copy.string(), std::string(KIV_CATALOG_PATH));
        ten_steps_ = kiv::Plan{};
        kiv::parse_suite("ten_steps.csv", kTenStepSuite, target_->schema(), {}, ten_steps_);
        zero_steps_.files = {"zero_steps"};
        zero_steps_.cases = {kiv::PlanCase{"zero_steps", 0, 1, 0, 0}};
    }
    ~HostFixture() {
        target_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    const kiv::Target& target() const { return *target_; }
    const kiv::Plan& plan(int steps) const { return steps == 0 ? zero_steps_ : ten_steps_; }

private:
    std::filesystem::path dir_;
    std::unique_ptr<kiv::Target> target_;
    kiv::Plan ten_steps_, zero_steps_;
};

const HostFixture& fixture() {
    static const HostFixture f;
    return f;
}

// One iteration is one run of `cases` cases; its time is the run's own wall
// time, which kivrun measures from the first worker's start to the last result.
void host_run(benchmark::State& state, kiv::Isolation isolation, int workers, int steps, int cases) {
    const HostFixture& f = fixture();
    close_registries();
    const kiv::Plan plan = kiv::repeat_cases(f.plan(steps), static_cast<std::size_t>(cases));
    for (auto _ : state) {
        kiv::RunResult r;
        try {
            r = kiv::run(f.target(), plan, {isolation, workers});
        } catch (const kiv::Error& e) {
            state.SkipWithError(e.what());
            return;
        }
        for (const kiv::CaseOutcome& c : r.cases)
            if (c.status != kiv::CaseStatus::passed) {
                state.SkipWithError("a case did not pass: the benchmark's suite or the host is broken");
                return;
            }
        state.SetIterationTime(r.seconds);
    }
}

// The operating system's share of fork isolation: a child per case that does
// nothing, forked from this same process with the same library loaded. Fork
// times swing with what else the machine does; the ratio to this holds better.
void fork_floor(benchmark::State& state, int cases) {
    fixture();
    close_registries();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < cases; ++i) {
            const pid_t pid = fork();
            if (pid == 0) _exit(0);
            if (pid > 0) waitpid(pid, nullptr, 0);
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

struct HostConfig {
    kiv::Isolation isolation;
    const char* mode;
    int workers, steps, cases;
    double per_worker_target;  // cases per second; 0 for none
};

constexpr const char* kForkFloor = "host/fork/floor";
constexpr int kForkCases = 500;

// Enough cases that a run takes a tenth of a second or more at the target rate.
constexpr HostConfig kHostConfigs[] = {
    {kiv::Isolation::snapshot, "snapshot", 1, 10, 50000, 100000},
    {kiv::Isolation::snapshot, "snapshot", 2, 10, 50000, 100000},
    {kiv::Isolation::snapshot, "snapshot", 1, 0, 50000, 0},
    {kiv::Isolation::fork, "fork", 1, 10, kForkCases, 2000},
    {kiv::Isolation::fork, "fork", 2, 10, kForkCases, 2000},
    {kiv::Isolation::fork, "fork", 1, 0, kForkCases, 0},
};

}  // namespace

void register_host_benchmarks() {
    for (const HostConfig& c : kHostConfigs) {
        const std::string name =
            std::string("host/") + c.mode + "/" + std::to_string(c.workers) + "w/" + std::to_string(c.steps) + "steps";
        with_min(benchmark::RegisterBenchmark(name.c_str(), host_run, c.isolation, c.workers, c.steps, c.cases))
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        std::string label = std::string("kivrun ") + c.mode + ", " + std::to_string(c.workers) + "w, ";
        label += c.steps == 0 ? "isolation alone (0 steps)" : "10-step case";
        SummaryLine line(label, name, c.cases, Clock::real);
        if (c.per_worker_target > 0) line.cases_per_worker_at_least(c.per_worker_target, c.workers);
        if (c.isolation == kiv::Isolation::fork && c.steps == 0) line.compared_to(kForkFloor);
        summarize(line);
    }
    with_min(benchmark::RegisterBenchmark(kForkFloor, fork_floor, kForkCases))
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    summarize(SummaryLine("fork, exit and wait alone (the OS floor)", kForkFloor, kForkCases, Clock::real));
}

}  // namespace kivbench

#else

namespace kivbench {

// Built without the kivrun host: nothing to measure here.
void register_host_benchmarks() {}

}  // namespace kivbench

#endif
