// The AVX-512 IFMA filtered search, p < 2^52.
#include "engine/search/ifma_arith.h"

namespace zud {

void search_prime_filtered_ifma(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                const FactorCallback& on_factor)
{
    if (!filtered::search<IfmaArith>(t, geo, p, on_factor))
        filtered::search_unfiltered<IfmaArith>(t, geo, p, on_factor);
}

}  // namespace zud
