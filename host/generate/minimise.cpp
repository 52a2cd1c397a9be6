// Set cover and delta-debugging style shortening of generated cases.
#include "generate/minimise.h"

#include <algorithm>
#include <set>

namespace kiv::gen {

std::vector<Chosen> cover(const std::vector<Entry>& corpus, const Pairs* pairs) {
    std::vector<Chosen> out;
    if (corpus.empty()) return out;
    std::vector<uint8_t> covered(corpus.front().reached.size(), 0);
    std::vector<uint8_t> used(corpus.size(), 0);
    // Pair vectors still wanted, and per entry those it holds.
    std::set<DecisionVector> wanted;
    std::vector<std::vector<DecisionVector>> holds(corpus.size());
    if (pairs) {
        wanted = pairs->pair_vectors();
        for (std::size_t e = 0; e < corpus.size(); ++e)
            for (auto& v : pairs->decode(corpus[e].vectors))
                if (wanted.count(v)) holds[e].push_back(std::move(v));
    }
    for (;;) {
        std::size_t best = corpus.size(), best_gain = 0;
        for (std::size_t e = 0; e < corpus.size(); ++e) {
            if (used[e]) continue;
            std::size_t gain = 0;
            for (std::size_t g = 0; g < covered.size(); ++g)
                gain += corpus[e].reached[g] && !covered[g];
            for (const auto& v : holds[e])
                gain += wanted.count(v);
            if (gain > best_gain || (gain == best_gain && gain > 0 && corpus[e].steps.size() < corpus[best].steps.size()))
                best = e, best_gain = gain;
        }
        if (best_gain == 0) return out;
        used[best] = 1;
        Chosen c{corpus[best].steps, {}, {}, {}};
        for (std::size_t g = 0; g < covered.size(); ++g)
            if (corpus[best].reached[g] && !covered[g]) {
                covered[g] = 1;
                c.goals.push_back(g);
            }
        for (const auto& v : holds[best])
            if (wanted.erase(v)) c.keep.push_back(v);
        out.push_back(std::move(c));
    }
}

namespace {

class Shortener {
public:
    Shortener(const Execute& execute, const Pairs* pairs) : execute_(execute), pairs_(pairs) {}

    Case shorten(Case c, const std::vector<std::size_t>& goals, const std::vector<DecisionVector>& keep) {
        goals_ = &goals;
        keep_ = &keep;
        while (c.size() > 1 && keeps(Case(c.begin(), c.end() - 1)))
            c.pop_back();
        // Blocks first, halving: a long case of repeated steps (a timer run
        // out) loses its surplus in a few runs rather than one run per step.
        for (std::size_t block = c.size() / 2; block >= 2; block /= 2)
            for (std::size_t at = 0; at + block <= c.size() && c.size() > block;) {
                Case t = c;
                t.erase(t.begin() + static_cast<std::ptrdiff_t>(at), t.begin() + static_cast<std::ptrdiff_t>(at + block));
                if (keeps(t))
                    c = std::move(t);
                else
                    at += block;
            }
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
        if (!std::all_of(goals_->begin(), goals_->end(), [&](std::size_t g) { return obs_.reached[g] != 0; }))
            return false;
        if (keep_->empty()) return true;
        const auto has = pairs_->decode(obs_.vectors);
        return std::all_of(keep_->begin(), keep_->end(),
                           [&](const DecisionVector& v) { return std::find(has.begin(), has.end(), v) != has.end(); });
    }

    const Execute& execute_;
    const Pairs* pairs_;
    const std::vector<std::size_t>* goals_ = nullptr;
    const std::vector<DecisionVector>* keep_ = nullptr;
    Observation obs_;
};

}  // namespace

std::vector<Chosen> minimise(const std::vector<Entry>& corpus, const Execute& execute, bool shorten,
                             const Pairs* pairs) {
    std::vector<Chosen> first = cover(corpus, pairs);
    std::vector<Entry> short_cases;
    Shortener s(execute, pairs);
    Observation obs;
    for (auto& c : first) {
        Entry e{shorten ? s.shorten(c.steps, c.goals, c.keep) : c.steps, {}, {}, {}, {}, {}};
        execute(e.steps, obs);
        e.reached = obs.reached;
        e.vectors = obs.vectors;
        short_cases.push_back(std::move(e));
    }
    std::vector<Chosen> out = cover(short_cases, pairs);
    for (auto& c : out)
        execute(c.steps, c.seen);
    return out;
}

}  // namespace kiv::gen
