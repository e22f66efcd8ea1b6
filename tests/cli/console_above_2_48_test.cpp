// The console program on ranges above 2^48: planted factors end to end,
// and the range questions at the top of the range.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "cli/console_fixture.h"
#include "planted.h"
#include "status_lines.h"

namespace {

using zud_test::factor_lines;
using zud_test::Planted;

class DeepConsole : public zud_test::Console {
protected:
    // Sieves [pmin, pmax] from a fresh status file; the factor lines found.
    std::set<std::string> sieve(std::uint64_t pmin, std::uint64_t pmax)
    {
        std::remove("ZudStatus.dat");
        write_file("ZudStatus.dat", "pmax=" + std::to_string(pmax) + "\npmin=" + std::to_string(pmin) + "\n");
        EXPECT_EQ(wait_exit(start()), 0) << read_file("out.txt");
        const std::string status = read_file("ZudStatus.dat");
        EXPECT_EQ(status.substr(status.size() - 5), "Done\n") << status;
        const auto lines = factor_lines(status);
        return {lines.begin(), lines.end()};
    }
};

constexpr std::int32_t kNmin = 16;
constexpr std::int32_t kNmax = 3000;

// A candidate file of the given k, each with every n of [kNmin, kNmax] of
// the parity that 3 leaves (all n for a multiple of 3).
std::string candidate_file(const std::vector<std::int32_t>& ks, std::map<std::int32_t, std::set<std::int32_t>>& left)
{
    std::string text = std::to_string(ks.size()) + "\n" + std::to_string(kNmin) + "\n" + std::to_string(kNmax) + "\n";
    for (std::int32_t k : ks) {
        text += "k=" + std::to_string(k) + "\n";
        std::int32_t previous = 0;
        for (std::int32_t n = kNmin; n <= kNmax; ++n) {
            if (k % 3 != 0 && (k % 3 == 1) != (n % 2 == 0))
                continue;
            text += previous == 0 ? std::to_string(n) + "\n" : "+" + std::to_string(n - previous) + "\n";
            previous = n;
            left[k].insert(n);
        }
    }
    return text;
}

std::string line(std::uint64_t p, std::int64_t k, std::int64_t n)
{
    return std::to_string(p) + " | " + std::to_string(k) + "*2^" + std::to_string(n) + "+1";
}

// The factor lines an exact search of [pmin, pmax] gives: each (k, n) with
// its smallest prime factor in the range; found (k, n) leave the set.
std::set<std::string> exact_lines(std::map<std::int32_t, std::set<std::int32_t>>& left, std::uint64_t pmin,
                                  std::uint64_t pmax)
{
    std::set<std::string> lines;
    for (std::uint64_t p : zud_test::primes_between(pmin, pmax))
        for (auto& [k, ns] : left)
            for (std::int32_t n : zud_test::exponents_dividing(p, static_cast<std::uint64_t>(k), kNmin, kNmax))
                if (ns.erase(n) != 0)
                    lines.insert(line(p, k, n));
    return lines;
}

void expect_true_factors(const std::set<std::string>& lines)
{
    for (const std::string& text : lines) {
        const std::uint64_t p = std::stoull(text);
        const std::uint64_t k = std::stoull(text.substr(text.find("| ") + 2));
        const std::uint64_t n = std::stoull(text.substr(text.find('^') + 1));
        EXPECT_TRUE(zud_test::divides(p, k, n)) << "false factor " << text;
    }
}

TEST_F(DeepConsole, planted_factors_from_2_48_to_just_below_2_62_are_found_and_nothing_false)
{
    struct Place {
        std::uint64_t target;
        int m;
    };
    const Place places[] = {{(1ULL << 48) + 1, 18},           {(1ULL << 50) + 12345, 20},
                            {(1ULL << 55) + 987654321, 30},   {100000000000000000ULL, 40},
                            {(1ULL << 62) - (1ULL << 40), 31}, {(1ULL << 62) - (1ULL << 58), 50}};
    std::vector<Planted> planted;
    std::vector<std::int32_t> ks = {5, 1000001};
    for (const Place& place : places) {
        planted.push_back(zud_test::plant(place.target, place.m));
        ASSERT_NE(planted.back().p, 0u) << place.target;
        ks.push_back(planted.back().k);
    }
    std::map<std::int32_t, std::set<std::int32_t>> left;
    write_file("Zud.dat", candidate_file(ks, left));
    for (std::size_t i = 0; i < planted.size(); ++i) {
        const std::uint64_t pmin = planted[i].p - 2500;
        const std::uint64_t pmax = planted[i].p + 2500;
        const std::set<std::string> found = sieve(pmin, pmax);
        EXPECT_TRUE(found.count(line(planted[i].p, planted[i].k, places[i].m))) << "planted near " << places[i].target;
        EXPECT_EQ(found, exact_lines(left, pmin, pmax)) << "range from " << pmin;
        expect_true_factors(found);
    }
}

TEST_F(DeepConsole, a_range_across_2_48_finds_the_factors_on_both_sides)
{
    // k < 2^31 puts the closest planted primes some millions from 2^48.
    const Planted below = zud_test::plant(1ULL << 48, 17, true);
    const Planted above = zud_test::plant(1ULL << 48, 18);
    ASSERT_NE(below.p, 0u);
    std::map<std::int32_t, std::set<std::int32_t>> left;
    write_file("Zud.dat", candidate_file({below.k, above.k, 5}, left));
    const std::set<std::string> found = sieve(below.p - 1000, above.p + 1000);
    EXPECT_TRUE(found.count(line(below.p, below.k, 17)));
    EXPECT_TRUE(found.count(line(above.p, above.k, 18)));
    expect_true_factors(found);
}

TEST_F(DeepConsole, the_range_questions_take_4611686018_billion_and_refuse_one_more)
{
    write_file("Zud.dat", test_data("small_Zud.dat"));
    write_file("answers.txt", "4611686017\n4611686019\n4611686017\n4611686018\ny\n");
    const pid_t pid = start("answers.txt");
    for (int i = 0; i < 3000 && read_file("out.txt").find("Sieving...") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGINT);
    EXPECT_EQ(wait_exit(pid), 0);
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("(the upper end is not accepted"), std::string::npos) << out;
    EXPECT_NE(out.find("You are sieving from p=4611686017000000000 (4611686.017 trillion) to p=4611686018000000000 "
                       "(4611686.018 trillion) - are you sure?"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("p=4,611,686,017,000,000,000 to p=4,611,686,018,000,000,000"), std::string::npos);
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.substr(0, 50), "pmax=4611686018000000000\npmin=4611686017000000000\n");
    // The resume point the stop recorded lies inside the range.
    const std::int64_t resume = std::stoll(status.substr(status.rfind("pmin=") + 5));
    EXPECT_GE(resume, 4611686017000000000);
    EXPECT_LE(resume, 4611686018000000000);
}

}  // namespace
