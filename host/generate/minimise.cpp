// Set cover and delta-debugging style shortening of generated cases.
#include "minimise.h"

#include <algorithm>

namespace kiv::gen {

std::vector<Chosen> cover(const std::vector<Entry>& corpus) {
    std::vector<Chosen> out;
    if (corpus.empty()) return out;
    std::vector<uint8_t> covered(corpus.front().reached.size(), 0);
    std::vector<uint8_t> used(corpus.size(), 0);
    for (;;) {
        std::size_t best = corpus.size(), best_gain = 0;
        for (std::size_t e = 0; e < corpus.size(); ++e) {
            if (used[e]) continue;
            std::size_t gain = 0;
            for (std::size_t g = 0; g < covered.size(); ++g)
                gain += corpus[e].reached[g] && !covered[g];
            if (gain > best_gain || (gain == best_gain && gain > 0 && corpus[e].steps.size() < corpus[best].steps.size()))
                best = e, best_gain = gain;
        }
        if (best_gain == 0) return out;
        used[best] = 1;
        Chosen c{corpus[best].steps, {}, {}};
        for (std::size_t g = 0; g < covered.size(); ++g)
            if (corpus[best].reached[g] && !covered[g]) {
                covered[g] = 1;
                c.goals.push_back(g);
            }
        out.push_back(std::move(c));
    }
}

namespace {

class Shortener {
public:
    explicit Shortener(const Execute& execute) : execute_(execute) {}

    Case shorten(Case c, const std::vector<std::size_t>& goals) {
        goals_ = &goals;
        while (c.size() > 1 && keeps(Case(c.begin(), c.end() - 1)))
            c.pop_back();
        for (bool changed = true; changed;) {
            changed = false;
            for (std::size_t i = c.size(); i-- > 0 && c.size() > 1;) {
                Case t = c;
                t.erase(t.begin() + static_cast<std::ptrdiff_t>(i));
                if (keeps(t)) c = std::move(t), changed = true;
            }
        }
        for (std::size_t i = 0; i < c.size(); ++i)
            for (std::size_t k = c[i].sets.size(); k-- > 0;) {
                Case t = c;
                t[i].sets.erase(t[i].sets.begin() + static_cast<std::ptrdiff_t>(k));
                if (keeps(t)) c = std::move(t);
            }
        return c;
    }

private:
    bool keeps(const Case& c) {
        execute_(c, obs_);
        return std::all_of(goals_->begin(), goals_->end(), [&](std::size_t g) { return obs_.reached[g] != 0; });
    }

    const Execute& execute_;
    const std::vector<std::size_t>* goals_ = nullptr;
    Observation obs_;
};

}  // namespace

std::vector<Chosen> minimise(const std::vector<Entry>& corpus, const Execute& execute, bool shorten) {
    std::vector<Chosen> first = cover(corpus);
    std::vector<Entry> short_cases;
    Shortener s(execute);
    Observation obs;
    for (auto& c : first) {
        Entry e{shorten ? s.shorten(c.steps, c.goals) : c.steps, {}, {}};
        execute(e.steps, obs);
        e.reached = obs.reached;
        short_cases.push_back(std::move(e));
    }
    std::vector<Chosen> out = cover(short_cases);
    for (auto& c : out)
        execute(c.steps, c.seen);
    return out;
}

}  // namespace kiv::gen
