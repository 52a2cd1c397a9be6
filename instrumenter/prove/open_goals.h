// The goals a proof leaves open, written beside the proven ones: why each is
// not proven, and how many steps from the load state are known not to
// reach it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kivinst::prove {

struct OpenGoal {
    int goal = 0;
    std::string record, flag;
    unsigned not_within = 0;  // no step of the first N from the load state reaches it; 0: no bound
    std::string why;          // why it is not proven
};

// A CSV with columns goal, record, flag, not_within, why; one row per goal.
std::string open_goals_csv(const std::vector<OpenGoal>& goals);

// One line for the user: how many goals are proven and open, and how many
// of the open ones have a bound.
std::string open_goals_summary(const std::vector<OpenGoal>& goals, std::size_t proven);

}  // namespace kivinst::prove
