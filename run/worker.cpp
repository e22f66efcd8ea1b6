// The worker count and the primality test behind resume points.
#include "run/worker.h"

#include <sched.h>

namespace zud {

namespace {

__extension__ typedef unsigned __int128 Wide;

std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m)
{
    return static_cast<std::uint64_t>(static_cast<Wide>(a) * b % m);
}

std::uint64_t pow_mod(std::uint64_t base, std::uint64_t e, std::uint64_t m)
{
    std::uint64_t result = 1 % m;
    for (base %= m; e != 0; e >>= 1, base = mul_mod(base, base, m))
        if (e & 1)
            result = mul_mod(result, base, m);
    return result;
}

// Miller-Rabin with the first twelve primes as bases: exact below 3.3 * 10^24.
bool is_prime(std::uint64_t n)
{
    if (n < 2)
        return false;
    static const std::uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    for (std::uint64_t b : bases)
        if (n % b == 0)
            return n == b;
    std::uint64_t d = n - 1;
    int s = 0;
    for (; (d & 1) == 0; d >>= 1)
        ++s;
    for (std::uint64_t b : bases) {
        std::uint64_t x = pow_mod(b, d, n);
        if (x == 1 || x == n - 1)
            continue;
        bool composite = true;
        for (int r = 1; r < s && composite; ++r) {
            x = mul_mod(x, x, n);
            composite = x != n - 1;
        }
        if (composite)
            return false;
    }
    return true;
}

}  // namespace

int default_worker_count()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count < 1 ? 1 : count;
}

int usable_workers(int requested, int processors)
{
    if (processors < 1)
        processors = 1;
    return requested >= 1 && requested <= processors ? requested : processors;
}

std::int64_t first_prime_from(std::int64_t n)
{
    std::uint64_t candidate = n < 2 ? 2 : static_cast<std::uint64_t>(n);
    while (!is_prime(candidate))
        ++candidate;
    return static_cast<std::int64_t>(candidate);
}

}  // namespace zud
