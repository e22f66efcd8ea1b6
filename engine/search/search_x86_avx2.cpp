// The AVX2 filtered search, p < 2^48.
#include "engine/search/avx2_arith.h"

namespace zud {

void search_prime_filtered_avx2(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                const FactorCallback& on_factor)
{
    if (!filtered::search<Avx2Arith>(t, geo, p, on_factor))
        filtered::search_unfiltered<Avx2Arith>(t, geo, p, on_factor);
}

}  // namespace zud
