// The window program as a session ends it: SIGTERM while a notice or a
// question is up. What is recorded stays recorded and nothing holds the end.
#include <gtest/gtest.h>

#include "cli/console_fixture.h"

namespace {

class WindowProcess : public zud_test::Console {
protected:
    pid_t start_window(const std::vector<std::string>& args, const std::string& cwd = {})
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (!cwd.empty() && chdir(cwd.c_str()) != 0)
                _exit(126);
            const int out = open("out.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(out, 1);
            dup2(out, 2);
            setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            zud_test::exec_sieve(args);
        }
        return pid;
    }
    static bool ends_with_done(const std::string& text)
    {
        return text.size() >= 5 && text.compare(text.size() - 5, 5, "Done\n") == 0;
    }
};

TEST_F(WindowProcess, sigterm_after_completion_or_at_a_question_ends_within_two_seconds_with_done_kept)
{
#ifndef ZUD_SIEVE_HAS_WINDOW
    GTEST_SKIP() << "zudsieve is built without the window (the threads' sanitizer build)";
#endif
    write_file("Zud.dat", test_data("small_Zud.dat"));
    // A range completes: Done is in the file before anything is told.
    pid_t pid = start_window({"--range", "3001", "300000", dir_});
    for (int i = 0; i < 3000 && !ends_with_done(read_file("ZudStatus.dat")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ends_with_done(read_file("ZudStatus.dat"))) << read_file("out.txt");
    const std::string completed = read_file("ZudStatus.dat");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit_within(pid, 2), 0) << read_file("out.txt");
    EXPECT_EQ(read_file("ZudStatus.dat"), completed);

    // The next start asks whether the results were sent; the session ends
    // meanwhile: the question takes its cautious answer and the file stays.
    pid = start_window({dir_});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit_within(pid, 2), 0) << read_file("out.txt");
    EXPECT_EQ(read_file("ZudStatus.dat"), completed);
}

TEST_F(WindowProcess, a_session_ending_at_each_dialog_of_a_first_run_leaves_the_profile_as_it_was)
{
#ifndef ZUD_SIEVE_HAS_WINDOW
    GTEST_SKIP() << "zudsieve is built without the window (the threads' sanitizer build)";
#endif
    ::mkdir("nodata", 0755);
    ::mkdir("data", 0755);
    write_file("data/Zud.dat", test_data("small_Zud.dat"));
    const std::string profiles[] = {"", "[params]\nfactor=1.000\npriority=I\n"};
    for (const std::string& profile : profiles) {
        std::remove("zudsieve.ini");
        if (!profile.empty())
            write_file("zudsieve.ini", profile);
        // The folder chooser (no data here, none remembered), then the range
        // dialog (a candidate file and no range yet).
        for (const std::string& cwd : {dir_ + "/nodata", dir_ + "/data"}) {
            const pid_t pid = start_window({}, cwd);
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            kill(pid, SIGTERM);
            EXPECT_EQ(wait_exit_within(pid, 2), 0) << read_file("out.txt");
            EXPECT_EQ(exists("zudsieve.ini"), !profile.empty()) << cwd;
            if (!profile.empty()) {
                EXPECT_EQ(read_file("zudsieve.ini"), profile) << cwd;
            }
            EXPECT_FALSE(exists("data/ZudStatus.dat"));
        }
    }
}

TEST_F(WindowProcess, a_display_that_does_not_answer_gives_the_console_with_a_word)
{
#ifndef ZUD_SIEVE_HAS_WINDOW
    GTEST_SKIP() << "zudsieve is built without the window (the threads' sanitizer build)";
#endif
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        setenv("DISPLAY", ":97", 1);   // nobody listens there
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        execl(ZUD_SIEVE_BINARY, ZUD_SIEVE_BINARY, dir_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // No Zud.dat here: the console says so and ends with 1, not an abort.
    EXPECT_EQ(wait_exit_within(pid, 10), 1) << read_file("out.txt");
    const std::string out = read_file("out.txt");
    EXPECT_NE(out.find("The display ':97' does not answer: running the console front end."), std::string::npos) << out;
    EXPECT_NE(out.find("'Zud.dat' cannot be found"), std::string::npos) << out;
}

}  // namespace
