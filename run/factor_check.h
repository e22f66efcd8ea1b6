// The factor callback: drops reports that are out of range or already
// known, verifies the rest with arithmetic of its own, removes the n and
// records the factor (window line first, then the status file).
#pragma once

#include <cstdint>

namespace zud {

// p | k*2^n+1, by right-to-left powering with the factor check's own
// reductions (small modulus up to 2^31 - 1, large above). Leaves the
// thread's floating-point control word as it found it.
bool verify_factor(std::int32_t k, std::int32_t n, std::int64_t p);

// The engine's factor callback, on the current run.
void factor_callback(std::int32_t k_index, std::int32_t n, std::int64_t p);

// The p of the last factor line shown during an initial creation; -10000 at
// program start and kept across runs.
std::int64_t last_shown_factor_prime();
void reset_last_shown_factor_prime();   // program start (and tests)

}  // namespace zud
