// A second start of the window program, as the running window sees it.
#include <QLocalServer>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "qt_fixture.h"
#include "ui/qt/qt_single.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

// The second start, on a thread of its own, as another process would be.
std::string second_start(const QString& name, const std::string& folder)
{
    auto answer = std::async(std::launch::async, [&] {
        std::string word;
        return zud::qt::hand_to_running_window(name, folder, word) ? word : std::string("(no window)");
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
    EXPECT_EQ(zud::current_folder(), dir_);
    window.logic().stopped(5000);
    EXPECT_NE(second_start(name, dir_ + "/empty").find("holds neither 'Zud.dat' nor 'ZudStatus.dat'"),
              std::string::npos);
    EXPECT_EQ(second_start(name, dir_ + "/other"), "");
    EXPECT_EQ(zud::current_folder(), dir_ + "/other");
    EXPECT_EQ(profile.values["folder"], dir_ + "/other");
    spin_until([&] { return window.logic().running(); }, 2000);
    EXPECT_TRUE(window.logic().running());   // a Start there
}

}  // namespace
