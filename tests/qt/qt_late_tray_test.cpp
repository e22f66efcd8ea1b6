// A session where the panel comes after the program (the usual order at
// login): the window stays in sight while there is no tray, the icon
// appears once a tray does, and the window comes back when the tray goes.
// Needs tests/qt/under_xvfb.sh with ZUD_TRAY_LATER set (no tray host yet).
#include <QGuiApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <gtest/gtest.h>

#include "qt/qt_fixture.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

TEST_F(QtWindow, x11_late_tray_the_icon_appears_when_a_panel_comes_after_the_window)
{
    if (std::getenv("ZUD_X11_TEST") == nullptr || std::getenv("ZUD_TRAY_LATER") == nullptr ||
        QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server without a tray host yet (ZUD_TRAY_LATER=1 tests/qt/under_xvfb.sh)";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "a tray host is there already";
    write_file("ZudStatus.dat", "pmax=400000\npmin=3001\n");
    zud::qt::WindowParts p = parts(false);
    p.tray = nullptr;   // the real notification-area icon
    ZudWindow window(p);
    window.show();
    window.logic().initialize();
    ASSERT_TRUE(window.logic().running());
    auto icon_shown = [&window] {
        QSystemTrayIcon* icon = window.own_tray()->icon();
        return icon != nullptr && icon->isVisible() && !icon->geometry().isEmpty();
    };
    EXPECT_FALSE(icon_shown());
    // Nowhere to hide: a minimised window stays where the user can find it.
    window.showMinimized();
    spin_until([] { return false; }, 500);
    EXPECT_TRUE(window.isVisible());
    window.showNormal();

    QProcess panel;
    panel.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                           QStringLiteral("right"), QStringLiteral("--widthtype"),
                                           QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("32"),
                                           QStringLiteral("--SetDockType"), QStringLiteral("true")});
    ASSERT_TRUE(panel.waitForStarted(5000)) << "trayer is not installed";
    spin_until(icon_shown, 15000);
    EXPECT_TRUE(icon_shown()) << "no icon in the tray that came late";
    EXPECT_EQ(window.own_tray()->icon()->toolTip().toStdString(), "ZudSieve 1.24");

    // Into the tray, and back when the panel goes.
    window.showMinimized();
    spin_until([&window] { return !window.isVisible(); }, 5000);
    EXPECT_FALSE(window.isVisible());
    panel.terminate();
    panel.waitForFinished(5000);
    spin_until([&window] { return window.isVisible(); }, 10000);
    EXPECT_TRUE(window.isVisible()) << "the window stayed hidden in a tray that is gone";
    window.logic().exit_now();
}

}  // namespace
