// The search for primes from 2^48 up to 2^62: the same meeting of stride
// table and probes as below 2^48, over the same tables, with Montgomery
// products of 64-bit words instead of x87 quotient estimates.
#pragma once

#include <cstdint>

#include "engine/search.h"
#include "engine/search_tuning.h"

namespace zud {

// Reports every hit of an odd prime p in [2^48, 2^62) ordered as the
// reference search orders them: by k index, then j ascending, then entry 0
// and the bucket's chain from the newest entry back. The stride table
// holds Montgomery forms afterwards, each below p.
void search_prime_wide(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                       const FactorCallback& on_factor);

}  // namespace zud
