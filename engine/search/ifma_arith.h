// The arithmetic of the AVX-512 IFMA searches, p < 2^52: Montgomery
// products (R = 2^52), eight lanes at a time. Values are kept in Montgomery
// form x*R mod p, in [0, p): the map is one-to-one, so exactly the pairs of
// the reference meet.
// Held in an unnamed namespace, as it was in the one file that ran it: each
// file that runs the arithmetic (the engine's search, the tests' unfiltered
// one) compiles its own copy, inlined as the engine needs.
#pragma once

#include "engine/search/fast_search.h"
#include "engine/search/filtered_skeleton.h"
#include "engine/search/ifma.h"
#include "engine/search/search_tuning.h"

namespace zud {

namespace {

using namespace ifma;

constexpr int kTableVectors = kIfmaTableVectors;   // chains of 8 lanes while the table fills
constexpr int kPowVectors = kIfmaPowVectors;       // vectors a group of the exponentiations

// The searches' arithmetic: Montgomery forms with R = 2^52, p < 2^52.
// Holds scalars only, so that the plain skeleton may keep it.
class IfmaArith {
public:
    ZUD_IFMA explicit IfmaArith(std::int64_t p)
    {
        const Montgomery m = montgomery_for(p);
        p_ = p;
        neg_inverse_ = first_lane(m.neg_inverse);
        r2_ = first_lane(m.r2);
        one_ = first_lane(to_montgomery(_mm512_set1_epi64(1), m));
    }

    std::int64_t one() const { return one_; }

    // x^e lane by lane, right to left, two vectors at a time: the squarings
    // of x and the products into the result are independent chains.
    ZUD_IFMA void pow_pair(__m512i& x0, __m512i e0, __m512i& x1, __m512i e1, const Montgomery& m) const
    {
        __m512i r0 = _mm512_set1_epi64(one_), r1 = r0;
        const __m512i bit = _mm512_set1_epi64(1);
        while (_mm512_test_epi64_mask(_mm512_or_si512(e0, e1), _mm512_or_si512(e0, e1)) != 0) {
            r0 = _mm512_mask_mov_epi64(r0, _mm512_test_epi64_mask(e0, bit), mont_mul(r0, x0, m));
            r1 = _mm512_mask_mov_epi64(r1, _mm512_test_epi64_mask(e1, bit), mont_mul(r1, x1, m));
            x0 = mont_mul(x0, x0, m);
            x1 = mont_mul(x1, x1, m);
            e0 = _mm512_srli_epi64(e0, 1);
            e1 = _mm512_srli_epi64(e1, 1);
        }
        x0 = r0;
        x1 = r1;
    }

    // N vectors at a time, right to left: 2N independent chains, enough
    // to keep the multipliers busy when many k fill many vectors.
    template <int N>
    ZUD_IFMA void pow_vectors(const PowerFilter& pf, std::int64_t from, const Montgomery& m) const
    {
        __m512i x[N], e[N], r[N];
        for (int v = 0; v < N; ++v) {
            x[v] = to_montgomery(_mm512_loadu_si512(pf.lane_base + from + v * kLanes), m);
            e[v] = _mm512_loadu_si512(pf.lane_exponent + from + v * kLanes);
            r[v] = _mm512_set1_epi64(one_);
        }
        const __m512i bit = _mm512_set1_epi64(1);
        for (;;) {
            __m512i any = e[0];
            for (int v = 1; v < N; ++v)
                any = _mm512_or_si512(any, e[v]);
            if (_mm512_test_epi64_mask(any, any) == 0)
                break;
            for (int v = 0; v < N; ++v)
                r[v] = _mm512_mask_mov_epi64(r[v], _mm512_test_epi64_mask(e[v], bit), mont_mul(r[v], x[v], m));
            for (int v = 0; v < N; ++v) {
                x[v] = mont_mul(x[v], x[v], m);
                e[v] = _mm512_srli_epi64(e[v], 1);
            }
        }
        for (int v = 0; v < N; ++v)
            _mm512_storeu_si512(pf.lane_result + from + v * kLanes, r[v]);
    }

    // The vectors in groups of up to kPowVectors, as evenly as they divide.
    ZUD_IFMA void pow_lanes(const PowerFilter& pf, std::int64_t lanes) const
    {
        const Montgomery m = field();
        const std::int64_t vectors = filtered::whole_vectors(pf, lanes, kLanes);
        filtered::in_even_groups<kPowVectors>(
            vectors, [&](auto n, std::int64_t first) { pow_vectors<decltype(n)::value>(pf, first * kLanes, m); });
    }

    // y^0 .. y^7 and y^8, both in Montgomery form, for y in Montgomery form.
    ZUD_IFMA __m512i powers_0_to_7(std::int64_t y, const Montgomery& m, __m512i& eighth) const
    {
        __m512i x0 = _mm512_set1_epi64(y), x1 = x0;
        pow_pair(x0, _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7), x1, _mm512_set1_epi64(8), m);
        eighth = x1;
        return x0;
    }

    ZUD_IFMA std::int64_t powers_of(std::int64_t a, std::int64_t most, std::int64_t* powers) const
    {
        const Montgomery m = field();
        const __m512i one = _mm512_set1_epi64(one_);
        __m512i step;
        __m512i v = powers_0_to_7(a, m, step);
        for (std::int64_t i = 0; i < most; i += kLanes) {
            _mm512_storeu_si512(powers + i, v);
            __mmask8 ones = _mm512_cmpeq_epi64_mask(v, one);
            if (i == 0)
                ones &= 0xFE;
            if (ones != 0)
                return i + __builtin_ctz(ones);
            v = mont_mul(v, step, m);
        }
        return most;
    }

    ZUD_IFMA std::int64_t find_power(const std::int64_t* powers, std::int64_t e, std::int64_t z) const
    {
        const __m512i wanted = _mm512_set1_epi64(z);
        for (std::int64_t i = 0; i < e; i += kLanes) {
            const __mmask8 hit = _mm512_cmpeq_epi64_mask(_mm512_loadu_si512(powers + i), wanted);
            if (hit != 0) {
                const std::int64_t at = i + __builtin_ctz(hit);
                return at < e ? at : -1;
            }
        }
        return -1;
    }

    ZUD_IFMA void fill_table(std::int64_t* table, std::int64_t g, std::int64_t x, std::int64_t y) const
    {
        const Montgomery m = field();
        __m512i step8;
        const __m512i first = powers_0_to_7(y, m, step8);
        __m512i v[kTableVectors];
        v[0] = mont_mul(_mm512_set1_epi64(x), first, m);
        for (int k = 1; k < kTableVectors; ++k)
            v[k] = mont_mul(v[k - 1], step8, m);
        __m512i step = step8;
        for (int k = 1; k < kTableVectors; k *= 2)
            step = mont_mul(step, step, m);
        std::int64_t t0 = 0;
        for (; t0 + kLanes * kTableVectors <= g; t0 += kLanes * kTableVectors) {
            for (int k = 0; k < kTableVectors; ++k) {
                _mm512_storeu_si512(table + t0 + k * kLanes, v[k]);
                v[k] = mont_mul(v[k], step, m);
            }
        }
        for (int k = 0; t0 < g; ++k, t0 += kLanes) {
            const std::int64_t left = g - t0;
            const auto mask = static_cast<__mmask8>(left >= kLanes ? 0xFF : (1u << left) - 1);
            _mm512_mask_storeu_epi64(table + t0, mask, v[k]);
        }
    }

    ZUD_IFMA void probe_class(const SearchTables& t, const SearchGeometry& geo, std::int32_t i, std::int64_t first,
                              std::int64_t step, std::int64_t z, std::int64_t y, std::int64_t probes,
                              const FactorCallback& on_factor) const
    {
        const Montgomery m = field();
        __m512i step8;
        const __m512i lanes = mont_mul(_mm512_set1_epi64(z), powers_0_to_7(y, m, step8), m);
        probe_lanes(t, geo, lanes, step8, m, probes, first, step, i, p_, on_factor);
    }

    ZUD_IFMA std::int64_t mul(std::int64_t a, std::int64_t b) const
    {
        return first_lane(mont_mul(_mm512_set1_epi64(a), _mm512_set1_epi64(b), field()));
    }

    ZUD_IFMA std::int64_t to_form(std::int64_t v) const
    {
        const std::int64_t plain = v < p_ ? v : v % p_;
        return first_lane(to_montgomery(_mm512_set1_epi64(plain), field()));
    }

private:
    ZUD_IFMA static std::int64_t first_lane(__m512i v)
    {
        alignas(64) std::int64_t lanes[kLanes];
        _mm512_store_si512(lanes, v);
        return lanes[0];
    }
    ZUD_IFMA Montgomery field() const
    {
        return {_mm512_set1_epi64(p_), _mm512_set1_epi64(neg_inverse_), _mm512_set1_epi64(r2_)};
    }

    std::int64_t p_ = 0;
    std::int64_t neg_inverse_ = 0;
    std::int64_t r2_ = 0;
    std::int64_t one_ = 0;
};

}  // namespace

}  // namespace zud
