#include "engine/fast_search.h"
#include "engine/mod_arith.h"
#include "engine/power_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "reference.h"
#include "on_each_instruction_set.h"
#include "sieve_harness.h"

namespace {

using zud::SearchMode;
using zud_test::Hit;
using zud_test::SieveCase;

// The hits of one search that the factor callback could keep: n in range.
std::vector<Hit> kept_hits(SearchMode mode, SieveCase c, bool& ascending_p)
{
    c.mode = mode;
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.blocks_outstanding, 0);
    std::vector<Hit> kept;
    ascending_p = true;
    for (const Hit& h : out.hits) {
        if (!kept.empty() && h.p < kept.back().p)
            ascending_p = false;
        if (h.n <= c.nmax)
            kept.push_back(h);
    }
    return kept;
}

// Same (p, k, n) as the reference, primes in ascending order.
std::size_t expect_reference_hits(const SieveCase& c, const std::string& what)
{
    bool ordered = true;
    auto reference = kept_hits(SearchMode::reference, c, ordered);
    auto filtered = kept_hits(SearchMode::filtered, c, ordered);
    EXPECT_TRUE(ordered) << what;
    std::sort(reference.begin(), reference.end());
    std::sort(filtered.begin(), filtered.end());
    EXPECT_EQ(filtered.size(), reference.size()) << what;
    EXPECT_TRUE(filtered == reference) << what;
    return reference.size();
}

// Spacings 1 .. 48 whose lcm stays at 5040, so that the reference's stride
// (a multiple of every spacing) stays small.
std::int32_t random_spacing(std::mt19937_64& rng)
{
    for (;;) {
        const auto d = 1 + static_cast<std::int32_t>(rng() % 48);
        if (5040 % d == 0)
            return d;
    }
}

std::int32_t random_k(std::mt19937_64& rng)
{
    switch (rng() % 6) {
    case 0:
        return 2 + 2 * static_cast<std::int32_t>(rng() % 500000);   // even
    case 1:
        return 3 * (1 + static_cast<std::int32_t>(rng() % 300000));   // multiple of 3
    case 2:
        return INT32_MAX - static_cast<std::int32_t>(rng() % 2000);   // near 2^31
    default:
        return 1 + 2 * static_cast<std::int32_t>(rng() % 1000000);
    }
}

SieveCase random_case(std::mt19937_64& rng, std::int64_t pmin, std::int64_t span, std::int32_t n_range)
{
    SieveCase c;
    c.nmin = 1 + static_cast<std::int32_t>(rng() % 3000);
    c.nmax = c.nmin + n_range;
    c.pmin = pmin;
    c.pmax = pmin + span;
    c.alpha = 0.1 + static_cast<double>(rng() % 500) / 100.0;
    const int count = 1 + static_cast<int>(rng() % 9);
    for (int i = 0; i < count; ++i) {
        const std::int32_t d = random_spacing(rng);
        c.k.push_back(random_k(rng));
        c.spacings.push_back(d);
        c.residues.push_back(static_cast<std::int32_t>(rng() % d));
    }
    return c;
}

// Adds, for up to `wanted` primes of the window, a k with a factor p at
// some n of the range, in the k's class.
void plant_factors(std::mt19937_64& rng, SieveCase& c, int wanted)
{
    int planted = 0;
    for (std::int64_t p = c.pmin | 1; p < c.pmax && planted < wanted; p += 2) {
        if (!zud_test::is_prime(static_cast<std::uint64_t>(p)))
            continue;
        const auto width = static_cast<std::uint64_t>(std::int64_t{c.nmax} - c.nmin + 1);
        const auto n = static_cast<std::int32_t>(c.nmin + static_cast<std::int64_t>(rng() % width));
        const auto up = static_cast<std::uint64_t>(p);
        const std::uint64_t k = up - zud_test::pow_mod128(2, (up - 1) - static_cast<std::uint64_t>(n) % (up - 1), up);
        if (k >= (1u << 31))
            continue;
        const std::int32_t d = random_spacing(rng);
        c.k.push_back(static_cast<std::int32_t>(k));
        c.spacings.push_back(d);
        c.residues.push_back((n - c.nmin) % d);
        ++planted;
    }
}

// Each test on every instruction set: the same factors as the reference.
class FilteredSearch : public zud_test::OnEachInstructionSet {};
ZUD_ON_EACH_INSTRUCTION_SET(FilteredSearch);

TEST_P(FilteredSearch, same_hits_as_the_reference_on_random_sets_and_windows)
{
    std::mt19937_64 rng(1212);
    const std::pair<std::int64_t, std::int64_t> windows[] = {
        {3, 30000},
        {(std::int64_t{1} << 20) - 20000, 40000},
        {(std::int64_t{1} << 31) - 20000, 40000},
        {(std::int64_t{1} << 32) - 20000, 40000},
        {std::int64_t{1} << 40, 40000},
        {(std::int64_t{1} << 48) - 60000, 59000},
        // Above 2^48 the reference is the wide search; each set changes
        // arithmetic at 2^48 or 2^52.
        {(std::int64_t{1} << 48) - 20000, 40000},
        {(std::int64_t{1} << 52) - 20000, 40000},
        {(std::int64_t{1} << 55) + 12345, 30000},
        {(std::int64_t{1} << 62) - 40000, 39000},
    };
    std::size_t hits = 0;
    for (auto [from, span] : windows)
        for (int trial = 0; trial < (from < (std::int64_t{1} << 48) - 60000 ? 6 : 2); ++trial) {
            SieveCase c = random_case(rng, from, span, 200 + static_cast<std::int32_t>(rng() % 5000));
            plant_factors(rng, c, 4);
            hits += expect_reference_hits(c, "window " + std::to_string(from) + " trial " + std::to_string(trial));
        }
    EXPECT_GT(hits, 100u);
}

TEST_P(FilteredSearch, planted_factors_in_every_class_are_found)
{
    std::mt19937_64 rng(48);
    // Above 2^32 hardly any p has a k below 2^31 to plant: see the next test.
    std::size_t hits = 0;
    for (std::int64_t from : {(std::int64_t{1} << 31) - 20000, (std::int64_t{1} << 32) - 20000}) {
        SieveCase c = random_case(rng, from, 20000, 100000);
        c.k.clear();
        c.spacings.clear();
        c.residues.clear();
        plant_factors(rng, c, 24);
        hits += expect_reference_hits(c, "planted from " + std::to_string(from));
    }
    // A planted n of the parity that 3 divides is no hit under the quadratic rule.
    EXPECT_GE(hits, 12u);
}

TEST_P(FilteredSearch, primes_that_are_their_own_factors_near_2_40_and_2_48)
{
    std::mt19937_64 rng(9);
    std::size_t hits = 0;
    for (int top : {40, 48}) {
        const auto primes = zud_test::own_factor_primes(top, 8);
        EXPECT_EQ(primes.size(), 8u);
        for (const auto& own : primes) {
            SieveCase c = random_case(rng, own.p - 1000, 2000, 100 + static_cast<std::int32_t>(rng() % 200));
            c.nmin = own.n - static_cast<std::int32_t>(rng() % 10) - 1;
            c.nmax = c.nmin + 50;
            c.k.push_back(static_cast<std::int32_t>(own.k));
            c.residues.push_back(0);
            c.spacings.push_back(1);
            hits += expect_reference_hits(c, "own factor " + std::to_string(own.p));
        }
    }
    EXPECT_GE(hits, 16u);
}

TEST_P(FilteredSearch, same_hits_where_2_has_small_order)
{
    const std::pair<std::int64_t, int> primes[] = {{67280421310721, 64}, {2879347902817, 68}, {54410972897, 56}};
    std::mt19937_64 rng(8);
    for (auto [p, e] : primes) {
        for (double alpha : {0.3, 2.5}) {
            SieveCase c = random_case(rng, p - 2000, 4000, 60000);
            c.alpha = alpha;
            c.k.insert(c.k.begin(), 1);
            c.residues.insert(c.residues.begin(), 0);
            c.spacings.insert(c.spacings.begin(), 2);
            c.nmin = 2;
            EXPECT_GT(expect_reference_hits(c, "order of 2 mod " + std::to_string(p)), 200u) << e;
        }
    }
}

TEST_P(FilteredSearch, long_ranges_with_many_strides)
{
    std::mt19937_64 rng(5);
    for (double alpha : {0.0001, 2.5, 40.0}) {
        SieveCase c = random_case(rng, (std::int64_t{1} << 32) - 1000, 2000, 1000000);
        c.alpha = alpha;
        plant_factors(rng, c, 6);
        EXPECT_GE(expect_reference_hits(c, "alpha " + std::to_string(alpha)), 3u);
    }
}

TEST_P(FilteredSearch, the_top_of_the_n_range_and_tiny_ranges)
{
    std::mt19937_64 rng(31);
    std::size_t hits = 0;
    for (std::int32_t nmax : {INT32_MAX, 2000000000, 60}) {
        for (std::int32_t width : {0, 1, 7, 3000}) {
            SieveCase c = random_case(rng, (std::int64_t{1} << 32) - 3000, 6000, 0);
            c.nmax = nmax;
            c.nmin = nmax - width < 1 ? 1 : nmax - width;
            plant_factors(rng, c, 3);
            hits += expect_reference_hits(c, "nmax " + std::to_string(nmax) + " width " + std::to_string(width));
        }
    }
    EXPECT_GE(hits, 10u);
}

TEST(FilteredSearchEnvironment, the_worker_environment_holds_in_the_callbacks)
{
    std::mt19937_64 rng(17);
    SieveCase c = random_case(rng, (std::int64_t{1} << 31) - 20000, 40000, 5000);
    plant_factors(rng, c, 10);
    bool all_down = true;
    int calls = 0;
    zud::run_sieve(
        c.nmin, c.nmax, c.pmin, c.pmax, c.k.data(), c.residues.data(), c.spacings.data(),
        static_cast<std::uint32_t>(c.k.size()),
        [&](std::int32_t, std::int32_t, std::int64_t) {
            ++calls;
            all_down = all_down && zud::x87_rounding() == zud::X87Rounding::down;
        },
        [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
        [](std::int64_t) {}, c.alpha, {nullptr, {}, SearchMode::filtered});
    EXPECT_GE(calls, 5);
    EXPECT_TRUE(all_down);
}

TEST(PowerFilter, joined_classes_are_exactly_the_common_n)
{
    for (std::int64_t d = 1; d <= 48; ++d)
        for (std::int64_t e : {1, 2, 3, 4, 6, 8, 9, 12, 20, 64, 105, 240}) {
            const std::int64_t r = (d * 7 + 3) % d, t = (e * 5 + 1) % e;
            std::int64_t first = -1, step = -1;
            const bool joined = zud::combine_classes(r, d, t, e, first, step);
            std::vector<std::int64_t> common;
            for (std::int64_t j = 0; j < 2 * d * e; ++j)
                if (j % d == r && j % e == t)
                    common.push_back(j);
            ASSERT_EQ(joined, !common.empty()) << d << " " << e;
            if (!joined)
                continue;
            EXPECT_EQ(first, common[0]) << d << " " << e;
            EXPECT_EQ(step, common.size() > 1 ? common[1] - common[0] : 2 * d * e) << d << " " << e;
        }
}

TEST(PowerFilter, the_modulus_divides_p_minus_1_and_stays_small)
{
    EXPECT_EQ(zud::class_modulus(61, 256), 60);
    EXPECT_EQ(zud::class_modulus(7681, 256), 256);   // 7680 = 2^9 * 3 * 5
    for (std::int64_t p : {std::int64_t{1000003}, std::int64_t{999999999989}, std::int64_t{281474976710597}})
        EXPECT_EQ((p - 1) % zud::class_modulus(p, 256), 0);
    // The greedy pick, prime by prime in ascending order, at every bound:
    // p - 1 a power of 2, with squares of 31, or prime to every small prime.
    const std::int64_t odd[] = {3, 5, 7, 11, 13, 31, 257, 65537, 2 * 961 * 3 + 1, 1024 * 2 + 1, 2 * 37 * 41 + 1,
                                (std::int64_t{1} << 61) + 1, 2 * 3 * 5 * 7 * 11 * 13 * 17 * 19 * 23 + 1,
                                std::int64_t{29} * 29 * 31 * 31 * 2 * 1024 + 1, 4611686018427387847};
    for (std::int64_t p : odd)
        for (std::int64_t most : {1, 2, 6, 7, 256, 1024, 4096}) {
            std::int64_t expected = 1;
            for (std::int64_t q : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31})
                while ((p - 1) % (expected * q) == 0 && expected * q <= most)
                    expected *= q;
            EXPECT_EQ(zud::class_modulus(p, most), expected) << p << " " << most;
        }
}

TEST(PowerFilter, the_stride_covers_the_range_within_the_table)
{
    for (std::int64_t unit : {1, 2, 24, 240, 5040})
        for (double inverse_steps : {0.001, 0.05, 2.0})
            for (std::int64_t capacity : {16, 3000, 100000}) {
                const auto s = zud::choose_stride(19000001, capacity, unit, inverse_steps);
                EXPECT_EQ(s.stride % unit, 0);
                EXPECT_GE(s.stride * s.count, 19000001);
                EXPECT_LE(s.count, capacity);
            }
}

}  // namespace
