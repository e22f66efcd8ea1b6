// The avx2 arithmetic without the power-residue filters.
#include "engine/search/avx2_arith.h"
#include "engine/support/searches.h"

void zud_test::search_prime_unfiltered_avx2(const zud::SearchTables& t, const zud::SearchGeometry& geo, std::int64_t p,
                                          const zud::FactorCallback& on_factor)
{
    zud::filtered::search_unfiltered<zud::Avx2Arith>(t, geo, p, on_factor);
}
