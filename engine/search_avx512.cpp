// The vector search: Montgomery products (R = 2^52) in the AVX-512 IFMA
// units, eight lanes at a time. Table entries and probes are both kept in
// Montgomery form x*R mod p, in [0, p): the map is one-to-one, so exactly
// the same pairs meet as in the reference search, in the same order.
// GCC 12 takes the undefined pass-through operands of some AVX-512
// intrinsics for uninitialised variables.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include "engine/fast_search.h"
#include "engine/mod_arith.h"

#define ZUD_IFMA __attribute__((target("avx512f,avx512ifma")))

namespace zud {

namespace {

constexpr std::uint64_t kMask52 = (std::uint64_t{1} << 52) - 1;
constexpr int kLanes = 8;
constexpr int kTableVectors = 4;   // 32 chains in flight while the table fills

struct Montgomery {
    __m512i p;
    __m512i neg_inverse;   // -p^-1 mod 2^52
    __m512i r2;            // 2^104 mod p: the factor that enters Montgomery form
};

// a*b/R mod p, for a, b < p < 2^52; the result is in [0, p).
ZUD_IFMA inline __m512i mont_mul(__m512i a, __m512i b, const Montgomery& m)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lo = _mm512_madd52lo_epu64(zero, a, b);
    const __m512i hi = _mm512_madd52hi_epu64(zero, a, b);
    const __m512i q = _mm512_madd52lo_epu64(zero, lo, m.neg_inverse);
    __m512i r = _mm512_madd52hi_epu64(hi, q, m.p);
    // lo + low52(q*p) is 0 or 2^52: a carry exactly when lo is not 0.
    r = _mm512_mask_add_epi64(r, _mm512_test_epi64_mask(lo, lo), r, _mm512_set1_epi64(1));
    return _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, m.p), r, m.p);
}

ZUD_IFMA Montgomery montgomery_for(std::int64_t p)
{
    const auto up = static_cast<std::uint64_t>(p);
    std::uint64_t inverse = up;   // right to 3 bits for odd p; each step doubles that
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - up * inverse;
    __extension__ typedef unsigned __int128 Wide;
    const auto r2 = static_cast<std::uint64_t>((static_cast<Wide>(1) << 104) % up);
    return {_mm512_set1_epi64(p), _mm512_set1_epi64(static_cast<long long>((0 - inverse) & kMask52)),
            _mm512_set1_epi64(static_cast<long long>(r2))};
}

ZUD_IFMA inline __m512i to_montgomery(__m512i v, const Montgomery& m)
{
    return mont_mul(v, m.r2, m);
}

ZUD_IFMA inline __m512i broadcast_montgomery(std::int64_t x, const Montgomery& m)
{
    return to_montgomery(_mm512_set1_epi64(x), m);
}

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
    alignas(64) std::int64_t lanes[kLanes];
    for (std::int64_t done = 0; done < probes; done += kLanes) {
        _mm512_store_si512(lanes, z);
        const int count = probes - done < kLanes ? static_cast<int>(probes - done) : kLanes;
        for (int c = 0; c < count; ++c)
            if (may_match(t, lanes[c]))
                probe(t, geo, lanes[c], t.residues[i] + (done + c) * d, k_index, p, on_factor);
        z = mont_mul(z, step, m);
    }
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
