// The generic arithmetic without the power-residue filters.
#include "engine/search/generic_arith.h"
#include "engine/support/searches.h"

void zud_test::search_prime_unfiltered_generic(const zud::SearchTables& t, const zud::SearchGeometry& geo, std::int64_t p,
                                          const zud::FactorCallback& on_factor)
{
    zud::filtered::search_unfiltered<zud::GenericArith>(t, geo, p, on_factor);
}
