// Modular arithmetic modulo a prime p < 2^48 without wide division: an x87
// extended-precision quotient estimate (rounded toward minus infinity) and an
// exact wrapping 64-bit remainder. Every function assumes the worker's
// floating-point environment (see set_worker_fpu_env).
#pragma once

#include <cstdint>

namespace zud {

// Extended precision (64-bit significand) and rounding toward minus infinity
// on the x87 unit of the calling thread. Left in force; the sieve's callbacks
// run under it.
void set_worker_fpu_env();

// Rounding of the x87 unit of this thread only (precision untouched).
enum class X87Rounding { nearest, down };
void set_x87_rounding(X87Rounding mode);
X87Rounding x87_rounding();

// Restores the x87 control word on scope exit; for code that must format or
// compute under other settings for a moment.
class X87ControlGuard {
public:
    X87ControlGuard();
    ~X87ControlGuard();
    X87ControlGuard(const X87ControlGuard&) = delete;
    X87ControlGuard& operator=(const X87ControlGuard&) = delete;

private:
    unsigned short saved_;
};

// Converts with the current x87 rounding mode (floor under the worker's
// environment); a C cast would truncate.
inline std::int64_t x87_to_int(long double v)
{
    std::int64_t q;
    __asm__("fistpll %0" : "=m"(q) : "t"(v) : "st");
    return q;
}

// 1/p rounded down, so that no quotient estimate exceeds the true quotient.
inline long double reciprocal_of(std::int64_t p)
{
    return 1.0L / static_cast<long double>(p);
}

// Loose residue of a*b in [0, 2p) for 0 <= a*b/p < 2^61.
inline std::int64_t mul_mod(std::int64_t a, std::int64_t b, std::int64_t p, long double recip)
{
    long double t = static_cast<long double>(a) * static_cast<long double>(b);
    std::int64_t q = x87_to_int(t * recip);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b) -
                                     static_cast<std::uint64_t>(q) * static_cast<std::uint64_t>(p));
}

inline std::int64_t sqr_mod(std::int64_t a, std::int64_t p, long double recip)
{
    return mul_mod(a, a, p, recip);
}

// a*b with c = b * reciprocal formed once by the caller: one float product.
inline std::int64_t mul_mod_fixed(std::int64_t a, std::int64_t b, long double c, std::int64_t p)
{
    std::int64_t q = x87_to_int(static_cast<long double>(a) * c);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b) -
                                     static_cast<std::uint64_t>(q) * static_cast<std::uint64_t>(p));
}

// Loose residue of 0 <= a < 2^63.
inline std::int64_t reduce_mod(std::int64_t a, std::int64_t p, long double recip)
{
    std::int64_t q = x87_to_int(static_cast<long double>(a) * recip);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) -
                                     static_cast<std::uint64_t>(q) * static_cast<std::uint64_t>(p));
}

// Branch-free conditional subtract: a loose residue in [0, 2p) into [0, p).
// Equal residues meet in exact comparisons only in this form.
inline std::int64_t normalize_mod(std::int64_t a, std::int64_t p)
{
    std::int64_t d = a - p;
    return d < 0 ? a : d;
}

// a * 2^-1; branch-free choice between a and a + p.
inline std::int64_t half_mod(std::int64_t a, std::int64_t p)
{
    std::uint64_t odd = static_cast<std::uint64_t>(a) & 1u;
    std::uint64_t v = static_cast<std::uint64_t>(a) + (static_cast<std::uint64_t>(p) & (0 - odd));
    return static_cast<std::int64_t>(v >> 1);
}

// Loose residue of 2^-e for e >= 1.
std::int64_t pow_half(std::int64_t e, std::int64_t p, long double recip);

// Jacobi symbol (s/p) for s negative, nonzero, with at most one factor 2;
// p odd. Returns -1, 0 or +1.
int jacobi(std::int64_t s, std::int64_t p);

// gcd of positive a, b.
std::int32_t gcd(std::int32_t a, std::int32_t b);

// Factor-check products, exact residues in [0, p] (p only for a true 0).
// Small modulus: p <= 2^31 - 1; operands reduced exactly first.
std::int64_t mul_mod_small(std::int64_t a, std::int64_t b, std::int64_t p, long double recip);
// Large modulus: p > 2^31 - 1, operands in [0, p); rounds to nearest for
// its own step and restores rounding toward minus infinity.
std::int64_t mul_mod_large(std::int64_t a, std::int64_t b, std::int64_t p, long double recip);

}  // namespace zud
