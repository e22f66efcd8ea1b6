#include "engine/search/search_tuning.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engine/mont64.h"
#include "on_each_instruction_set.h"
#include "planted.h"
#include "sieve_harness.h"

namespace {

using zud_test::Hit;
using zud_test::SieveCase;

// Only this test sees a borrow that adds p where it should not (say, one
// that goes wrong only above 2^56): the product then stays congruent, in
// [p, 2p), and the searches reduce every value before they compare it (the
// probe) and build their chains with exact Shoup products, so no factor
// changes and no planted-factor run can see it (made once by hand: the
// self-test stayed exact, this test failed). A borrow dropped above 2^56
// leaves the product wrong: the self-test's planted factors above 2^56 are
// missed on every set. A dropped fix-up of the AVX2 product misses factors
// at the self-test's primes near 2^47 where 2 has a small order.
TEST(Mont64, products_powers_and_halves_agree_with_exact_arithmetic)
{
    std::mt19937_64 rng(62);
    for (std::uint64_t p : {281474976710677ULL, (1ULL << 50) + 55, 100000000000000003ULL, 4611686018427387847ULL}) {
        ASSERT_TRUE(zud_test::is_prime(p)) << p;
        const zud::Mont64 m(p);
        const std::uint64_t inverse_r = zud_test::pow_mod128(zud_test::pow_mod128(2, 64, p), p - 2, p);
        for (int i = 0; i < 2000; ++i) {
            const std::uint64_t a = rng() % p;
            const std::uint64_t b = i < 4 ? p - 1 - static_cast<std::uint64_t>(i) : rng() % p;
            // a*b/R mod p, exact and below p
            EXPECT_EQ(m.mul(a, b), zud_test::mul_mod128(zud_test::mul_mod128(a, b, p), inverse_r, p));
            EXPECT_EQ(m.from_mont(m.to_mont(a)), a);
            EXPECT_EQ(m.from_mont(m.half(m.to_mont(a))), zud_test::mul_mod128(a, (p + 1) / 2, p));
        }
        for (std::uint64_t e : {1ULL, 2ULL, 3ULL, 48ULL, 1000001ULL, 19999999ULL}) {
            const std::uint64_t half_e = zud_test::pow_mod128((p + 1) / 2, e, p);
            EXPECT_EQ(m.from_mont(m.pow_half(e)), half_e) << p << " e=" << e;
            EXPECT_EQ(m.from_mont(m.pow(m.to_mont(2), e)), zud_test::pow_mod128(2, e, p));
        }
        EXPECT_EQ(m.to_mont(~0ULL), m.to_mont(~0ULL % p));   // any 64-bit value enters
    }
}

// The exponents that must be found: those of the k's class up to nmax (of
// the parity that survives the prime 3 where the run sieves 3 over both).
bool in_class(const SieveCase& c, std::size_t i, std::int32_t n)
{
    const std::int64_t k = c.k[i];
    const bool parity = k % 3 == 0 || c.spacings[i] % 2 == 0 || c.pmin > 3 || (k % 3 == 1) == (n % 2 == 0);
    return n >= 2 && n <= c.nmax && (n - c.nmin - c.residues[i]) % c.spacings[i] == 0 && parity;
}

std::set<Hit> brute_force(const SieveCase& c)
{
    std::set<Hit> expected;
    for (std::uint64_t p : zud_test::primes_between(static_cast<std::uint64_t>(c.pmin), static_cast<std::uint64_t>(c.pmax)))
        for (std::size_t i = 0; i < c.k.size(); ++i)
            for (std::int32_t n : zud_test::exponents_dividing(p, static_cast<std::uint64_t>(c.k[i]), 2, c.nmax))
                if (in_class(c, i, n))
                    expected.insert({static_cast<std::int32_t>(i), n, static_cast<std::int64_t>(p)});
    return expected;
}

// Runs the case; every report must be a true divisor, and the reports in
// the candidates' classes must be exactly the brute-force ones.
std::set<Hit> expect_brute_force_hits(const SieveCase& c)
{
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(out.blocks_outstanding, 0);
    EXPECT_GT(out.result, c.pmax);
    std::set<Hit> found;
    for (const Hit& h : out.hits) {
        EXPECT_TRUE(zud_test::divides(static_cast<std::uint64_t>(h.p), static_cast<std::uint64_t>(c.k[h.k_index]),
                                      static_cast<std::uint64_t>(h.n)))
            << "false report " << h.p << " | " << c.k[h.k_index] << "*2^" << h.n;
        if (in_class(c, static_cast<std::size_t>(h.k_index), h.n))
            found.insert(h);
    }
    EXPECT_EQ(found, brute_force(c)) << "window from " << c.pmin;
    return found;
}

// A window around a planted prime k*2^m+1 near `target`, with random k
// beside its k.
SieveCase planted_window(std::uint64_t target, int m, std::mt19937& rng, std::int64_t& planted_p)
{
    const zud_test::Planted planted = zud_test::plant(target, m);
    planted_p = static_cast<std::int64_t>(planted.p);
    EXPECT_NE(planted.p, 0u) << "nothing to plant near " << target;
    SieveCase c;
    c.nmin = 2 + static_cast<std::int32_t>(rng() % 10);
    c.nmax = 400 + static_cast<std::int32_t>(rng() % 300);
    c.pmin = static_cast<std::int64_t>(planted.p - 1 - rng() % 3000);
    c.pmax = c.pmin + 6000;
    c.k = {planted.k};
    for (int i = 0; i < 3; ++i)
        c.k.push_back(static_cast<std::int32_t>(rng() % 2000000000) | 1);
    for (std::size_t i = 0; i < c.k.size(); ++i) {
        const std::int32_t spacing = c.k[i] % 3 == 0 ? 1 : 2;
        c.spacings.push_back(spacing);
        c.residues.push_back(spacing == 1 ? 0 : ((c.k[i] % 3 == 1) == (c.nmin % 2 == 0) ? 0 : 1));
    }
    return c;
}

// The searches above 2^48 on every instruction set.
class WideSearch : public zud_test::OnEachInstructionSet {};
ZUD_ON_EACH_INSTRUCTION_SET(WideSearch);

TEST_P(WideSearch, random_windows_above_2_48_agree_with_the_exact_reference)
{
    std::mt19937 rng(4862);
    struct Place {
        std::uint64_t target;
        int m;
    };
    const Place places[] = {{(1ULL << 48) + 17, 18},        {(1ULL << 48) + 5000000, 33},
                            {(1ULL << 50) + rng() % 1000000, 20}, {(1ULL << 55) + rng(), 40},
                            {100000000000000000ULL + rng(), 27},  {100000000000000000ULL, 45},
                            {(1ULL << 62) - (1ULL << 40), 31},    {(1ULL << 62) - (1ULL << 58), 50},
                            {(1ULL << 52) - (1ULL << 33), 31},    {(1ULL << 52) + 1000, 30}};
    for (const Place& place : places) {
        std::int64_t planted_p = 0;
        SieveCase c = planted_window(place.target, place.m, rng, planted_p);
        c.plan = plan();
        const std::set<Hit> found = expect_brute_force_hits(c);
        EXPECT_TRUE(found.count({0, place.m, planted_p})) << planted_p << " | " << c.k[0] << "*2^" << place.m << "+1";
    }
}

// Only the hits of [from, to] among those found.
std::set<Hit> within(const std::set<Hit>& hits, std::int64_t from, std::int64_t to)
{
    std::set<Hit> part;
    for (const Hit& h : hits)
        if (h.p >= from && h.p <= to)
            part.insert(h);
    return part;
}

TEST_P(WideSearch, a_range_across_2_48_finds_the_factors_on_both_sides)
{
    // k < 2^31: the closest planted primes lie some millions from 2^48.
    const zud_test::Planted below = zud_test::plant(1ULL << 48, 17, true);
    const zud_test::Planted above = zud_test::plant(1ULL << 48, 18);
    ASSERT_NE(below.p, 0u);
    ASSERT_LT(below.p, 1ULL << 48);
    ASSERT_GT(above.p, 1ULL << 48);
    SieveCase c;
    c.nmin = 2;
    c.nmax = 100;
    c.pmin = static_cast<std::int64_t>(below.p - 2000);
    c.pmax = static_cast<std::int64_t>(above.p + 2000);
    c.k = {below.k, above.k, 5, 1000001};
    c.residues = {0, 0, 0, 0};
    c.spacings = {1, 1, 1, 1};
    c.plan = plan();
    const auto out = zud_test::run_case(c);
    std::set<Hit> found;
    for (const Hit& h : out.hits) {
        EXPECT_TRUE(zud_test::divides(static_cast<std::uint64_t>(h.p), static_cast<std::uint64_t>(c.k[h.k_index]),
                                      static_cast<std::uint64_t>(h.n)));
        if (h.n <= c.nmax)
            found.insert(h);
    }
    EXPECT_TRUE(found.count({0, 17, static_cast<std::int64_t>(below.p)}));
    EXPECT_TRUE(found.count({1, 18, static_cast<std::int64_t>(above.p)}));
    // Exactly the brute-force hits in three slices: at both planted primes
    // and where the arithmetic switches.
    const std::int64_t switch_at = std::int64_t{1} << 48;
    for (std::int64_t from : {c.pmin, switch_at - 3000, c.pmax - 4000}) {
        SieveCase slice = c;
        slice.pmin = from;
        slice.pmax = from + 4000;
        EXPECT_EQ(within(found, slice.pmin, slice.pmax), brute_force(slice)) << "slice from " << from;
    }
}

TEST(WideSearchEnd, the_range_ends_at_the_first_prime_above_2_62_minus_1)
{
    SieveCase c;
    c.k = {5};
    c.residues = {0};
    c.spacings = {1};
    c.pmin = (std::int64_t{1} << 62) - 200;
    c.pmax = std::int64_t{0x7FFFFFFFFFFFFFFF};   // clamped to 2^62 - 1
    const auto out = zud_test::run_case(c);
    EXPECT_EQ(static_cast<std::uint64_t>(out.result),
              zud_test::primes_between(1ULL << 62, (1ULL << 62) + 1000).front());
    EXPECT_EQ(out.blocks_outstanding, 0);
}

}  // namespace
