// Writing generated cases as a suite file `kivrun run` reads: cells only where
// a value changes, expectations as observed, cases named for what they reach.
#pragma once

#include "generate/runner.h"
#include "generate/supervise.h"
#include "load/target.h"

#include <string>
#include <vector>

namespace kiv::gen {

// "reaches_G88_runa1_status_eq_0_was_false": the goal's number and meaning,
// reduced to a name; the goal's ID without a catalog.
std::string case_name_for(const GoalSlot& goal);

// The goal as reports name it: KIV_G<n>, or its variable ID.
std::string goal_label(const GoalSlot& goal);

// The suite as CSV text. rarity: per goal, how many corpus cases reached it;
// a case is named after the rarest goal it is chosen for. `comment` goes first,
// one '#' line per line.
std::string suite_csv(const Schema& schema, const Runner& runner, const std::vector<Chosen>& suite,
                      const std::vector<std::size_t>& rarity, const std::string& comment);

// Cases written as they were found, without expectations: the ones that
// killed the search's process (each up to the step that died), and the ones
// that came nearest to goals missed.
struct Found {
    std::string name;
    Case steps;
    std::string note;
};
std::string found_csv(const Schema& schema, const Runner& runner, const std::vector<Found>& cases,
                      const std::string& comment);

// A file of such cases beside a suite: SUITE.<kind>.csv.
std::string beside_suite(const std::string& suite_path, const std::string& kind);

// Throws Error unless path can be written: not a directory, in a directory
// that exists and is writable, and not an existing file unless force.
void check_writable(const std::string& path, bool force);

// Writes text as every report is written (write_report_file): a regular file
// through a temporary renamed over it, so a reader never sees half a suite; a
// device or pipe in place; a link through to its target. Throws Error on failure.
void write_atomically(const std::string& path, const std::string& text);

}  // namespace kiv::gen
