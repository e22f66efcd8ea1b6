// The straightforward search: one chain of products for the stride table,
// one probe after another for each active k.
#include "engine/search.h"

#include <climits>

#include "engine/mod_arith.h"

namespace zud {

namespace {

inline void report(const FactorCallback& on_factor, std::int32_t k_index, std::int64_t n, std::int64_t p)
{
    // An n past the 32-bit range cannot be a candidate; never wrap it into one.
    if (n <= INT32_MAX)
        on_factor(k_index, static_cast<std::int32_t>(n), p);
}

}  // namespace

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

void clear_buckets(const SearchTables& t, const SearchGeometry& geo)
{
    for (std::int64_t i = 0; i < geo.stride_count; ++i)
        t.buckets[2 * bucket_of(t.stride_table[i])] = 0;
}

void probe(const SearchTables& t, const SearchGeometry& geo, std::int64_t z, std::int64_t j, std::int32_t k_index,
           std::int64_t p, const FactorCallback& on_factor)
{
    // Products stay loose in [0, 2p); equal residues meet only in [0, p).
    z = normalize_mod(z, p);
    const std::uint32_t u = bucket_of(z);
    if ((t.buckets[2 * u] >> (z & 31) & 1u) == 0)
        return;
    const std::int64_t n0 = geo.nmin_eff + j;
    if (t.stride_table[0] == z)
        report(on_factor, k_index, n0, p);
    for (std::uint32_t e = t.buckets[2 * u + 1]; e != 0; e = t.links[e])
        if (t.stride_table[e] == z)
            report(on_factor, k_index, n0 + static_cast<std::int64_t>(e) * geo.stride, p);
}

bool select_active(const SearchTables& t, std::int64_t p)
{
    bool any = false;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        const std::int64_t s = t.filters[i];
        const bool on = s != kNeverActive && (p == 3 || s == kAlwaysActive || jacobi(s, p) == 1);
        t.active[i] = on;
        any = any || on;
    }
    return any;
}

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
    clear_buckets(t, geo);
}

}  // namespace zud
