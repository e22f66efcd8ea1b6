#include "qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "qt/qt_fixture.h"
#include "app/range_entry.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

TEST_F(QtWindow, start_asks_for_a_range_and_the_range_completes_in_the_log_pane)
{
    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(true));
    window.show();
    EXPECT_EQ(window.windowTitle(), "ZudSieve 1.24");
    QApplication::clipboard()->setText("the user's own");
    window.logic().initialize();
    // The title names the folder it works in.
    EXPECT_EQ(window.windowTitle().toStdString(), "ZudSieve 1.24 - " + dir_);
    EXPECT_EQ(range.runs, 1);
    EXPECT_EQ(window.start_button()->text(), "&Stop");
    spin_until([&] { return !window.logic().running(); });
    ASSERT_FALSE(window.logic().running());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));   // the worker leaves its last send

    const std::string status = read_file("ZudStatus.dat");
    std::string expected_log;
    std::size_t start = 0;
    for (std::size_t end; (end = status.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = status.substr(start, end - start);
        if (!line.empty() && line[0] >= '0' && line[0] <= '9')
            expected_log += (expected_log.empty() ? "" : "\n") + line;
    }
    EXPECT_FALSE(expected_log.empty());
    // No box for good news: a line in the log; the clipboard stays the
    // user's until File > Copy results.
    expected_log += "\nSieving complete! The results are the whole text of 'ZudStatus.dat', to be sent to the Zud "
                    "team: File > Copy results puts them on the clipboard.";
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "the user's own");
    window.copy_action()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), status);
    const auto count = [&status](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = status.find(what); at != std::string::npos; at = status.find(what, at + 1))
            ++n;
        return std::to_string(n);
    };
    expected_log += "\nCopied 'ZudStatus.dat' to the clipboard: " + count("\n") + " lines, " + count(" | ") + " factors.";
    EXPECT_EQ(window.log_pane()->toPlainText().toStdString(), expected_log);
    EXPECT_EQ(window.start_button()->text(), "&Start");
    EXPECT_EQ(window.range_line_field()->text(), "p=3,001 to p=300,000");
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");

    // The status line tells of the completion; a click shows the status
    // text, the next the share done, the next the rate again.
    EXPECT_EQ(window.status_line()->text(), "Sieving complete! The results are in 'ZudStatus.dat'.");
    window.logic().status_line_clicked();
    EXPECT_EQ(window.status_line()->text(), "Complete!");
    window.status_line()->setFocus();
    spin_until([&] { return window.status_line()->text() == "100.0% done"; }, 2000);
    EXPECT_EQ(window.status_line()->text(), "100.0% done");
    EXPECT_EQ(window.progress_bar()->value(), 1000);
    window.status_line()->setFocus();
    spin_until([&] { return window.status_line()->text().startsWith("Rate"); }, 2000);
    EXPECT_TRUE(window.status_line()->text().startsWith("Rate"));
}

TEST_F(QtWindow, closing_during_a_run_asks_stops_records_and_ends)
{
    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(false));
    window.show();
    window.logic().initialize();
    window.logic().progress({131101, 0.4, 1000.0});
    window.logic().factors_recorded({{131101, 5, 999}});
    box.answers = {zud::BoxAnswer::cancel};
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.logic().destroyed());
    // Esc never closes the window, not even a question.
    const std::size_t questions = box.shown.size();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(box.shown.size(), questions);
    EXPECT_TRUE(window.isVisible());
    box.answers = {zud::BoxAnswer::ok};
    window.close();
    EXPECT_TRUE(window.logic().stop_requested());   // the run stops and records itself first
    window.logic().stopped(131129);
    EXPECT_TRUE(window.logic().destroyed());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(box.shown.back().text.substr(0, 59), "The sieve is still running - are you sure you wish to exit?");
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.substr(status.rfind("pmin=")), "pmin=131128\n");
    // Nothing the user chose changed: the profile stays as it was.
    EXPECT_EQ(profile.values.count("factor"), 0u);
}

TEST_F(QtWindow, enter_presses_start_stop)
{
    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(false));
    window.show();
    QApplication::setActiveWindow(&window);
    window.logic().initialize();
    ASSERT_TRUE(window.logic().running());
    box.answers = {zud::BoxAnswer::cancel};
    QTest::keyClick(window.log_pane(), Qt::Key_Return);
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "The sieve is still running - are you sure you wish to stop it?");
    EXPECT_FALSE(window.logic().stop_requested());
}

TEST_F(QtWindow, minimising_hides_and_the_tray_brings_the_window_back)
{
    range.accept = false;
    ZudWindow window(parts(false));
    window.show();
    window.logic().initialize();
    window.showMinimized();
    spin_until([&] { return !window.isVisible(); }, 2000);
    EXPECT_FALSE(window.isVisible());
    window.logic().tray_activated();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(tray.tooltip, "ZudSieve 1.24");
    window.logic().tray_activated();
    EXPECT_FALSE(window.isVisible());

    // Without a tray a minimised window stays reachable.
    tray.present = false;
    ZudWindow no_tray(parts(false));
    no_tray.show();
    no_tray.logic().initialize();
    no_tray.showMinimized();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(no_tray.isVisible());
}

TEST_F(QtWindow, priority_controls_and_the_worker_menu)
{
    range.accept = false;
    profile.values["priority"] = "I";
    ZudWindow window(parts(false));
    window.logic().initialize();
    EXPECT_TRUE(window.priority_button(zud::PriorityClass::idle)->isChecked());
    EXPECT_TRUE(window.thread_priority_action(zud::ThreadPriority::lowest)->isChecked());
    window.thread_priority_action(zud::ThreadPriority::normal)->trigger();
    EXPECT_TRUE(window.thread_priority_action(zud::ThreadPriority::normal)->isChecked());
    EXPECT_FALSE(window.thread_priority_action(zud::ThreadPriority::lowest)->isChecked());
}

TEST(QtAlphaDialog, rejects_by_emptying_the_field_and_accepts_good_values)
{
    for (const char* entry : {"0.009", "10", "abc", "2.5x", "2.5 ", ""}) {
        zud::qt::AlphaDialog dialog(nullptr, 2.5);
        dialog.field()->setText(entry);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << entry;
        EXPECT_TRUE(dialog.field()->text().isEmpty()) << entry;
    }
    zud::qt::AlphaDialog dialog(nullptr, 2.5004);
    EXPECT_EQ(dialog.field()->text(), "2.500");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.value(), 2.5);
    zud::qt::AlphaDialog ten(nullptr, 10);
    EXPECT_EQ(ten.field()->text(), "10.000");
    ten.accept();
    EXPECT_EQ(ten.result(), QDialog::Rejected);
}

TEST(QtRangeDialog, rejections_move_the_focus_and_a_confirmed_range_is_accepted)
{
    zud_test::ScriptedBox box;
    zud::qt::RangeDialogQt dialog(nullptr, box);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    const std::tuple<const char*, const char*, bool> rejected[] = {
        {"", "", true}, {"3", "3", false}, {"10", "5", false}, {"99999999999", "5", true}};
    for (auto [lower, upper, lower_field] : rejected) {
        dialog.lower()->setText(lower);
        dialog.upper()->setText(upper);
        dialog.accept();
        QCoreApplication::processEvents();
        EXPECT_TRUE((lower_field ? dialog.lower() : dialog.upper())->hasFocus()) << lower << " " << upper;
        EXPECT_FALSE(dialog.result() == QDialog::Accepted);
    }
    EXPECT_TRUE(box.shown.empty());
    // Typed key by key, a text stays as typed (never another number), the
    // note stays while it is not whole billions, and OK refuses it.
    const std::pair<const char*, const char*> typed[] = {{"1.5", "whole billions only: no . or ,"},
                                                         {"1,5", "whole billions only: no . or ,"},
                                                         {"2.5", "whole billions only: no . or ,"},
                                                         {"abc", "digits only (whole billions)"}};
    for (auto [text, reason] : typed) {
        dialog.lower()->clear();
        dialog.upper()->setText("30");
        QTest::keyClicks(dialog.lower(), text);
        EXPECT_EQ(dialog.lower()->text(), text);
        EXPECT_EQ(dialog.lower_reason()->text(), reason) << text;
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted) << text;
        EXPECT_EQ(dialog.lower()->text(), text);
        EXPECT_EQ(dialog.lower_reason()->text(), reason) << text;
    }
    EXPECT_TRUE(box.shown.empty());
    // Mended, the note goes.
    dialog.lower()->clear();
    QTest::keyClicks(dialog.lower(), "1");
    EXPECT_TRUE(dialog.lower_reason()->text().isEmpty());
    // Pasted text that is not whole billions is refused, not cut.
    dialog.lower()->setText("1.5");
    dialog.upper()->setText("2");
    dialog.accept();
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(dialog.lower_reason()->text(), "whole billions only: no . or ,");
    dialog.lower()->setText("0");
    dialog.upper()->setText("1");
    box.answers = {zud::BoxAnswer::no};
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.upper()->text(), "1");
    box.answers = {zud::BoxAnswer::yes};
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.pmin(), 0);
    EXPECT_EQ(dialog.pmax(), 1000000000);
    EXPECT_EQ(box.shown.back().text.substr(0, 72),
              "You are sieving from p=0 (0) to p=1000000000 (1 billion) - are you sure?");
}

TEST(QtRangeDialog, the_upper_end_goes_to_4611686018_billion_and_not_one_more)
{
    zud_test::ScriptedBox box;
    zud::qt::RangeDialogQt dialog(nullptr, box);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.lower()->setText("4611686017");
    dialog.upper()->setText("4611686019");
    dialog.accept();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.upper()->hasFocus());
    EXPECT_TRUE(box.shown.empty());
    dialog.upper()->setText("4611686018");
    box.answers = {zud::BoxAnswer::yes};
    dialog.accept();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown.back().text, "You are sieving from p=4611686017000000000 (4611686.017 trillion) to "
                                     "p=4611686018000000000 (4611686.018 trillion) - are you sure?");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.pmax(), 4611686018000000000);
    // Ten digits show whole in the fields.
    const QFontMetrics metrics(dialog.upper()->font());
    EXPECT_LT(metrics.horizontalAdvance(QStringLiteral("4611686018")), dialog.upper()->width() - 4);
}

TEST_F(QtWindow, the_widest_range_line_and_progress_text_fit_their_fields)
{
    ZudWindow window(parts(false));
    window.show();
    const QString range = QString::fromStdString(zud::range_line(4611686017000000000, 4611686018000000000));
    const QFontMetrics range_metrics(window.range_line_field()->font());
    EXPECT_LE(range_metrics.horizontalAdvance(range), window.range_line_field()->width()) << range.toStdString();
    const QString status = QStringLiteral("Sieved up to 4611686018427387903 (4611686.0 trillion)");
    const QFontMetrics status_metrics(window.status_line()->font());
    EXPECT_LE(status_metrics.horizontalAdvance(status), window.status_line()->width() - 4);
}

}  // namespace
