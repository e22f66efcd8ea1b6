#include "run/factor_check.h"

#include <gtest/gtest.h>


#include "capture_sink.h"
#include "engine/mod_arith.h"
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
