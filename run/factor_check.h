// Each hit the engine reports: dropped when out of range or already known,
// verified with arithmetic of its own, and applied in ascending p so that
// several workers record exactly what one would have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/ordered_results.h"
#include "run/run_events.h"
#include "run/run_record.h"

namespace zud {

// p | k*2^n+1, by right-to-left powering with the factor check's own
// reductions (small modulus up to 2^31 - 1, large above). Leaves the
// thread's floating-point control word as it found it.
bool verify_factor(std::int32_t k, std::int32_t n, std::int64_t p);

// Why "p | k*2^n+1" is not a factor the sieve records, or "" when p is a
// prime that divides the number: what every recorded factor line must show,
// as a new factor shows it. (The sieve records a prime k*2^n+1 that lies in
// its range of p as well; an applied line must be a proper factor.)
std::string factor_fault(std::int64_t p, std::int32_t k, std::int32_t n);

// p is k*2^n+1 itself.
bool is_the_number(std::int64_t p, std::int32_t k, std::int32_t n);

// p is prime (deterministic for every 64-bit p).
bool is_prime(std::int64_t p);

// The smallest prime at or above n (n up to 2^63 - 25): the prime a resume
// point stands for.
std::int64_t first_prime_from(std::int64_t n);

// A worker's side of one report, on the worker's thread: drops n above nmax
// and n no longer candidates, verifies the rest and lists them in `hits`.
// In a normal run the bits stay for the committer; in an initial creation
// the worker clears them itself (the result does not depend on the order)
// and lists only the first new factor of each prime, for the window, and
// any failed check.
class HitScreen {
public:
    HitScreen(RunRecord& run, std::vector<ChunkHit>& hits) : run_(run), hits_(hits) {}
    void operator()(std::int32_t k_index, std::int32_t n, std::int64_t p);

private:
    RunRecord& run_;
    std::vector<ChunkHit>& hits_;
    std::int64_t last_listed_p_ = -1;
};

// What one commit gives: status-file lines, the factors to show in order,
// and the first failed check, which ends the run.
struct CommitBatch {
    std::string text;
    std::vector<FactorRecord> shown;
    bool failed = false;
    FactorRecord failure{};
};

// Applies finished chunks in ascending p, on the committing thread: a hit
// whose n a lower prime removed first is dropped, as it would be by one
// worker. Stops at a failed check. In an initial creation a factor is
// shown when it is at least 1000 of p above run.last_shown_factor_p.
void commit_chunk(RunRecord& run, const ChunkResult& chunk, CommitBatch& batch);

}  // namespace zud
