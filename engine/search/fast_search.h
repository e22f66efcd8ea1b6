// The searches of one prime. Each instruction set's arithmetic runs in one
// skeleton (filtered_skeleton.h); the filtered searches report the hits of
// the plain search in an order of their own within a prime.
#pragma once

#include <cstdint>

#include "engine/search/search.h"
#include "engine/sieve.h"

namespace zud {

// The filtered searches need tables.power_filter and a stride table of
// filtered_table_capacity entries; without them, for small p, or for
// classes too fine, they search p unfiltered. IFMA: p < 2^52; AVX2:
// p < 2^48; generic: any p below 2^62.
void search_prime_filtered_ifma(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                const FactorCallback& on_factor);
void search_prime_filtered_avx2(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                const FactorCallback& on_factor);
void search_prime_filtered_generic(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                   const FactorCallback& on_factor);
// The generic arithmetic with the presence tests of AVX2: above 2^48 (2^52)
// on processors with AVX2 (IFMA).
void search_prime_filtered_wide_avx2(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                     const FactorCallback& on_factor);

// Shared by the searches: links the stride table's entries 0 .. g-1 into
// the buckets in order, and returns the used buckets to zero.
void link_stride_table(const SearchTables& tables, const SearchGeometry& geometry);
void clear_bucket_table(const SearchTables& tables, const SearchGeometry& geometry);

}  // namespace zud
