// Every search of the engine against the plain reference search, on each
// instruction set the processor has (the others are skipped, never run on
// another set): the unfiltered searches must report exactly the reference's
// hits in the reference's order, the filtered ones (the program's) the same
// hits within the n range, primes in ascending order.
#include "engine/search/fast_search.h"
#include "engine/mod_arith.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>

#include "engine/support/searches.h"
#include "reference.h"
#include "sieve_harness.h"

namespace {

using zud::InstructionSet;
using zud_test::Hit;
using zud_test::SearchMode;
using zud_test::SieveCase;

using Param = std::tuple<SearchMode, InstructionSet>;

class SearchEquivalence : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        if (!zud::processor_has(set()))
            GTEST_SKIP() << "this processor has no " << zud::instruction_set_name(set());
    }
    SearchMode mode() const { return std::get<0>(GetParam()); }
    InstructionSet set() const { return std::get<1>(GetParam()); }

    std::vector<Hit> hits_with(zud::SearchPlan plan, SieveCase c) const
    {
        c.plan = plan;
        auto out = zud_test::run_case(c);
        EXPECT_EQ(out.blocks_outstanding, 0);
        return out.hits;
    }

    // The hits of the search under test against the reference's; returns
    // how many the reference reported (n past nmax included).
    std::size_t expect_same_hits(const SieveCase& c, const std::string& what) const
    {
        const auto reference = hits_with(zud_test::plan_of(SearchMode::reference, set()), c);
        const auto found = hits_with(zud_test::plan_of(mode(), set()), c);
        if (mode() == SearchMode::unfiltered) {
            EXPECT_EQ(found.size(), reference.size()) << what;
            if (found.size() == reference.size()) {
                for (std::size_t i = 0; i < found.size(); ++i)
                    EXPECT_TRUE(found[i] == reference[i]) << what << " hit " << i;
            }
            return reference.size();
        }
        // Only hits the factor callback could keep: n in range.
        auto kept = [&c](const std::vector<Hit>& hits) {
            std::vector<Hit> in_range;
            for (const Hit& h : hits)
                if (h.n <= c.nmax)
                    in_range.push_back(h);
            std::sort(in_range.begin(), in_range.end());
            return in_range;
        };
        for (std::size_t i = 1; i < found.size(); ++i)
            EXPECT_LE(found[i - 1].p, found[i].p) << what << ": primes out of order at hit " << i;
        const auto expected = kept(reference);
        const auto got = kept(found);
        EXPECT_EQ(got.size(), expected.size()) << what;
        EXPECT_TRUE(got == expected) << what;
        return reference.size();
    }
};

std::string param_label(const ::testing::TestParamInfo<Param>& info)
{
    return std::string(zud_test::search_mode_name(std::get<0>(info.param))) + "_" +
           zud::instruction_set_name(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Isa, SearchEquivalence,
                         ::testing::Combine(::testing::Values(SearchMode::unfiltered, SearchMode::filtered),
                                            ::testing::Values(InstructionSet::ifma, InstructionSet::avx2,
                                                              InstructionSet::generic)),
                         param_label);

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

// A random k with a random spacing and class.
void add_random_k(std::mt19937_64& rng, SieveCase& c)
{
    const std::int32_t d = random_spacing(rng);
    c.k.push_back(random_k(rng));
    c.spacings.push_back(d);
    c.residues.push_back(static_cast<std::int32_t>(rng() % d));
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
    for (int i = 0; i < count; ++i)
        add_random_k(rng, c);
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

// Odd k, spacings whose lcm is 144 or 72.
SieveCase odd_k_case(std::mt19937_64& rng, std::int64_t pmin, std::int64_t span, std::int32_t n_range)
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

TEST_P(SearchEquivalence, same_hits_on_random_odd_k_sets_and_ranges)
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
            hits += expect_same_hits(odd_k_case(rng, from, span, 200 + static_cast<std::int32_t>(rng() % 5000)),
                                     "window " + std::to_string(from) + " trial " + std::to_string(trial));
    EXPECT_GT(hits, 1000u);
}

// Random sets that contain, for each of a few primes of the window, a k
// that the prime divides at some n of the range: every window has hits.
TEST_P(SearchEquivalence, same_hits_with_planted_factors_near_2_31_and_2_32)
{
    std::mt19937_64 rng(31);
    for (std::int64_t from : {(std::int64_t{1} << 31) - 100000, (std::int64_t{1} << 32) - 100000}) {
        SieveCase c = odd_k_case(rng, from, 200000, 3000);
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

TEST_P(SearchEquivalence, same_hits_where_2_has_small_order_and_odd_k)
{
    // Each of these divides 2^e + 1, so 1*2^n+1 has the factor for every
    // n = e + 2e*j: one probe matches many stride-table entries.
    const std::pair<std::int64_t, int> primes[] = {{67280421310721, 64}, {2879347902817, 68}, {54410972897, 56}};
    std::mt19937_64 rng(8);
    for (auto [p, e] : primes) {
        ASSERT_TRUE(zud_test::divides(static_cast<std::uint64_t>(p), 1, static_cast<std::uint64_t>(e))) << p;
        for (double alpha : {0.3, 2.5}) {
            SieveCase c = odd_k_case(rng, p - 2000, 4000, 60000);
            c.alpha = alpha;
            c.k.insert(c.k.begin(), 1);
            c.residues.insert(c.residues.begin(), 0);
            c.spacings.insert(c.spacings.begin(), 2);
            c.nmin = 2;   // residue 0 of spacing 2: the even n, where k = 1 keeps its candidates
            EXPECT_GT(expect_same_hits(c, "order of 2 mod " + std::to_string(p)), 200u);
        }
    }
}

TEST_P(SearchEquivalence, same_hits_above_and_below_65536_stride_entries)
{
    std::mt19937_64 rng(5);
    for (double alpha : {0.0001, 0.001, 2.5, 40.0}) {
        SieveCase c = odd_k_case(rng, 1000, 3000, 1000000);
        c.alpha = alpha;
        EXPECT_GT(expect_same_hits(c, "alpha " + std::to_string(alpha)), 100u);
    }
}

TEST_P(SearchEquivalence, same_hits_as_the_reference_on_random_sets_and_windows)
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
            hits += expect_same_hits(c, "window " + std::to_string(from) + " trial " + std::to_string(trial));
        }
    EXPECT_GT(hits, 100u);
}

TEST_P(SearchEquivalence, planted_factors_in_every_class_are_found)
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
        hits += expect_same_hits(c, "planted from " + std::to_string(from));
    }
    // A planted n of the parity that 3 divides is no hit under the quadratic rule.
    EXPECT_GE(hits, 12u);
}

// From a few dozen k the filtered search looks each k's Z up in an index of
// the powers of A instead of scanning them: sets of 32 to 80 k, each with
// planted factors, around the index's threshold and above 2^48 and 2^52.
TEST_P(SearchEquivalence, many_k_sets_find_their_classes_through_the_index)
{
    std::mt19937_64 rng(4096);
    std::size_t hits = 0;
    const std::pair<std::int64_t, int> windows[] = {{(std::int64_t{1} << 31) - 20000, 32},
                                                    {(std::int64_t{1} << 32) - 20000, 40},
                                                    {(std::int64_t{1} << 48) - 4000, 56},
                                                    {(std::int64_t{1} << 52) - 2000, 80}};
    for (auto [from, count] : windows) {
        const std::int64_t span = from < (std::int64_t{1} << 33) ? 20000 : 4000;
        SieveCase c = random_case(rng, from, span, 100000);
        c.k.clear();
        c.spacings.clear();
        c.residues.clear();
        plant_factors(rng, c, count / 2);
        while (c.k.size() < static_cast<std::size_t>(count))
            add_random_k(rng, c);
        hits += expect_same_hits(c, std::to_string(c.k.size()) + " k from " + std::to_string(from));
    }
    EXPECT_GE(hits, 16u);
}

TEST_P(SearchEquivalence, primes_that_are_their_own_factors_near_2_40_and_2_48)
{
    // p = k*2^n+1 divides its own k*2^n+1: alone in its window, and among
    // the primes around it.
    for (bool alone : {true, false}) {
        std::mt19937_64 rng(9);
        std::size_t hits = 0;
        for (int top : {40, 48}) {
            const auto primes = zud_test::own_factor_primes(top, 8);
            EXPECT_EQ(primes.size(), 8u);
            for (const auto& own : primes) {
                const std::int32_t n_range = 100 + static_cast<std::int32_t>(rng() % 200);
                SieveCase c = alone ? odd_k_case(rng, own.p, 0, n_range) : random_case(rng, own.p - 1000, 2000, n_range);
                c.nmin = own.n - static_cast<std::int32_t>(rng() % 10) - 1;
                c.nmax = c.nmin + 50;
                c.k.push_back(static_cast<std::int32_t>(own.k));
                c.residues.push_back(0);
                c.spacings.push_back(1);
                hits += expect_same_hits(c, "own factor " + std::to_string(own.p) + (alone ? " alone" : ""));
            }
        }
        EXPECT_GE(hits, 16u);
    }
}

TEST_P(SearchEquivalence, same_hits_where_2_has_small_order)
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
            EXPECT_GT(expect_same_hits(c, "order of 2 mod " + std::to_string(p)), 200u) << e;
        }
    }
}

TEST_P(SearchEquivalence, long_ranges_with_many_strides)
{
    std::mt19937_64 rng(5);
    for (double alpha : {0.0001, 2.5, 40.0}) {
        SieveCase c = random_case(rng, (std::int64_t{1} << 32) - 1000, 2000, 1000000);
        c.alpha = alpha;
        plant_factors(rng, c, 6);
        EXPECT_GE(expect_same_hits(c, "alpha " + std::to_string(alpha)), 3u);
    }
}

TEST_P(SearchEquivalence, the_top_of_the_n_range_and_tiny_ranges)
{
    std::mt19937_64 rng(31);
    std::size_t hits = 0;
    for (std::int32_t nmax : {INT32_MAX, 2000000000, 60}) {
        for (std::int32_t width : {0, 1, 7, 3000}) {
            SieveCase c = random_case(rng, (std::int64_t{1} << 32) - 3000, 6000, 0);
            c.nmax = nmax;
            c.nmin = nmax - width < 1 ? 1 : nmax - width;
            plant_factors(rng, c, 3);
            hits += expect_same_hits(c, "nmax " + std::to_string(nmax) + " width " + std::to_string(width));
        }
    }
    EXPECT_GE(hits, 10u);
}

TEST_P(SearchEquivalence, the_worker_environment_holds_in_the_callbacks)
{
    std::mt19937_64 rng(17);
    SieveCase planted = random_case(rng, (std::int64_t{1} << 31) - 20000, 40000, 5000);
    plant_factors(rng, planted, 10);
    SieveCase small;
    small.nmin = 2;
    small.nmax = 400;
    small.pmin = 3;
    small.pmax = 5000;
    small.k = {5, 7};
    small.residues = {0, 0};
    small.spacings = {1, 1};
    for (const SieveCase& c : {planted, small}) {
        bool all_down = true;
        int calls = 0;
        SieveCase run = c;
        zud::run_sieve(
            run.nmin, run.nmax, run.pmin, run.pmax, run.k.data(), run.residues.data(), run.spacings.data(),
            static_cast<std::uint32_t>(run.k.size()),
            [&](std::int32_t, std::int32_t, std::int64_t) {
                ++calls;
                all_down = all_down && zud::x87_rounding() == zud::X87Rounding::down;
            },
            [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* b) { std::free(b); },
            [](std::int64_t) {}, run.alpha, {nullptr, {}, zud_test::plan_of(mode(), set())});
        EXPECT_GE(calls, 5);
        EXPECT_TRUE(all_down);
    }
}

}  // namespace
