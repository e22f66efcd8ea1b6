// Slow, obviously right arithmetic that the tests hold the program to.
#pragma once

#include <cstdint>
#include <vector>

namespace zud_test {

__extension__ typedef unsigned __int128 Wide;

inline std::uint64_t mul_mod128(std::uint64_t a, std::uint64_t b, std::uint64_t m)
{
    return static_cast<std::uint64_t>(static_cast<Wide>(a) * b % m);
}

inline std::uint64_t pow_mod128(std::uint64_t base, std::uint64_t e, std::uint64_t m)
{
    std::uint64_t r = 1 % m;
    base %= m;
    while (e != 0) {
        if (e & 1)
            r = mul_mod128(r, base, m);
        base = mul_mod128(base, base, m);
        e >>= 1;
    }
    return r;
}

// Deterministic Miller-Rabin for every 64-bit n.
inline bool is_prime(std::uint64_t n)
{
    if (n < 2)
        return false;
    for (std::uint64_t p : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37})
        if (n % p == 0)
            return n == p;
    std::uint64_t d = n - 1;
    int s = 0;
    while ((d & 1) == 0) {
        d >>= 1;
        ++s;
    }
    for (std::uint64_t a : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        std::uint64_t x = pow_mod128(a, d, n);
        if (x == 1 || x == n - 1)
            continue;
        bool composite = true;
        for (int i = 1; i < s && composite; ++i) {
            x = mul_mod128(x, x, n);
            composite = x != n - 1;
        }
        if (composite)
            return false;
    }
    return true;
}

// p | k*2^n+1
inline bool divides(std::uint64_t p, std::uint64_t k, std::uint64_t n)
{
    return (mul_mod128(k % p, pow_mod128(2, n, p), p) + 1) % p == 0;
}

// Plain sieve of Eratosthenes: every prime below `limit`.
inline std::vector<std::uint64_t> primes_below(std::uint64_t limit)
{
    std::vector<bool> composite(limit, false);
    std::vector<std::uint64_t> primes;
    for (std::uint64_t i = 2; i < limit; ++i) {
        if (composite[i])
            continue;
        primes.push_back(i);
        for (std::uint64_t j = i * i; j < limit; j += i)
            composite[j] = true;
    }
    return primes;
}

}  // namespace zud_test
