// Verification and recording of each hit the engine reports.
#include "run/factor_check.h"

#include <cinttypes>
#include <cstdio>

#include "data/status_file.h"
#include "engine/mod_arith.h"

namespace zud {

namespace {

constexpr std::int64_t kSmallModulusLimit = 2147483647;   // 2^31 - 1
// From here on the x87 reductions lose exactness; the check multiplies in
// 128 bits and divides exactly instead, sharing nothing with the search.
constexpr std::int64_t kExactModulusFrom = std::int64_t{1} << 48;

__extension__ typedef unsigned __int128 Uint128;

// k*2^n mod p == p - 1 by plain right-to-left powering with exact products.
bool verify_exact(std::int64_t k, std::int64_t e, std::int64_t p)
{
    const auto m = static_cast<std::uint64_t>(p);
    std::uint64_t result = 1;
    std::uint64_t base = 2;
    for (; e != 0; e >>= 1) {
        if (e & 1)
            result = static_cast<std::uint64_t>(static_cast<Uint128>(result) * base % m);
        base = static_cast<std::uint64_t>(static_cast<Uint128>(base) * base % m);
    }
    const std::uint64_t kr = static_cast<std::uint64_t>(k) % m;
    return static_cast<std::uint64_t>(static_cast<Uint128>(kr) * result % m) == m - 1;
}

std::int64_t product(std::int64_t a, std::int64_t b, std::int64_t p, long double recip)
{
    return p <= kSmallModulusLimit ? mul_mod_small(a, b, p, recip) : mul_mod_large(a, b, p, recip);
}

std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b, std::uint64_t m)
{
    return static_cast<std::uint64_t>(static_cast<Uint128>(a) * b % m);
}

// One Miller-Rabin round: false when `base` shows that m is composite.
bool strong_probable_prime(std::uint64_t m, std::uint64_t base)
{
    base %= m;
    if (base == 0)
        return true;
    std::uint64_t d = m - 1;
    int s = 0;
    for (; (d & 1) == 0; d >>= 1)
        ++s;
    std::uint64_t x = 1;
    for (std::uint64_t b = base, e = d; e != 0; e >>= 1) {
        if (e & 1)
            x = mul_mod(x, b, m);
        b = mul_mod(b, b, m);
    }
    if (x == 1 || x == m - 1)
        return true;
    for (int i = 1; i < s; ++i) {
        x = mul_mod(x, x, m);
        if (x == m - 1)
            return true;
    }
    return false;
}

}  // namespace

bool is_prime(std::int64_t p)
{
    if (p < 2)
        return false;
    for (std::int64_t small : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37}) {
        if (p == small)
            return true;
        if (p % small == 0)
            return false;
    }
    if (p < 37 * 37)
        return true;
    // These bases decide every p below 2^64 (below 2^32 the first three do).
    const auto m = static_cast<std::uint64_t>(p);
    if (m < (std::uint64_t{1} << 32)) {
        for (std::uint64_t base : {2u, 7u, 61u})
            if (!strong_probable_prime(m, base))
                return false;
        return true;
    }
    for (std::uint64_t base : {2ull, 325ull, 9375ull, 28178ull, 450775ull, 9780504ull, 1795265022ull})
        if (!strong_probable_prime(m, base))
            return false;
    return true;
}

std::int64_t first_prime_from(std::int64_t n)
{
    std::int64_t candidate = n < 2 ? 2 : n;
    while (!is_prime(candidate))
        ++candidate;
    return candidate;
}

bool is_the_number(std::int64_t p, std::int32_t k, std::int32_t n)
{
    return n >= 0 && n <= 62 && (static_cast<Uint128>(k) << n) + 1 == static_cast<Uint128>(p);
}

std::string factor_fault(std::int64_t p, std::int32_t k, std::int32_t n)
{
    if (k < 1 || n < 1 || p < 2)
        return "p does not divide k*2^n+1";
    // The check reduces the exponent by Fermat's little theorem, which
    // holds for a prime p only; and the sieve records primes only.
    // Records come in ascending p, many to a prime in a dense range.
    thread_local std::int64_t last_prime = 0;
    if (p != last_prime) {
        if (!is_prime(p))
            return "p is not prime";
        last_prime = p;
    }
    if (!verify_factor(k, n, p))
        return "p does not divide k*2^n+1";
    return {};
}

bool verify_factor(std::int32_t k, std::int32_t n, std::int64_t p)
{
    if (p >= kExactModulusFrom)
        return k > 0 && n >= 0 && verify_exact(k, n, p);
    X87ControlGuard keep_callers_settings;
    set_worker_fpu_env();
    std::int64_t e = n;
    if (p < n) {
        e = static_cast<std::int64_t>(static_cast<std::uint32_t>(n) % static_cast<std::uint32_t>(p - 1));
        if (e == 0)
            e = p - 1;   // 2^(p-1) == 1
    }
    const std::int64_t kr = p < k ? k % p : k;
    const long double recip = reciprocal_of(p);
    std::int64_t result = 1;
    std::int64_t base = 2;
    while (e > 1) {
        if (e & 1)
            result = product(result, base, p, recip);
        base = product(base, base, p, recip);
        e >>= 1;
    }
    const std::int64_t power = product(result, base, p, recip);
    return product(kr, power, p, recip) == p - 1;
}

void HitScreen::operator()(std::int32_t k_index, std::int32_t n, std::int64_t p)
{
    CandidateSet& set = run_.candidates;
    if (static_cast<std::uint32_t>(n) > static_cast<std::uint32_t>(set.nmax) || n < set.nmin)
        return;
    if (!set.is_candidate_shared(k_index, n))
        return;   // beyond nmax or already removed: dropped without a trace
    const bool verified = verify_factor(set.k_values[static_cast<std::size_t>(k_index)], n, p);
    if (run_.pmin != 0 || !verified) {
        hits_.push_back({p, k_index, n, verified});
        return;
    }
    if (set.remove_shared(k_index, n) && p != last_listed_p_) {
        hits_.push_back({p, k_index, n, true});
        last_listed_p_ = p;
    }
}

void commit_chunk(RunRecord& run, const ChunkResult& chunk, CommitBatch& batch)
{
    CandidateSet& set = run.candidates;
    for (const ChunkHit& hit : chunk.hits) {
        if (!hit.verified) {
            if (!set.is_candidate_shared(hit.k_index, hit.n))
                continue;   // a lower prime removed it: never checked by one worker either
            batch.failed = true;
            batch.failure = {hit.p, set.k_values[static_cast<std::size_t>(hit.k_index)], hit.n};
            return;
        }
        const std::int32_t k = set.k_values[static_cast<std::size_t>(hit.k_index)];
        if (run.pmin == 0) {
            if (hit.p - run.last_shown_factor_p >= 1000) {
                batch.shown.push_back({hit.p, k, hit.n});
                run.last_shown_factor_p = hit.p;
            }
            continue;
        }
        // Clear the bit before the window hears of the factor: the
        // candidate file written at the end must already leave it out.
        if (!set.remove_shared(hit.k_index, hit.n))
            continue;   // a lower prime of another chunk found it first
        append_factor_line(batch.text, hit.p, k, hit.n);
        batch.shown.push_back({hit.p, k, hit.n});
    }
}

}  // namespace zud
