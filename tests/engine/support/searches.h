// The searches the tests and benchmarks hold the program's against: the
// plain search (the reference every other must match) and the unfiltered
// searches of each instruction set, which report exactly the reference's
// hits in the reference's order.
#pragma once

#include <cstdint>

#include "engine/search/instruction_set.h"
#include "engine/search/search.h"

namespace zud_test {

// reference: the plain search below 2^48; unfiltered: the set's arithmetic
// without the power-residue filters below 2^48; filtered: the program's
// searches of the set. Above 2^48 the first two run the generic unfiltered search.
enum class SearchMode { reference, unfiltered, filtered };

const char* search_mode_name(SearchMode mode);

// The searches of a mode on a set (which the processor must have).
zud::SearchPlan plan_of(SearchMode mode, zud::InstructionSet set);

// One chain of x87 products for the stride table, one probe after another
// for each active k: every hit of p, ordered by k index, then j ascending,
// then entry 0 and the chain from the newest entry back.
void search_prime_reference(const zud::SearchTables& tables, const zud::SearchGeometry& geometry, std::int64_t p,
                            const zud::FactorCallback& on_factor);
// Unfiltered: generic for any odd p below 2^62, avx2 below 2^48, ifma below 2^52.
void search_prime_unfiltered_generic(const zud::SearchTables& tables, const zud::SearchGeometry& geometry,
                                     std::int64_t p, const zud::FactorCallback& on_factor);
void search_prime_unfiltered_avx2(const zud::SearchTables& tables, const zud::SearchGeometry& geometry,
                                  std::int64_t p, const zud::FactorCallback& on_factor);
void search_prime_unfiltered_ifma(const zud::SearchTables& tables, const zud::SearchGeometry& geometry,
                                  std::int64_t p, const zud::FactorCallback& on_factor);

}  // namespace zud_test

namespace zud {

// The reference's stride table: -2^-(nmin_eff + t*m) mod p, each in [0, p),
// linked into the buckets (all zero).
void build_stride_table(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                        long double recip);

}  // namespace zud
