// The completion notice through the desktop's notification service, with a
// stand-in service on the session bus (under_xvfb.sh starts one).
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QVariantMap>
#include <gtest/gtest.h>

#include "qt/qt_fixture.h"

namespace {

class FakeNotices : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QString summary;
    QStringList actions;
    QVariantMap hints;
    int timeout = -1;
    int calls = 0;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& title, const QString&,
                const QStringList& offered, const QVariantMap& given, int expire)
    {
        ++calls;
        summary = title;
        actions = offered;
        hints = given;
        timeout = expire;
        return 7;
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action);
};

using zud_test::QtWindow;

TEST_F(QtWindow, x11_the_completion_notice_offers_open_folder_and_copy_results)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus (tests/qt/under_xvfb.sh starts one)";
    if (bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
        GTEST_SKIP() << "a real notification service is running";
    FakeNotices notices;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notices,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    write_file("ZudStatus.dat", "pmax=300000\npmin=3001\n3011 | 7*2^410+1\nDone\n");
    zud::qt::QtTray tray(nullptr, [] {});
    tray.notify("ZudSieve 1.24", "Sieving complete!");
    EXPECT_EQ(notices.calls, 1);
    EXPECT_EQ(notices.summary, "ZudSieve 1.24");
    EXPECT_EQ(notices.actions, (QStringList{"open", "Open folder", "copy", "Copy results"}));
    // It waits until clicked: no time-out, resident, critical.
    EXPECT_EQ(notices.timeout, 0);
    EXPECT_TRUE(notices.hints.value(QStringLiteral("resident")).toBool());
    EXPECT_EQ(notices.hints.value(QStringLiteral("urgency")).toInt(), 2);
    QApplication::clipboard()->clear();
    emit notices.ActionInvoked(7, QStringLiteral("copy"));
    spin_until([] { return !QApplication::clipboard()->text().isEmpty(); }, 3000);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), read_file("ZudStatus.dat"));
    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

}  // namespace

#include "qt_notice_test.moc"
