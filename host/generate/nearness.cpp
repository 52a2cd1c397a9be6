// Reading the comparison probes' gaps after each step of a generated case.
#include "generate/nearness.h"

#include "instrumentation/probe_records.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <type_traits>

namespace kiv::gen {

namespace {

// The records' gap fields, when this build's probes keep them.
template <class R>
constexpr bool kHasGaps = requires(R r) {
    r.nearBelow;
    r.nearAbove;
};
template <class R>
constexpr bool kHasBounds = requires(R r) {
    r.nearMin;
    r.nearMax;
};

}  // namespace

Nearness::Nearness(const Target& target) : goal_count_(target.schema().goals.size()) {
    find<IXA_RELOP_RECORD>(target);
    find<IXA_CAST_RECORD>(target);
}

// A template, so that a build whose records keep no gaps compiles this away.
template <class R>
void Nearness::find(const Target& target) {
    constexpr bool relop = std::is_same_v<R, IXA_RELOP_RECORD>;
    if constexpr (relop ? kHasGaps<R> : kHasBounds<R>) {
        const Library& lib = target.library();
        if (!lib.has_symbol_table()) return;
        // A cast's bound is an equality to cross: the same reading as a
        // relation's "equal", from the one side each bound is approached.
        static const std::map<std::string, Field> kFields{
            {"trueSeen", Field::flip}, {"falseSeen", Field::flip}, {"oneBelow", Field::one_below},
            {"equal", Field::equal},   {"oneAbove", Field::one_above}, {"belowMin", Field::below_only},
            {"aboveMax", Field::above_only}};
        std::map<std::string, std::size_t> index;
        const auto& goals = target.schema().goals;
        for (std::size_t g = 0; g < goals.size(); ++g) {
            const CatalogGoal* info = goals[g].info;
            if (!info || info->record.find(relop ? "RELOP" : "CAST") == std::string::npos) continue;
            const auto f = kFields.find(info->field);
            if (f == kFields.end()) continue;
            auto [it, fresh] = index.emplace(info->record, records_.size());
            if (fresh) {
                volatile uint8_t* at = lib.data_symbol(info->record, sizeof(R));
                if (!at) {
                    index.erase(it);
                    continue;
                }
                Record r{};
                if constexpr (relop) {
                    r.below = reinterpret_cast<volatile const uint32_t*>(at + offsetof(R, nearBelow));
                    r.above = reinterpret_cast<volatile const uint32_t*>(at + offsetof(R, nearAbove));
                } else {
                    r.below = reinterpret_cast<volatile const uint32_t*>(at + offsetof(R, nearMin));
                    r.above = reinterpret_cast<volatile const uint32_t*>(at + offsetof(R, nearMax));
                }
                r.at_load_below = *r.below;
                r.at_load_above = *r.above;
                records_.push_back(r);
            }
            goals_.push_back({g, it->second, f->second});
        }
    } else {
        (void)target;
    }
}

void Nearness::start() {
    for (Record& r : records_) {
        r.now_below = r.at_load_below, r.now_above = r.at_load_above;
        r.step_below = r.step_above = 0;
    }
}

void Nearness::after_step(uint32_t step) {
    for (Record& r : records_) {
        if (const uint32_t b = *r.below; b != r.now_below) r.now_below = b, r.step_below = step;
        if (const uint32_t a = *r.above; a != r.now_above) r.now_above = a, r.step_above = step;
    }
}

// A gap is kept as its complement (0: never seen), so a zeroed record starts
// at "never"; the distances follow from the gaps on each side.
void Nearness::finish(const std::vector<uint8_t>& reached, Observation& obs) const {
    obs.distance.assign(goal_count_, kFar);
    obs.near_step.assign(goal_count_, 0);
    for (const Goal& x : goals_) {
        if (reached[x.goal]) {
            obs.distance[x.goal] = 0;
            continue;
        }
        const Record& r = records_[x.record];
        const uint64_t below = r.now_below ? uint64_t{~r.now_below} : kFar;  // right - left > 0
        const uint64_t above = r.now_above ? uint64_t{~r.now_above} : kFar;  // left - right >= 0
        uint64_t d = kFar;
        bool from_below = below <= above;
        switch (x.field) {
            case Field::flip:
            case Field::equal:
                d = std::min(below, above);
                break;
            case Field::one_below:  // right - left == 1
                from_below = below != kFar;
                d = from_below ? below - 1 : (above == kFar ? kFar : above + 1);
                break;
            case Field::one_above:  // left - right == 1
                from_below = above == kFar;
                d = !from_below ? (above > 1 ? above - 1 : 1 - above) : (below == kFar ? kFar : below + 1);
                break;
            case Field::below_only:  // a cast: one past the gap to its minimum
                from_below = true;
                d = below == kFar ? kFar : below + 1;
                break;
            case Field::above_only:  // and to its maximum
                from_below = false;
                d = above == kFar ? kFar : above + 1;
                break;
        }
        // Not reached, so never 0: a reached goal is nearer than any miss.
        obs.distance[x.goal] = d == kFar ? kFar : std::max<uint64_t>(d, 1);
        obs.near_step[x.goal] = from_below ? r.step_below : r.step_above;
    }
}

}  // namespace kiv::gen
