// The records' layouts stay out of the header: only kivrun_core sees src/.
#include "mcdc/mcdc_flags.h"

#include "instrumentation/probe_records.h"

namespace kiv::mcdc {

StepFlags::StepFlags(const std::vector<Watched>& watched) {
    for (const auto& w : watched) {
        decisions_.push_back(
            {w.decision + offsetof(IXA_DC_RECORD, falseSeen), w.decision + offsetof(IXA_DC_RECORD, trueSeen)});
        conditions_.emplace_back();
        for (auto* c : w.conditions)
            conditions_.back().push_back({c + offsetof(IXA_CC_RECORD, falseSeen), c + offsetof(IXA_CC_RECORD, trueSeen)});
    }
}

}  // namespace kiv::mcdc
