// The ifma arithmetic without the power-residue filters.
#include "engine/search/ifma_arith.h"
#include "engine/support/searches.h"

void zud_test::search_prime_unfiltered_ifma(const zud::SearchTables& t, const zud::SearchGeometry& geo, std::int64_t p,
                                          const zud::FactorCallback& on_factor)
{
    zud::filtered::search_unfiltered<zud::IfmaArith>(t, geo, p, on_factor);
}
