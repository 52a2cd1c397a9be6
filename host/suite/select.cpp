// Selecting, sharding, repeating and shuffling the cases of a plan.
#include "suite/select.h"

#include "error.h"

#include <charconv>
#include <cstdlib>

namespace kiv {

namespace {

uint64_t mix(uint64_t z) {  // splitmix64's finaliser
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::optional<int> parse_count(std::string_view s) {
    int v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

Shard parse_shard(const std::string& text) {
    const auto slash = text.find('/');
    const auto k = slash == std::string::npos ? std::nullopt : parse_count(std::string_view(text).substr(0, slash));
    const auto n = slash == std::string::npos ? std::nullopt : parse_count(std::string_view(text).substr(slash + 1));
    if (!k || !n) throw Error("--shard '" + text + "': expected K/N, runner K (from 0) of N runners, such as 0/4");
    if (*n < 1 || *n > kMaxShards)
        throw Error("--shard '" + text + "': expected N, the number of shards, from 1 to " +
                    std::to_string(kMaxShards));
    if (*k < 0 || *k >= *n)
        throw Error("--shard '" + text + "': expected K from 0 to " + std::to_string(*n - 1) +
                    " for N = " + std::to_string(*n));
    return {*k, *n};
}

std::optional<Shard> shard_from_environment() {
    const char* index = std::getenv("GTEST_SHARD_INDEX");
    const char* total = std::getenv("GTEST_TOTAL_SHARDS");
    if (!index && !total) return std::nullopt;
    if (!index || !total)
        throw Error(std::string("GTEST_") + (index ? "TOTAL_SHARDS" : "SHARD_INDEX") + " is not set, but GTEST_" +
                    (index ? "SHARD_INDEX" : "TOTAL_SHARDS") + " is; expected both or neither");
    try {
        return parse_shard(std::string(index) + "/" + total);
    } catch (const Error&) {
        throw Error("GTEST_SHARD_INDEX=" + std::string(index) + " and GTEST_TOTAL_SHARDS=" + total +
                    ": expected an index from 0 to one less than the total, which is from 1 to " +
                    std::to_string(kMaxShards));
    }
}

int shard_of(const Plan& plan, const PlanCase& c, int count) {
    uint64_t h = 14695981039346656037u;
    for (char ch : case_id(plan, c))
        h = (h ^ static_cast<unsigned char>(ch)) * 1099511628211u;
    return static_cast<int>(mix(h) % static_cast<uint64_t>(count));
}

bool glob_match(std::string_view p, std::string_view t) {
    // Iterative, with one backtrack point: the last '*' seen.
    std::size_t pi = 0, ti = 0, star = std::string_view::npos, mark = 0;
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == t[ti])) {
            ++pi, ++ti;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++, mark = ti;
        } else if (star != std::string_view::npos) {
            pi = star + 1, ti = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

Plan select_cases(Plan plan, const Selection& s) {
    std::vector<std::string_view> include, exclude;
    for (const auto& f : s.filters)
        (f.size() > 1 && f[0] == '-' ? exclude : include)
            .push_back(f.size() > 1 && f[0] == '-' ? std::string_view(f).substr(1) : std::string_view(f));
    std::vector<bool> used(include.size() + exclude.size());
    std::vector<PlanCase> chosen;
    std::size_t filtered = 0;  // cases the filters keep, in any shard
    if (s.filters.empty() && !s.shard)
        chosen = std::move(plan.cases);
    for (auto& c : plan.cases) {
        const std::string id = case_id(plan, c);
        auto matches = [&](std::string_view g) { return glob_match(g, id) || glob_match(g, c.name); };
        bool in = include.empty(), out = false;
        for (std::size_t k = 0; k < include.size(); ++k)
            if (matches(include[k])) in = true, used[k] = true;
        for (std::size_t k = 0; k < exclude.size(); ++k)
            if (matches(exclude[k])) out = true, used[include.size() + k] = true;
        if (in && !out) ++filtered;
        if (in && !out && (!s.shard || shard_of(plan, c, s.shard->count) == s.shard->index))
            chosen.push_back(std::move(c));
    }
    for (std::size_t k = 0; k < include.size(); ++k)
        if (!used[k])
            throw Error(
                "--filter '" + std::string(include[k]) +
                "' matches no case; expected a glob (* and ?) on a case name or suite:case (--list shows them)");
    // Whatever the patterns, a selection that leaves nothing would pass with
    // nothing tested. (A shard left empty by its share is not an error.)
    if (!s.filters.empty() && filtered == 0) {
        std::string all;
        for (const auto& f : s.filters)
            all += (all.empty() ? "" : " ") + std::string("--filter '") + f + "'";
        throw Error(all + " leaves no case to run (--list shows them)");
    }
    if (s.repeat < 1) throw Error("--repeat " + std::to_string(s.repeat) + ": expected at least 1");
    const std::size_t one_round = chosen.size();
    for (int round = 2; round <= s.repeat; ++round)
        for (std::size_t k = 0; k < one_round; ++k) {
            PlanCase c = chosen[k];
            c.name += "#" + std::to_string(round);
            chosen.push_back(std::move(c));
        }
    if (s.shuffle) {
        // Fisher-Yates over splitmix64, so a seed gives the same order with
        // any standard library.
        uint64_t state = s.seed;
        for (std::size_t k = chosen.size(); k > 1; --k) {
            state += 0x9E3779B97F4A7C15u;
            std::swap(chosen[k - 1], chosen[mix(state) % k]);
        }
    }
    plan.cases = std::move(chosen);
    return plan;
}

void list_cases(const Plan& plan, std::ostream& out) {
    for (const auto& c : plan.cases) {
        uint32_t checks = 0;
        for (uint32_t k = c.first_step; k < c.first_step + c.n_steps; ++k)
            checks += plan.steps[k].n_expects;
        const uint32_t steps = c.n_steps - c.n_setup;
        out << case_id(plan, c) << "  " << plan.files[c.file] << ":" << c.line << "  " << steps
            << (steps == 1 ? " step" : " steps");
        if (c.n_setup) out << " after " << c.n_setup << " of setup";
        out << ", " << checks << (checks == 1 ? " check" : " checks") << "\n";
    }
    out << plan.cases.size() << (plan.cases.size() == 1 ? " case" : " cases") << "\n";
}

}  // namespace kiv
