// Planted factors above 2^48, built without the program's arithmetic: a
// prime p = k*2^m+1 divides k*2^m+1, and the exponents n of a range with
// p | k*2^n+1 come from a slow exact discrete-log scan.
#pragma once

#include <cstdint>
#include <vector>

#include "reference.h"

namespace zud_test {

struct Planted {
    std::int32_t k;
    std::uint64_t p;
};

// The first prime p = k*2^m+1 from `target` on (upwards, or downwards
// when `down`), with k odd, not a multiple of 3 and below 2^31, p below
// 2^62; p = 0 when there is none.
inline Planted plant(std::uint64_t target, int m, bool down = false)
{
    const std::uint64_t top = std::uint64_t{1} << 62;
    const std::uint64_t first = ((target - 1) >> m) | 1;
    for (std::uint64_t k = first; k > 0 && k < (std::uint64_t{1} << 31); k = down ? k - 2 : k + 2) {
        const std::uint64_t p = (k << m) + 1;
        if (p >= top) {
            if (!down)
                break;
            continue;
        }
        if ((down ? p <= target : p >= target) && k % 3 != 0 && is_prime(p))
            return {static_cast<std::int32_t>(k), p};
    }
    return {0, 0};
}

// Every n in [nmin, nmax] with p | k*2^n+1: the discrete logarithm of -1/k
// to the base 2, by walking the powers of 2 one doubling at a time.
inline std::vector<std::int32_t> exponents_dividing(std::uint64_t p, std::uint64_t k, std::int32_t nmin,
                                                    std::int32_t nmax)
{
    std::vector<std::int32_t> found;
    std::uint64_t v = mul_mod128(k % p, pow_mod128(2, static_cast<std::uint64_t>(nmin), p), p);
    for (std::int32_t n = nmin; n <= nmax; ++n) {
        if (v == p - 1)
            found.push_back(n);
        v = v >= p - v ? v - (p - v) : v + v;   // v*2 mod p without overflow
    }
    return found;
}

// The primes of [from, to], by Miller-Rabin.
inline std::vector<std::uint64_t> primes_between(std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint64_t> primes;
    for (std::uint64_t n = from | 1; n <= to; n += 2)
        if (is_prime(n))
            primes.push_back(n);
    if (from <= 2 && to >= 2)
        primes.insert(primes.begin(), 2);
    return primes;
}

}  // namespace zud_test
