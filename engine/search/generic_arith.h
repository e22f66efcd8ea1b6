// The arithmetic of the searches on any x86-64 processor, and above the
// reach of the vector units: 64-bit Montgomery products (R = 2^64) with 128-bit
// intermediate products, p < 2^62. Several independent chains of products
// keep the multiplier busy while each product waits on the last.
// Held in an unnamed namespace, as it was in the one file that ran it: each
// file that runs the arithmetic (the engine's search, the tests' unfiltered
// one) compiles its own copy, inlined as the engine needs.
#pragma once

#include <immintrin.h>

#include "engine/search/fast_search.h"
#include "engine/search/filtered_skeleton.h"
#include "engine/mont64.h"
#include "engine/search/search_tuning.h"

namespace zud {

namespace {

constexpr int kChains = kScalarChains;

class GenericArith {
public:
    explicit GenericArith(std::int64_t p) : m_(static_cast<std::uint64_t>(p)), p_(p) {}

    std::int64_t one() const { return static_cast<std::int64_t>(m_.one()); }

    // The lanes in groups of up to kMostPowLanes interleaved chains, as
    // evenly as they divide, so that no group works for empty lanes.
    void pow_lanes(const PowerFilter& pf, std::int64_t lanes) const
    {
        filtered::in_even_groups<kMostPowLanes>(
            lanes, [&](auto n, std::int64_t first) { pow_group<decltype(n)::value>(pf, first); });
    }

    std::int64_t powers_of(std::int64_t a, std::int64_t most, std::int64_t* powers) const
    {
        const auto x = static_cast<std::uint64_t>(a);
        std::uint64_t v[kPowerChains] = {m_.one(), x, m_.mul(x, x), 0};
        v[3] = m_.mul(v[2], x);
        const std::uint64_t step = m_.mul(v[2], v[2]);
        for (std::int64_t i = 0; i < most; i += kPowerChains) {
            for (int c = 0; c < kPowerChains; ++c) {
                powers[i + c] = static_cast<std::int64_t>(v[c]);
                if (v[c] == m_.one() && i + c != 0)
                    return i + c;
            }
            for (auto& value : v)
                value = m_.mul(value, step);
        }
        return most;
    }

    static std::int64_t find_power(const std::int64_t* powers, std::int64_t e, std::int64_t z)
    {
        return filtered::find_power_scalar(powers, e, z);
    }

    void fill_table(std::int64_t* table, std::int64_t g, std::int64_t x, std::int64_t y) const
    {
        constexpr int K = kGenericRoundChains;
        std::uint64_t v[K];
        const Fixed step = fixed(chains<K>(v, static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(y)));
        const std::uint64_t p = m_.modulus();
        std::int64_t t0 = 0;
        for (; t0 + K <= g; t0 += K)
            for (int c = 0; c < K; ++c) {
                table[t0 + c] = static_cast<std::int64_t>(v[c]);
                v[c] = mul_fixed(v[c], step, p);
            }
        // A fixed count of tests, so that the values stay in registers.
        for (int c = 0; c < K; ++c)
            if (t0 + c < g)
                table[t0 + c] = static_cast<std::int64_t>(v[c]);
    }

    void probe_class(const SearchTables& t, const SearchGeometry& geo, std::int32_t i, std::int64_t first,
                     std::int64_t step, std::int64_t z, std::int64_t y, std::int64_t probes,
                     const FactorCallback& on_factor) const
    {
        constexpr int K = kGenericRoundChains;
        std::uint64_t v[K];
        const Fixed ratio = fixed(chains<K>(v, static_cast<std::uint64_t>(z), static_cast<std::uint64_t>(y)));
        const std::uint32_t* const buckets = t.buckets;
        const std::uint64_t p = m_.modulus();
        // Whole rounds, the last one's values past the count only tested
        // where a presence bit is set, so that the chains' values stay in
        // registers: the round's code is all products and presence tests.
        for (std::int64_t done = 0; done < probes; done += K)
            for (int c = 0; c < K; ++c) {
                if (__builtin_expect(presence_bit(buckets, static_cast<std::int64_t>(v[c])) != 0, 0) &&
                    done + c < probes)
                    probe(t, geo, static_cast<std::int64_t>(v[c]), first + (done + c) * step, i, p_, on_factor);
                v[c] = mul_fixed(v[c], ratio, p);
            }
    }

    std::int64_t mul(std::int64_t a, std::int64_t b) const
    {
        return static_cast<std::int64_t>(m_.mul(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b)));
    }

    std::int64_t to_form(std::int64_t v) const { return static_cast<std::int64_t>(form_of(v)); }

protected:
    // Mont64::to_mont divides; most values here are already below p.
    std::uint64_t form_of(std::int64_t v) const
    {
        const auto plain = static_cast<std::uint64_t>(v);
        return v < p_ ? m_.mul(plain, m_.r2()) : m_.to_mont(plain);
    }

    // A fixed multiplier for Shoup's product: the plain w with
    // floor(w * 2^64 / p). A form times the plain w is the form of the
    // product, so the chains stay in Montgomery form; the product needs one
    // high and two low multiplications, and a shorter chain of them than
    // Montgomery's.
    struct Fixed {
        std::uint64_t w;
        std::uint64_t w_quotient;
    };
    // The form is w * 2^64 mod p, so w * 2^64 - form is floor(w * 2^64 / p)
    // times p exactly, and that quotient (below 2^64, as w < p) is
    // (w * 2^64 - form) / p = -form * p^-1 modulo 2^64: no division.
    Fixed fixed(std::uint64_t form) const
    {
        return {m_.from_mont(form), (0 - form) * m_.inverse()};
    }
    // a * w mod p in [0, p), for any a below 2^64. The caller holds p, so
    // that a loop keeps it in a register (a store through an int64_t
    // pointer could otherwise be taken to change this object's copy).
    static std::uint64_t mul_fixed(std::uint64_t a, const Fixed& f, std::uint64_t p)
    {
        const auto q = static_cast<std::uint64_t>((static_cast<Uint128>(a) * f.w_quotient) >> 64);
        const std::uint64_t r = a * f.w - q * p;   // in [0, 2p)
        return r >= p ? r - p : r;
    }

    // v[c] = x * y^c for c < K; returns y^K.
    template <int K = kChains>
    std::uint64_t chains(std::uint64_t* v, std::uint64_t x, std::uint64_t y) const
    {
        v[0] = x;
        for (int c = 1; c < K; ++c)
            v[c] = m_.mul(v[c - 1], y);
        return m_.pow(y, K);
    }

    // Lanes `from` .. `from` + N - 1, left to right over the longest
    // exponent, in windows of kWindowBits where the exponents are long.
    template <int N>
    void pow_group(const PowerFilter& pf, std::int64_t from) const
    {
        std::uint64_t e[N];
        std::uint64_t longest = 0;
        for (int c = 0; c < N; ++c) {
            e[c] = static_cast<std::uint64_t>(pf.lane_exponent[from + c]);
            longest |= e[c];
        }
        std::uint64_t acc[N];
        if (longest >> kShortExponentBits != 0)
            pow_window<N, kWindowBits>(pf, from, e, longest, acc);
        else if (bases_are_two_or_half<N>(pf, from))
            pow_of_two<N>(pf, from, e, longest, acc);
        else
            pow_window<N, 1>(pf, from, e, longest, acc);
        for (int c = 0; c < N; ++c)
            pf.lane_result[from + c] = static_cast<std::int64_t>(acc[c]);
    }

    template <int N>
    bool bases_are_two_or_half(const PowerFilter& pf, std::int64_t from) const
    {
        bool all = true;
        for (int c = 0; c < N; ++c)
            all &= pf.lane_base[from + c] == 2 || pf.lane_base[from + c] == (p_ + 1) / 2;
        return all;
    }

    // Powers of 2 and of 1/2 (the second pass's lanes, all short), bit by
    // bit: a square, then a doubling or a halving where the bit is set, so
    // one product a bit instead of two. Doubling and halving commute with
    // the Montgomery map. The bit selects without a branch: it is as good
    // as random.
    template <int N>
    void pow_of_two(const PowerFilter& pf, std::int64_t from, const std::uint64_t* e, std::uint64_t longest,
                    std::uint64_t* acc) const
    {
        const std::uint64_t p = m_.modulus();
        std::uint64_t halves[N];   // all ones for 1/2
        for (int c = 0; c < N; ++c) {
            acc[c] = m_.one();
            halves[c] = 0 - static_cast<std::uint64_t>(pf.lane_base[from + c] != 2);
        }
        auto step = [&](int c, std::uint64_t a, int shift) {
            const std::uint64_t sum = a + a;
            const std::uint64_t twice = sum >= p ? sum - p : sum;
            const std::uint64_t half = (a + (p & (0 - (a & 1)))) >> 1;
            const std::uint64_t moved = (half & halves[c]) | (twice & ~halves[c]);
            const std::uint64_t bit = 0 - (e[c] >> shift & 1);
            acc[c] = (moved & bit) | (a & ~bit);
        };
        if (longest == 0)
            return;
        const int top = 63 - __builtin_clzll(longest);
        for (int c = 0; c < N; ++c)
            step(c, acc[c], top);   // 1 needs no squaring
        for (int shift = top - 1; shift >= 0; --shift)
            for (int c = 0; c < N; ++c)
                step(c, m_.mul(acc[c], acc[c]), shift);
    }

    template <int N, int B>
    void pow_window(const PowerFilter& pf, std::int64_t from, const std::uint64_t* e, std::uint64_t longest,
                    std::uint64_t* acc) const
    {
        constexpr int kWindow = 1 << B;
        std::uint64_t table[kWindow][N];
        for (int c = 0; c < N; ++c) {
            table[0][c] = m_.one();
            table[1][c] = form_of(pf.lane_base[from + c]);
        }
        for (int w = 2; w < kWindow; ++w)
            for (int c = 0; c < N; ++c)
                table[w][c] = m_.mul(table[w - 1][c], table[1][c]);
        int top = 0;
        while (top < 64 && (longest >> top) != 0)
            top += B;
        if (top == 0) {
            for (int c = 0; c < N; ++c)
                acc[c] = m_.one();
            return;
        }
        // The top window is a value of the table: no product with 1.
        for (int c = 0; c < N; ++c)
            acc[c] = table[(e[c] >> (top - B)) & (kWindow - 1)][c];
        for (int shift = top - 2 * B; shift >= 0; shift -= B) {
            for (int s = 0; s < B; ++s)
                for (int c = 0; c < N; ++c)
                    acc[c] = m_.mul(acc[c], acc[c]);
            for (int c = 0; c < N; ++c)
                acc[c] = m_.mul(acc[c], table[(e[c] >> shift) & (kWindow - 1)][c]);
        }
    }

    Mont64 m_;
    std::int64_t p_;
};

// The same arithmetic where the processor has AVX2 (above the reach of its
// vector products): the presence words of the eight chains' values come in
// one gather, with one branch for the eight tests.
class GatherArith : public GenericArith {
public:
    using GenericArith::GenericArith;

    __attribute__((target("avx2"))) void probe_class(const SearchTables& t, const SearchGeometry& geo, std::int32_t i,
                                                     std::int64_t first, std::int64_t step, std::int64_t z,
                                                     std::int64_t y, std::int64_t probes,
                                                     const FactorCallback& on_factor) const
    {
        static_assert(kChains == 8, "one gather of eight lanes a round");
        std::uint64_t v[kChains];
        const Fixed ratio = fixed(chains(v, static_cast<std::uint64_t>(z), static_cast<std::uint64_t>(y)));
        const std::uint64_t p = m_.modulus();
        const __m256i low_bits = _mm256_set1_epi32(31), buckets = _mm256_set1_epi32(kBuckets - 1);
        for (std::int64_t done = 0; done < probes; done += kChains) {
            const __m256i values =
                _mm256_setr_epi32(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                                  static_cast<int>(v[3]), static_cast<int>(v[4]), static_cast<int>(v[5]),
                                  static_cast<int>(v[6]), static_cast<int>(v[7]));
            const __m256i index = _mm256_and_si256(_mm256_srli_epi32(values, 5), buckets);
            const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int*>(t.buckets), index, 8);
            const __m256i bits = _mm256_slli_epi32(_mm256_srlv_epi32(words, _mm256_and_si256(values, low_bits)), 31);
            auto hits = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(bits)));
            if (probes - done < kChains)
                hits &= (1u << (probes - done)) - 1;
            for (; hits != 0; hits &= hits - 1) {
                const int c = __builtin_ctz(hits);
                probe(t, geo, static_cast<std::int64_t>(v[c]), first + (done + c) * step, i, p_, on_factor);
            }
            for (auto& value : v)
                value = mul_fixed(value, ratio, p);
        }
    }
};

}  // namespace

}  // namespace zud
