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

// -(k mod 3) * k, the search's quadratic-residue test;
// kAlwaysActive for a k that test cannot judge (a multiple of 3, even, or
// -2k beyond 32 bits), kNeverActive for a k that is not positive.
std::int64_t filter_value(std::int32_t k);

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
