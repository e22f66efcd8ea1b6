// Verification and recording of each hit the engine reports.
#include "run/factor_check.h"

#include <atomic>
#include <cinttypes>

#include "data/status_file.h"
#include "engine/mod_arith.h"
#include "run/messages.h"
#include "run/progress.h"
#include "run/run_record.h"

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

std::atomic<std::int64_t> g_last_shown{-10000};

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

void factor_callback(std::int32_t k_index, std::int32_t n, std::int64_t p)
{
    RunRecord* run = current_run();
    CandidateSet& set = run->candidates;
    if (static_cast<std::uint32_t>(n) > static_cast<std::uint32_t>(set.nmax) || n < set.nmin)
        return;
    if (!set.is_candidate(k_index, n))
        return;   // beyond nmax or already removed: dropped without a trace
    const std::int32_t k = set.k_values[static_cast<std::size_t>(k_index)];
    if (!verify_factor(k, n, p)) {
        send_message_f("#EVerification failed: %" PRId64 " does not divide %d*2^%d+1!", p, k, n);
        return;
    }
    const auto d = static_cast<std::uint32_t>(n - set.nmin);
    // Clear the bit before the window hears of the factor: the candidate
    // file written at the end must already leave it out.
    set.bitmap(k_index)[d / 32] &= ~(1u << (d % 32));
    if (run->pmin != 0) {
        send_message_f("%" PRId64 " | %d*2^%d+1", p, k, n);
        append_factor_line_retrying(p, k, n);
        mark_checkpoint();
    } else if (p - g_last_shown.load() >= 1000) {
        send_message_f("%" PRId64 " | %d*2^%d+1", p, k, n);
        g_last_shown.store(p);
    }
}

std::int64_t last_shown_factor_prime()
{
    return g_last_shown.load();
}

void reset_last_shown_factor_prime()
{
    g_last_shown.store(-10000);
}

}  // namespace zud
