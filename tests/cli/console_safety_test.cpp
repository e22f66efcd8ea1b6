// What a demanding user does to the console program: kills it, runs two in
// one folder, hangs up, closes its output, fills the disk, and puts odd
// things where its files belong. Nothing recorded may be lost or doubled.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <grp.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "cli/console_fixture.h"
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

// Killed as the status file grows, so that kills land inside the writes
// of large batches (a prime with many factor lines cut in two).
TEST_F(ConsoleSafety, kill_9_as_the_status_file_grows_loses_and_doubles_nothing)
{
    // Eight k with every n up to 30,000 from p = 1000 on: 2.4 MB of factor
    // lines, in writes of up to a few hundred kB.
    const std::string candidates = zud_test::dense_candidates(30000, {5, 7, 11, 13, 17, 19, 23, 29});
    const std::string range = "pmax=60000000\npmin=1000\n";
    write_file("Zud.dat", candidates);
    write_file("ZudStatus.dat", range);
    std::mt19937 random(12345);
    // A few kB to 150 kB, evenly on a log scale.
    std::uniform_real_distribution<double> log_growth(std::log(2000.0), std::log(150000.0));
    int kills = 0;
    for (int i = 0; i < 200 && kills < 25; ++i) {
        struct stat info {};
        stat("ZudStatus.dat", &info);
        const off_t kill_at = info.st_size + static_cast<off_t>(std::exp(log_growth(random)));
        const pid_t pid = start("/dev/null", {"--workers", "2"});
        bool ended = false;
        for (int polls = 0; polls < 200000 && !ended; ++polls) {
            if (stat("ZudStatus.dat", &info) == 0 && info.st_size >= kill_at)
                break;
            ended = waitpid(pid, nullptr, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (ended)
            break;   // the range is done
        kill(pid, SIGKILL);
        if (wait_exit(pid) == 128 + SIGKILL)
            ++kills;
    }
    EXPECT_GE(kills, 20);
    if (read_file("ZudStatus.dat").find("Done") == std::string::npos) {
        EXPECT_EQ(run(), 0) << read_file("out.txt");
    }
    const std::string status = read_file("ZudStatus.dat");
    ASSERT_EQ(status.substr(status.size() - 5), "Done\n");
    const auto lines = factor_lines(status);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << "duplicate lines";
    EXPECT_EQ(lines, uninterrupted(candidates, range));
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

// A user without an account: another local user, as far as the system's
// permissions go, and nothing to clean up afterwards.
constexpr uid_t kOtherUser = 61234;

// `body` in a child that has become kOtherUser; its exit status.
template <typename Body>
pid_t as_other_user(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)
            _exit(100);
        _exit(body());
    }
    return pid;
}

// Another user may read the folder, and so take any lock on the folder
// itself; the lock is a file of the owner's that nobody else may open.
TEST_F(ConsoleSafety, another_user_cannot_keep_the_program_from_starting)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    write_file("ZudStatus.dat", "pmax=3000000000\npmin=3\n");
    // The other user holds every lock the folder itself can carry.
    int ready[2], go[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
    const pid_t holder = as_other_user([&] {
        close(go[1]);
        const int folder = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        const bool held = folder >= 0 && flock(folder, LOCK_EX | LOCK_NB) == 0;
        char byte = held ? 'y' : 'n';
        if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 1)
            return 2;
        // The owner's program is running now: its lock file is closed to us.
        const int lock = open((dir_ + "/.ZudSieve.lock").c_str(), O_RDONLY);
        return lock < 0 && errno == EACCES ? 0 : 3;
    });
    close(go[0]);
    close(ready[1]);
    // Closed on every way out, so that the holder never waits forever.
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } go_on{go[1]};
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    const pid_t first = start();
    EXPECT_TRUE(wait_for_output("Sieving...")) << read_file("out.txt");
    EXPECT_EQ(read_file("out.txt").find("already running"), std::string::npos);
    struct stat info {};
    EXPECT_EQ(stat(".ZudSieve.lock", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(write(go[1], "x", 1), 1);
    EXPECT_EQ(wait_exit(holder), 0);
    // The owner's second program is still refused.
    EXPECT_EQ(rename("out.txt", "first.txt"), 0);
    EXPECT_EQ(wait_exit_within(start(), 30), 1);
    EXPECT_NE(read_file("out.txt").find("ZudSieve is already running in the folder"), std::string::npos);
    kill(first, SIGINT);
    EXPECT_EQ(wait_exit(first), 0);
    EXPECT_FALSE(exists(".ZudSieve.lock"));
    close(ready[0]);

    // A lock file that is not the owner's is no lock of the owner's: named,
    // and nothing runs.
    const std::string stopped = read_file("ZudStatus.dat");
    write_file(".ZudSieve.lock", "");
    ASSERT_EQ(chown(".ZudSieve.lock", kOtherUser, kOtherUser), 0);
    EXPECT_EQ(wait_exit_within(start(), 30), 1);
    EXPECT_NE(read_file("out.txt").find("cannot be locked (.ZudSieve.lock belongs to another user"),
              std::string::npos)
        << read_file("out.txt");
    EXPECT_EQ(read_file("ZudStatus.dat"), stopped);
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

// The stop record cannot be written (a folder took the status file's
// place): said, and the exit status is a failure, never success.
TEST_F(ConsoleSafety, a_stop_record_that_cannot_be_written_ends_with_a_failure)
{
    write_file("ZudStatus.dat", "pmax=200000000000\npmin=3001\n");
    const pid_t pid = start();
    wait_for_sieving(300);
    ASSERT_EQ(rename("ZudStatus.dat", "moved.dat"), 0);
    ASSERT_EQ(mkdir("ZudStatus.dat", 0755), 0);
    kill(pid, SIGINT);
    EXPECT_EQ(wait_exit_within(pid, 30), 1) << read_file("out.txt");
    EXPECT_NE(read_file("out.txt").find("could not be written"), std::string::npos) << read_file("out.txt");
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

TEST_F(ConsoleSafety, notes_in_the_status_file_move_nothing_and_a_resume_point_above_pmax_runs_nothing)
{
    const std::string range = "pmax=300000\npmin=3001\n";
    const std::string notes = "checked up to 9999999999 by hand\n2024-06-01: moved to new PC\nmy note, no newline";
    write_file("ZudStatus.dat", range + notes);
    EXPECT_EQ(run(), 0) << read_file("out.txt");
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("p=3,001 to p=300,000"), std::string::npos) << out;
    EXPECT_NE(out.find("not records: lines 3, 4, 5."), std::string::npos) << out;
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.rfind(range + notes + "\n", 0), 0u) << status.substr(0, 200);
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    auto lines = factor_lines(status);
    lines.erase(lines.begin(), lines.begin() + 1);   // the note that begins with digits
    EXPECT_EQ(lines, uninterrupted(test_data("small_Zud.dat"), range));

    write_file("ZudStatus.dat", range + "pmin=500000\n");
    EXPECT_EQ(run(), 1);
    EXPECT_NE(read_file("out.txt").find("line 3 (\"pmin=500000\") resumes above pmax"), std::string::npos)
        << read_file("out.txt");
    EXPECT_EQ(read_file("ZudStatus.dat"), range + "pmin=500000\n");
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

// An initial creation on a small disk: refused when the new Zud.dat may
// not fit; when the disk fills during the run, everything waits in memory
// until there is room, and "Complete!" comes only after both files.
TEST_F(ConsoleSafety, an_initial_creation_never_loses_its_new_candidate_file_to_a_full_disk)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    ASSERT_EQ(mkdir("disk", 0755), 0);
    if (mount("tmpfs", "disk", "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    // The data folder on the small disk, the program's output off it.
    const std::string original = dense_candidates();
    write_file("disk/Zud.dat", original);
    write_file("disk/filler", std::string(200 << 10, 'x'));
    const int refused = wait_exit(start("/dev/null", {"--range", "0", "2e6", "disk"}));
    const std::string refused_out = read_file("out.txt");
    ASSERT_EQ(unlink("disk/filler"), 0);
    const pid_t pid = start("/dev/null", {"--range", "0", "3e7", "disk"});
    const bool sieving = wait_for_output("Sieving...");
    {
        // Every byte left taken while the run goes on.
        std::FILE* filler = std::fopen("disk/filler", "w");
        const std::string block(4096, 'x');
        while (filler != nullptr && std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        if (filler != nullptr)
            std::fclose(filler);
    }
    bool told = false;
    for (int i = 0; i < 12 && !told; ++i)
        told = wait_for_output("could not be written");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));   // a few tries more
    const std::string waiting_out = read_file("out.txt");
    const bool still_running = waitpid(pid, nullptr, WNOHANG) == 0;
    ASSERT_EQ(unlink("disk/filler"), 0);
    const int status_code = wait_exit_within(pid, 60);
    const std::string out = read_file("out.txt");
    const std::string status = read_file("disk/ZudStatus.dat");
    const std::string backup = read_file("disk/Zud.dat~");
    const std::string written = read_file("disk/Zud.dat");
    umount("disk");

    EXPECT_EQ(refused, 1);
    EXPECT_NE(refused_out.find("may need up to"), std::string::npos) << refused_out;
    ASSERT_TRUE(sieving);
    EXPECT_TRUE(told) << waiting_out;
    EXPECT_TRUE(still_running);
    EXPECT_EQ(waiting_out.find("Complete!"), std::string::npos) << waiting_out;
    EXPECT_EQ(status_code, 0) << out;
    EXPECT_NE(out.find("Complete!"), std::string::npos) << out;
    EXPECT_EQ(status, "Done");
    EXPECT_EQ(backup, original);
    EXPECT_NE(written, original);
    EXPECT_EQ(written.rfind("4\n1\n20000\nk=5\n", 0), 0u);
}

}  // namespace
