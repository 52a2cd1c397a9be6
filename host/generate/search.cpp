// The search loop: pick a corpus case, mutate it, run it, keep it when it
// raised a goal or showed an output value no case showed before.
#include "generate/search.h"

#include <algorithm>

namespace kiv::gen {

Engine::Engine(Space space, Execute execute, uint64_t seed, std::vector<uint8_t> wanted)
    : space_(std::move(space)),
      execute_(std::move(execute)),
      rng_(seed),
      wanted_(std::move(wanted)),
      reached_(space_.goals, 0),
      seen_(space_.outputs * 256, 0),
      values_of_(space_.outputs, 0) {
    wanted_.resize(space_.goals, 1);
    open_ = static_cast<std::size_t>(std::count(wanted_.begin(), wanted_.end(), 1));
    for (int32_t sc : space_.scopes) {
        std::vector<uint16_t> ins;
        for (std::size_t i = 0; i < space_.inputs.size(); ++i)
            if (space_.inputs[i].scope == 0 || space_.inputs[i].scope == sc) ins.push_back(static_cast<uint16_t>(i));
        inputs_of_.push_back(std::move(ins));
    }
}

void Engine::adopt(Entry e) {
    note_outputs(e.outputs);
    if (extra.note) extra.note(Observation{e.reached, e.outputs, e.vectors});
    for (std::size_t g = 0; g < e.reached.size() && g < reached_.size(); ++g)
        if (e.reached[g] && !reached_[g]) {
            reached_[g] = 1;
            ++progress_.reached;
            if (wanted_[g]) --open_;
        }
    corpus_.push_back(std::move(e));
}

void Engine::avoid(const Case& c) {
    std::vector<uint8_t> v = space_.at_load;
    v.resize(space_.inputs.size(), 0);
    for (const Step& st : c)
        for (const Set& x : st.sets)
            v[x.input] = x.value;
    if (c.empty()) return;
    fatal_.emplace(c.back().scope, std::move(v));
    // A scope that kills the target whatever its inputs would take every
    // restart the search has; after a few deaths it is left alone.
    if (++deaths_in_[c.back().scope] >= 3) fatal_scopes_.insert(c.back().scope);
}

bool Engine::fatal(const Case& c) const {
    if (fatal_.empty()) return false;
    std::pair<int32_t, std::vector<uint8_t>> key{0, space_.at_load};
    key.second.resize(space_.inputs.size(), 0);
    for (const Step& st : c) {
        for (const Set& x : st.sets)
            key.second[x.input] = x.value;
        key.first = st.scope;
        if (fatal_scopes_.count(st.scope) || fatal_.count(key)) return true;
    }
    return false;
}

Stop Engine::run(const Limits& limits) {
    using Clock = std::chrono::steady_clock;
    if (!started_) start_ = Clock::now();
    last_state_ = progress_.executions;
    max_steps_ = std::max<std::size_t>(limits.max_steps, 1);
    if (space_.scopes.empty()) return Stop::goals;
    // Seeds: one step in each scope with every input as it is at load.
    if (corpus_.empty())
        for (int32_t sc : space_.scopes)
            feedback(Case{Step{sc, {}}});
    uint64_t tries = 0, skipped = 0;
    for (;; ++tries) {
        if (open_ == 0 && !(extra.open && extra.open())) return Stop::goals;
        if (limits.max_executions && progress_.executions >= limits.max_executions) return Stop::executions;
        if (progress_.executions - std::max(progress_.last_new_goal, last_state_) >= limits.plateau)
            return Stop::plateau;
        if (skipped >= limits.plateau) return Stop::plateau;  // every variation repeats a fatal step
        if (limits.seconds > 0 && (tries & 63) == 0 &&
            std::chrono::duration<double>(Clock::now() - start_).count() >= limits.seconds)
            return Stop::time;
        Case c = corpus_.empty() ? Case{random_step()} : corpus_[pick_entry()].steps;
        const std::size_t n = 1 + pick(3);
        for (std::size_t i = 0; i < n; ++i)
            mutate(c);
        if (fatal(c)) {
            ++skipped;
            continue;
        }
        skipped = 0;
        feedback(c);
    }
}

// Runs c and keeps it when it showed something new.
bool Engine::feedback(const Case& c) {
    if (before_run) before_run(c);
    execute_(c, obs_);
    ++progress_.executions;
    progress_.steps += c.size();
    bool fresh = false;
    for (std::size_t g = 0; g < space_.goals; ++g)
        if (obs_.reached[g] && !reached_[g]) {
            reached_[g] = 1;
            ++progress_.reached;
            if (wanted_[g]) --open_;
            fresh = true;
        }
    if (fresh) {
        progress_.last_new_goal = progress_.executions;
        progress_.seconds_to_last_goal =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    if (note_outputs(obs_.outputs)) fresh = true;
    if (extra.note && extra.note(obs_)) {
        fresh = true;
        last_state_ = progress_.executions;  // progress towards the pairs: no plateau
    }
    if (!fresh) return false;
    corpus_.push_back({c, obs_.reached, obs_.outputs, obs_.vectors});
    if (on_entry) on_entry(corpus_.back());
    return true;
}

// Marks each (output, value) pair seen. True when one is new for an output
// that has shown few values so far: a stage or a flag moving is worth keeping
// a case for, one more value copied through from a random input is not.
bool Engine::note_outputs(const std::vector<uint8_t>& outputs) {
    constexpr std::size_t kFewValues = 8;
    bool fresh = false;
    if (space_.outputs == 0) return false;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::size_t o = i % space_.outputs;
        uint8_t& s = seen_[o * 256 + outputs[i]];
        if (!s) {
            s = 1;
            ++progress_.states;
            if (values_of_[o]++ < kFewValues) {
                fresh = true;
                last_state_ = progress_.executions;
            }
        }
    }
    return fresh;
}

void Engine::mutate(Case& c) {
    switch (pick(6)) {
        case 0: {  // another scope; cells of inputs it does not read go
            Step& s = c[pick(c.size())];
            const std::size_t k = pick(space_.scopes.size());
            s.scope = space_.scopes[k];
            const auto& ok = inputs_of_[k];
            std::erase_if(s.sets, [&](const Set& x) { return !std::binary_search(ok.begin(), ok.end(), x.input); });
            break;
        }
        case 1:
            set_random_input(c[pick(c.size())]);
            break;
        case 2:  // a step more at the end, often a variation of the last one
            if (c.size() < max_steps_) {
                Step s = pick(2) ? c.back() : random_step();
                if (s.sets.empty() || pick(2)) set_random_input(s);
                c.push_back(std::move(s));
            }
            break;
        case 3:
            if (c.size() < max_steps_) c.insert(c.begin() + static_cast<std::ptrdiff_t>(pick(c.size() + 1)), random_step());
            break;
        case 4:
            if (c.size() > 1) c.erase(c.begin() + static_cast<std::ptrdiff_t>(pick(c.size())));
            break;
        default: {  // splice: a prefix of this case, a suffix of another
            const Case& o = corpus_[pick(corpus_.size())].steps;
            const std::size_t keep = 1 + pick(c.size()), from = pick(o.size());
            c.resize(keep);
            for (std::size_t i = from; i < o.size() && c.size() < max_steps_; ++i)
                c.push_back(o[i]);
            break;
        }
    }
}

// Half the time one of the newest cases: each found something no older case
// had, and a sequence that must be built step by step (a stage counted up
// press by press) grows from the newest one.
std::size_t Engine::pick_entry() {
    constexpr std::size_t kNewest = 8;
    const std::size_t n = corpus_.size();
    if (n > kNewest && pick(2)) return n - 1 - pick(kNewest);
    return pick(n);
}

Step Engine::random_step() {
    Step s{space_.scopes[pick(space_.scopes.size())], {}};
    const std::size_t n = pick(3);
    for (std::size_t i = 0; i < n; ++i)
        set_random_input(s);
    return s;
}

void Engine::set_random_input(Step& s) {
    const auto k = static_cast<std::size_t>(std::find(space_.scopes.begin(), space_.scopes.end(), s.scope) -
                                            space_.scopes.begin());
    if (k >= inputs_of_.size() || inputs_of_[k].empty()) return;
    const uint16_t in = inputs_of_[k][pick(inputs_of_[k].size())];
    const uint8_t v = value_for(space_.inputs[in]);
    auto at = std::lower_bound(s.sets.begin(), s.sets.end(), in, [](const Set& x, uint16_t i) { return x.input < i; });
    if (at != s.sets.end() && at->input == in)
        at->value = v;
    else
        s.sets.insert(at, Set{in, v});
}

uint8_t Engine::value_for(const InputSpace& in) {
    if (in.boolean) return static_cast<uint8_t>(pick(2));
    if (in.dictionary.empty() || pick(5) == 0) return static_cast<uint8_t>(pick(256));
    return in.dictionary[pick(in.dictionary.size())];
}

}  // namespace kiv::gen
