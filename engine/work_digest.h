// The work digest: a sum over every prime a range searched, of a mixing
// hash of the prime and 2^-nmin mod p. The sum does not depend on the order
// of the primes, so any worker count, chunking and instruction set gives the
// same digest; a result that claims a range without searching it has to
// enumerate its primes and take a power modulo each to match it.
#pragma once

#include <cstdint>

#include "engine/mont64.h"

namespace zud {

struct WorkDigest {
    std::uint64_t sum = 0;
    std::uint64_t primes = 0;

    WorkDigest& operator+=(const WorkDigest& other)
    {
        sum += other.sum;
        primes += other.primes;
        return *this;
    }
};

inline std::uint64_t digest_mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

// 2^-nmin mod p, for an odd prime p < 2^62 and nmin >= 1.
inline std::uint64_t digest_value(std::uint64_t p, std::int32_t nmin)
{
    const Mont64 m(p);
    return m.from_mont(m.pow_half(static_cast<std::uint64_t>(nmin < 1 ? 1 : nmin)));
}

inline void add_to_digest(WorkDigest& digest, std::uint64_t p, std::int32_t nmin)
{
    digest.sum += digest_mix(digest_mix(p) ^ digest_value(p, nmin));
    ++digest.primes;
}

}  // namespace zud
