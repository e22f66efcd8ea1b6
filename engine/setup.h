// Set-up pieces of run_sieve: spacing reduction, the residue bound, and the
// search geometry.
#pragma once

#include <cstdint>

#include "engine/search/search.h"

namespace zud {

// Divides d by 2, 3, 5, 7 while it exceeds limit; a multiple of limit
// becomes limit. Every remaining n stays in one class modulo the result.
// A result above limit means the spacing cannot be reduced.
std::int32_t reduce_spacing(std::int32_t d, std::int32_t limit);

// Largest r with k * 2^r <= 2^60, for k >= 1.
std::int32_t residue_limit(std::int32_t k);

// a mod d in [0, d), for d >= 1.
std::int32_t non_negative_mod(std::int64_t a, std::int32_t d);

// The search's quadratic-residue test of a k: -k when every remaining n is
// even (2^n is then a square, so p | k*2^n+1 needs -k to be one), -2k when
// every n is odd. The parity comes from the k's spacing and the class of its
// n (first_n, any remaining n); a k whose n have both parities is judged by
// -(k mod 3) * k only when the run sieves from 3 on (sieves_three), because
// then 3 is the smallest factor of every n of the other parity and is found.
// kAlwaysActive for a k the test cannot judge (a multiple of 3, even, -2k
// beyond 32 bits, both parities left above 3), kNeverActive for a k that is
// not positive.
std::int64_t filter_value(std::int32_t k, std::int32_t spacing, std::int64_t first_n, bool sieves_three);

// One k's class as the searches take it: spacing d at most 48 and small
// enough that k * 2^r_eff stays within 2^60; residue r counted from nmin,
// r_eff from nmin_eff (rebase = nmin_eff - nmin). False when the spacing
// cannot be reduced: `spacing` then holds the value that failed.
struct KClass {
    std::int32_t residue;
    std::int32_t spacing;
    std::int32_t search_residue;
};
bool reduce_class(std::int32_t k, std::int32_t residue, std::int32_t spacing, std::int64_t rebase, KClass& out);

// Stride m: the smallest multiple of lcm not below floor(sqrt(R * alpha)),
// at least lcm; stride count g = R / m + 1. 64-bit throughout. Needs the
// worker's floating-point environment.
SearchGeometry plan_geometry(std::int64_t nmin_eff, std::int32_t nmax, std::int64_t lcm, double alpha);

}  // namespace zud
