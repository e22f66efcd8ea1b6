// The vector search: Montgomery products (R = 2^52) in the AVX-512 IFMA
// units, eight lanes at a time. Table entries and probes are both kept in
// Montgomery form x*R mod p, in [0, p): the map is one-to-one, so exactly
// the same pairs meet as in the reference search, in the same order.
#include "engine/ifma.h"
#include "engine/fast_search.h"
#include "engine/mod_arith.h"

namespace zud {

namespace {

using namespace ifma;

constexpr int kTableVectors = 4;   // 32 chains in flight while the table fills

// x, x*y, ..., x*y^7 in [0, p): the first vector of a chain.
ZUD_IFMA __m512i geometric_lanes(std::int64_t x, std::int64_t y, std::int64_t p, long double recip)
{
    alignas(64) std::int64_t lanes[kLanes];
    lanes[0] = x;
    for (int c = 1; c < kLanes; ++c)
        lanes[c] = normalize_mod(mul_mod(lanes[c - 1], y, p, recip), p);
    return _mm512_load_si512(lanes);
}

ZUD_IFMA void fill_stride_table(const SearchTables& t, const SearchGeometry& geo, std::int64_t p, long double recip,
                                const Montgomery& m)
{
    const std::int64_t y = normalize_mod(pow_half(geo.stride, p, recip), p);
    const std::int64_t x0 = normalize_mod(p - normalize_mod(pow_half(geo.nmin_eff, p, recip), p), p);
    const std::int64_t y8 = power_mod(y, kLanes, p, recip);
    const __m512i step8 = broadcast_montgomery(y8, m);
    __m512i v[kTableVectors];
    v[0] = to_montgomery(geometric_lanes(x0, y, p, recip), m);
    for (int k = 1; k < kTableVectors; ++k)
        v[k] = mont_mul(v[k - 1], step8, m);
    const __m512i step = broadcast_montgomery(power_mod(y8, kTableVectors, p, recip), m);
    const std::int64_t g = geo.stride_count;
    std::int64_t t0 = 0;
    for (; t0 + kLanes * kTableVectors <= g; t0 += kLanes * kTableVectors) {
        for (int k = 0; k < kTableVectors; ++k) {
            _mm512_storeu_si512(t.stride_table + t0 + k * kLanes, v[k]);
            v[k] = mont_mul(v[k], step, m);
        }
    }
    for (int k = 0; t0 < g; ++k, t0 += kLanes) {
        const std::int64_t left = g - t0;
        const auto mask = static_cast<__mmask8>(left >= kLanes ? 0xFF : (1u << left) - 1);
        _mm512_mask_storeu_epi64(t.stride_table + t0, mask, v[k]);
    }
}

ZUD_IFMA void probe_k(const SearchTables& t, const SearchGeometry& geo, std::uint32_t i, std::int64_t p,
                      long double recip, const Montgomery& m, const FactorCallback& on_factor)
{
    const auto k_index = static_cast<std::int32_t>(i);
    const std::int64_t d = t.spacings[i];
    const std::int64_t factor = normalize_mod(reduce_mod(t.step_factors[i], p, recip), p);
    const std::int64_t z0 = normalize_mod(reduce_mod(t.base_terms[i], p, recip), p);
    __m512i z = to_montgomery(geometric_lanes(z0, factor, p, recip), m);
    const __m512i step = broadcast_montgomery(power_mod(factor, kLanes, p, recip), m);
    const std::int64_t probes = (geo.stride - t.residues[i] + d - 1) / d;
    probe_lanes(t, geo, z, step, m, probes, t.residues[i], d, k_index, p, on_factor);
}

}  // namespace

ZUD_IFMA void search_prime_vector(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                  const FactorCallback& on_factor)
{
    if (!select_active(t, p))
        return;
    const long double recip = reciprocal_of(p);
    const Montgomery m = montgomery_for(p);
    fill_stride_table(t, geo, p, recip, m);
    link_stride_table(t, geo);
    for (std::uint32_t i = 0; i < t.count; ++i)
        if (t.active[i])
            probe_k(t, geo, i, p, recip, m, on_factor);
    clear_bucket_table(t, geo);
}

}  // namespace zud
