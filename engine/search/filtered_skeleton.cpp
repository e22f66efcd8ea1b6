// The filtered search's bookkeeping that needs no arithmetic of its own.
#include "engine/search/filtered_skeleton.h"

namespace zud {
namespace filtered {

std::int64_t lcm_capped(std::int64_t a, std::int64_t b)
{
    std::int64_t x = a, y = b;
    while (y != 0) {
        const std::int64_t r = x % y;
        x = y;
        y = r;
    }
    const std::int64_t l = a / x;
    return l > kMostUnit / b ? kMostUnit : l * b;
}

// (-k / p) = Z^(L/2) = (2 / p)^at, and (-2k / p) = (2 / p)^(at + 1).
bool quadratic_rule_keeps(std::int64_t filter, std::int64_t k, std::int64_t at, std::int64_t p)
{
    if (filter == kAlwaysActive)
        return true;
    const bool two_is_square = p % 8 == 1 || p % 8 == 7;
    const std::int64_t power = filter == -k ? at : at + 1;
    return two_is_square || power % 2 == 0;
}

bool class_of_k(const SearchTables& t, std::int64_t nmin_in_e, std::uint32_t i, std::int64_t at, std::int64_t e,
                std::int64_t p, std::int64_t& first, std::int64_t& step)
{
    if (at < 0 || !quadratic_rule_keeps(t.filters[i], k_of(t, i), at, p))
        return false;
    // 2^n = (-k)^-1 gives A^n = Z^-1: n = -at (mod e), with 0 <= at < e.
    std::int64_t class_of_j = (at == 0 ? 0 : e - at) - nmin_in_e;
    if (class_of_j < 0)
        class_of_j += e;
    return combine_classes(t.residues[i], t.spacings[i], class_of_j, e, first, step);
}

std::int64_t first_pass_lanes(const SearchTables& t, const SearchGeometry& geo, PowerFilter& pf, std::int64_t p,
                              std::int64_t modulus)
{
    std::int64_t lanes = 0;
    pf.lane_base[lanes] = 2;
    pf.lane_exponent[lanes++] = (p - 1) / modulus;
    pf.lane_base[lanes] = (p + 1) / 2;
    pf.lane_exponent[lanes++] = geo.nmin_eff;
    const std::int64_t exponent = (p - 1) / modulus;
    std::int64_t tested = 0;
    std::int64_t dropped = 0;
    for (std::uint32_t i = 0; i < t.count; ++i) {
        if (t.filters[i] == kNeverActive)
            continue;
        // The quadratic rule, where it is cheap, before the exponentiation.
        // It fails for half the primes, as good as at random, so the lane is
        // written either way and kept by a count rather than by a branch.
        const QuadraticTest& quadratic = pf.quadratic[i];
        const bool keep = quadratic.k == 0 || quadratic.keeps(static_cast<std::uint64_t>(p));
        pf.survivor[tested] = static_cast<std::int32_t>(i);
        const std::int64_t k = k_of(t, i);
        const std::int64_t k_mod = k < p ? k : k % p;   // no division for the usual k below p
        pf.lane_base[lanes] = k_mod == 0 ? 0 : p - k_mod;
        pf.lane_exponent[lanes] = exponent;
        tested += keep;
        lanes += keep;
        dropped += !keep;
    }
    pf.stats.k_tested += static_cast<std::uint64_t>(dropped);
    pf.stats.k_dropped += static_cast<std::uint64_t>(dropped);
    return tested;
}

std::int64_t second_pass_lanes(PowerFilter& pf, std::int64_t p, std::int64_t stride, std::int64_t survivors)
{
    std::int64_t lanes = 0;
    pf.lane_base[lanes] = (p + 1) / 2;
    pf.lane_exponent[lanes++] = stride;
    for (std::int64_t at = 0; at < survivors; ++at) {
        pf.lane_base[lanes] = 2;
        pf.lane_exponent[lanes++] = pf.first_j[at];
        pf.lane_base[lanes] = 2;
        pf.lane_exponent[lanes++] = pf.class_step[at];
    }
    return lanes;
}

}  // namespace filtered
}  // namespace zud
