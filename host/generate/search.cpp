// The search loop: pick a corpus case, mutate it, run it, keep it when it
// raised a goal, showed an output value no case showed before, or came nearer
// to a goal not yet reached than any case before.
#include "generate/search.h"

#include <algorithm>
#include <bit>

namespace kiv::gen {

std::vector<Closest> closest(const std::vector<Entry>& corpus, std::size_t goals) {
    std::vector<Closest> out(goals);
    for (std::size_t e = 0; e < corpus.size(); ++e)
        for (std::size_t g = 0; g < goals && g < corpus[e].distance.size(); ++g)
            if (corpus[e].distance[g] < out[g].distance)
                out[g] = {corpus[e].distance[g], e, corpus[e].near_step[g]};
    return out;
}

Engine::Engine(Space space, Execute execute, uint64_t seed, std::vector<uint8_t> wanted)
    : space_(std::move(space)),
      execute_(std::move(execute)),
      rng_(seed),
      wanted_(std::move(wanted)),
      reached_(space_.goals, 0),
      seen_(space_.outputs * 256, 0),
      seen_wide_(space_.outputs),
      values_of_(space_.outputs, 0),
      best_(space_.goals, kFar),
      holder_(space_.goals, 0) {
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
    if (extra.note) extra.note(Observation{e.reached, e.outputs, e.vectors, {}, {}});
    for (std::size_t g = 0; g < e.reached.size() && g < reached_.size(); ++g)
        if (e.reached[g] && !reached_[g]) {
            reached_[g] = 1;
            ++progress_.reached;
            if (wanted_[g]) --open_;
        }
    note_survivors(e.steps);
    corpus_.push_back(std::move(e));
    note_distances(corpus_.back().distance, corpus_.size() - 1);
}

// The scopes with deaths that c ran through: a scope that lets some inputs
// pass is not one that kills whatever its inputs.
void Engine::note_survivors(const Case& c) {
    if (deaths_in_.empty()) return;
    for (const Step& st : c)
        if (deaths_in_.count(st.scope)) survived_.insert(st.scope);
}

void Engine::avoid(const Case& c) {
    std::vector<int64_t> v = space_.at_load;
    v.resize(space_.inputs.size(), 0);
    for (const Step& st : c)
        for (const Set& x : st.sets)
            v[x.input] = x.value;
    if (c.empty()) return;
    fatal_.emplace(c.back().scope, std::move(v));
    ++deaths_in_[c.back().scope];
}

bool Engine::fatal(const Case& c) const {
    if (fatal_.empty()) return false;
    std::pair<int32_t, std::vector<int64_t>> key{0, space_.at_load};
    key.second.resize(space_.inputs.size(), 0);
    for (const Step& st : c) {
        for (const Set& x : st.sets)
            key.second[x.input] = x.value;
        key.first = st.scope;
        // A scope that kills the target whatever its inputs would take every
        // restart the search has; after a few deaths it is left alone.
        const auto d = deaths_in_.find(st.scope);
        if (d != deaths_in_.end() && d->second >= 3 && !survived_.count(st.scope)) return true;
        if (fatal_.count(key)) return true;
    }
    return false;
}

// Executions without progress that make a plateau: more for a unit with more
// goals, and more once cases may grow longer, since each find then takes more
// tries.
uint64_t Engine::plateau_window(const Limits& limits) const {
    const double size = 1.0 + static_cast<double>(space_.goals) / 256.0;
    const double length = 1.0 + static_cast<double>(max_steps_) / 256.0;
    return static_cast<uint64_t>(static_cast<double>(limits.plateau) * size * length);
}

Stop Engine::run(const Limits& limits) {
    using Clock = std::chrono::steady_clock;
    if (!started_) start_ = Clock::now();
    last_state_ = progress_.executions;
    const std::size_t most = std::max<std::size_t>(limits.max_steps, 1);
    const std::size_t needed = std::max(most, limits.needed_steps);
    longest_ = needed;
    max_steps_ = std::clamp<std::size_t>(std::max<std::size_t>(limits.first_steps, progress_.steps_cap), 1, needed);
    progress_.steps_cap = static_cast<uint32_t>(max_steps_);
    if (space_.scopes.empty()) return Stop::goals;
    // Seeds: one step in each scope with every input as it is at load,
    // unless that step killed the target before (a divisor of 0 at load).
    if (corpus_.empty())
        for (int32_t sc : space_.scopes)
            if (const Case seed{Step{sc, {}}}; !fatal(seed)) feedback(seed);
    uint64_t tries = 0, skipped = 0;
    for (;; ++tries) {
        if (open_ == 0 && !(extra.open && extra.open())) return Stop::goals;
        if (limits.max_executions && progress_.executions >= limits.max_executions) return Stop::executions;
        const uint64_t since = std::max(progress_.last_new_goal, last_state_);
        const uint64_t window = plateau_window(limits);
        // Cases may grow longer after an eighth of a plateau without
        // progress: a counter may need more steps than the cap allows, and a
        // large unit's plateau is long. The search stops only on a whole
        // plateau at full length, and never on the first.
        if (max_steps_ < most && (grow_cap_ || progress_.executions - std::max(since, grown_) >= window / 8)) {
            grow_cap_ = false;
            max_steps_ = std::min(most, max_steps_ * 4);
            progress_.steps_cap = static_cast<uint32_t>(max_steps_);
            grown_ = progress_.executions;
        } else if (grow_cap_ && max_steps_ >= most && max_steps_ < needed &&
                   progress_.executions - std::max(since, grown_) >= window / 8) {
            // Past max_steps only on that evidence, and only once an eighth
            // of a plateau at this length found nothing: longer cases cost
            // every later execution, and most units need none.
            grow_cap_ = false;
            max_steps_ = std::min(needed, max_steps_ * 2);
            progress_.steps_cap = static_cast<uint32_t>(max_steps_);
            grown_ = progress_.executions;
        }
        if (progress_.executions - since >= window) {
            progress_.plateau = window;
            if (++progress_.plateaus >= 2 && max_steps_ >= most) return Stop::plateau;
            last_state_ = progress_.executions;
        }
        if (skipped >= limits.plateau) return Stop::avoided;  // every variation repeats a fatal step
        if (limits.seconds > 0 && (tries & 63) == 0 &&
            std::chrono::duration<double>(Clock::now() - start_).count() >= limits.seconds)
            return Stop::time;
        std::size_t focus = 0;
        uint64_t gap = 0;
        Case c = corpus_.empty() ? Case{random_step()} : corpus_[pick_entry(focus, gap)].steps;
        // A case that came near a goal at some step is cut there half the
        // time, so what follows (a repeat, a held input) builds on that step.
        if (focus && focus < c.size() && pick(2)) c.resize(focus);
        const std::size_t n = 1 + pick(3);
        if (gap && focus && pick(3) == 0)
            nudge_at_focus(c, focus, gap);
        else
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
    note_survivors(c);
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
    const bool nearer = note_distances(obs_.distance, corpus_.size());  // the index it gets if kept
    if (nearer) {
        last_state_ = progress_.executions;
        // Came nearer at its last step with the case as long as it may be: a
        // counter still counting when the case ended. The cap, not the
        // inputs, holds it back, so it grows now rather than after a plateau.
        if (c.size() >= max_steps_)
            for (std::size_t g = 0; g < space_.goals; ++g)
                if (holder_[g] == corpus_.size() && best_[g] == obs_.distance[g] && obs_.near_step[g] + 1 >= c.size()) {
                    grow_cap_ = true;
                    if (max_steps_ < longest_) break;
                    auto& p = progress_;
                    const auto held = p.held_back_goals.begin() + std::min<std::size_t>(p.held_back, p.held_back_goals.size());
                    if (std::find(p.held_back_goals.begin(), held, g) == held && held != p.held_back_goals.end())
                        p.held_back_goals[p.held_back++] = static_cast<uint32_t>(g);
                }
    }
    if (!fresh && !nearer) return false;
    corpus_.push_back({c, obs_.reached, obs_.outputs, obs_.vectors, obs_.distance, obs_.near_step});
    if (on_entry) on_entry(corpus_.back());
    return true;
}

// Notes the distances of the run that is (or, if kept, becomes) corpus case
// `index`. True when it came nearer to a goal that is wanted and not reached
// than any case before.
bool Engine::note_distances(const std::vector<uint64_t>& distance, std::size_t index) {
    if (distance.size() < space_.goals) return false;
    bool nearer = false;
    for (std::size_t g = 0; g < space_.goals; ++g)
        if (distance[g] < best_[g] && wanted_[g] && !reached_[g]) {
            best_[g] = distance[g];
            holder_[g] = index;
            nearer = true;
        }
    if (nearer) {
        leaders_.clear();
        for (std::size_t g = 0; g < space_.goals; ++g)
            if (wanted_[g] && !reached_[g] && best_[g] != kFar) leaders_.push_back(holder_[g]);
        std::sort(leaders_.begin(), leaders_.end());
        leaders_.erase(std::unique(leaders_.begin(), leaders_.end()), leaders_.end());
    }
    return nearer;
}

// Marks each (output, value) pair seen. True when one is new for an output
// that has shown few values so far: a stage or a flag moving is worth keeping
// a case for, one more value copied through from a random input is not.
bool Engine::note_outputs(const std::vector<uint64_t>& outputs) {
    constexpr std::size_t kFewValues = 8, kWideValues = 256;
    bool fresh = false;
    if (space_.outputs == 0) return false;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::size_t o = i % space_.outputs;
        const uint64_t v = outputs[i];
        bool is_new;
        if (v < 256) {
            uint8_t& s = seen_[o * 256 + v];
            is_new = !s;
            s = 1;
        } else {
            auto& wide = seen_wide_[o];
            is_new = wide.size() < kWideValues && std::find(wide.begin(), wide.end(), v) == wide.end();
            if (is_new) wide.push_back(v);
        }
        if (is_new) {
            ++progress_.states;
            if (values_of_[o]++ < kFewValues) {
                fresh = true;
                last_state_ = progress_.executions;
            }
        }
    }
    return fresh;
}

// 1, 2, 4, ... up to limit, each power as likely as the next: short runs are
// tried as often as long ones, and a counter of any size is met in a few tries.
std::size_t Engine::geometric(std::size_t limit) {
    if (limit <= 1) return 1;
    const auto powers = static_cast<std::size_t>(std::bit_width(limit));
    return std::min(limit, std::size_t{1} << pick(powers));
}

// The six classic mutations most of the time; the time mutations (repeat,
// hold, nudge, extend) a quarter of it, which leaves a unit without counters
// searched about as fast as without them.
void Engine::mutate(Case& c) {
    const std::size_t r = pick(24);
    switch (r < 18 ? r / 3 : 6 + (r - 18) * 4 / 6) {
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
        case 5: {  // splice: a prefix of this case, a suffix of another
            if (corpus_.empty()) break;  // every seed avoided, nothing kept yet
            const Case& o = corpus_[pick(corpus_.size())].steps;
            const std::size_t keep = 1 + pick(c.size()), from = pick(o.size());
            c.resize(keep);
            for (std::size_t i = from; i < o.size() && c.size() < max_steps_; ++i)
                c.push_back(o[i]);
            break;
        }
        case 6:
            repeat_block(c);
            break;
        case 7:
            hold_input(c);
            break;
        case 8:
            nudge_value(c);
            break;
        default: {  // extend from the end: the last step again, k times
            const std::size_t k = geometric(max_steps_ - std::min(max_steps_, c.size()));
            const Step last = c.back();
            for (std::size_t i = 0; i < k && c.size() < max_steps_; ++i)
                c.push_back(last);
            break;
        }
    }
}

// A step or a block of up to four steps repeated k times in place, k
// geometric: what a counter or a timer needs to run out.
void Engine::repeat_block(Case& c) {
    const std::size_t at = pick(c.size());
    const std::size_t len = 1 + pick(std::min<std::size_t>(4, c.size() - at));
    if (c.size() + len > max_steps_) return;
    const std::size_t k = geometric((max_steps_ - c.size()) / len);
    const Case block(c.begin() + static_cast<std::ptrdiff_t>(at), c.begin() + static_cast<std::ptrdiff_t>(at + len));
    Case out(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(at + len));
    for (std::size_t i = 0; i < k; ++i)
        out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), c.begin() + static_cast<std::ptrdiff_t>(at + len), c.end());
    c = std::move(out);
}

// One input held at a value for a run of steps, then switched to another:
// a button pressed long enough, then released. The case grows when the run
// goes past its end.
void Engine::hold_input(Case& c) {
    const std::size_t at = pick(c.size());
    const std::size_t k = scope_index(c[at].scope);
    if (k >= inputs_of_.size() || inputs_of_[k].empty()) return;
    const uint16_t in = inputs_of_[k][pick(inputs_of_[k].size())];
    const int64_t held = value_for(space_.inputs[in]), then = value_for(space_.inputs[in]);
    const std::size_t run = geometric(max_steps_ - at);
    const Step model = c[at];
    for (std::size_t i = at; i <= at + run && i < max_steps_; ++i) {
        if (i == c.size()) c.push_back(model);
        const std::size_t ks = scope_index(c[i].scope);
        if (std::binary_search(inputs_of_[ks].begin(), inputs_of_[ks].end(), in)) put(c[i], in, i < at + run ? held : then);
    }
}

void Engine::put(Step& s, uint16_t in, int64_t v) {
    auto it = std::lower_bound(s.sets.begin(), s.sets.end(), in, [](const Set& x, uint16_t i) { return x.input < i; });
    if (it != s.sets.end() && it->input == in)
        it->value = v;
    else
        s.sets.insert(it, Set{in, v});
}

// One input of the step where the picked case came nearest, moved by that
// distance (scaled by a power of two either way, give or take one) from the
// value in force there: a limit is met by the input that feeds it, directly
// or through a filter or a scale, in one move rather than many.
void Engine::nudge_at_focus(Case& c, std::size_t focus, uint64_t gap_seen) {
    const std::size_t at = std::min(focus, c.size()) - 1;
    const std::size_t k = scope_index(c[at].scope);
    if (k >= inputs_of_.size() || inputs_of_[k].empty()) return;
    const uint16_t in = inputs_of_[k][pick(inputs_of_[k].size())];
    const InputSpace& space = space_.inputs[in];
    int64_t now = in < space_.at_load.size() ? space_.at_load[in] : 0;
    for (std::size_t i = 0; i <= at; ++i)
        for (const Set& x : c[i].sets)
            if (x.input == in) now = x.value;
    if (space.boolean) {
        put(c[at], in, 1 - now);
    } else {
        const auto span = static_cast<uint64_t>(space.max - space.min);
        const uint64_t gap = std::max<uint64_t>(1, (gap_seen << pick(3)) >> pick(3));
        const int64_t delta = static_cast<int64_t>(std::min(gap, span)) + static_cast<int64_t>(pick(3)) - 1;
        put(c[at], in, std::clamp(pick(2) ? now + delta : now - delta, space.min, space.max));
    }
    // Half the time another input of that step too: a limit may be met only
    // under a condition another input sets (ignition on while a switch is read).
    if (pick(2)) set_random_input(c[at]);
}

// A value already in the case moved by a power of two up or down, within the
// input's range: how a current is walked towards a limit the unit compares it with.
void Engine::nudge_value(Case& c) {
    Step& s = c[pick(c.size())];
    if (s.sets.empty()) return set_random_input(s);
    Set& x = s.sets[pick(s.sets.size())];
    const InputSpace& in = space_.inputs[x.input];
    if (in.boolean) {
        x.value = 1 - x.value;
        return;
    }
    const auto span = static_cast<uint64_t>(in.max - in.min);
    const int bits = std::max(1, static_cast<int>(std::bit_width(span)));
    const int64_t delta = int64_t{1} << pick(static_cast<std::size_t>(bits));
    const int64_t v = pick(2) ? x.value + delta : x.value - delta;
    x.value = std::clamp(v, in.min, in.max);
}

// Half the time one of the newest cases: each found something no older case
// had, and a sequence that must be built step by step (a stage counted up
// press by press) grows from the newest one. A third of the time a case that
// came nearest to some goal not reached; focus is then the step after the
// one where it came nearest and gap how near it came (both 0: none).
std::size_t Engine::pick_entry(std::size_t& focus, uint64_t& gap) {
    constexpr std::size_t kNewest = 8;
    const std::size_t n = corpus_.size();
    focus = 0;
    gap = 0;
    if (!leaders_.empty() && pick(3) == 0) {
        const std::size_t e = leaders_[pick(leaders_.size())];
        // The step of one of the goals it leads on.
        std::vector<std::size_t> goals;
        for (std::size_t g = 0; g < space_.goals; ++g)
            if (holder_[g] == e && wanted_[g] && !reached_[g] && best_[g] != kFar) goals.push_back(g);
        if (!goals.empty() && e < n && !corpus_[e].near_step.empty()) {
            const std::size_t g = goals[pick(goals.size())];
            focus = corpus_[e].near_step[g] + std::size_t{1};
            gap = best_[g];
        }
        return e;
    }
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

std::size_t Engine::scope_index(int32_t scope) const {
    return static_cast<std::size_t>(std::find(space_.scopes.begin(), space_.scopes.end(), scope) -
                                    space_.scopes.begin());
}

void Engine::set_random_input(Step& s) {
    const std::size_t k = scope_index(s.scope);
    if (k >= inputs_of_.size() || inputs_of_[k].empty()) return;
    const uint16_t in = inputs_of_[k][pick(inputs_of_[k].size())];
    put(s, in, value_for(space_.inputs[in]));
}

// A dictionary value most of the time; otherwise a random one, uniform over a
// byte-sized range and over magnitudes (a random power of two, scaled) for a
// wider one, where a uniform draw would almost never be small.
int64_t Engine::value_for(const InputSpace& in) {
    if (in.boolean) return static_cast<int64_t>(pick(2));
    if (!in.dictionary.empty() && pick(5) != 0) return in.dictionary[pick(in.dictionary.size())];
    const auto span = static_cast<uint64_t>(in.max - in.min);
    if (span < 256) return in.min + static_cast<int64_t>(pick(static_cast<std::size_t>(span) + 1));
    const int bits = static_cast<int>(std::bit_width(span));
    const uint64_t top = uint64_t{1} << pick(static_cast<std::size_t>(bits));
    const uint64_t mag = std::uniform_int_distribution<uint64_t>(0, top)(rng_);
    const int64_t v = (in.min < 0 && pick(2)) ? -static_cast<int64_t>(mag) : static_cast<int64_t>(mag);
    return std::clamp(v, in.min, in.max);
}

}  // namespace kiv::gen
