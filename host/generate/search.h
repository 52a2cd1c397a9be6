// A coverage-guided search over step sequences: a corpus of cases that raised
// something new, a few mutations, a dictionary of values, and feedback after
// every run. It knows nothing of the target beyond the Execute callback.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace kiv::gen {

struct Set {  // one cell: input `input` takes `value` before the step
    uint16_t input;
    int64_t value;
    bool operator==(const Set&) const = default;
};

struct Step {
    int32_t scope;
    std::vector<Set> sets;  // at most one per input; other inputs keep their value
    bool operator==(const Step&) const = default;
};

using Case = std::vector<Step>;

struct InputSpace {
    int32_t scope = 0;                // the only scope a step may set it in; 0: any
    std::vector<int64_t> dictionary;  // values worth trying, besides random ones
    bool boolean = false;             // takes only 0 and 1
    int64_t min = 0, max = 255;       // what the input's type holds
};

struct Space {
    std::vector<int32_t> scopes;
    std::vector<InputSpace> inputs;
    std::vector<int64_t> at_load;  // per input, its value when a case starts
    std::size_t goals = 0;
    std::size_t outputs = 0;  // read after every step
};

// What a run of one case showed: the goals reached (non-zero), the outputs
// after each step, steps * outputs of them, and with MC/DC the distinct
// decision vectors it evaluated (see mcdc_pairs.h; empty without).
// With distances, per goal how near the case came to reaching it (0: it
// did; kFar: no measure) and the step where it came that near.
constexpr uint64_t kFar = std::numeric_limits<uint64_t>::max();

struct Observation {
    std::vector<uint8_t> reached;
    std::vector<uint64_t> outputs;  // raw bits of each output's kind (suite/value.h)
    std::vector<uint8_t> vectors;
    std::vector<uint64_t> distance;   // per goal; empty: the target measures none
    std::vector<uint32_t> near_step;  // per goal, from 0
};

// Runs a case from the target's state at load and fills the observation.
using Execute = std::function<void(const Case&, Observation&)>;

struct Entry {  // a corpus case and what its run showed
    Case steps;
    std::vector<uint8_t> reached;
    std::vector<uint64_t> outputs;
    std::vector<uint8_t> vectors;
    std::vector<uint64_t> distance;
    std::vector<uint32_t> near_step;
};

// Per goal, the nearest any corpus case came to it, and where.
struct Closest {
    uint64_t distance = kFar;
    std::size_t entry = 0;  // corpus index
    uint32_t step = 0;      // from 0
};
std::vector<Closest> closest(const std::vector<Entry>& corpus, std::size_t goals);

// Coverage beyond the goals (MC/DC pairs): note() takes a run's observation
// and says whether it showed something new; open() whether anything is left.
struct Extra {
    std::function<bool(const Observation&)> note;
    std::function<bool()> open;
};

struct Limits {
    uint64_t max_executions = 0;  // 0: none
    double seconds = 0;           // 0: none
    // Executions without a new goal, state or nearer distance that make a
    // plateau, for a small unit and short cases; it grows with both.
    uint64_t plateau = 20000;
    std::size_t max_steps = 256;  // a case grows no longer on a plateau
    // A goal still coming nearer at the last step of a case at full length (a
    // counter that needs more steps) lets cases grow past max_steps, up to
    // this; 0 holds them at max_steps.
    std::size_t needed_steps = 0;
    std::size_t first_steps = 32;  // cases start this short; an eighth of a plateau makes it 4 times longer, up to max_steps
};

// avoided: every case the search could make repeats one that killed it.
enum class Stop { goals, executions, time, plateau, halted, avoided };

struct Progress {
    uint64_t executions = 0, steps = 0;
    uint64_t last_new_goal = 0;  // executions when the last new goal appeared
    double seconds_to_last_goal = 0;
    std::size_t states = 0;  // distinct (output, value) pairs seen
    std::size_t reached = 0;
    uint64_t plateau = 0;       // executions the last plateau took
    uint32_t plateaus = 0;      // plateaus passed
    uint32_t steps_cap = 0;     // how long a case could grow at the end
    // Goals that came nearer at the last step of a case at the longest
    // length allowed: the first few of them (a plain array, as a progress
    // crosses to the supervisor byte for byte).
    uint32_t held_back = 0;
    std::array<uint32_t, 4> held_back_goals{};
};

class Engine {
public:
    // wanted: per goal, whether reaching it is still worth searching for (a
    // justified goal is not); the search ends when all wanted goals are reached.
    Engine(Space space, Execute execute, uint64_t seed, std::vector<uint8_t> wanted);

    // Called before every run with the case about to run; a hook for a
    // supervisor that must know what was running when a process died.
    std::function<void(const Case&)> before_run;
    // Called for every case added to the corpus.
    std::function<void(const Entry&)> on_entry;
    // With it, a case that shows something new to it is kept like one that
    // reaches a new goal, and the search goes on while it is open.
    Extra extra;

    // Adds a case found earlier (a restart after a crash) without running it.
    void adopt(Entry e);
    // A case whose last step killed the target: no step in that scope from
    // the same input values runs again, so one fault does not recur forever;
    // after three deaths in one scope where no step ever survived (adopted
    // cases count), no step in it runs again.
    void avoid(const Case& fatal);
    // Searches until a limit or every wanted goal is reached.
    Stop run(const Limits& limits);

    const std::vector<Entry>& corpus() const { return corpus_; }
    const Progress& progress() const { return progress_; }
    const std::vector<uint8_t>& reached() const { return reached_; }
    // Work done before a restart, counted against the limits; `start` is
    // when the whole search began (times and the time budget run from it).
    void resume(const Progress& before, std::chrono::steady_clock::time_point start) {
        progress_.executions = before.executions, progress_.steps = before.steps;
        progress_.last_new_goal = before.last_new_goal;
        progress_.seconds_to_last_goal = before.seconds_to_last_goal;
        start_ = start, started_ = true;
    }

private:
    bool feedback(const Case& c);
    bool fatal(const Case& c) const;
    bool note_outputs(const std::vector<uint64_t>& outputs);
    bool note_distances(const std::vector<uint64_t>& distance, std::size_t index);
    void mutate(Case& c);
    void repeat_block(Case& c);
    void hold_input(Case& c);
    void nudge_value(Case& c);
    void nudge_at_focus(Case& c, std::size_t focus, uint64_t gap_seen);
    static void put(Step& s, uint16_t in, int64_t v);
    std::size_t pick_entry(std::size_t& focus, uint64_t& gap);
    Step random_step();
    void set_random_input(Step& s);
    std::size_t scope_index(int32_t scope) const;
    int64_t value_for(const InputSpace& in);
    uint64_t plateau_window(const Limits& limits) const;
    std::size_t geometric(std::size_t limit);
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    Space space_;
    Execute execute_;
    std::mt19937_64 rng_;
    std::vector<uint8_t> wanted_, reached_, seen_;  // seen_: outputs * 256 (output, value) pairs
    // Per output, the values above 255 seen, up to kWideValues of them: wide
    // outputs (counters, positions, floats) need not fill memory with values
    // copied through from random inputs.
    std::vector<std::vector<uint64_t>> seen_wide_;
    std::vector<std::size_t> values_of_;            // per output: distinct values seen
    uint64_t last_state_ = 0;                       // executions when the last new state appeared
    std::vector<std::vector<uint16_t>> inputs_of_;  // per scope index: inputs a step there may set
    std::vector<Entry> corpus_;
    std::set<std::pair<int32_t, std::vector<int64_t>>> fatal_;  // (scope, input values) of steps that killed
    std::map<int32_t, int> deaths_in_;                          // per scope
    std::set<int32_t> survived_;  // scopes with deaths where some step also ended normally
    void note_survivors(const Case& c);
    Observation obs_;
    Progress progress_;
    std::size_t open_ = 0;  // wanted goals not yet reached
    std::vector<uint64_t> best_;        // per goal: nearest distance seen
    std::vector<std::size_t> holder_;   // per goal: the corpus case that came that near
    std::vector<std::size_t> leaders_;  // corpus cases nearest to some open goal
    std::chrono::steady_clock::time_point start_;
    bool started_ = false;
    std::size_t max_steps_ = 32;  // the cap on case length now
    std::size_t longest_ = 0;     // the cap may grow no further
    uint64_t grown_ = 0;          // executions when the cap last grew
    bool grow_cap_ = false;       // a case at the cap came nearer at its end
};

}  // namespace kiv::gen
