// The console front end as a user runs it: the real program in a
// directory of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "reference.h"
#include "status_lines.h"
#include "cli/console_fixture.h"

namespace {

using zud_test::Console;
using zud_test::factor_lines;

// Each remaining (k, n) of the small file with its smallest prime factor
// in [pmin, pmax].
std::set<std::string> brute_force(const std::string& candidate_file, std::uint64_t pmin, std::uint64_t pmax)
{
    struct Candidate {
        std::uint64_t k, n;
    };
    std::vector<Candidate> left;
    std::istringstream file(candidate_file);
    std::string line;
    std::uint64_t k = 0, running = 0;
    for (int i = 0; std::getline(file, line); ++i) {
        if (i < 3)
            continue;
        if (line.rfind("k=", 0) == 0) {
            k = std::stoull(line.substr(2));
            continue;
        }
        running = line[0] == '+' ? running + std::stoull(line.substr(1)) : std::stoull(line);
        left.push_back({k, running});
    }
    std::set<std::string> lines;
    for (std::uint64_t p : zud_test::primes_below(pmax + 1)) {
        if (p < pmin)
            continue;
        for (auto it = left.begin(); it != left.end();) {
            if (zud_test::divides(p, it->k, it->n)) {
                lines.insert(std::to_string(p) + " | " + std::to_string(it->k) + "*2^" + std::to_string(it->n) + "+1");
                it = left.erase(it);
            } else {
                ++it;
            }
        }
    }
    return lines;
}

TEST_F(Console, a_recorded_range_runs_to_done_with_the_brute_force_factors)
{
    write_file("Zud.dat", test_data("small_Zud.dat"));
    write_file("ZudStatus.dat", "pmax=300000\npmin=3001\n");
    EXPECT_EQ(run(), 0) << read_file("out.txt");
    const std::string status = read_file("ZudStatus.dat");
    const auto lines = factor_lines(status);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), brute_force(test_data("small_Zud.dat"), 3001, 300000));
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("p=3,001 to p=300,000"), std::string::npos);
    EXPECT_NE(out.find(lines.front()), std::string::npos);
    // The console copies nothing and cuts nothing: the results are in the
    // file, in this folder.
    EXPECT_NE(out.find("The results are in the file 'ZudStatus.dat': please send its text to the Zud team.\n\n" +
                       dir_ + "\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("truncated"), std::string::npos);

    // Done: the question's default (No) refuses a new range.
    EXPECT_EQ(run(), 1);
    EXPECT_NE(read_file("out.txt").find("Please send the results to the Zud team before starting a new sieve."),
              std::string::npos);
}

TEST_F(Console, a_new_range_is_asked_for_in_billions_and_confirmed)
{
    write_file("Zud.dat", test_data("small_Zud.dat"));
    // Each end refused as soon as it is typed (not whole billions), then the
    // wrong order, not confirmed, confirmed.
    write_file("answers.txt", "1e3\n7\n3\n3\n1,5\n4\n\n3\n4\ny\n");
    const pid_t pid = start("answers.txt");
    wait_for_sieving(300);
    kill(pid, SIGINT);
    EXPECT_EQ(wait_exit(pid), 0);
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("the lower end is not accepted: whole billions only: no exponent"), std::string::npos) << out;
    EXPECT_NE(out.find("the upper end is not accepted: whole billions only: no . or ,"), std::string::npos) << out;
    EXPECT_NE(out.find("You are sieving from p=3000000000 (3 billion) to p=4000000000 (4 billion) - are you sure?"),
              std::string::npos)
        << out;
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.substr(0, 32), "pmax=4000000000\npmin=3000000000\n");
    EXPECT_EQ(status.substr(status.rfind('\n', status.size() - 2) + 1, 5), "pmin=");
}

TEST_F(Console, no_candidate_file_or_a_cancelled_range_exits_non_zero)
{
    EXPECT_EQ(run(), 1);
    EXPECT_NE(read_file("out.txt").find("The file 'Zud.dat' cannot be found in the folder '" + dir_ + "'!"),
              std::string::npos)
        << read_file("out.txt");
    write_file("Zud.dat", test_data("small_Zud.dat"));
    EXPECT_EQ(run(), 1);   // end of input cancels the range dialog
    EXPECT_FALSE(exists("ZudStatus.dat"));
}

TEST_F(Console, ctrl_c_records_a_resume_point_from_which_a_second_run_completes)
{
    write_file("Zud.dat", test_data("small_Zud.dat"));
    write_file("ZudStatus.dat", "pmax=30000000\npmin=3001\n");
    const pid_t pid = start();
    // Once a factor is shown, however slowly the program runs (a sanitizer
    // build), the resume point lies above the range's start.
    ASSERT_TRUE(wait_for_output(" | "));
    kill(pid, SIGINT);
    EXPECT_EQ(wait_exit(pid), 0);
    const std::string stopped = read_file("ZudStatus.dat");
    const std::size_t last = stopped.rfind("pmin=");
    ASSERT_GT(last, 20u) << stopped;
    const std::int64_t resume = std::stoll(stopped.substr(last + 5));
    EXPECT_GT(resume, 3001);
    EXPECT_LT(resume, 30000000);
    EXPECT_EQ(stopped.find("Done"), std::string::npos);

    EXPECT_EQ(run(), 0);
    const std::string interrupted = read_file("ZudStatus.dat");
    EXPECT_EQ(interrupted.substr(interrupted.size() - 5), "Done\n");

    // The same range without interruption.
    std::remove("ZudStatus.dat");
    write_file("ZudStatus.dat", "pmax=30000000\npmin=3001\n");
    EXPECT_EQ(run(), 0);
    // A resume leaves out what the range has recorded: the same factors as
    // one uninterrupted run, in the same order.
    EXPECT_EQ(factor_lines(interrupted), factor_lines(read_file("ZudStatus.dat")));
}

}  // namespace
