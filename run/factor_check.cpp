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

}  // namespace

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
