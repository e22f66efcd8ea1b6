// Sieve depth at the console: the estimate under the range confirmation,
// and --stop-seconds stopping a real run where a factor passes a test's time.
#include <gtest/gtest.h>

#include <string>

#include "data/candidate_set.h"
#include "status_lines.h"
#include "app/factor_cost.h"
#include "app/range_entry.h"
#include "cli/console_fixture.h"

namespace {

using zud_test::Console;

class ConsoleDepth : public Console {
protected:
    // The small file with a kept rate of `core_seconds_per_prime` for it,
    // as a run on it would have left in the profile.
    void prepare(const std::string& rate)
    {
        write_file("Zud.dat", test_data("small_Zud.dat"));
        zud::CandidateSet set;
        ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
        ASSERT_EQ(set.candidate_count(), 679u);
        write_file("zudsieve.ini", "[params]\nrate=" + zud::candidate_fingerprint(set) + " " + rate + "\n");
    }
};

TEST_F(ConsoleDepth, the_confirmation_says_what_the_range_should_give)
{
    prepare("0.0001");
    // 679 candidates sieved to 3,000 have a factor in [3e9, 4e9] with
    // probability 1 - ln 3e9 / ln 4e9, 1.31 %: 9 factors. Its 45.5 million
    // primes at 1e-4 s a prime on 2 workers: 38 minutes.
    write_file("in.txt", "3\n4\nn\n");
    EXPECT_EQ(wait_exit(start("in.txt", {"--workers", "2"})), 1);
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("You are sieving from p=3000000000 (3 billion) to p=4000000000 (4 billion) - are you "
                       "sure?\nAbout 9 factors expected; about 38 minutes with 2 workers\n[y/N] "),
              std::string::npos)
        << out;
}

// A factor at p costs c * p / survivors seconds of one core; with the
// kept c = 0.01 s a prime and 679 candidates sieved to 3,001 it passes 300 s
// where p ln p = 300 * 679 * ln 3001 / 0.01, at p = 10,111,865.
TEST_F(ConsoleDepth, stop_seconds_stops_where_a_factor_passes_the_tests_time)
{
    prepare("0.01");
    const int status = wait_exit_within(
        start("/dev/null", {"--workers", "1", "--range", "3001", "50000000", "--stop-seconds", "300"}), 60);
    EXPECT_EQ(status, 0);
    const std::string out = read_file("out.txt");
    const std::string recorded = read_file("ZudStatus.dat");
    EXPECT_EQ(recorded.find("Done"), std::string::npos) << recorded;
    const std::size_t last = recorded.rfind("pmin=");
    ASSERT_NE(last, std::string::npos);
    const std::int64_t resume = std::stoll(recorded.substr(last + 5)) + 1;
    // The run checks as its resume point passes each multiple of 65,536,
    // which moves a chunk (a fifth of a second of sieving) at a time.
    EXPECT_GE(resume, 10111865);
    EXPECT_LE(resume, 15000000);
    const std::string said = "Stopped at p=" + zud::with_commas(resume) + ": a factor now takes about ";
    const std::size_t at = out.find(said);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_NE(out.find(" s, longer than the 300 s a test takes.", at), std::string::npos) << out;
    // Resumed without the option, the range goes on from there to Done.
    EXPECT_EQ(wait_exit_within(start(), 60), 0);
    EXPECT_NE(read_file("ZudStatus.dat").find("Done\n"), std::string::npos);
}

}  // namespace
