// What a demanding user does to the console program: kills it, runs two in
// one folder, hangs up, closes its output, fills the disk, and puts odd
// things where its files belong. Nothing recorded may be lost or doubled.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>

#include "console_fixture.h"
#include "dense_candidates.h"
#include "status_lines.h"

namespace {

using zud_test::factor_lines;

// Up to n = 20,000: 3 alone has 40,000 factor lines.
std::string dense_candidates()
{
    return zud_test::dense_candidates(20000);
}

class ConsoleSafety : public zud_test::Console {
protected:
    void SetUp() override
    {
        Console::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
    }
    // The factor lines of one uninterrupted run of the range over the
    // candidates, made in a folder of its own.
    std::vector<std::string> uninterrupted(const std::string& candidates, const std::string& range)
    {
        const std::string here = dir_;
        EXPECT_EQ(mkdir("whole", 0755), 0);
        EXPECT_EQ(chdir("whole"), 0);
        write_file("Zud.dat", candidates);
        write_file("ZudStatus.dat", range);
        EXPECT_EQ(run(), 0);
        const auto lines = factor_lines(read_file("ZudStatus.dat"));
        EXPECT_EQ(chdir(here.c_str()), 0);
        return lines;
    }
};

TEST_F(ConsoleSafety, kill_9_at_twenty_moments_loses_and_doubles_nothing)
{
    const std::string range = "pmax=60000000\npmin=3\n";
    write_file("Zud.dat", dense_candidates());
    write_file("ZudStatus.dat", range);
    std::mt19937 random(12345);
    int kills = 0;
    for (int i = 0; i < 30 && kills < 20; ++i) {
        const pid_t pid = start("/dev/null", {"--workers", "2"});
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 300));
        kill(pid, SIGKILL);
        if (wait_exit(pid) == 128 + SIGKILL)
            ++kills;
        if (read_file("ZudStatus.dat").find("Done") != std::string::npos)
            break;
    }
    EXPECT_GE(kills, 20);
    EXPECT_EQ(run(), 0) << read_file("out.txt");
    const std::string status = read_file("ZudStatus.dat");
    ASSERT_EQ(status.substr(status.size() - 5), "Done\n");
    const auto lines = factor_lines(status);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << "duplicate lines";
    EXPECT_EQ(lines, uninterrupted(dense_candidates(), range));
}

TEST_F(ConsoleSafety, a_second_program_in_the_folder_is_refused_and_changes_nothing)
{
    write_file("ZudStatus.dat", "pmax=3000000000\npmin=3\n");
    const pid_t first = start();
    ASSERT_TRUE(wait_for_output("Sieving..."));
    const std::string first_out = read_file("out.txt");
    ASSERT_EQ(rename("out.txt", "first.txt"), 0);
    EXPECT_EQ(run(), 1);
    const std::string second_out = read_file("out.txt");
    EXPECT_NE(second_out.find("ZudSieve is already running in the folder '" + dir_ + "'"), std::string::npos)
        << second_out;
    kill(first, SIGINT);
    EXPECT_EQ(wait_exit(first), 0);
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.find("Done"), std::string::npos);
    EXPECT_EQ(status.find("pmax=", 1), std::string::npos);   // one range header only
}

TEST_F(ConsoleSafety, a_hang_up_stops_an_initial_creation_and_writes_its_candidate_file)
{
    write_file("answers.txt", "0\n100\ny\n");   // from 0 to 100 billion
    const pid_t pid = start("answers.txt");
    wait_for_sieving(400);
    kill(pid, SIGHUP);
    EXPECT_EQ(wait_exit_within(pid, 30), 0) << read_file("out.txt");
    EXPECT_EQ(read_file("Zud.dat~"), test_data("small_Zud.dat"));
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.rfind("pmin=", 0), 0u) << status;
    EXPECT_NE(status.find("\npmax=100000000000\n"), std::string::npos) << status;
    EXPECT_NE(read_file("Zud.dat"), test_data("small_Zud.dat"));
}

TEST_F(ConsoleSafety, a_closed_output_pipe_ends_the_output_not_the_run)
{
    write_file("ZudStatus.dat", "pmax=3000000000\npmin=3\n");
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t pid = start("/dev/null", {}, pipe_ends[1]);
    close(pipe_ends[1]);
    char some[64];
    ASSERT_GT(read(pipe_ends[0], some, sizeof some), 0);
    close(pipe_ends[0]);   // as `| head` does
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit_within(pid, 30), 0);
    const std::string status = read_file("ZudStatus.dat");
    const std::size_t last = status.rfind("pmin=");
    ASSERT_GT(last, 10u) << status;
    // Every factor shown was recorded first: the resume point is past them all.
    const auto lines = factor_lines(status);
    if (!lines.empty()) {
        EXPECT_GT(std::stoll(status.substr(last + 5)), std::stoll(lines.back()));
    }
}

TEST_F(ConsoleSafety, the_window_ends_on_sigterm_after_recording_its_resume_point)
{
    write_file("ZudStatus.dat", "pmax=3000000000\npmin=3\n");
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(ZUD_SIEVE_BINARY, ZUD_SIEVE_BINARY, dir_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Sieving once the status file has its first factor lines.
    for (int i = 0; i < 1000 && factor_lines(read_file("ZudStatus.dat")).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit_within(pid, 30), 0) << read_file("out.txt");
    const std::string status = read_file("ZudStatus.dat");
    const std::size_t last = status.rfind("pmin=");
    ASSERT_GT(last, 10u) << status;
    const auto lines = factor_lines(status);
    ASSERT_FALSE(lines.empty());
    EXPECT_GT(std::stoll(status.substr(last + 5)), std::stoll(lines.back()));
}

TEST_F(ConsoleSafety, what_is_not_a_regular_file_is_refused_at_once)
{
    ASSERT_EQ(unlink("Zud.dat"), 0);
    ASSERT_EQ(mkdir("Zud.dat", 0755), 0);
    EXPECT_EQ(wait_exit_within(start(), 10), 1);
    EXPECT_NE(read_file("out.txt").find("The file 'Zud.dat' cannot be read - it is a folder!"), std::string::npos);
    ASSERT_EQ(rmdir("Zud.dat"), 0);

    ASSERT_EQ(mkfifo("Zud.dat", 0644), 0);
    EXPECT_EQ(wait_exit_within(start(), 10), 1);
    EXPECT_NE(read_file("out.txt").find("it is not a regular file"), std::string::npos);
    ASSERT_EQ(unlink("Zud.dat"), 0);

    ASSERT_EQ(symlink("/dev/zero", "Zud.dat"), 0);
    EXPECT_EQ(wait_exit_within(start(), 10), 1);
    EXPECT_NE(read_file("out.txt").find("it is not a regular file"), std::string::npos);
    ASSERT_EQ(unlink("Zud.dat"), 0);

    write_file("Zud.dat", test_data("small_Zud.dat"));
    ASSERT_EQ(symlink("/dev/full", "ZudStatus.dat"), 0);
    EXPECT_EQ(wait_exit_within(start(), 10), 1);
    EXPECT_NE(read_file("out.txt").find("The file 'ZudStatus.dat' cannot be read - it is not a regular file!"),
              std::string::npos);
}

TEST_F(ConsoleSafety, a_meaningless_recorded_range_is_reported_and_nothing_is_written)
{
    write_file("ZudStatus.dat", "pmax=-5\npmin=3\n");
    EXPECT_EQ(run(), 1);
    EXPECT_NE(read_file("out.txt").find("The file 'ZudStatus.dat' is damaged - line 1 (\"pmax=-5\")"),
              std::string::npos)
        << read_file("out.txt");
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=-5\npmin=3\n");
}

TEST_F(ConsoleSafety, leftovers_of_killed_writes_are_removed_at_the_next_start)
{
    write_file("Zud.dat.new", "3\n");
    write_file("Zud.dat.new-a1b2c3", "3\n");
    write_file("ZudStatus.dat.new-x9y8z7", "pmax=1\n");
    write_file("ZudStatus.dat", "pmax=300000\npmin=3001\n");
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(exists("Zud.dat.new"));
    EXPECT_FALSE(exists("Zud.dat.new-a1b2c3"));
    EXPECT_FALSE(exists("ZudStatus.dat.new-x9y8z7"));
}

// A full disk, freed again a while later: the run waits, says so, and then
// records everything. Needs a small file system of its own (root).
TEST_F(ConsoleSafety, a_full_disk_holds_the_run_until_there_is_room_and_nothing_is_lost)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string here = dir_;
    ASSERT_EQ(mkdir("disk", 0755), 0);
    if (mount("tmpfs", "disk", "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_EQ(chdir("disk"), 0);
    write_file("Zud.dat", dense_candidates());
    const std::string range = "pmax=20000000\npmin=3\n";
    write_file("ZudStatus.dat", range);
    // Fill the disk, then give back a little: the first factor lines fit,
    // the rest do not.
    write_file("filler", std::string(4 << 20, 'x'));
    struct stat info {};
    ASSERT_EQ(stat("filler", &info), 0);
    ASSERT_EQ(truncate("filler", info.st_size - 8192), 0);
    const pid_t pid = start();
    const bool told = wait_for_output("could not be written");
    ASSERT_EQ(unlink("filler"), 0);
    const int status_code = wait_exit_within(pid, 60);
    const std::string out = read_file("out.txt");
    const std::string status = read_file("ZudStatus.dat");
    ASSERT_EQ(chdir(here.c_str()), 0);
    umount("disk");
    EXPECT_TRUE(told) << out;
    EXPECT_EQ(status_code, 0) << out;
    ASSERT_EQ(status.substr(status.size() - 5), "Done\n");
    EXPECT_EQ(factor_lines(status), uninterrupted(dense_candidates(), range));
}

}  // namespace
