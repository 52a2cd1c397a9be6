// Pairs shown so far, re-analysed per decision only when it gains a vector.
#include "generate/mcdc_pairs.h"

#include "error.h"

#include <algorithm>

namespace kiv::gen {

void encode_vector(std::size_t decision, const mcdc::Vector& v, std::vector<uint8_t>& out) {
    out.push_back(static_cast<uint8_t>(decision & 0xff));
    out.push_back(static_cast<uint8_t>(decision >> 8));
    out.push_back(v.outcome ? 1 : 0);
    out.insert(out.end(), v.values.begin(), v.values.end());
}

Pairs::Pairs(std::vector<mcdc::Expression> expressions)
    : expressions_(std::move(expressions)), seen_(expressions_.size()), verdicts_(expressions_.size()) {
    for (std::size_t d = 0; d < expressions_.size(); ++d) {
        verdicts_[d] = mcdc::analyse(expressions_[d], {});
        total_ += expressions_[d].conditions();
    }
}

std::vector<DecisionVector> Pairs::decode(const std::vector<uint8_t>& vectors) const {
    std::vector<DecisionVector> out;
    for (std::size_t at = 0; at < vectors.size();) {
        if (vectors.size() - at < 3) throw Error("generate: a truncated MC/DC vector from the worker");
        const std::size_t d = vectors[at] | static_cast<std::size_t>(vectors[at + 1]) << 8;
        if (d >= expressions_.size()) throw Error("generate: an MC/DC vector of an unknown decision from the worker");
        const std::size_t n = expressions_[d].conditions();
        if (vectors.size() - at - 3 < n) throw Error("generate: a truncated MC/DC vector from the worker");
        mcdc::Vector v{std::string(vectors.begin() + static_cast<std::ptrdiff_t>(at + 3),
                                   vectors.begin() + static_cast<std::ptrdiff_t>(at + 3 + n)),
                       vectors[at + 2] != 0};
        out.emplace_back(d, std::move(v));
        at += 3 + n;
    }
    return out;
}

bool Pairs::note(const std::vector<uint8_t>& vectors) {
    std::vector<uint8_t> grown(expressions_.size(), 0);
    for (auto& [d, v] : decode(vectors))
        if (std::find(seen_[d].begin(), seen_[d].end(), v) == seen_[d].end()) {
            seen_[d].push_back(std::move(v));
            grown[d] = 1;
        }
    bool fresh = false;
    for (std::size_t d = 0; d < expressions_.size(); ++d) {
        if (!grown[d]) continue;
        auto now = mcdc::analyse(expressions_[d], seen_[d]);
        for (std::size_t c = 0; c < now.size(); ++c)
            if (now[c].shown && !verdicts_[d][c].shown) ++shown_, fresh = true;
        verdicts_[d] = std::move(now);
    }
    return fresh;
}

bool Pairs::open() const {
    for (const auto& vs : verdicts_)
        for (const auto& v : vs)
            if (!v.shown && !v.missing.empty()) return true;
    return false;
}

std::set<DecisionVector> Pairs::pair_vectors() const {
    std::set<DecisionVector> out;
    for (std::size_t d = 0; d < verdicts_.size(); ++d)
        for (const auto& v : verdicts_[d])
            if (v.shown) {
                out.emplace(d, seen_[d][v.first]);
                out.emplace(d, seen_[d][v.second]);
            }
    return out;
}

}  // namespace kiv::gen
