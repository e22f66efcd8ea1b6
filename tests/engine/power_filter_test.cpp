#include "engine/search/power_filter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "engine/mod_arith.h"
#include "engine/search/search_tuning.h"
#include "engine/setup.h"
#include "reference.h"

namespace {

// The quadratic rule decided from p mod k must be the rule itself, (s / p)
// = 1, for every kind of k a table is made for (1, primes, squares of
// primes, odd powers, composites of several primes, the largest tabled k),
// none for k past the bound or without a parity filter, and every class
// of p mod 8, near 2^20 (below the largest tabled k), 2^40 and 2^62.
TEST(PowerFilter, the_quadratic_rule_before_the_exponentiation_is_the_rule)
{
    const std::int32_t largest = static_cast<std::int32_t>(zud::kMostTabledK);
    std::vector<std::int32_t> ks = {1, 5, 7, 11, 25, 35, 125, 343, 1225, 5 * 7 * 11 * 13, 12343, 89123,
                                    largest - 1, largest + 3};   // both odd, neither a multiple of 3
    std::mt19937_64 random(29);
    while (ks.size() < 40) {
        const auto k = static_cast<std::int32_t>(random() % 200000) | 1;
        if (k % 3 != 0)
            ks.push_back(k);
    }
    ks.push_back(9);        // no parity filter: no table
    ks.push_back(1 << 20);   // even: no parity filter
    std::vector<std::int64_t> filters;
    for (const std::int32_t k : ks)
        filters.push_back(zud::filter_value(k, 2, k % 3 == 1 ? 2 : 1, false));   // the parity 3 leaves
    const auto count = static_cast<std::uint32_t>(ks.size());
    void* block = std::calloc(zud::power_filter_bytes(count, filters.data()), 1);
    const zud::PowerFilter* f = zud::init_power_filter(block, count, filters.data(), 1000, 1000);
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool parity = filters[i] != zud::kAlwaysActive && filters[i] != zud::kNeverActive;
        EXPECT_EQ(f->quadratic[i].k != 0, parity && ks[i] <= largest) << ks[i];
    }
    int kept = 0, tested = 0;
    // From 2^20 the largest tabled k exceed p.
    for (const std::uint64_t from : {std::uint64_t{1} << 20, std::uint64_t{1000000000000}, std::uint64_t{1} << 61}) {
        std::uint64_t p = from;
        for (int primes = 0; primes < 24; ++p) {
            if (!zud_test::is_prime(p))
                continue;
            ++primes;
            for (std::uint32_t i = 0; i < count; ++i) {
                if (f->quadratic[i].k == 0)
                    continue;
                const bool rule = zud::jacobi(filters[i], static_cast<std::int64_t>(p)) == 1;
                ASSERT_EQ(f->quadratic[i].keeps(p), rule) << "k=" << ks[i] << " p=" << p;
                kept += rule;
                ++tested;
            }
        }
    }
    // About half: a test that kept or dropped everything would be no test.
    EXPECT_GT(kept, tested / 3);
    EXPECT_LT(kept, 2 * tested / 3);
    std::free(block);
}

TEST(PowerFilter, joined_classes_are_exactly_the_common_n)
{
    // Every class r of every spacing up to 48 (the tabled join) and past it
    // (the loop), against orders e from 1 to 1,024 and past 2^16: the join
    // exists exactly when gcd(d, e) divides r - t, and is then the one
    // common n below the lcm, with the lcm as its step.
    for (std::int64_t d = 1; d <= 50; ++d)
        for (std::int64_t e : {1, 2, 3, 4, 6, 8, 9, 12, 20, 35, 64, 105, 240, 1024, 65537})
            for (std::int64_t r = 0; r < d; ++r) {
                const std::int64_t t = (e * 5 + r + 1) % e;
                std::int64_t first = -1, step = -1;
                const bool joined = zud::combine_classes(r, d, t, e, first, step);
                const std::int64_t g = std::gcd(d, e);
                ASSERT_EQ(joined, (r - t) % g == 0) << d << " " << e << " " << r;
                if (!joined)
                    continue;
                ASSERT_EQ(step, d / g * e) << d << " " << e << " " << r;
                ASSERT_TRUE(first >= 0 && first < step && first % d == r && first % e == t)
                    << d << " " << e << " " << r << " " << first;
            }
}

TEST(PowerFilter, the_modulus_divides_p_minus_1_and_stays_small)
{
    EXPECT_EQ(zud::class_modulus(61, 256), 60);
    EXPECT_EQ(zud::class_modulus(7681, 256), 256);   // 7680 = 2^9 * 3 * 5
    for (std::int64_t p : {std::int64_t{1000003}, std::int64_t{999999999989}, std::int64_t{281474976710597}})
        EXPECT_EQ((p - 1) % zud::class_modulus(p, 256), 0);
    // The greedy pick, prime by prime in ascending order up to 1021, at
    // every bound: p - 1 a power of 2, with squares of 31, with primes from
    // 37 to 1021 (1019 * 1021 together, 509 with 2^3), or prime to every
    // prime below 1024.
    std::vector<std::int64_t> primes;
    for (std::int64_t q = 2; q < 1024; ++q) {
        bool prime = true;
        for (std::int64_t r = 2; r * r <= q; ++r)
            prime = prime && q % r != 0;
        if (prime)
            primes.push_back(q);
    }
    const std::int64_t odd[] = {3, 5, 7, 11, 13, 31, 257, 65537, 2 * 961 * 3 + 1, 1024 * 2 + 1, 2 * 37 * 41 + 1,
                                10211, 12253, 1019, 4073, 12484789, 999999999989,
                                (std::int64_t{1} << 61) + 1, 2 * 3 * 5 * 7 * 11 * 13 * 17 * 19 * 23 + 1,
                                std::int64_t{29} * 29 * 31 * 31 * 2 * 1024 + 1, 4611686018427387847};
    for (std::int64_t p : odd)
        for (std::int64_t most : {1, 2, 6, 7, 256, 1024, 4096, 1 << 21}) {
            std::int64_t expected = 1;
            for (std::int64_t q : primes)
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
