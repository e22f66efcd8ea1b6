#include "run/factor_check.h"

#include <gtest/gtest.h>

#include <random>

#include "capture_sink.h"
#include "engine/mod_arith.h"
#include "planted.h"
#include "reference.h"
#include "run/run_record.h"
#include "temp_dir.h"

namespace {

TEST(VerifyFactor, true_and_false_reports)
{
    EXPECT_TRUE(zud::verify_factor(5, 2, 3));
    EXPECT_TRUE(zud::verify_factor(5, 2, 7));
    EXPECT_TRUE(zud::verify_factor(5, 8, 7));    // exponent reduced mod p - 1
    EXPECT_FALSE(zud::verify_factor(5, 6, 7));   // 6 mod 6 = 0: e = 6
    EXPECT_TRUE(zud::verify_factor(5, 5, 7));
    EXPECT_TRUE(zud::verify_factor(1000003, 3, 3));   // k > p
    EXPECT_FALSE(zud::verify_factor(1000001, 3, 3));
}

TEST(VerifyFactor, primes_on_both_sides_of_2_31_and_up_to_2_48)
{
    // Primes p = k*2^n+1 divide their own k*2^n+1; the neighbouring n do not.
    int checked_small = 0, checked_large = 0;
    for (std::int64_t from : {2147483647LL - 100000000, 2147483647LL + 1, 1LL << 40, (1LL << 48) - 5000000}) {
        for (int n : {12, 17, 24}) {
            for (std::int64_t k = (from >> n) | 1; k < INT32_MAX; k += 2) {
                const std::int64_t p = (k << n) + 1;
                if (!zud_test::is_prime(static_cast<std::uint64_t>(p)))
                    continue;
                const auto k32 = static_cast<std::int32_t>(k);
                EXPECT_TRUE(zud::verify_factor(k32, n, p)) << p;
                EXPECT_FALSE(zud::verify_factor(k32, n + 1, p)) << p;
                EXPECT_FALSE(zud::verify_factor(k32 + 2, n, p)) << p;
                if (p - 1 + n <= INT32_MAX) {   // an exponent past p, reduced mod p - 1
                    EXPECT_TRUE(zud::verify_factor(k32, static_cast<std::int32_t>(n + (p - 1)), p)) << p;
                }
                (p <= 2147483647 ? checked_small : checked_large)++;
                break;
            }
        }
    }
    EXPECT_GE(checked_small, 3);
    EXPECT_GE(checked_large, 6);
}

TEST(VerifyFactor, exact_from_2_48_to_just_below_2_62)
{
    // Planted primes k*2^m+1; the large n of a real file are reached
    // through the order of 2, which divides p - 1 = k*2^m.
    struct Place {
        std::uint64_t target;
        int m;
    };
    for (const Place& place : {Place{1ULL << 48, 18}, Place{1ULL << 50, 21}, Place{1ULL << 55, 30},
                               Place{100000000000000000ULL, 40}, Place{(1ULL << 62) - (1ULL << 40), 31},
                               Place{(1ULL << 62) - (1ULL << 58), 50}}) {
        const zud_test::Planted planted = zud_test::plant(place.target, place.m);
        ASSERT_NE(planted.p, 0u);
        const auto p = static_cast<std::int64_t>(planted.p);
        EXPECT_TRUE(zud::verify_factor(planted.k, place.m, p)) << p;
        EXPECT_FALSE(zud::verify_factor(planted.k, place.m + 1, p)) << p;
        EXPECT_FALSE(zud::verify_factor(planted.k, place.m - 1, p)) << p;
        EXPECT_FALSE(zud::verify_factor(planted.k + 2, place.m, p)) << p;
    }
    // Many true factors near 2^62, where a product rounded to 64 bits of
    // significand misses by more than p.
    int true_near_top = 0;
    for (int m = 31; m <= 53; ++m) {
        for (int gap : {6, 8}) {
            const zud_test::Planted planted = zud_test::plant((1ULL << 62) - (1ULL << (m + gap)), m);
            if (planted.p == 0)
                continue;
            EXPECT_TRUE(zud::verify_factor(planted.k, m, static_cast<std::int64_t>(planted.p))) << planted.p;
            ++true_near_top;
        }
    }
    EXPECT_GE(true_near_top, 30);
    // Random reports, nearly all false, judged as the exact reference does.
    std::mt19937_64 rng(248);
    for (int i = 0; i < 300; ++i) {
        std::uint64_t p = (1ULL << 48) + rng() % ((1ULL << 62) - (1ULL << 48));
        while (!zud_test::is_prime(p))
            ++p;
        const auto k = static_cast<std::int32_t>(rng() % 2000000000) | 1;
        const auto n = static_cast<std::int32_t>(rng() % 20000000);
        EXPECT_EQ(zud::verify_factor(k, n, static_cast<std::int64_t>(p)), zud_test::divides(p, k, n));
    }
}

TEST(VerifyFactor, leaves_the_callers_floating_point_settings)
{
    zud::set_worker_fpu_env();
    zud::verify_factor(5, 2, 2147483659);
    EXPECT_EQ(zud::x87_rounding(), zud::X87Rounding::down);
    zud::set_x87_rounding(zud::X87Rounding::nearest);
    zud::verify_factor(5, 2, 7);
    EXPECT_EQ(zud::x87_rounding(), zud::X87Rounding::nearest);
}

class FactorCallback : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", "1\n2\n20\nk=5\n2\n+3\n+3\n+4\n");   // n = 2, 5, 8, 12
        ASSERT_TRUE(zud::read_candidate_file(run.candidates).ok);
        zud::set_current_run(&run);
        zud::reset_last_shown_factor_prime();
    }
    void TearDown() override
    {
        zud::set_current_run(nullptr);
        TempDirTest::TearDown();
    }
    zud::RunRecord run;
    zud_test::CaptureSink sink;
};

TEST_F(FactorCallback, records_a_factor_once_window_line_first)
{
    run.pmin = 3;
    zud::factor_callback(0, 2, 7);
    zud::factor_callback(0, 2, 7);    // repeated report
    zud::factor_callback(0, 21, 7);   // above nmax
    zud::factor_callback(0, 3, 7);    // not a candidate
    EXPECT_EQ(sink.texts(), std::vector<std::string>{"7 | 5*2^2+1"});
    EXPECT_EQ(read_file("ZudStatus.dat"), "7 | 5*2^2+1\n");
    EXPECT_FALSE(run.candidates.is_candidate(0, 2));
}

TEST_F(FactorCallback, a_false_report_keeps_the_candidate)
{
    run.pmin = 3;
    run.candidates.bitmap(0)[0] |= 1u << (6 - 2);
    zud::factor_callback(0, 6, 7);
    EXPECT_EQ(sink.texts(), std::vector<std::string>{"#EVerification failed: 7 does not divide 5*2^6+1!"});
    EXPECT_TRUE(run.candidates.is_candidate(0, 6));
    EXPECT_FALSE(exists("ZudStatus.dat"));
}

TEST_F(FactorCallback, initial_creation_thins_the_window_lines_and_writes_no_file)
{
    run.pmin = 0;
    run.candidates.fill_all();
    zud::factor_callback(0, 2, 3);      // first of the program's lifetime: shown
    zud::factor_callback(0, 4, 3);      // 3 - 3 < 1000: not shown
    zud::factor_callback(0, 5, 23);     // 23 - 3 < 1000: not shown
    zud::factor_callback(0, 12, 6827);  // 1000 and more past 3: shown
    EXPECT_EQ(sink.texts(), (std::vector<std::string>{"3 | 5*2^2+1", "6827 | 5*2^12+1"}));
    EXPECT_EQ(zud::last_shown_factor_prime(), 6827);
    EXPECT_FALSE(run.candidates.is_candidate(0, 4));
    EXPECT_FALSE(run.candidates.is_candidate(0, 5));
    EXPECT_FALSE(exists("ZudStatus.dat"));
}

}  // namespace
