// The one record of a run: the range, the candidate set and alpha. The
// front end fills it completely before a run starts and reads it again
// once the run has ended.
#pragma once

#include <cstdint>

#include "data/candidate_set.h"

namespace zud {

struct RunRecord {
    std::int64_t pmin = 0;   // 0: initial-creation mode
    std::int64_t pmax = 0;
    CandidateSet candidates;
    double alpha = 2.5;
    // The p of the last factor line shown during an initial creation:
    // -10000 when the program starts, kept from run to run.
    std::int64_t last_shown_factor_p = -10000;
};

}  // namespace zud
