// Under a real X server with a tray host (tests/qt/under_xvfb.sh): the
// window hides to the tray when minimised, the run goes on, and a
// double-click on the tray icon brings the window back. Skipped elsewhere.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <vector>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/factor_cost.h"
#include "qt/qt_fixture.h"
#include "qt/qt_record_views.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

bool under_x11()
{
    return std::getenv("ZUD_X11_TEST") != nullptr && QGuiApplication::platformName() == QStringLiteral("xcb");
}

bool wait_for_tray()
{
    QElapsedTimer timer;
    timer.start();
    while (!QSystemTrayIcon::isSystemTrayAvailable() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return QSystemTrayIcon::isSystemTrayAvailable();
}

// A double-click of the left button where the icon is, as the X server
// delivers it; without xdotool, the activation the click would cause.
// True when the click went through the X server.
bool double_click_tray_icon(ZudWindow& window)
{
    const QRect place = window.own_tray()->icon()->geometry();
    const QPoint centre = place.center();
    const int status = QProcess::execute(QStringLiteral("xdotool"),
                                         {QStringLiteral("mousemove"), QString::number(centre.x()),
                                          QString::number(centre.y()), QStringLiteral("click"),
                                          QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                                          QStringLiteral("80"), QStringLiteral("1")});
    if (status == 0 && !place.isEmpty())
        return true;
    window.logic().tray_activated();
    return false;
}

TEST_F(QtWindow, x11_minimising_with_a_tray_keeps_the_run_and_the_icon_brings_the_window_back)
{
    if (!under_x11())
        GTEST_SKIP() << "needs a real X server (tests/qt/under_xvfb.sh)";
    ASSERT_TRUE(wait_for_tray()) << "no tray host";
    range.lower = 3001;
    range.upper = 200000000000;
    zud::qt::WindowParts p = parts(true);
    p.tray = nullptr;   // the real notification-area icon
    ZudWindow window(p);
    std::vector<std::string> steps;
    std::int64_t p_hidden = 0;
    std::int64_t p_back = 0;
    bool clicked = false;
    QTimer script;
    script.setInterval(100);
    QObject::connect(&script, &QTimer::timeout, [&] {
        zud::MainWindowLogic& logic = window.logic();
        if (steps.empty() && logic.last_reported_p() > 0 && window.isVisible()) {
            window.showMinimized();
            steps.push_back("minimised");
        } else if (steps.size() == 1 && !window.isVisible()) {
            p_hidden = logic.last_reported_p();
            steps.push_back("hidden");
        } else if (steps.size() == 2 && logic.last_reported_p() > p_hidden + 500000) {
            steps.push_back("ran on while hidden");
            clicked = double_click_tray_icon(window);
        } else if (steps.size() == 3 && window.isVisible()) {
            p_back = logic.last_reported_p();
            steps.push_back(window.isMinimized() ? "back but minimised" : "back");
        } else if (steps.size() == 4 && logic.last_reported_p() > p_back) {
            box.answers = {zud::BoxAnswer::ok};
            logic.start_stop();
            steps.push_back("stopping");
        } else if (steps.size() == 5 && !logic.running()) {
            logic.close_request();
            steps.push_back("closed");
        }
    });
    script.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::quit(); });
    guard.start(90000);
    zud::qt::serve_window(window);
    EXPECT_EQ(steps, (std::vector<std::string>{"minimised", "hidden", "ran on while hidden", "back", "stopping",
                                               "closed"}));
    EXPECT_NE(read_file("ZudStatus.dat").find("pmin=", 20), std::string::npos);
    if (!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        EXPECT_TRUE(clicked) << "the tray icon was not clicked through the X server";
    }
}

// Not a test: the README's pictures, made where ZUD_SCREENSHOT_DIR names
// (the tool readme_screenshots, ctest -L tool). Left out of the test runs.
class QtScreenshots : public QtWindow {};

TEST_F(QtScreenshots, pictures_for_the_readme)
{
    const char* out = std::getenv("ZUD_SCREENSHOT_DIR");
    if (!under_x11() || out == nullptr)
        GTEST_SKIP() << "set ZUD_SCREENSHOT_DIR and run under tests/qt/under_xvfb.sh";
    wait_for_tray();
    const QString dir = QString::fromLocal8Bit(out);
    const QStringList pictures{"progress-window.png", "tray-menu.png",           "range-window.png",
                               "alpha-window.png",    "folder-chooser.png",      "progress-window-dark.png",
                               "range-window-dark.png", "factors-view.png",      "progress-view.png",
                               "range-estimate.png"};
    for (const QString& picture : pictures)
        QFile::remove(dir + "/" + picture);
    auto grab = [](QWidget* widget, const QString& file) {
        QCoreApplication::processEvents();
        const QRect frame = widget->frameGeometry();
        QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(file);
    };
    // A resumed range, 37% done, going at 33.76 million p a second. The
    // factor in the log is shown only: a status file holding it would be
    // refused, for it divides no candidate.
    write_file("ZudStatus.dat", "pmax=2000000000000\npmin=1000000000000\npmin=1371864960000\n");
    profile.values["statusval"] = "2";
    // A rate kept from an earlier run on this file: the estimates tell a time.
    zud::CandidateSet set;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    profile.values["rate"] = zud::candidate_fingerprint(set) + " 2.4e-06";
    zud::qt::WindowParts p = parts(false);
    p.tray = nullptr;
    ZudWindow window(p);
    window.move(40, 60);
    window.show();
    window.logic().initialize();
    window.logic().factors_recorded({{1000000000193, 7, 1202}});
    std::int64_t sieved = 1371864960000;
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(1000);
        sieved += 33760000;
        window.logic().progress({sieved, 0.4, 33760000.0});
    }
    QTest::qWait(300);
    grab(&window, dir + "/progress-window.png");

    // Paused: the button, the tray's mark and the menu say so.
    window.logic().pause();
    QMenu* menu = window.tray_menu();
    menu->popup(window.own_tray()->icon()->geometry().bottomLeft() - QPoint(120, 0));
    QTest::qWait(300);
    const QRect menu_frame = menu->frameGeometry().united(window.own_tray()->icon()->geometry());
    QGuiApplication::primaryScreen()
        ->grabWindow(0, menu_frame.x() - 10, 0, menu_frame.width() + 20, menu_frame.bottom() + 10)
        .save(dir + "/tray-menu.png");
    menu->hide();
    window.logic().resume();

    // The views from the record of a real run (tests/testdata/record: 3,001
    // to 6 billion, stopped once and resumed, one worker).
    ::mkdir("record", 0755);
    write_file("record/ZudStatus.dat", test_data("record/ZudStatus.dat"));
    write_file("record/zudsieve.log", test_data("record/zudsieve.log"));
    zud::qt::FactorsView factors(&window, zud::DataFolder("record"));
    factors.move(60, 80);
    factors.show();
    QTest::qWait(300);
    grab(&factors, dir + "/factors-view.png");
    factors.hide();
    zud::qt::ProgressView progress(&window, zud::DataFolder("record"));
    progress.move(60, 80);
    progress.show();
    QTest::qWait(300);
    grab(&progress, dir + "/progress-view.png");
    progress.hide();

    zud_test::ScriptedBox quiet;
    zud::qt::RangeDialogQt range_dialog(&window, quiet);
    range_dialog.move(60, 80);
    range_dialog.show();
    range_dialog.lower()->setText("1.5");
    range_dialog.upper()->setText("300000");
    range_dialog.accept();
    QTest::qWait(300);
    grab(&range_dialog, dir + "/range-window.png");
    range_dialog.hide();
    zud::qt::RangeDialogQt estimate_dialog(&window, quiet);
    estimate_dialog.set_estimate(
        [&window](std::int64_t pmin, std::int64_t pmax) { return window.logic().range_estimate(pmin, pmax); });
    estimate_dialog.move(60, 80);
    estimate_dialog.show();
    estimate_dialog.lower()->setText("1");
    estimate_dialog.upper()->setText("2");
    QTest::qWait(300);
    grab(&estimate_dialog, dir + "/range-estimate.png");
    estimate_dialog.hide();
    zud::qt::AlphaDialog alpha(&window, 2.5);
    alpha.move(60, 80);
    alpha.show();
    alpha.field()->setText("12");
    alpha.accept();
    QTest::qWait(300);
    grab(&alpha, dir + "/alpha-window.png");
    alpha.hide();

    ::mkdir("Zud work", 0755);
    QTimer::singleShot(500, [&] {
        QWidget* chooser = QApplication::activeModalWidget();
        if (chooser != nullptr) {
            grab(chooser, dir + "/folder-chooser.png");
            chooser->close();
        }
    });
    zud::qt::QtFolderChooser(&window).choose(dir_);

    // The same window and a refusal in a dark theme: every colour comes
    // from the palette, the refusal's red from its lightness.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x6f, 0xc9));
    QApplication::setPalette(dark);
    QTest::qWait(300);
    grab(&window, dir + "/progress-window-dark.png");
    zud::qt::RangeDialogQt dark_range(&window, quiet);
    dark_range.move(60, 80);
    dark_range.show();
    dark_range.lower()->setText("1.5");
    dark_range.upper()->setText("300000");
    dark_range.accept();
    QTest::qWait(300);
    grab(&dark_range, dir + "/range-window-dark.png");
    dark_range.hide();
    window.logic().exit_confirmed();
    for (const QString& picture : pictures)
        EXPECT_TRUE(QFileInfo::exists(dir + "/" + picture)) << picture.toStdString();
}

// Five starts at the same instant (a double-click on a launcher, autostart
// and a click): one window; the others hand over to it and say so.
TEST_F(QtWindow, x11_five_starts_at_once_give_one_window)
{
    if (!under_x11())
        GTEST_SKIP() << "needs a real X server (tests/qt/under_xvfb.sh)";
    ::mkdir("run", 0700);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_ + "/run"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir_));
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 5; ++i) {
        starts.push_back(std::make_unique<QProcess>());
        starts.back()->setProcessEnvironment(environment);
        starts.back()->setProcessChannelMode(QProcess::MergedChannels);
    }
    for (auto& start : starts)
        start->start(QStringLiteral(ZUD_SIEVE_BINARY), {QString::fromStdString(dir_)});
    int handed = 0;
    QProcess* window = nullptr;
    for (auto& start : starts) {
        if (start->waitForFinished(15000)) {
            EXPECT_EQ(start->exitCode(), 0);
            EXPECT_NE(start->readAll().indexOf("ZudSieve is already running in '" + QByteArray::fromStdString(dir_)),
                      -1);
            ++handed;
        } else {
            window = start.get();
        }
    }
    EXPECT_EQ(handed, 4);
    ASSERT_NE(window, nullptr);
    window->terminate();
    EXPECT_TRUE(window->waitForFinished(5000));
}

}  // namespace
