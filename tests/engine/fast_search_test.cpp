#include "engine/fast_search.h"
#include "engine/mod_arith.h"

#include <gtest/gtest.h>

#include <random>

#include "reference.h"
#include "sieve_harness.h"

namespace {

using zud::SearchMode;
using zud_test::SieveCase;

std::vector<zud_test::Hit> hits_with(SearchMode mode, SieveCase c)
{
    c.mode = mode;
    auto out = zud_test::run_case(c);
    EXPECT_EQ(out.blocks_outstanding, 0);
    return out.hits;
}

// The fast searches report the reference's hits, in the reference's order.
std::size_t expect_same_hits(const SieveCase& c, const std::string& what)
{
    const auto reference = hits_with(SearchMode::reference, c);
    for (SearchMode mode : {SearchMode::portable, SearchMode::avx2, SearchMode::vector}) {
        const auto fast = hits_with(mode, c);
        EXPECT_EQ(fast.size(), reference.size()) << what << " mode " << static_cast<int>(mode);
        if (fast.size() != reference.size())
            continue;
        for (std::size_t i = 0; i < fast.size(); ++i)
            EXPECT_TRUE(fast[i] == reference[i]) << what << " hit " << i;
    }
    return reference.size();
}

SieveCase random_case(std::mt19937_64& rng, std::int64_t pmin, std::int64_t span, std::int32_t n_range)
{
    const std::int32_t spacings[] = {1, 2, 12, 24, 48, 6, 4, 36};
    SieveCase c;
    c.nmin = 1 + static_cast<std::int32_t>(rng() % 3000);
    c.nmax = c.nmin + n_range;
    c.pmin = pmin;
    c.pmax = pmin + span;
    c.alpha = 0.1 + static_cast<double>(rng() % 500) / 100.0;
    const int count = 1 + static_cast<int>(rng() % 9);
    for (int i = 0; i < count; ++i) {
        std::int32_t k = 1 + 2 * static_cast<std::int32_t>(rng() % 1000000);
        if (rng() % 4 == 0)
            k = 1 + 2 * static_cast<std::int32_t>(rng() % 1000);
        const std::int32_t d = spacings[rng() % std::size(spacings)];
        c.k.push_back(k);
        c.spacings.push_back(d);
        c.residues.push_back(static_cast<std::int32_t>(rng() % d));
    }
    return c;
}

TEST(FastSearch, same_hits_as_the_reference_on_random_sets_and_ranges)
{
    std::mt19937_64 rng(77);
    const std::pair<std::int64_t, std::int64_t> windows[] = {
        {3, 200000},
        {(std::int64_t{1} << 31) - 150000, 300000},
        {(std::int64_t{1} << 32) - 150000, 300000},
        {std::int64_t{1} << 40, 300000},
        {(std::int64_t{1} << 48) - 400000, 399000},
    };
    std::size_t hits = 0;
    for (auto [from, span] : windows)
        for (int trial = 0; trial < 4; ++trial)
            hits += expect_same_hits(random_case(rng, from, span, 200 + static_cast<std::int32_t>(rng() % 5000)),
                                     "window " + std::to_string(from) + " trial " + std::to_string(trial));
    EXPECT_GT(hits, 1000u);
}

// Random sets that contain, for each of a few primes of the window, a k
// that the prime divides at some n of the range: every window has hits.
TEST(FastSearch, same_hits_with_planted_factors_near_2_31_and_2_32)
{
    std::mt19937_64 rng(31);
    for (std::int64_t from : {(std::int64_t{1} << 31) - 100000, (std::int64_t{1} << 32) - 100000}) {
        SieveCase c = random_case(rng, from, 200000, 3000);
        int planted = 0;
        for (std::int64_t p = from | 1; p < c.pmax && planted < 6; p += 2) {
            if (!zud_test::is_prime(static_cast<std::uint64_t>(p)))
                continue;
            const auto n = static_cast<std::uint64_t>(c.nmin + 7 + planted * 13);
            // k = -2^-n mod p, when it is an odd 31-bit value
            const std::uint64_t inverse = zud_test::pow_mod128(2, static_cast<std::uint64_t>(p - 1) - n % (p - 1),
                                                               static_cast<std::uint64_t>(p));
            const std::uint64_t k = static_cast<std::uint64_t>(p) - inverse;
            if (k >= (1u << 31) || k % 2 == 0 || k % 3 == 0)
                continue;
            c.k.push_back(static_cast<std::int32_t>(k));
            c.residues.push_back(0);
            c.spacings.push_back(1);
            ++planted;
        }
        EXPECT_GE(expect_same_hits(c, "planted from " + std::to_string(from)), 6u);
    }
}

TEST(FastSearch, same_hits_where_2_has_small_order)
{
    // Each of these divides 2^e + 1, so 1*2^n+1 has the factor for every
    // n = e + 2e*j: one probe matches many stride-table entries.
    const std::pair<std::int64_t, int> primes[] = {{67280421310721, 64}, {2879347902817, 68}, {54410972897, 56}};
    std::mt19937_64 rng(8);
    for (auto [p, e] : primes) {
        ASSERT_TRUE(zud_test::divides(static_cast<std::uint64_t>(p), 1, static_cast<std::uint64_t>(e))) << p;
        for (double alpha : {0.3, 2.5}) {
            SieveCase c = random_case(rng, p - 2000, 4000, 60000);
            c.alpha = alpha;
            c.k.insert(c.k.begin(), 1);
            c.residues.insert(c.residues.begin(), 0);
            c.spacings.insert(c.spacings.begin(), 2);
            c.nmin = 2;   // residue 0 of spacing 2: the even n, where k = 1 keeps its candidates
            EXPECT_GT(expect_same_hits(c, "order of 2 mod " + std::to_string(p)), 200u);
        }
    }
}

TEST(FastSearch, same_hits_with_primes_that_are_their_own_factors)
{
    // p = k*2^n+1 divides its own k*2^n+1; near 2^40 and just below 2^48.
    std::mt19937_64 rng(9);
    std::size_t hits = 0;
    for (int top : {40, 48}) {
        const auto primes = zud_test::own_factor_primes(top, 8);
        EXPECT_EQ(primes.size(), 8u);
        for (const auto& own : primes) {
            SieveCase c = random_case(rng, own.p, 0, 100 + static_cast<std::int32_t>(rng() % 200));
            c.nmin = own.n - static_cast<std::int32_t>(rng() % 10) - 1;
            c.nmax = c.nmin + 50;
            c.k.push_back(static_cast<std::int32_t>(own.k));
            c.residues.push_back(0);
            c.spacings.push_back(1);
            hits += expect_same_hits(c, "own factor " + std::to_string(own.p));
        }
    }
    EXPECT_GE(hits, 16u);
}

TEST(FastSearch, same_hits_above_and_below_65536_stride_entries)
{
    std::mt19937_64 rng(5);
    for (double alpha : {0.0001, 0.001, 2.5, 40.0}) {
        SieveCase c = random_case(rng, 1000, 3000, 1000000);
        c.alpha = alpha;
        EXPECT_GT(expect_same_hits(c, "alpha " + std::to_string(alpha)), 100u);
    }
}

TEST(FastSearch, the_worker_environment_holds_in_the_callbacks)
{
    SieveCase c;
    c.nmin = 2;
    c.nmax = 400;
    c.pmin = 3;
    c.pmax = 5000;
    c.k = {5, 7};
    c.residues = {0, 0};
    c.spacings = {1, 1};
    for (SearchMode mode : {SearchMode::portable, SearchMode::avx2, SearchMode::vector}) {
        bool all_down = true;
        int calls = 0;
        zud::run_sieve(
            c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(), c.spacings.data(), 2,
            [&](std::int32_t, std::int32_t, std::int64_t) {
                ++calls;
                all_down = all_down && zud::x87_rounding() == zud::X87Rounding::down;
            },
            [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
            [](std::int64_t) {}, 2.5, {nullptr, {}, mode});
        EXPECT_GT(calls, 10);
        EXPECT_TRUE(all_down);
    }
}

}  // namespace
