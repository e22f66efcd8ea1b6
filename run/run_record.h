// The one record of a run: the range, the candidate set and alpha. Start
// fills it completely before the worker exists; the worker reaches it
// through current_run().
#pragma once

#include <cstdint>

#include "data/candidate_set.h"

namespace zud {

struct RunRecord {
    std::int64_t pmin = 0;   // 0: initial-creation mode
    std::int64_t pmax = 0;
    CandidateSet candidates;
    double alpha = 2.5;
    int workers = 0;   // sieving threads; 0: one per processor the program may use
};

// The run the worker's callbacks work on; set by the worker procedure.
RunRecord* current_run();
void set_current_run(RunRecord* run);

}  // namespace zud
