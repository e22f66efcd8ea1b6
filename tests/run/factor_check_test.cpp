#include "run/factor_check.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "engine/mod_arith.h"
#include "planted.h"
#include "reference.h"
#include "run/run_record.h"
#include "run_harness.h"
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

class HitsInOrder : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", "1\n2\n20\nk=5\n2\n+3\n+3\n+4\n");   // n = 2, 5, 8, 12
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
    }
    // The hits one worker lists for one chunk.
    zud::ChunkResult screened(std::int64_t lo, std::int64_t hi,
                              const std::vector<std::tuple<std::int32_t, std::int64_t>>& reports)
    {
        zud::ChunkResult chunk{lo, hi, hi + 1, {}};
        zud::HitScreen screen(run, chunk.hits);
        for (const auto& [n, p] : reports)
            screen(0, n, p);
        return chunk;
    }
    zud::RunRecord run;
};

TEST_F(HitsInOrder, a_factor_is_recorded_once_and_out_of_range_reports_are_dropped)
{
    run.pmin = 3;
    // The same (k, n) twice, n above nmax, n not a candidate.
    const auto chunk = screened(3, 10, {{2, 7}, {2, 7}, {21, 7}, {3, 7}});
    EXPECT_EQ(chunk.hits.size(), 2u);
    EXPECT_TRUE(run.candidates.is_candidate(0, 2));   // the committer clears it, in order
    zud::CommitBatch batch;
    zud::commit_chunk(run, chunk, batch);
    EXPECT_EQ(batch.text, "7 | 5*2^2+1\n");
    EXPECT_EQ(zud_test::texts_of(batch.shown), std::vector<std::string>{"7 | 5*2^2+1"});
    EXPECT_FALSE(run.candidates.is_candidate(0, 2));
    EXPECT_FALSE(batch.failed);
}

TEST_F(HitsInOrder, the_lower_prime_wins_whichever_chunk_finishes_first)
{
    run.pmin = 3;
    // 3 | 5*2^2+1 and 7 | 5*2^2+1: chunks sieved side by side.
    const auto high = screened(5, 10, {{2, 7}});
    const auto low = screened(3, 4, {{2, 3}});
    zud::CommitBatch batch;
    zud::commit_chunk(run, low, batch);
    zud::commit_chunk(run, high, batch);
    EXPECT_EQ(batch.text, "3 | 5*2^2+1\n");
}

TEST_F(HitsInOrder, a_false_report_ends_the_commit_unless_a_lower_prime_removed_the_n)
{
    run.pmin = 3;
    run.candidates.bitmap(0)[0] |= 1u << (6 - 2);
    const auto chunk = screened(5, 10, {{2, 7}, {6, 7}, {5, 7}});
    zud::CommitBatch batch;
    zud::commit_chunk(run, chunk, batch);
    EXPECT_EQ(batch.text, "7 | 5*2^2+1\n");
    ASSERT_TRUE(batch.failed);
    EXPECT_EQ(zud_test::text_of(batch.failure), "7 | 5*2^6+1");
    EXPECT_TRUE(run.candidates.is_candidate(0, 6));
    EXPECT_TRUE(run.candidates.is_candidate(0, 5));

    // Removed by a lower prime first: dropped, as one worker would.
    zud::CommitBatch later;
    const auto d = 6u - 2u;
    run.candidates.bitmap(0)[0] &= ~(1u << d);
    zud::commit_chunk(run, chunk, later);
    EXPECT_FALSE(later.failed);
}

TEST_F(HitsInOrder, initial_creation_clears_at_once_and_thins_the_window_lines)
{
    run.pmin = 0;
    run.candidates.fill_all();
    const auto chunk = screened(0, 7000, {{2, 3}, {4, 3}, {5, 23}, {12, 6827}});
    // The worker removed every n; it lists the first new factor of each prime.
    EXPECT_FALSE(run.candidates.is_candidate(0, 4));
    EXPECT_FALSE(run.candidates.is_candidate(0, 5));
    EXPECT_EQ(chunk.hits.size(), 3u);
    zud::CommitBatch batch;
    zud::commit_chunk(run, chunk, batch);
    EXPECT_TRUE(batch.text.empty());
    EXPECT_EQ(zud_test::texts_of(batch.shown), (std::vector<std::string>{"3 | 5*2^2+1", "6827 | 5*2^12+1"}));
    EXPECT_EQ(run.last_shown_factor_p, 6827);
}

TEST(FirstPrime, from_any_start)
{
    EXPECT_EQ(zud::first_prime_from(0), 2);
    EXPECT_EQ(zud::first_prime_from(3001), 3001);
    EXPECT_EQ(zud::first_prime_from(3002), 3011);
    EXPECT_EQ(zud::first_prime_from((std::int64_t{1} << 48) - 70), (std::int64_t{1} << 48) - 65);
    EXPECT_EQ(zud::first_prime_from((std::int64_t{1} << 48) - 64), (std::int64_t{1} << 48) - 59);
    EXPECT_EQ(zud::first_prime_from((std::int64_t{1} << 62) - 100), (std::int64_t{1} << 62) - 87);
}

}  // namespace
