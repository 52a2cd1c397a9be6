// The search run in a child process, so that a case that crashes or hangs the
// library ends only that child: the parent keeps the corpus the child streamed
// to it, records the case as a finding and starts a new child with the corpus.
#pragma once

#include "mcdc/mcdc.h"
#include "generate/minimise.h"
#include "generate/runner.h"
#include "generate/search.h"

#include <functional>
#include <string>
#include <vector>

namespace kiv::gen {

struct Finding {  // a case that killed its process
    Case steps;        // up to and including the step that died
    int signal = 0;    // 0: timed out, or ended without a signal
    int status = 0;    // the wait status of its process
    bool timed_out = false;
    std::string what() const;  // "SIGSEGV at step 3", ...
};

struct GenerateOptions {
    uint64_t seed = 1;
    Limits limits;
    double step_timeout = 1.0;    // seconds a step may take before its child is killed
    std::vector<uint8_t> wanted;  // per goal: searched for (not justified)
    // Deaths in a row with nothing new found between them that end the
    // search; deaths that come with finds only cost the budget.
    std::size_t max_restarts = 64;
    // With --mcdc: per decision the runner watches, its expression; a case
    // showing a new independence pair is kept, and the suite keeps the pairs.
    std::vector<mcdc::Expression> mcdc;
    // Called about once a second while the search runs, on a thread of its
    // own: executions, goals reached and the time of the last new goal so
    // far, and the seconds since the search began.
    std::function<void(const Progress&, double)> on_tick;
};

struct Generated {
    std::vector<Entry> corpus;
    std::vector<Chosen> suite;
    std::vector<Finding> crashes;  // one per signal and scope of the step that died
    std::size_t deaths = 0;        // children lost, repeats included
    std::size_t barren = 0;        // the last deaths in a row with no new corpus case between them
    Progress progress;
    Stop stop = Stop::goals;
    bool shortened = true;  // false when shortening itself killed a child
    double seconds = 0;     // search and minimisation
};

// Searches, then minimises, in child processes. Throws Error when a child
// cannot be started or the minimisation cannot complete.
Generated generate(Runner& runner, const GenerateOptions& options);

}  // namespace kiv::gen
