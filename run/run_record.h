// The one record of a run: the range, the candidate set and alpha. The
// front end fills it completely before a run starts and reads it again
// once the run has ended.
#pragma once

#include <cstdint>

#include "data/candidate_set.h"
#include "engine/work_digest.h"

namespace zud {

struct RunRecord {
    std::int64_t pmin = 0;   // 0: initial-creation mode
    std::int64_t pmax = 0;
    CandidateSet candidates;
    double alpha = 2.5;
    // The p of the last factor line shown during an initial creation:
    // -10000 when the program starts, kept from run to run.
    std::int64_t last_shown_factor_p = -10000;
    // A BOINC task's proof of work: with `digest_wanted`, the run adds
    // every prime it searches to `digest`, which holds those below pmin
    // when the run starts and those below its end once it has ended; the
    // checkpoints carry it ("digest=" lines).
    bool digest_wanted = false;
    WorkDigest digest;
    // The resume point the status file already records. A restart from the
    // last digest line searches again primes the file calls sieved; its
    // resume points must not go back below this one, which the reader
    // would take for damage.
    std::int64_t recorded_p = 0;
};

}  // namespace zud
