#include "engine/sieve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "reference.h"
#include "sieve_harness.h"

namespace {

using zud_test::Hit;
using zud_test::SieveCase;

// Every factor, except where the run itself sieves 3 over a k whose n have
// both parities: there 3 is the smallest factor of every n of the parity it
// removes, and only the other parity needs looking at above 3.
bool must_find(const SieveCase& c, std::size_t i, std::int64_t n, std::int64_t p)
{
    const std::int64_t k = c.k[i];
    if (p == 3 || k % 3 == 0 || k % 2 == 0 || c.spacings[i] % 2 == 0 || c.pmin > 3)
        return true;
    return (k % 3 == 1) == (n % 2 == 0);
}

// Every (k, n, p) the search must find: n in the k's class from the
// effective nmin to nmax, and must_find.
std::set<Hit> brute_force(const SieveCase& c)
{
    std::set<Hit> expected;
    const std::int64_t nmin_eff = std::max<std::int64_t>(c.nmin, 2);
    const auto primes = zud_test::primes_below(static_cast<std::uint64_t>(c.pmax) + 1);
    for (std::uint64_t p : primes) {
        if (p < 3 || static_cast<std::int64_t>(p) < c.pmin)
            continue;
        for (std::size_t i = 0; i < c.k.size(); ++i) {
            const std::int64_t k = c.k[i];
            for (std::int64_t n = nmin_eff; n <= c.nmax; ++n) {
                if ((n - c.nmin - c.residues[i]) % c.spacings[i] != 0)
                    continue;
                if (!must_find(c, i, n, static_cast<std::int64_t>(p)))
                    continue;
                if (zud_test::divides(p, k, n))
                    expected.insert({static_cast<std::int32_t>(i), static_cast<std::int32_t>(n),
                                     static_cast<std::int64_t>(p)});
            }
        }
    }
    return expected;
}

// What reaches the candidate bitmaps: reports in the original classes, up to
// nmax. Every report, kept or not, must be a true divisor.
std::set<Hit> found_in_range(const SieveCase& c, const zud_test::SieveOutcome& out)
{
    std::set<Hit> found;
    for (const Hit& h : out.hits) {
        EXPECT_TRUE(zud_test::divides(h.p, c.k[h.k_index], h.n)) << h.p << " | " << c.k[h.k_index] << "*2^" << h.n;
        if (h.n <= c.nmax && (h.n - c.nmin - c.residues[h.k_index]) % c.spacings[h.k_index] == 0 &&
            must_find(c, static_cast<std::size_t>(h.k_index), h.n, h.p))
            found.insert(h);
    }
    return found;
}

void expect_matches_brute_force(const SieveCase& c)
{
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.blocks_outstanding, 0);
    const std::set<Hit> expected = brute_force(c);
    const std::set<Hit> found = found_in_range(c, out);
    EXPECT_EQ(found.size(), expected.size());
    for (const Hit& h : expected)
        EXPECT_TRUE(found.count(h)) << "missed " << h.p << " | " << c.k[h.k_index] << "*2^" << h.n;
}

TEST(RunSieve, finds_exactly_the_brute_force_factors_on_random_sets)
{
    std::mt19937 rng(2024);
    const std::int32_t spacing_choices[] = {1, 2, 6, 12, 24, 48, 96, 144, 120, 360, 175, 63, 54, 49, 72, 30};
    for (int trial = 0; trial < 60; ++trial) {
        SieveCase c;
        c.nmin = 1 + static_cast<std::int32_t>(rng() % 40);
        c.nmax = c.nmin + static_cast<std::int32_t>(rng() % 600);
        c.pmin = static_cast<std::int64_t>(rng() % 2000);
        c.pmax = c.pmin + 3000 + static_cast<std::int64_t>(rng() % 40000);
        c.alpha = 0.05 + (rng() % 400) / 100.0;
        const int count = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < count; ++i) {
            std::int32_t k = 1 + 2 * static_cast<std::int32_t>(rng() % 50000);
            if (trial % 5 != 0)
                while (k % 3 == 0)
                    k += 2;
            const std::int32_t d = spacing_choices[rng() % std::size(spacing_choices)];
            c.k.push_back(k);
            c.spacings.push_back(d);
            c.residues.push_back(static_cast<std::int32_t>(rng() % d));
        }
        SCOPED_TRACE("trial " + std::to_string(trial));
        expect_matches_brute_force(c);
    }
}

TEST(RunSieve, p3_and_primes_dividing_k)
{
    SieveCase c;
    c.nmin = 2;
    c.nmax = 300;
    c.pmin = 0;
    c.pmax = 20000;
    c.k = {5, 7, 11, 13 * 17, 1};
    c.residues = {0, 0, 0, 0, 0};
    c.spacings = {1, 1, 1, 1, 1};
    expect_matches_brute_force(c);
    const auto out = zud_test::run_case(c);
    // p = 3 reports the n of the parity that 3 removes.
    EXPECT_TRUE(std::any_of(out.hits.begin(), out.hits.end(),
                            [](const Hit& h) { return h.p == 3 && h.k_index == 0 && h.n == 2; }));
}

TEST(RunSieve, nmin_one_is_searched_from_two_in_the_right_class)
{
    // k = 5 with spacing 24 and n = 1 + 24j: searched from n = 2, the class
    // must stay anchored at n = 1.
    SieveCase c;
    c.nmin = 1;
    c.nmax = 2000;
    c.pmin = 3;
    c.pmax = 60000;
    c.k = {5, 7};
    c.residues = {0, 12};
    c.spacings = {24, 24};
    expect_matches_brute_force(c);
}

TEST(RunSieve, the_top_of_the_n_range_is_searched_without_wrapping)
{
    SieveCase c;
    c.nmin = 2147481000;
    c.nmax = 2147483647;
    c.pmin = 3;
    c.pmax = 1000;
    c.k = {5, 7};
    c.residues = {0, 1};
    c.spacings = {1, 2};
    const auto out = zud_test::run_case(c);
    for (const Hit& h : out.hits)
        ASSERT_GE(h.n, c.nmin);   // a wrapped n would be negative
    expect_matches_brute_force(c);
}

TEST(RunSieve, multiples_of_three_even_and_large_k_are_never_filtered_out)
{
    SieveCase c;
    c.nmin = 10;
    c.nmax = 400;
    c.pmin = 5;
    c.pmax = 30000;
    c.k = {9, 4, 1073741827, 2147483645, 15};
    c.residues = {0, 0, 0, 0, 0};
    c.spacings = {1, 1, 1, 1, 1};
    expect_matches_brute_force(c);
}

}  // namespace

namespace {

// Primes of the window [from, to), by an independent primality test.
std::vector<std::int64_t> primes_in(std::int64_t from, std::int64_t to)
{
    std::vector<std::int64_t> primes;
    for (std::int64_t n = from | 1; n < to; n += 2)
        if (zud_test::is_prime(static_cast<std::uint64_t>(n)))
            primes.push_back(n);
    return primes;
}

TEST(RunSieve, primes_of_the_form_k_2n_1_near_2_48_report_themselves)
{
    // Each prime p = k*2^n+1 just below 2^48 divides its own k*2^n+1; a
    // residue left in [p, 2p) would hide it.
    int checked = 0;
    for (std::int32_t n = 18; n <= 40 && checked < 40; ++n) {
        const std::int64_t top = (std::int64_t{1} << 48) - 1;
        for (std::int64_t k = ((top - 1) >> n) | 1; k > 1 && checked < 40; k -= 2) {
            const std::int64_t p = (k << n) + 1;
            if (p > top || k % 3 == 0 || !zud_test::is_prime(static_cast<std::uint64_t>(p)))
                continue;
            if (k > INT32_MAX)
                break;
            SieveCase c;
            c.nmin = 2;
            c.nmax = 60;
            c.pmin = p;
            c.pmax = p;
            c.k = {static_cast<std::int32_t>(k)};
            c.residues = {0};
            c.spacings = {1};
            const auto out = zud_test::run_case(c);
            EXPECT_TRUE(std::count(out.hits.begin(), out.hits.end(), Hit{0, n, p}) == 1) << p;
            ++checked;
            break;
        }
    }
    EXPECT_GE(checked, 20);
}

TEST(RunSieve, windows_near_2_32_and_2_48_match_brute_force)
{
    for (std::int64_t from : {(std::int64_t{1} << 32) - 6000, (std::int64_t{1} << 48) - 12000}) {
        SieveCase c;
        c.nmin = 3;
        c.nmax = 700;
        c.pmin = from;
        c.pmax = from + 10000;
        c.k = {3061, 5, 12345677, 1000001, 27};
        c.residues = {1, 0, 5, 0, 0};
        c.spacings = {2, 1, 24, 1, 1};
        const auto out = zud_test::run_case(c);
        std::set<Hit> expected;
        for (std::int64_t p : primes_in(c.pmin, c.pmax + 1))
            for (std::size_t i = 0; i < c.k.size(); ++i)
                for (std::int32_t n = c.nmin; n <= c.nmax; ++n)
                    if ((n - c.nmin - c.residues[i]) % c.spacings[i] == 0 && must_find(c, i, n, p) &&
                        zud_test::divides(p, c.k[i], n))
                        expected.insert({static_cast<std::int32_t>(i), n, p});
        EXPECT_EQ(found_in_range(c, out), expected) << "window from " << from;
    }
}

TEST(RunSieve, a_stop_already_requested_returns_the_first_prime_unsearched)
{
    const std::atomic<std::int32_t> stop{1};
    SieveCase c;
    c.stop = &stop;
    c.pmin = 100;
    c.pmax = 100000;
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.result, 101);
    EXPECT_TRUE(out.hits.empty());
    EXPECT_TRUE(out.progress.empty());
    EXPECT_EQ(out.blocks_outstanding, 0);
}

TEST(RunSieve, a_start_above_the_range_ends_at_once)
{
    SieveCase c;
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    c.pmin = 5000;
    c.pmax = 4000;
    auto out = zud_test::run_case(c);
    EXPECT_EQ(out.result, 5003);   // the first prime not below pmin, unsearched
    EXPECT_TRUE(out.hits.empty());
    c.pmin = std::int64_t{1} << 55;   // beyond any prime the engine sieves
    c.pmax = std::int64_t{1} << 50;
    out = zud_test::run_case(c);
    EXPECT_GT(out.result, c.pmax);
    EXPECT_EQ(out.blocks_outstanding, 0);
}

TEST(RunSieve, progress_comes_at_each_crossing_of_a_multiple_of_65536)
{
    SieveCase c;
    c.pmin = 65536 * 3 - 1000;
    c.pmax = 65536 * 6 + 10;
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    const auto out = zud_test::run_case(c);
    // Called with the first prime past 3, 4 and 5 * 65536; not for the prime
    // past 6 * 65536, which ends the loop.
    const std::vector<std::int64_t> expected = {196613, 262147, 327689};
    EXPECT_EQ(out.progress, expected);
    EXPECT_EQ(out.result, 393241);   // the first prime above pmax

    SieveCase quiet = c;
    quiet.pmin = 65536 * 2 + 5;
    quiet.pmax = 65536 * 3 - 5;
    EXPECT_TRUE(zud_test::run_case(quiet).progress.empty());
}

TEST(RunSieve, stopping_and_restarting_at_the_returned_prime_loses_nothing)
{
    SieveCase c;
    c.nmin = 2;
    c.nmax = 400;
    c.pmin = 3;
    c.pmax = 200000;
    c.k = {5, 7, 11};
    c.residues = {0, 0, 0};
    c.spacings = {1, 1, 1};
    const auto whole = zud_test::run_case(c);

    std::int64_t stop_after = 50000;
    zud_test::SieveOutcome first;
    int outstanding = 0;
    auto k = c.k, r = c.residues, d = c.spacings;
    std::atomic<std::int32_t> stop{0};
    first.result = zud::run_sieve(
        c.nmin, c.nmax, c.pmin, c.pmax, k.data(), r.data(), d.data(), 3,
        [&](std::int32_t i, std::int32_t n, std::int64_t p) {
            first.hits.push_back({i, n, p});
            if (p > stop_after)
                stop = 1;
        },
        [&](std::uint32_t size) { ++outstanding; return std::calloc(size, 1); },
        [&](void* b) { --outstanding; std::free(b); }, [](std::int64_t) {}, c.alpha, {&stop, {}, c.plan});
    ASSERT_GT(first.result, stop_after);
    ASSERT_LE(first.result, c.pmax);
    EXPECT_EQ(outstanding, 0);
    SieveCase rest = c;
    rest.pmin = first.result;
    auto second = zud_test::run_case(rest);
    // What the run records: the first factor of each (k, n). The second part
    // starts above 3 over n of both parities, so it also looks at the n that
    // 3 took in the first part; the factor check drops those.
    const auto first_factors = [](const std::vector<Hit>& hits) {
        std::map<std::pair<std::int32_t, std::int32_t>, std::int64_t> first_p;
        for (const Hit& h : hits)
            first_p.emplace(std::make_pair(h.k_index, h.n), h.p);
        return first_p;
    };
    std::vector<Hit> joined = first.hits;
    joined.insert(joined.end(), second.hits.begin(), second.hits.end());
    EXPECT_EQ(first_factors(joined), first_factors(whole.hits));
    EXPECT_GT(first_factors(whole.hits).size(), 300U);
}

TEST(RunSieve, a_range_above_3_over_n_of_both_parities_finds_every_factor)
{
    // A candidate file that 3 never sieved (hand-made, or imported unsieved):
    // above 3 the n of either parity can have a factor, and the quadratic
    // rule may drop a prime only for the parity the k's n really have.
    SieveCase c;
    c.nmin = 2;
    c.nmax = 2000;
    c.pmin = 3001;
    c.pmax = 4000;
    c.k = {5, 7, 11, 13, 17};
    c.residues = {0, 0, 1, 0, 1};
    c.spacings = {1, 1, 2, 2, 1};   // 13 keeps only even n, 11 only odd ones
    expect_matches_brute_force(c);
    const auto out = zud_test::run_case(c);
    // 3061 | 5*2^60+1: an even n of a k = 2 (mod 3), whose n would be odd after 3.
    EXPECT_TRUE(std::any_of(out.hits.begin(), out.hits.end(),
                            [](const Hit& h) { return h.p == 3061 && h.k_index == 0 && h.n == 60; }));
}

}  // namespace
