// Montgomery products modulo an odd p < 2^62 with 64-bit words (R = 2^64)
// and 128-bit intermediate products: the arithmetic of the search above
// 2^48, where the x87 quotient estimate runs out of significand.
//
// Values in Montgomery form stand for x*R mod p and are kept exact in
// [0, p): x -> x*R mod p is one-to-one, so two values meet exactly when the
// residues they stand for do, and the search can compare them as they are.
#pragma once

#include <cstdint>

namespace zud {

__extension__ typedef unsigned __int128 Uint128;

class Mont64 {
public:
    // p odd, 3 <= p < 2^62.
    explicit Mont64(std::uint64_t p) : p_(p), inv_(inverse_of(p))
    {
        const std::uint64_t r = (0 - p) % p;   // 2^64 mod p
        r2_ = static_cast<std::uint64_t>(static_cast<Uint128>(r) * r % p);
        one_ = r;
    }

    std::uint64_t modulus() const { return p_; }
    // p^-1 mod 2^64.
    std::uint64_t inverse() const { return inv_; }
    // 1 in Montgomery form (R mod p).
    std::uint64_t one() const { return one_; }
    // R^2 mod p: a value in [0, p) times it is its Montgomery form.
    std::uint64_t r2() const { return r2_; }

    // a*b/R mod p in [0, p), for a, b in [0, p).
    std::uint64_t mul(std::uint64_t a, std::uint64_t b) const
    {
        const Uint128 t = static_cast<Uint128>(a) * b;
        const auto lo = static_cast<std::uint64_t>(t);
        const auto hi = static_cast<std::uint64_t>(t >> 64);
        // m*p agrees with t in the low word, so only the high words differ.
        const std::uint64_t m = lo * inv_;
        const auto mp_hi = static_cast<std::uint64_t>((static_cast<Uint128>(m) * p_) >> 64);
        const std::uint64_t r = hi - mp_hi;
        return hi < mp_hi ? r + p_ : r;
    }

    // Montgomery form of any 64-bit a.
    std::uint64_t to_mont(std::uint64_t a) const { return mul(a % p_, r2_); }
    std::uint64_t from_mont(std::uint64_t a) const { return mul(a, 1); }

    // a/2: halving commutes with the Montgomery map.
    std::uint64_t half(std::uint64_t a) const { return (a + (p_ & (0 - (a & 1)))) >> 1; }

    // a^e, a in Montgomery form, e >= 0.
    std::uint64_t pow(std::uint64_t a, std::uint64_t e) const
    {
        std::uint64_t result = one_;
        for (; e != 0; e >>= 1) {
            if (e & 1)
                result = mul(result, a);
            a = mul(a, a);
        }
        return result;
    }

    // 2^-e in Montgomery form, e >= 1: squarings and halvings from 1/2.
    std::uint64_t pow_half(std::uint64_t e) const
    {
        std::uint64_t x = half(one_);
        std::uint64_t mask = 1;
        while (mask <= e >> 1)
            mask <<= 1;
        for (mask >>= 1; mask != 0; mask >>= 1) {
            x = mul(x, x);
            if (e & mask)
                x = half(x);
        }
        return x;
    }

private:
    // p^-1 mod 2^64 by Newton's iteration: right to 3 bits for odd p, and
    // each step doubles the bits.
    static std::uint64_t inverse_of(std::uint64_t p)
    {
        std::uint64_t x = p;
        for (int i = 0; i < 5; ++i)
            x *= 2 - p * x;
        return x;
    }

    std::uint64_t p_;
    std::uint64_t inv_;
    std::uint64_t r2_ = 0;
    std::uint64_t one_ = 0;
};

}  // namespace zud
