// kiv_html_bench: the window lifter's HTML report rendered from its saved
// JSON result, as `kivrun report RESULT.json --html DIR` does (read, summary,
// every page written), and the writing alone.
//   kiv_html_bench [benchmark options]   (the result is made first, by kivrun)
#include "summary.h"

#include "kivrun.h"
#include "formats/source.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kivbench {

namespace {

namespace fs = std::filesystem;

class HtmlFixture {
public:
    HtmlFixture() {
        char dir_template[] = "/tmp/kiv_html_bench_XXXXXX";
        if (mkdtemp(dir_template) == nullptr) throw kiv::Error("cannot make a temporary directory");
        dir_ = dir_template;
        result_ = (dir_ / "r.json").string();
        const std::string run = std::string(KIVRUN_PATH) + " run " + KIV_WINDOW_LIFTER_LIBRARY + " " +
                                KIV_SOURCE_DIR + "/examples/window_lifter.csv -q --json " + result_ + " >/dev/null";
        if (std::system(run.c_str()) != 0 || !fs::exists(result_)) throw kiv::Error("cannot run: " + run);
    }
    ~HtmlFixture() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    const std::string& result() const { return result_; }
    std::string html() const { return (dir_ / "html").string(); }

private:
    fs::path dir_;
    std::string result_;
};

const HtmlFixture& fixture() {
    static const HtmlFixture f;
    return f;
}

using Steady = std::chrono::steady_clock;
double seconds_since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

void render_from_json(benchmark::State& state) {
    const HtmlFixture& f = fixture();
    for (auto _ : state) {
        const auto start = Steady::now();
        const kiv::Result r = kiv::read_json_file(f.result());
        kiv::write_html(r, kiv::summarize(r), f.html(), KIV_SOURCE_DIR);
        state.SetIterationTime(seconds_since(start));
    }
    std::uintmax_t bytes = 0;
    for (const auto& e : fs::directory_iterator(f.html())) bytes += e.file_size();
    state.counters["html_kB"] = static_cast<double>(bytes) / 1e3;
}

void write_only(benchmark::State& state) {
    const HtmlFixture& f = fixture();
    const kiv::Result r = kiv::read_json_file(f.result());
    const kiv::Summary s = kiv::summarize(r);
    for (auto _ : state) {
        const auto start = Steady::now();
        kiv::write_html(r, s, f.html(), KIV_SOURCE_DIR);
        state.SetIterationTime(seconds_since(start));
    }
}

}  // namespace

void register_html_benchmarks() {
    const struct {
        const char* name;
        void (*fn)(benchmark::State&);
        const char* label;
    } parts[] = {{"html/window_lifter", render_from_json, "HTML of the window lifter from its JSON result"},
                 {"html/window_lifter/write", write_only, "  writing the pages alone"}};
    for (const auto& p : parts) {
        with_min(benchmark::RegisterBenchmark(p.name, p.fn))->UseManualTime()->Unit(benchmark::kMillisecond);
        SummaryLine line(p.label, p.name, 1, Clock::real);
        if (p.fn == render_from_json) line.time_at_most(50e6);
        summarize(line);
    }
}

}  // namespace kivbench

int main(int argc, char** argv) {
    kivbench::register_html_benchmarks();
    return kivbench::run_benchmarks(argc, argv);
}
