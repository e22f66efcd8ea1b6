// The expected factors of a range against the factors a real sieve finds,
// and the cost of a factor and the depth where it passes a test's time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "data/candidate_set.h"
#include "engine/sieve.h"
#include "run/sieve_depth.h"

namespace {

// Sieves [p1, p2] over `set`, removing each candidate at its first factor
// there as a run does; returns the factors found.
std::size_t sieve_and_count(zud::CandidateSet& set, std::int64_t p1, std::int64_t p2)
{
    std::vector<std::int32_t> residues = set.residues;
    std::vector<std::int32_t> spacings = set.spacings;
    std::size_t found = 0;
    const std::int64_t end = zud::run_sieve(
        set.nmin, set.nmax, p1, p2, set.k_values.data(), residues.data(), spacings.data(),
        static_cast<std::uint32_t>(set.kcount),
        [&](std::int32_t k_index, std::int32_t n, std::int64_t) {
            if (static_cast<std::uint32_t>(n) <= static_cast<std::uint32_t>(set.nmax) && set.is_candidate(k_index, n)) {
                set.remove_shared(k_index, n);
                ++found;
            }
        },
        [](std::uint32_t size) { return std::calloc(size, 1); }, [](void* block) { std::free(block); },
        [](std::int64_t) {}, 2.5);
    EXPECT_GT(end, p2);
    return found;
}

struct Stretch {
    std::int64_t p1, p2;
};

// Each stretch over the file as it is: the expected count within 15 % of
// the found, with at least 100 found.
void expect_estimates_hold(const std::string& folder, const std::vector<Stretch>& stretches)
{
    for (const Stretch& s : stretches) {
        zud::CandidateSet set;
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(folder), set).ok) << folder;
        const double candidates = static_cast<double>(set.candidate_count());
        const double expected = zud::expected_factors(candidates, s.p1, s.p2);
        const std::size_t found = sieve_and_count(set, s.p1, s.p2);
        std::printf("%s [%lld, %lld]: %.0f candidates, %.1f expected, %zu found (%+.1f %%)\n", folder.c_str(),
                    static_cast<long long>(s.p1), static_cast<long long>(s.p2), candidates, expected, found,
                    100 * (expected - static_cast<double>(found)) / static_cast<double>(found));
        EXPECT_GE(found, 100u);
        EXPECT_NEAR(expected, static_cast<double>(found), 0.15 * static_cast<double>(found)) << s.p1 << ".." << s.p2;
    }
}

// examples/Zud.dat has no factor up to 3,000.
TEST(SieveDepth, expected_factors_match_the_example_file)
{
    expect_estimates_hold(std::string(ZUD_TEST_DATA) + "/../../examples", {{3001, 100000}, {3001, 10000000}, {100000, 20000000}});
}

// The benchmark file has no factor up to 100,000; 2.4 million candidates
// in classes modulo 24, at low p and near 10^9.
TEST(SieveDepth, expected_factors_match_the_benchmark_file)
{
    const std::string bench = "/work/shared/data/bench";
    if (access((bench + "/Zud.dat").c_str(), R_OK) != 0)
        GTEST_SKIP() << "the benchmark file " << bench << "/Zud.dat is not on this machine";
    expect_estimates_hold(bench, {{10000000, 10100000}, {1000000000, 1004000000}});
}

TEST(SieveDepth, a_factor_costs_more_with_depth_and_crosses_a_tests_time_once)
{
    // pi(10^6) - pi(10^5) = 78,498 - 9,592.
    EXPECT_NEAR(zud::primes_between(100000, 1000000), 68906, 0.01 * 68906);
    EXPECT_NEAR(zud::primes_between(1000000000000, 1001000000000), 36191206, 0.001 * 36191206);
    // A p-rate of 2e6 p/s at 10^12 with 2 workers: 2 ln(10^12) / 2e6 s a prime.
    EXPECT_NEAR(zud::core_seconds_per_prime(2e6, 1000000000000, 2), 2 * 27.631 / 2e6, 1e-8);
    const double c = 1e-5;
    const double n = 1e6;
    const std::int64_t p1 = 1000000000;
    const std::int64_t depth = zud::depth_where_factor_takes(3000, c, n, p1);
    const double at_depth = zud::seconds_per_factor(c, zud::expected_survivors(n, p1, depth), depth);
    EXPECT_NEAR(at_depth, 3000, 1);
    EXPECT_LT(zud::seconds_per_factor(c, zud::expected_survivors(n, p1, depth / 2), depth / 2), 3000);
    // Already past it: the depth is where the range starts.
    EXPECT_EQ(zud::depth_where_factor_takes(1e-3, c, n, p1), p1);
    // Sieving [p1, depth] at 1 core: its primes times c.
    EXPECT_NEAR(zud::range_seconds(c, p1, depth, 1), zud::primes_between(p1, depth) * c, 1e-6);
}

}  // namespace
