// The generic searches (64-bit Montgomery products, any x86-64 processor)
// and the same arithmetic with AVX2's presence tests above the vector units' reach.
#include "engine/search/generic_arith.h"

namespace zud {

void search_prime_filtered_wide_avx2(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                     const FactorCallback& on_factor)
{
    if (!filtered::search<GatherArith>(t, geo, p, on_factor))
        filtered::search_unfiltered<GenericArith>(t, geo, p, on_factor);
}

void search_prime_filtered_generic(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                   const FactorCallback& on_factor)
{
    if (!filtered::search<GenericArith>(t, geo, p, on_factor))
        filtered::search_unfiltered<GenericArith>(t, geo, p, on_factor);
}

}  // namespace zud
