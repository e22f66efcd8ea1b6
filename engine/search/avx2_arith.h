// The arithmetic of the AVX2 searches, for processors without IFMA,
// p < 2^48: four products at a time in double precision with fused
// multiply-add. Residues below
// 2^48 and the quotient estimate's remainders are exact integers in a
// double, so every product comes out exactly in [0, p): the very values of
// the reference.
// Held in an unnamed namespace, as it was in the one file that ran it: each
// file that runs the arithmetic (the engine's search, the tests' unfiltered
// one) compiles its own copy, inlined as the engine needs.
#pragma once

#include <immintrin.h>

#include "engine/search/fast_search.h"
#include "engine/search/filtered_skeleton.h"
#include "engine/search/search_tuning.h"

#define ZUD_AVX2 __attribute__((target("avx2,fma")))

namespace zud {

namespace {

constexpr int kLanes = 4;
constexpr int kTableVectors = kAvx2TableVectors;
constexpr int kProbeVectors = kAvx2ProbeVectors;
constexpr int kPowVectors = kAvx2PowVectors;   // vectors a group of the exponentiations

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

// Integers below 2^52 from 64-bit lanes into doubles, by the bits of 2^52.
ZUD_AVX2 inline __m256d from_integers(__m256i v)
{
    const __m256d magic = _mm256_set1_pd(4503599627370496.0);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(v, _mm256_castpd_si256(magic))), magic);
}

// The searches' arithmetic: plain residues in [0, p) as doubles.
// Holds scalars only, so that the plain skeleton may keep it.
class Avx2Arith {
public:
    explicit Avx2Arith(std::int64_t p) : p_(p), pd_(static_cast<double>(p)), inverse_(1.0 / static_cast<double>(p)) {}

    static std::int64_t one() { return 1; }

    // N vectors at a time, right to left: 2N independent chains, enough
    // to keep the multipliers busy when many k fill many vectors.
    template <int N>
    ZUD_AVX2 void pow_vectors(const PowerFilter& pf, std::int64_t from, const Modulus& m) const
    {
        __m256d x[N], r[N];
        __m256i e[N];
        for (int v = 0; v < N; ++v) {
            x[v] = from_integers(load(pf.lane_base + from + v * kLanes));
            e[v] = load(pf.lane_exponent + from + v * kLanes);
            r[v] = _mm256_set1_pd(1.0);
        }
        const __m256i bit = _mm256_set1_epi64x(1);
        for (;;) {
            __m256i any = e[0];
            for (int v = 1; v < N; ++v)
                any = _mm256_or_si256(any, e[v]);
            if (_mm256_testz_si256(any, any))
                break;
            for (int v = 0; v < N; ++v) {
                const __m256d odd = _mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_and_si256(e[v], bit), bit));
                r[v] = _mm256_blendv_pd(r[v], mul_mod4(r[v], x[v], m), odd);
            }
            for (int v = 0; v < N; ++v) {
                x[v] = mul_mod4(x[v], x[v], m);
                e[v] = _mm256_srli_epi64(e[v], 1);
            }
        }
        for (int v = 0; v < N; ++v)
            store(pf.lane_result + from + v * kLanes, to_integers(r[v]));
    }

    // The vectors in groups of up to kPowVectors, as evenly as they divide.
    ZUD_AVX2 void pow_lanes(const PowerFilter& pf, std::int64_t lanes) const
    {
        const Modulus m = field();
        const std::int64_t vectors = filtered::whole_vectors(pf, lanes, kLanes);
        filtered::in_even_groups<kPowVectors>(
            vectors, [&](auto n, std::int64_t first) { pow_vectors<decltype(n)::value>(pf, first * kLanes, m); });
    }

    ZUD_AVX2 std::int64_t powers_of(std::int64_t a, std::int64_t most, std::int64_t* powers) const
    {
        const Modulus m = field();
        __m256d v0, v1;
        const __m256d step = first_powers(a, v0, v1, m);
        const __m256d one = _mm256_set1_pd(1.0);
        for (std::int64_t i = 0; i < most; i += 2 * kLanes) {
            store(powers + i, to_integers(v0));
            store(powers + i + kLanes, to_integers(v1));
            auto ones = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(v0, one, _CMP_EQ_OQ))) |
                        static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(v1, one, _CMP_EQ_OQ))) << kLanes;
            if (i == 0)
                ones &= ~1u;
            if (ones != 0)
                return i + __builtin_ctz(ones);
            v0 = mul_mod4(v0, step, m);
            v1 = mul_mod4(v1, step, m);
        }
        return most;
    }

    static std::int64_t find_power(const std::int64_t* powers, std::int64_t e, std::int64_t z)
    {
        return filtered::find_power_scalar(powers, e, z);
    }

    ZUD_AVX2 void fill_table(std::int64_t* table, std::int64_t g, std::int64_t x, std::int64_t y) const
    {
        const Modulus m = field();
        __m256d v[kTableVectors];
        const __m256d step = chains(v, kTableVectors, x, y, m);
        std::int64_t t0 = 0;
        for (; t0 + kLanes * kTableVectors <= g; t0 += kLanes * kTableVectors) {
            for (int k = 0; k < kTableVectors; ++k) {
                store(table + t0 + k * kLanes, to_integers(v[k]));
                v[k] = mul_mod4(v[k], step, m);
            }
        }
        alignas(32) std::int64_t lanes[kLanes];
        for (int k = 0; t0 < g; ++k) {
            store(lanes, to_integers(v[k]));
            for (int c = 0; c < kLanes && t0 < g; ++c)
                table[t0++] = lanes[c];
        }
    }

    ZUD_AVX2 void probe_class(const SearchTables& t, const SearchGeometry& geo, std::int32_t i, std::int64_t first,
                              std::int64_t step, std::int64_t z0, std::int64_t y, std::int64_t probes,
                              const FactorCallback& on_factor) const
    {
        const Modulus m = field();
        __m256d z[kProbeVectors];
        const __m256d ratio = chains(z, kProbeVectors, z0, y, m);
        constexpr int kGroup = kLanes * kProbeVectors;
        alignas(32) std::int64_t lanes[kGroup];
        for (std::int64_t done = 0; done < probes; done += kGroup) {
            for (int k = 0; k < kProbeVectors; ++k) {
                store(lanes + k * kLanes, to_integers(z[k]));
                z[k] = mul_mod4(z[k], ratio, m);
            }
            const int count = probes - done < kGroup ? static_cast<int>(probes - done) : kGroup;
            for (int c = 0; c < count; ++c)
                if (may_match(t, lanes[c]))
                    probe(t, geo, lanes[c], first + (done + c) * step, i, p_, on_factor);
        }
    }

    ZUD_AVX2 std::int64_t mul(std::int64_t a, std::int64_t b) const
    {
        const __m256d product = mul_mod4(_mm256_set1_pd(static_cast<double>(a)),
                                         _mm256_set1_pd(static_cast<double>(b)), field());
        return static_cast<std::int64_t>(_mm256_cvtsd_f64(product));
    }

    std::int64_t to_form(std::int64_t v) const { return v < p_ ? v : v % p_; }

private:
    ZUD_AVX2 static __m256i load(const std::int64_t* at)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    }
    ZUD_AVX2 static void store(std::int64_t* at, __m256i v)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
    }
    ZUD_AVX2 Modulus field() const { return {_mm256_set1_pd(pd_), _mm256_set1_pd(inverse_)}; }

    // v0 = a^0 .. a^3, v1 = a^4 .. a^7; returns a^8 in every lane.
    ZUD_AVX2 __m256d first_powers(std::int64_t a, __m256d& v0, __m256d& v1, const Modulus& m) const
    {
        const std::int64_t a2 = mul(a, a), a3 = mul(a2, a), a4 = mul(a2, a2);
        v0 = _mm256_setr_pd(1.0, static_cast<double>(a), static_cast<double>(a2), static_cast<double>(a3));
        const __m256d four = _mm256_set1_pd(static_cast<double>(a4));
        v1 = mul_mod4(v0, four, m);
        return mul_mod4(four, four, m);
    }

    // vectors[k] lane c = x * y^(4k + c); returns y^(4 * count) in every lane.
    ZUD_AVX2 __m256d chains(__m256d* vectors, int count, std::int64_t x, std::int64_t y, const Modulus& m) const
    {
        const std::int64_t y2 = mul(y, y), y3 = mul(y2, y), y4 = mul(y2, y2);
        const __m256d powers = _mm256_setr_pd(1.0, static_cast<double>(y), static_cast<double>(y2),
                                              static_cast<double>(y3));
        vectors[0] = mul_mod4(_mm256_set1_pd(static_cast<double>(x)), powers, m);
        const __m256d step4 = _mm256_set1_pd(static_cast<double>(y4));
        for (int k = 1; k < count; ++k)
            vectors[k] = mul_mod4(vectors[k - 1], step4, m);
        __m256d step = step4;
        for (int k = 1; k < count; k *= 2)
            step = mul_mod4(step, step, m);
        return step;
    }

    std::int64_t p_;
    double pd_;
    double inverse_;
};

}  // namespace

}  // namespace zud
