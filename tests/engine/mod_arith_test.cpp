#include "engine/mod_arith.h"

#include <gtest/gtest.h>

#include <random>

#include "reference.h"

namespace {

using zud_test::mul_mod128;

class ModArith : public ::testing::Test {
protected:
    void SetUp() override { zud::set_worker_fpu_env(); }
    std::mt19937_64 rng{12345};
};

TEST_F(ModArith, products_are_congruent_and_below_2p)
{
    const std::int64_t primes[] = {3, 7, 65537, 2147483647, 4294967311, 999999999989, 281474976710597};
    for (std::int64_t p : primes) {
        const long double recip = zud::reciprocal_of(p);
        for (int i = 0; i < 20000; ++i) {
            // Operands as loose residues in [0, 2p), and the edge p - 1.
            std::int64_t a = i == 0 ? p - 1 : static_cast<std::int64_t>(rng() % (2 * p));
            std::int64_t b = i == 0 ? p - 1 : static_cast<std::int64_t>(rng() % (2 * p));
            const auto expect = mul_mod128(a, b, p);
            const std::int64_t r = zud::mul_mod(a, b, p, recip);
            ASSERT_GE(r, 0);
            ASSERT_LT(r, 2 * p);
            ASSERT_EQ(static_cast<std::uint64_t>(r) % p, expect) << a << " * " << b << " mod " << p;
            const std::int64_t s = zud::sqr_mod(a, p, recip);
            ASSERT_EQ(static_cast<std::uint64_t>(s) % p, mul_mod128(a, a, p));
            ASSERT_LT(s, 2 * p);
            const long double c = static_cast<long double>(b) * recip;
            const std::int64_t f = zud::mul_mod_fixed(a, b, c, p);
            ASSERT_GE(f, 0);
            ASSERT_LT(f, 2 * p);
            ASSERT_EQ(static_cast<std::uint64_t>(f) % p, expect);
            const std::int64_t big = static_cast<std::int64_t>(rng() >> 3);   // below 2^61
            const std::int64_t m = zud::reduce_mod(big, p, recip);
            ASSERT_GE(m, 0);
            ASSERT_LT(m, 2 * p);
            ASSERT_EQ(static_cast<std::uint64_t>(m) % p, static_cast<std::uint64_t>(big) % p);
            ASSERT_EQ(zud::normalize_mod(r, p), static_cast<std::int64_t>(expect));
        }
    }
}

TEST_F(ModArith, half_and_powers_of_one_half)
{
    EXPECT_EQ(zud::pow_half(1, 3, zud::reciprocal_of(3)), 2);
    EXPECT_EQ(zud::pow_half(5, 3, zud::reciprocal_of(3)) % 3, 2);
    EXPECT_EQ(zud::pow_half(6, 3, zud::reciprocal_of(3)) % 3, 1);
    for (std::int64_t p : {5LL, 1000003LL, 4294967311LL, 281474976710597LL}) {
        const long double recip = zud::reciprocal_of(p);
        EXPECT_EQ(zud::pow_half(1, p, recip), (p + 1) / 2);
        for (std::int64_t e : {2LL, 3LL, 17LL, 1000LL, 65536LL, 2147483647LL}) {
            const std::int64_t x = zud::pow_half(e, p, recip);
            // x * 2^e == 1 (mod p)
            EXPECT_EQ(mul_mod128(x % p, zud_test::pow_mod128(2, e, p), p), 1u) << "e=" << e << " p=" << p;
        }
        for (int i = 0; i < 1000; ++i) {
            const std::int64_t a = static_cast<std::int64_t>(rng() % (2 * p));
            const std::int64_t h = zud::half_mod(a, p);
            EXPECT_EQ(mul_mod128(h, 2, p), static_cast<std::uint64_t>(a) % p);
        }
    }
}

int legendre(std::int64_t s, std::int64_t p)
{
    const std::int64_t a = ((s % p) + p) % p;
    if (a == 0)
        return 0;
    return zud_test::pow_mod128(a, (p - 1) / 2, p) == 1 ? 1 : -1;
}

TEST_F(ModArith, jacobi_matches_euler_criterion)
{
    for (std::int64_t p : {5LL, 7LL, 11LL, 13LL, 1000003LL, 2147483659LL, 4294967311LL, 281474976710597LL}) {
        for (std::int64_t k = 1; k < 400; k += 2) {
            if (k % 3 == 0)
                continue;
            const std::int64_t s = -(k % 3) * k;
            EXPECT_EQ(zud::jacobi(s, p), legendre(s, p)) << "s=" << s << " p=" << p;
        }
        const std::int64_t big_k = 1073741821;   // -2k is the most negative 32-bit filter value
        EXPECT_EQ(zud::jacobi(-2 * big_k, p), legendre(-2 * big_k, p));
    }
    EXPECT_EQ(zud::jacobi(-35, 7), 0);
}

TEST_F(ModArith, gcd_and_the_lcm_fold)
{
    EXPECT_EQ(zud::gcd(48, 18), 6);
    EXPECT_EQ(zud::gcd(907200, 24), 24);
    std::int32_t m = 16;
    for (std::int32_t d : {24, 6})
        m = m / zud::gcd(m, d) * d;
    EXPECT_EQ(m, 48);
}

TEST_F(ModArith, factor_check_reductions_are_exact)
{
    for (std::int64_t p : {3LL, 7LL, 65537LL, 2147483647LL}) {
        const long double recip = zud::reciprocal_of(p);
        for (int i = 0; i < 5000; ++i) {
            const std::int64_t a = static_cast<std::int64_t>(rng() % (4 * p));
            const std::int64_t b = static_cast<std::int64_t>(rng() % p);
            const std::int64_t r = zud::mul_mod_small(a, b, p, recip);
            ASSERT_EQ(static_cast<std::uint64_t>(r) % p, mul_mod128(a % p, b, p));
            ASSERT_LE(r, p);
        }
    }
    for (std::int64_t p : {2147483659LL, 4294967311LL, 281474976710597LL}) {
        const long double recip = zud::reciprocal_of(p);
        for (int i = 0; i < 5000; ++i) {
            const std::int64_t a = static_cast<std::int64_t>(rng() % p);
            const std::int64_t b = static_cast<std::int64_t>(rng() % p);
            ASSERT_EQ(static_cast<std::uint64_t>(zud::mul_mod_large(a, b, p, recip)), mul_mod128(a, b, p));
        }
        EXPECT_EQ(zud::x87_rounding(), zud::X87Rounding::down);
    }
}

}  // namespace
