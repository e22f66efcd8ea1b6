// Montgomery products modulo p < 2^52 (R = 2^52) in the AVX-512 IFMA units,
// eight lanes at a time, shared by the vector searches. Only code compiled
// for avx512f,avx512ifma may call these.
#pragma once

// GCC 12 takes the undefined pass-through operands of some AVX-512
// intrinsics for uninitialised variables.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include <cstdint>

#include "engine/search/search.h"

#define ZUD_IFMA __attribute__((target("avx512f,avx512ifma")))

namespace zud {
namespace ifma {

constexpr std::uint64_t kMask52 = (std::uint64_t{1} << 52) - 1;
constexpr int kLanes = 8;

struct Montgomery {
    __m512i p;
    __m512i neg_inverse;   // -p^-1 mod 2^52
    __m512i r2;            // 2^104 mod p: the factor that enters Montgomery form
};

// a*b/R mod p, for a < 2^52, b < p < 2^52; the result is in [0, p).
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

ZUD_IFMA inline Montgomery montgomery_for(std::int64_t p)
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

// Any value below 2^52 into Montgomery form in [0, p).
ZUD_IFMA inline __m512i to_montgomery(__m512i v, const Montgomery& m)
{
    return mont_mul(v, m.r2, m);
}

// The presence bits of the 16 values at `lanes` as a mask: one gather of
// their presence words, one shift each.
ZUD_IFMA inline std::uint32_t presence_mask(const SearchTables& t, const std::int64_t* lanes)
{
    const __m256i low = _mm512_cvtepi64_epi32(_mm512_load_si512(lanes));
    const __m256i high = _mm512_cvtepi64_epi32(_mm512_load_si512(lanes + kLanes));
    const __m512i z = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
    const __m512i index = _mm512_and_si512(_mm512_srli_epi32(z, 5), _mm512_set1_epi32(kBuckets - 1));
    const __m512i words = _mm512_i32gather_epi32(index, t.buckets, 8);
    const __m512i shift = _mm512_and_si512(z, _mm512_set1_epi32(31));
    return _mm512_test_epi32_mask(_mm512_srlv_epi32(words, shift), _mm512_set1_epi32(1));
}

// The presence tests of one k: `probes` values z, z*step, z*step^2, ...,
// sixteen at a time in two chains of products (`step8` = step^8), so that
// one chain's product runs while the other's lanes are tested, with one
// gather and one branch for the sixteen presence tests.
// Probe j stands for the exponent offset first + j*spacing.
ZUD_IFMA inline void probe_lanes(const SearchTables& t, const SearchGeometry& geo, __m512i z, __m512i step8,
                                 const Montgomery& m, std::int64_t probes, std::int64_t first, std::int64_t spacing,
                                 std::int32_t k_index, std::int64_t p, const FactorCallback& on_factor)
{
    constexpr int kGroup = 2 * kLanes;
    alignas(64) std::int64_t lanes[kGroup];
    __m512i z1 = mont_mul(z, step8, m);
    const __m512i step16 = mont_mul(step8, step8, m);
    for (std::int64_t done = 0; done < probes; done += kGroup) {
        _mm512_store_si512(lanes, z);
        _mm512_store_si512(lanes + kLanes, z1);
        z = mont_mul(z, step16, m);
        z1 = mont_mul(z1, step16, m);
        std::uint32_t hits = presence_mask(t, lanes);
        if (probes - done < kGroup)
            hits &= (1u << (probes - done)) - 1;
        for (; hits != 0; hits &= hits - 1) {
            const int c = __builtin_ctz(hits);
            probe(t, geo, lanes[c], first + (done + c) * spacing, k_index, p, on_factor);
        }
    }
}

}  // namespace ifma
}  // namespace zud
