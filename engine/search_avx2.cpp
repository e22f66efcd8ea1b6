// The AVX2 search, for processors without IFMA: four products at a time in
// double precision with fused multiply-add. Residues below 2^48 and the
// quotient estimate's remainders are exact integers in a double, so every
// product comes out exactly in [0, p): the very values of the reference.
#include <immintrin.h>

#include "engine/fast_search.h"
#include "engine/mod_arith.h"

#define ZUD_AVX2 __attribute__((target("avx2,fma")))

namespace zud {

namespace {

constexpr int kLanes = 4;
constexpr int kTableVectors = 8;   // 32 chains while the table fills
constexpr int kProbeVectors = 4;   // 16 chains per probed k

struct Modulus {
    __m256d p;
    __m256d inverse;   // 1/p
};

// a*b mod p for a, b in [0, p), p < 2^48: h + l is a*b exactly, the
// quotient estimate is off by at most one either way, and h - q*p + l is
// an exact small integer.
ZUD_AVX2 inline __m256d mul_mod4(__m256d a, __m256d b, const Modulus& m)
{
    const __m256d h = _mm256_mul_pd(a, b);
    const __m256d l = _mm256_fmsub_pd(a, b, h);
    const __m256d q = _mm256_floor_pd(_mm256_mul_pd(h, m.inverse));
    __m256d r = _mm256_add_pd(_mm256_fnmadd_pd(q, m.p, h), l);
    r = _mm256_add_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_LT_OQ), m.p));
    return _mm256_sub_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, m.p, _CMP_GE_OQ), m.p));
}

// Integers below 2^52 between double and 64-bit lanes, by the bits of 2^52.
ZUD_AVX2 inline __m256i to_integers(__m256d v)
{
    const __m256d magic = _mm256_set1_pd(4503599627370496.0);
    return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(v, magic)), _mm256_castpd_si256(magic));
}

ZUD_AVX2 inline __m256d geometric_lanes(std::int64_t x, std::int64_t y, std::int64_t p, long double recip)
{
    alignas(32) double lanes[kLanes];
    std::int64_t value = x;
    for (int c = 0; c < kLanes; ++c) {
        lanes[c] = static_cast<double>(value);
        value = normalize_mod(mul_mod(value, y, p, recip), p);
    }
    return _mm256_load_pd(lanes);
}

// Fills `vectors` with the chain x*y^i, i = 0 .. 4 * count - 1, four at a
// time; returns y^(4 * count), the step of every chain.
ZUD_AVX2 __m256d start_chains(__m256d* vectors, int count, std::int64_t x, std::int64_t y, std::int64_t p,
                              long double recip, const Modulus& m)
{
    vectors[0] = geometric_lanes(x, y, p, recip);
    const __m256d step4 = _mm256_set1_pd(static_cast<double>(power_mod(y, kLanes, p, recip)));
    for (int k = 1; k < count; ++k)
        vectors[k] = mul_mod4(vectors[k - 1], step4, m);
    return _mm256_set1_pd(static_cast<double>(power_mod(y, kLanes * count, p, recip)));
}

ZUD_AVX2 void fill_stride_table(const SearchTables& t, const SearchGeometry& geo, std::int64_t p, long double recip,
                                const Modulus& m)
{
    const std::int64_t y = normalize_mod(pow_half(geo.stride, p, recip), p);
    const std::int64_t x0 = normalize_mod(p - normalize_mod(pow_half(geo.nmin_eff, p, recip), p), p);
    __m256d v[kTableVectors];
    const __m256d step = start_chains(v, kTableVectors, x0, y, p, recip, m);
    const std::int64_t g = geo.stride_count;
    std::int64_t t0 = 0;
    for (; t0 + kLanes * kTableVectors <= g; t0 += kLanes * kTableVectors) {
        for (int k = 0; k < kTableVectors; ++k) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.stride_table + t0 + k * kLanes), to_integers(v[k]));
            v[k] = mul_mod4(v[k], step, m);
        }
    }
    alignas(32) std::int64_t lanes[kLanes];
    for (int k = 0; t0 < g; ++k) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), to_integers(v[k]));
        for (int c = 0; c < kLanes && t0 < g; ++c)
            t.stride_table[t0++] = lanes[c];
    }
}

ZUD_AVX2 void probe_k(const SearchTables& t, const SearchGeometry& geo, std::uint32_t i, std::int64_t p,
                      long double recip, const Modulus& m, const FactorCallback& on_factor)
{
    const auto k_index = static_cast<std::int32_t>(i);
    const std::int64_t d = t.spacings[i];
    const std::int64_t factor = normalize_mod(reduce_mod(t.step_factors[i], p, recip), p);
    const std::int64_t z0 = normalize_mod(reduce_mod(t.base_terms[i], p, recip), p);
    __m256d z[kProbeVectors];
    const __m256d step = start_chains(z, kProbeVectors, z0, factor, p, recip, m);
    const std::int64_t probes = (geo.stride - t.residues[i] + d - 1) / d;
    constexpr int kGroup = kLanes * kProbeVectors;
    alignas(32) std::int64_t lanes[kGroup];
    for (std::int64_t done = 0; done < probes; done += kGroup) {
        for (int k = 0; k < kProbeVectors; ++k) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes + k * kLanes), to_integers(z[k]));
            z[k] = mul_mod4(z[k], step, m);
        }
        const int count = probes - done < kGroup ? static_cast<int>(probes - done) : kGroup;
        for (int c = 0; c < count; ++c)
            if (may_match(t, lanes[c]))
                probe(t, geo, lanes[c], t.residues[i] + (done + c) * d, k_index, p, on_factor);
    }
}

}  // namespace

ZUD_AVX2 void search_prime_avx2(const SearchTables& t, const SearchGeometry& geo, std::int64_t p,
                                const FactorCallback& on_factor)
{
    if (!select_active(t, p))
        return;
    const long double recip = reciprocal_of(p);
    const Modulus m{_mm256_set1_pd(static_cast<double>(p)), _mm256_set1_pd(1.0 / static_cast<double>(p))};
    fill_stride_table(t, geo, p, recip, m);
    link_stride_table(t, geo);
    for (std::uint32_t i = 0; i < t.count; ++i)
        if (t.active[i])
            probe_k(t, geo, i, p, recip, m, on_factor);
    clear_bucket_table(t, geo);
}

}  // namespace zud
