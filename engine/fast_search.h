// Faster searches with exactly the reference's hits, in the same order:
// the stride table and the probes are built from several independent
// chains of products instead of one, so that the products overlap.
#pragma once

#include <cstdint>

#include "engine/search.h"

namespace zud {

enum class SearchMode {
    reference,   // one chain of x87 products (search_prime_reference)
    portable,    // interleaved x87 chains, any x86-64 processor
    avx2,        // double-precision FMA products, 4 lanes
    vector,      // AVX-512 IFMA Montgomery products, 8 lanes
    filtered,    // power-residue filters and a stride per prime, on the instruction set in force
    best,        // what the program runs: filtered
};

using SearchFunction = void (*)(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                const FactorCallback& on_factor);

// The search run_sieve uses; best unless a benchmark or test chose another.
// Above 2^48 the unfiltered modes all run the wide search.
void set_search_mode(SearchMode mode);
SearchMode search_mode();
bool vector_search_available();
bool avx2_search_available();

void search_prime_portable(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                           const FactorCallback& on_factor);
void search_prime_avx2(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                       const FactorCallback& on_factor);
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
void search_prime_vector(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                         const FactorCallback& on_factor);

// y^e mod p in [0, p), by squaring (x87 products).
std::int64_t power_mod(std::int64_t y, int e, std::int64_t p, long double recip);

// Shared by the searches: links the stride table's entries 0 .. g-1 into
// the buckets in order, and returns the bucket table to zero.
void link_stride_table(const SearchTables& tables, const SearchGeometry& geometry);
void clear_bucket_table(const SearchTables& tables, const SearchGeometry& geometry);

}  // namespace zud
