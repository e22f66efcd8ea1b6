// Faster searches with exactly the reference's hits, in the same order:
// the stride table and the probes are built from several independent
// chains of products instead of one, so that the products overlap.
#pragma once

#include <cstdint>

#include "engine/search.h"
#include "engine/sieve.h"

namespace zud {

using SearchFunction = void (*)(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                const FactorCallback& on_factor);

// The function for a mode; a mode the processor cannot run falls back to
// the next slower one.
SearchFunction search_function(SearchMode mode);
bool vector_search_available();
bool avx2_search_available();

void search_prime_portable(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                           const FactorCallback& on_factor);
void search_prime_avx2(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                       const FactorCallback& on_factor);
// Needs tables.power_filter and a stride table of filtered_table_capacity
// entries; without them, or for small p, it is the vector search.
void search_prime_filtered(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                           const FactorCallback& on_factor);
void search_prime_vector(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                         const FactorCallback& on_factor);

// y^e mod p in [0, p), by squaring (x87 products).
std::int64_t power_mod(std::int64_t y, int e, std::int64_t p, long double recip);

// Shared by the searches: links the stride table's entries 0 .. g-1 into
// the buckets in order, and returns the bucket table to zero.
void link_stride_table(const SearchTables& tables, const SearchGeometry& geometry);
void clear_bucket_table(const SearchTables& tables, const SearchGeometry& geometry);

}  // namespace zud
