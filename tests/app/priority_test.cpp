// The priority rules with the real kernel, as an ordinary user: lowering
// works on the running threads, raising again restarts the sieve in new
// threads, and the window thread stays at nice 0 throughout.
#include <gtest/gtest.h>

#include <filesystem>

#include <csignal>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "run/event_queue.h"
#include "app/main_window.h"
#include "app/window_fixture.h"

namespace {

// The nice values of every thread of this process but the calling one.
std::vector<int> other_threads_nice()
{
    std::vector<int> values;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return values;
    const pid_t self = zud::current_tid();
    while (const dirent* entry = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0 && tid != self) {
            errno = 0;
            const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
            if (errno == 0)
                values.push_back(nice);
        }
    }
    closedir(tasks);
    return values;
}

bool all_equal(const std::vector<int>& values, int nice)
{
    if (values.empty())
        return false;
    for (int v : values)
        if (v != nice)
            return false;
    return true;
}

// The body, in the unprivileged child: 0 when every rule held, else the
// number of the rule that failed.
int ordinary_user_run()
{
    zud_test::FakeView view;
    zud_test::ScriptedBox box;
    zud_test::CountingCursor cursor;
    zud_test::FakeTray tray;
    zud_test::FakeClipboard clipboard;
    zud_test::ScriptedRange range;
    zud_test::MemoryProfile profile;
    range.lower = 3001;
    range.upper = 2000000000000;
    // Never freed: the child ends at once, also when a rule failed while
    // a run was still stopping; destroying the window would wait for it.
    auto& events = *new zud::EventQueue;
    zud::WindowServices services{&view, &box, &cursor, &tray, &clipboard, &range, &profile, zud::monotonic_ms,
                                 &events, {}, nullptr};
    auto& logic = *new zud::MainWindowLogic(services);
    // Waits on conditions, not fixed times: a loaded machine may take a while
    // to start, stop and restart the run's threads.
    auto serve_until = [&](auto done, int max_ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
        while (!done() && std::chrono::steady_clock::now() < end)
            events.deliver(logic, std::chrono::milliseconds(20));
        return done();
    };
    const auto running_at = [&](int nice) { return logic.running() && all_equal(other_threads_nice(), nice); };
    logic.initialize();
    if (!serve_until([&] { return running_at(5); }, 10000))
        return 1;
    logic.select_priority_class(zud::PriorityClass::idle);
    if (!serve_until([&] { return all_equal(other_threads_nice(), 19); }, 10000))
        return 2;
    logic.select_priority_class(zud::PriorityClass::normal);
    // The raise is refused to running threads: the stop, its record, the new
    // threads. The old threads stop at nice 19, which on a busy machine
    // (a sanitizer build among other tests) may take many seconds.
    const bool restarted = serve_until([&] { return running_at(5); }, 40000);
    if (!logic.running() || view.radio != zud::PriorityClass::normal || !box.shown.empty())
        return 3;
    if (!restarted) {
        for (int v : other_threads_nice())
            std::fprintf(stderr, "thread at nice %d\n", v);
        return 4;
    }
    if (getpriority(PRIO_PROCESS, 0) != 0)
        return 5;
    logic.stop_confirmed();
    for (int i = 0; i < 3000 && logic.running(); ++i)
        events.deliver(logic, std::chrono::milliseconds(20));
    return logic.running() ? 6 : 0;
}

TEST(PriorityAsOrdinaryUser, is_never_stuck_and_the_window_thread_stays_at_zero)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become an ordinary user";
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer's own thread stays at nice 0 and cannot be told from the program's";
#endif
    char folder[] = "/tmp/zudnice.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const uid_t nobody = 65534;
    ASSERT_EQ(chown(folder, nobody, nobody), 0);
    const std::string candidates = std::string(ZUD_TEST_DATA) + "/small_Zud.dat";
    const pid_t child = fork();
    if (child == 0) {
        std::FILE* from = std::fopen(candidates.c_str(), "r");
        if (chdir(folder) != 0 || from == nullptr || setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(90);
        if (setuid(0) == 0)
            _exit(91);   // still privileged: the test would prove nothing
        prctl(PR_SET_DUMPABLE, 1);   // our own /proc entries stay readable
        std::FILE* to = std::fopen("Zud.dat", "w");
        for (int c; (c = std::fgetc(from)) != EOF;)
            std::fputc(c, to);
        std::fclose(to);
        setenv("XDG_CONFIG_HOME", folder, 1);
        // Straight to the kernel: a sanitizer's exit hooks (a leak check that
        // would report as another user) are not for this child.
        syscall(SYS_exit_group, ordinary_user_run());
    }
    // A child that hangs fails the test with its reason instead of running
    // into the test's time limit.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1800 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++i)
        usleep(100000);
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    ASSERT_NE(ended, 0) << "the ordinary user's run did not end within 180 s";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "rule " << WEXITSTATUS(status) << " failed";
}

}  // namespace
