// The portable fast search and the choice between the searches.
#include "engine/fast_search.h"

#include <cstring>

#include "engine/mod_arith.h"

namespace zud {

namespace {

// Independent chains per table build and per probed k: enough products in
// flight to cover the x87 latency.
constexpr int kTableChains = 8;
constexpr int kProbeChains = 4;

void fill_stride_table(const SearchTables& t, const SearchGeometry& geo, std::int64_t p, long double recip)
{
    const std::int64_t y = normalize_mod(pow_half(geo.stride, p, recip), p);
    std::int64_t x[kTableChains];
    x[0] = normalize_mod(p - normalize_mod(pow_half(geo.nmin_eff, p, recip), p), p);
    const long double cy = static_cast<long double>(y) * recip;
    for (int c = 1; c < kTableChains; ++c)
        x[c] = normalize_mod(mul_mod_fixed(x[c - 1], y, cy, p), p);
    const std::int64_t step = power_mod(y, kTableChains, p, recip);
    const long double c_step = static_cast<long double>(step) * recip;
    const std::int64_t g = geo.stride_count;
    std::int64_t t0 = 0;
    for (; t0 + kTableChains <= g; t0 += kTableChains) {
        for (int c = 0; c < kTableChains; ++c) {
            t.stride_table[t0 + c] = x[c];
            x[c] = normalize_mod(mul_mod_fixed(x[c], step, c_step, p), p);
        }
    }
    for (int c = 0; t0 + c < g; ++c)
        t.stride_table[t0 + c] = x[c];
}

void probe_k(const SearchTables& t, const SearchGeometry& geo, std::uint32_t i, std::int64_t p, long double recip,
             const FactorCallback& on_factor)
{
    const auto k_index = static_cast<std::int32_t>(i);
    const std::int64_t d = t.spacings[i];
    const std::int64_t factor = normalize_mod(reduce_mod(t.step_factors[i], p, recip), p);
    std::int64_t z[kProbeChains];
    z[0] = normalize_mod(reduce_mod(t.base_terms[i], p, recip), p);
    for (int c = 1; c < kProbeChains; ++c)
        z[c] = normalize_mod(mul_mod(z[c - 1], factor, p, recip), p);
    const std::int64_t step = power_mod(factor, kProbeChains, p, recip);
    const long double c_step = static_cast<long double>(step) * recip;
    std::int64_t j = t.residues[i];
    for (;;) {
        for (int c = 0; c < kProbeChains; ++c, j += d) {
            if (j >= geo.stride)
                return;
            if (may_match(t, z[c]))
                probe(t, geo, z[c], j, k_index, p, on_factor);
            z[c] = normalize_mod(mul_mod_fixed(z[c], step, c_step, p), p);
        }
    }
}

}  // namespace

std::int64_t power_mod(std::int64_t y, int e, std::int64_t p, long double recip)
{
    std::int64_t result = 1;
    for (; e > 0; e >>= 1) {
        if (e & 1)
            result = normalize_mod(mul_mod(result, y, p, recip), p);
        y = normalize_mod(sqr_mod(y, p, recip), p);
    }
    return result;
}

void link_stride_table(const SearchTables& t, const SearchGeometry& geo)
{
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        const std::int64_t x = t.stride_table[i];
        const std::uint32_t u = bucket_of(x);
        t.buckets[2 * u] |= 1u << (x & 31);
        t.links[i] = t.buckets[2 * u + 1];
        t.buckets[2 * u + 1] = static_cast<std::uint32_t>(i);
    }
}

void clear_bucket_table(const SearchTables& t, const SearchGeometry& geo)
{
    // Past a few hundred entries one sweep of the whole table is cheaper
    // than visiting the used buckets.
    if (geo.stride_count > 512) {
        std::memset(t.buckets, 0, 2 * kBuckets * sizeof(std::uint32_t));
        return;
    }
    for (std::int64_t i = 0; i < geo.stride_count; ++i) {
        const std::uint32_t u = bucket_of(t.stride_table[i]);
        t.buckets[2 * u] = 0;
        t.buckets[2 * u + 1] = 0;
    }
}

void search_prime_portable(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                           const FactorCallback& on_factor)
{
    if (!select_active(t, p))
        return;
    const long double recip = reciprocal_of(p);
    fill_stride_table(t, geo, p, recip);
    link_stride_table(t, geo);
    for (std::uint32_t i = 0; i < t.count; ++i)
        if (t.active[i])
            probe_k(t, geo, i, p, recip, on_factor);
    clear_bucket_table(t, geo);
}

bool vector_search_available()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
}

bool avx2_search_available()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

SearchFunction search_function(SearchMode mode)
{
    switch (mode) {
    case SearchMode::reference:
        return search_prime_reference;
    case SearchMode::portable:
        return search_prime_portable;
    case SearchMode::filtered:
    case SearchMode::best:
        if (vector_search_available())
            return search_prime_filtered;
        return avx2_search_available() ? search_prime_avx2 : search_prime_portable;
    case SearchMode::vector:
        if (vector_search_available())
            return search_prime_vector;
        [[fallthrough]];
    case SearchMode::avx2:
        return avx2_search_available() ? search_prime_avx2 : search_prime_portable;
    }
    return search_prime_portable;
}

}  // namespace zud
