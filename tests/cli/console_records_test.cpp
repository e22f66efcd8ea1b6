// A status file edited by hand or by a script, run through the program as a
// user would: no line that the range did not record may end it early, move
// its resume point or slip into the results.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cli/console_fixture.h"
#include "damaged_status.h"
#include "status_lines.h"

namespace {

using zud_test::factor_lines;

const std::string kRange = "pmax=300000\npmin=3001\n";

class ConsoleRecords : public zud_test::Console {
protected:
    void SetUp() override
    {
        Console::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
        // The whole range once, uninterrupted: the real factor lines.
        write_file("ZudStatus.dat", kRange);
        ASSERT_EQ(run(), 0);
        whole_ = factor_lines(read_file("ZudStatus.dat"));
        ASSERT_GT(whole_.size(), 200u);
        for (std::size_t i = 0; i < 120; ++i)
            half_ += whole_[i] + "\n";
        std::remove("ZudStatus.dat");
    }
    // zudsieve ARGS, as typed, output in out.txt.
    int command(const std::vector<std::string>& args)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            zud_test::exec_sieve(args);
        }
        return wait_exit(pid);
    }
    // The run completes: every factor line of the range once, in order,
    // besides `extra` lines kept as they were.
    void expect_completed(const std::string& status_before, std::size_t extra)
    {
        const std::string status = read_file("ZudStatus.dat");
        EXPECT_EQ(status.rfind(status_before, 0), 0u) << status.substr(0, 300);
        EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
        std::vector<std::string> lines = factor_lines(status);
        ASSERT_EQ(lines.size(), whole_.size() + extra);
        lines.erase(lines.begin() + 120, lines.begin() + 120 + static_cast<std::ptrdiff_t>(extra));
        EXPECT_EQ(lines, whole_);
    }
    std::vector<std::string> whole_;
    std::string half_;   // the first 120 factor lines
};

TEST_F(ConsoleRecords, a_line_the_range_did_not_record_is_damage_named_and_nothing_runs)
{
    struct Case {
        std::string text;
        std::string message;
    };
    std::vector<Case> cases = {
        // p is prime but does not divide; 266681 divides 5*2^122+1, no candidate.
        {kRange + half_ + "299993 | 5*2^109+1\n",
         "line " + std::to_string(123) + " (\"299993 | 5*2^109+1\") records no true factor: p does not divide "
                                         "k*2^n+1."},
        {kRange + half_ + "266681 | 5*2^122+1\n", "(\"266681 | 5*2^122+1\") names 5*2^122+1, which is not a "
                                                  "candidate of 'Zud.dat'."},
        {kRange + half_ + "299999 | 5*2^109+1\n", "p is not prime."},
        {kRange + half_ + "\t299993 | 5*2^109+1\n", "(\"\\t299993 | 5*2^109+1\") records no true factor"},
        {kRange + half_ + "pmin=5000\n", "(\"pmin=5000\") goes back below line 122: the records of a range ascend."},
        {kRange + half_ + "pmax=400000\n", "(\"pmax=400000\") is a second \"pmax=\" line (line 1 gives the range)."},
        {"pmax=4611686018427387904\npmin=3001\n", "(\"pmax=4611686018427387904\") does not give a valid range"},
        {"pmax=99999999999999999999999\npmin=3001\n", "does not give a valid range (pmax from 1 to 2^62 - 1)."},
        {"pmax=300000\n" + half_, "it gives no \"pmin=\" line, so the range of line 1 has no start."},
        {"pmin=3001\n" + half_ + "pmax=300000\n", "comes before the range header"},
        // With "Done" too: the forged line is found before the question.
        {kRange + half_ + "299993 | 5*2^109+1\nDone\n", "records no true factor"},
    };
    const auto damaged = zud_test::damaged_status_files(kRange, whole_);
    ASSERT_EQ(damaged.size(), 7u);
    for (const auto& d : damaged)
        cases.push_back({d.text, d.message});
    for (const Case& c : cases) {
        write_file("ZudStatus.dat", c.text);
        EXPECT_EQ(wait_exit(start("/dev/null", {"--yes"})), 1) << c.text;
        const std::string out = read_file("out.txt");
        EXPECT_NE(out.find("The file 'ZudStatus.dat' is damaged - "), std::string::npos) << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_NE(out.find("The file has been left unchanged."), std::string::npos) << out;
        // Named before anything is asked, and nothing completes.
        EXPECT_EQ(out.find("complete"), std::string::npos) << out;
        EXPECT_EQ(read_file("ZudStatus.dat"), c.text);
        EXPECT_FALSE(exists("ZudStatus.dat~"));
        EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
    }
}

// A damaged file sieves nothing to export: the damage, and no survivors.
TEST_F(ConsoleRecords, export_of_a_damaged_status_file_names_the_damage_and_writes_nothing)
{
    const auto damaged = zud_test::damaged_status_files(kRange, whole_);
    ASSERT_EQ(damaged.size(), 7u);
    for (const auto& d : damaged) {
        write_file("ZudStatus.dat", d.text);
        EXPECT_EQ(command({"--export", "abc", "survivors.abc", dir_}), 1) << d.what;
        const std::string out = read_file("out.txt");
        EXPECT_NE(out.find(d.message), std::string::npos) << d.what << ": " << out;
        EXPECT_EQ(out.find("sieved to"), std::string::npos) << out;
        EXPECT_FALSE(exists("survivors.abc")) << d.what;
        EXPECT_EQ(read_file("ZudStatus.dat"), d.text);
        EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
    }
}

TEST_F(ConsoleRecords, notes_a_mark_repeated_lines_and_a_digest_line_are_kept_and_the_range_finishes)
{
    // "Done" within a note ends nothing, a byte order mark hides no header,
    // a task's digest line passes silently, a last note keeps its text.
    const std::string notes = "Done with half of it, rest tomorrow\n"
                              "digest=0123456789abcdef primes=12345 below=1000000\n";
    const std::string text = "\xEF\xBB\xBF" + kRange + half_ + notes + "on the new PC since 2024";
    write_file("ZudStatus.dat", text);
    EXPECT_EQ(wait_exit(start("/dev/null", {"--yes"})), 0) << read_file("out.txt");
    std::string out = read_file("out.txt");
    EXPECT_NE(out.find("not records: lines 123, 125. They are kept"), std::string::npos) << out;
    EXPECT_EQ(out.find("ZudStatus.dat~"), std::string::npos) << out;
    expect_completed(text + "\n", 0);
    EXPECT_FALSE(exists("ZudStatus.dat~"));

    // Factor lines duplicated by hand: named, counted once, kept.
    std::string duplicated = kRange + half_;
    for (std::size_t i = 100; i < 120; ++i)
        duplicated += whole_[i] + "\n";
    write_file("ZudStatus.dat", duplicated);
    EXPECT_EQ(wait_exit(start("/dev/null", {"--yes"})), 0) << read_file("out.txt");
    out = read_file("out.txt");
    EXPECT_NE(out.find("The file 'ZudStatus.dat' repeats factor lines of earlier lines: lines 123, 124, 125"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("They are kept as they are and counted once."), std::string::npos) << out;
    expect_completed(duplicated, 20);
}

TEST_F(ConsoleRecords, import_and_apply_wait_until_the_range_is_finished)
{
    write_file("in.abcd", "ABCD 13*2^$a+1 [101]\n1\n2\n");
    write_file("ZudStatus.dat", kRange + half_);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--import", "in.abcd", "--nmin", "100", "--nmax", "2000", dir_},
          std::vector<std::string>{"--apply", "ZudStatus.dat", dir_}}) {
        EXPECT_EQ(command(args), 1) << args[0];
        const std::string out = read_file("out.txt");
        EXPECT_NE(out.find("ZudStatus.dat records a range that is not finished (sieved to p="), std::string::npos) << out;
        EXPECT_NE(out.find("finish it first (zudsieve --console), or move ZudStatus.dat away"), std::string::npos);
        EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
        EXPECT_FALSE(exists("Zud.dat~"));
    }
    // Finished, both work as before; a refused line is quoted without its
    // terminal control characters.
    ASSERT_EQ(run(), 0);
    write_file("factors.txt", whole_[0] + "\n\x1b[2J7 | 5*2^5+1\n");
    EXPECT_EQ(command({"--apply", "factors.txt", dir_}), 1);
    std::string out = read_file("out.txt");
    EXPECT_NE(out.find("Applied 1 of 2 factor lines: 1 candidates removed."), std::string::npos) << out;
    EXPECT_NE(out.find("\"\\x1b[2J7 | 5*2^5+1\""), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(command({"--import", "in.abcd", "--nmin", "100", "--nmax", "2000", dir_}), 0) << read_file("out.txt");
    EXPECT_TRUE(exists("Zud.dat~"));
}

}  // namespace
