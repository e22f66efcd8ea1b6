#include "run/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

#include "data/status_file.h"
#include "engine/prime_source.h"
#include "engine/sieve.h"
#include "capture_sink.h"
#include "reference.h"
#include "run/factor_check.h"
#include "run/progress.h"
#include "run_harness.h"
#include "temp_dir.h"

namespace {

// Factor lines a whole run must write: each remaining (k, n) at the
// smallest prime of the range that divides k*2^n+1.
std::vector<std::string> expected_factor_lines(const zud::CandidateSet& set, std::int64_t pmin, std::int64_t pmax)
{
    std::vector<std::string> lines;
    zud::CandidateSet left = set;
    for (std::uint64_t p : zud_test::primes_below(static_cast<std::uint64_t>(pmax) + 1)) {
        if (static_cast<std::int64_t>(p) < pmin || p < 3)
            continue;
        std::vector<std::uint64_t> power(static_cast<std::size_t>(set.nmax) + 1);
        power[0] = 1 % p;
        for (std::size_t n = 1; n < power.size(); ++n)
            power[n] = power[n - 1] * 2 % p;
        std::vector<std::string> of_p;
        for (std::int32_t i = 0; i < set.kcount; ++i)
            for (std::int32_t n = set.nmin; n <= set.nmax; ++n)
                if (left.is_candidate(i, n) &&
                    (static_cast<std::uint64_t>(set.k_values[i]) % p * power[n] + 1) % p == 0) {
                    const auto d = static_cast<std::uint32_t>(n - set.nmin);
                    left.bitmap(i)[d / 32] &= ~(1u << (d % 32));
                    of_p.push_back(std::to_string(p) + " | " + std::to_string(set.k_values[i]) + "*2^" +
                                   std::to_string(n) + "+1");
                }
        lines.insert(lines.end(), of_p.begin(), of_p.end());
    }
    return lines;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class Worker : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
        ASSERT_TRUE(zud::read_candidate_file(run.candidates).ok);
        original = run.candidates;
        zud::reset_last_shown_factor_prime();
        zud::stop_flag = 0;
    }
    void TearDown() override
    {
        zud::stop_flag = 0;
        zud::set_checkpoint_clock(nullptr);
        zud::set_file_opener(nullptr);
        TempDirTest::TearDown();
    }
    zud::RunRecord run;
    zud::CandidateSet original;
};

TEST_F(Worker, a_whole_range_sends_its_messages_and_writes_the_brute_force_factors)
{
    run.pmin = 3001;
    run.pmax = 400000;
    ASSERT_TRUE(zud::write_range_header(run.pmax, run.pmin).ok);
    const zud_test::RunLog log = zud_test::run_worker(run);

    ASSERT_GE(log.messages.size(), 3u);
    EXPECT_EQ(log.messages.front(), "#I");
    EXPECT_EQ(log.messages.back(), "#CDone");
    std::vector<std::string> progress, factors;
    for (std::size_t i = 1; i + 1 < log.messages.size(); ++i)
        (log.messages[i].rfind("#S", 0) == 0 ? progress : factors).push_back(log.messages[i]);
    // One progress text at each crossing of a multiple of 65,536.
    std::vector<std::string> expected_progress;
    zud::PrimeSource primes;
    primes.init();
    primes.skip_to(65536);
    for (std::int64_t edge = 65536; edge <= run.pmax; edge += 65536) {
        primes.skip_to(static_cast<std::uint64_t>(edge));
        const auto p = static_cast<std::int64_t>(primes.next());
        if (p <= run.pmax)
            expected_progress.push_back(zud::progress_text(p));
    }
    EXPECT_EQ(progress, expected_progress);

    const auto expected = expected_factor_lines(original, run.pmin, run.pmax);
    EXPECT_GT(expected.size(), 50u);
    EXPECT_EQ(sorted(factors), sorted(expected));
    const auto status = lines_of(read_file("ZudStatus.dat"));
    ASSERT_EQ(status.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(status.begin() + 2, status.end()), factors);
}

TEST_F(Worker, a_stop_ends_with_the_prime_not_sieved_and_a_restart_finds_the_rest)
{
    run.pmin = 3001;
    run.pmax = 400000;
    std::int64_t stopped_at = 0;
    const zud_test::RunLog first = zud_test::run_worker(run, [](const std::string& text) {
        if (text.rfind("#SSieved up to 1", 0) == 0)   // 131,000 and beyond
            zud::stop_flag = 1;
    });
    ASSERT_EQ(first.messages.back().rfind("#s", 0), 0u);
    stopped_at = std::stoll(first.messages.back().substr(2));
    EXPECT_GT(stopped_at, 131072);
    EXPECT_LT(stopped_at, 140000);
    EXPECT_TRUE(zud_test::is_prime(static_cast<std::uint64_t>(stopped_at)));

    zud::stop_flag = 0;
    zud::RunRecord rest;
    ASSERT_TRUE(zud::read_candidate_file(rest.candidates).ok);
    rest.pmin = stopped_at;
    rest.pmax = run.pmax;
    zud_test::run_worker(rest);
    // The restart reads the same candidate file, so its part is that of a
    // fresh run from the stop.
    auto expected = expected_factor_lines(original, 3001, stopped_at - 1);
    const auto second = expected_factor_lines(original, stopped_at, 400000);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sorted(lines_of(read_file("ZudStatus.dat"))), sorted(expected));
}

int g_refused_opens = 0;

std::FILE* status_busy_for_a_while(const char* path, const char* mode)
{
    if (std::strcmp(path, "ZudStatus.dat") == 0 && std::strcmp(mode, "a") == 0 && g_refused_opens < 20) {
        ++g_refused_opens;
        return nullptr;
    }
    return std::fopen(path, mode);
}

TEST_F(Worker, a_status_file_that_cannot_be_opened_stalls_the_worker_without_loss)
{
    run.pmin = 3001;
    run.pmax = 60000;
    g_refused_opens = 0;
    zud::set_file_opener(status_busy_for_a_while);
    zud_test::run_worker(run);
    zud::set_file_opener(nullptr);
    EXPECT_EQ(g_refused_opens, 20);
    EXPECT_EQ(sorted(lines_of(read_file("ZudStatus.dat"))), sorted(expected_factor_lines(original, 3001, 60000)));
}

TEST_F(Worker, a_failed_set_up_reports_a_stop_at_zero)
{
    run.pmin = 5;
    run.pmax = 100;
    run.candidates.spacings[0] = 143;
    const zud_test::RunLog log = zud_test::run_worker(run);
    EXPECT_EQ(log.messages, (std::vector<std::string>{"Cannot reduce gcd value of 143", "#s0"}));
}

TEST(ProgressText, scales_and_cuts_the_figure)
{
    EXPECT_EQ(zud::progress_text(999983), "#SSieved up to 999983");
    EXPECT_EQ(zud::progress_text(1000003), "#SSieved up to 1000003 (1.0 million)");
    EXPECT_EQ(zud::progress_text(3100007), "#SSieved up to 3100007 (3.1 million)");
    EXPECT_EQ(zud::progress_text(1299997), "#SSieved up to 1299997 (1.2 million)");   // cut, not rounded
    EXPECT_EQ(zud::progress_text(1000000007), "#SSieved up to 1000000007 (1.0 billion)");
    EXPECT_EQ(zud::progress_text(999999999989), "#SSieved up to 999999999989 (999.9 billion)");
    EXPECT_EQ(zud::progress_text(1000000000039), "#SSieved up to 1000000000039 (1.0 trillion)");
    EXPECT_EQ(zud::progress_text(281474976710597), "#SSieved up to 281474976710597 (281.4 trillion)");
    EXPECT_EQ(zud::progress_text(4611686018427387847), "#SSieved up to 4611686018427387847 (4611686.0 trillion)");
}

std::atomic<std::int64_t> g_now{1000000};

std::int64_t test_clock()
{
    return g_now.load();
}

TEST_F(Worker, the_hourly_checkpoint_follows_the_last_status_write)
{
    zud_test::CaptureSink sink;
    zud::set_checkpoint_clock(test_clock);
    g_now = 1000000;
    zud::mark_checkpoint();
    g_now += 3600;
    zud::progress_callback(1000003);   // exactly an hour: nothing
    EXPECT_FALSE(exists("ZudStatus.dat"));
    g_now += 1;
    zud::progress_callback(1065601);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=1065601\n");
    EXPECT_EQ(zud::checkpoint_time(), g_now.load());

    // A factor line resets the hour.
    zud::set_current_run(&run);
    run.pmin = 3001;
    g_now += 3000;
    zud::factor_callback(0, 1549, 3041);   // 3041 | 5*2^1549+1
    zud::set_current_run(nullptr);
    g_now += 3000;
    zud::progress_callback(1131071);       // 100 minutes after the last, 50 after the factor
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=1065601\n3041 | 5*2^1549+1\n");
    g_now += 601;
    zud::progress_callback(1196609);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=1065601\n3041 | 5*2^1549+1\npmin=1196609\n");
}

}  // namespace
