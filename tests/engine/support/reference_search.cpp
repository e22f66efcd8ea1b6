// The plain search, and the plans of the modes the tests compare.
#include "engine/support/searches.h"

#include "engine/search/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/search/search_tuning.h"

namespace zud {

void build_stride_table(const SearchTables& t, const SearchGeometry& geo, std::int64_t p, long double recip)
{
    std::int64_t x = normalize_mod(pow_half(geo.nmin_eff, p, recip), p);
    const std::int64_t y = normalize_mod(pow_half(geo.stride, p, recip), p);
    x = p - x;   // -2^-nmin'; x was in [0, p), so this stays in (0, p]
    x = normalize_mod(x, p);
    const long double c = static_cast<long double>(y) * recip;
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        t.stride_table[i] = x;
        link_entry(t, static_cast<std::uint32_t>(i), x);
        x = normalize_mod(mul_mod_fixed(x, y, c, p), p);
    }
}

}  // namespace zud

namespace zud_test {

using namespace zud;

void search_prime_reference(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                            const FactorCallback& on_factor)
{
    if (!select_active(t, p))
        return;
    const long double recip = reciprocal_of(p);
    build_stride_table(t, geo, p, recip);
    for (std::uint32_t i = 0; i < t.count; ++i) {
        if (!t.active[i])
            continue;
        const auto k_index = static_cast<std::int32_t>(i);
        std::int64_t z = reduce_mod(t.base_terms[i], p, recip);
        for (std::int64_t j = t.residues[i]; j < geo.stride; j += t.spacings[i]) {
            probe(t, geo, z, j, k_index, p, on_factor);
            z = mul_mod(normalize_mod(z, p), t.step_factors[i], p, recip);
        }
    }
    clear_bucket_table(t, geo);
}

const char* search_mode_name(SearchMode mode)
{
    switch (mode) {
    case SearchMode::reference:
        return "reference";
    case SearchMode::unfiltered:
        return "unfiltered";
    case SearchMode::filtered:
        break;
    }
    return "filtered";
}

SearchPlan plan_of(SearchMode mode, InstructionSet set)
{
    static constexpr SearchFunction kUnfiltered[] = {search_prime_unfiltered_generic, search_prime_unfiltered_avx2,
                                                     search_prime_unfiltered_ifma};
    switch (mode) {
    case SearchMode::reference:
        return {kWideSearchFrom, search_prime_reference, search_prime_unfiltered_generic};
    case SearchMode::unfiltered:
        return {kWideSearchFrom, kUnfiltered[static_cast<int>(set)], search_prime_unfiltered_generic};
    case SearchMode::filtered:
        break;
    }
    return search_plan(set);
}

}  // namespace zud_test
