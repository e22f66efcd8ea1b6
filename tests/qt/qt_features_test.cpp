// The window as a volunteer meets it: hiding to the tray during a run, the
// tray's menu, the folder chooser, reasons in the dialogs, a window that
// grows, the Workers menu.
#include <QAction>
#include <QProgressDialog>
#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "run/worker_count.h"
#include "qt/qt_fixture.h"
#include "cli/command_line.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

QAction* tray_action(ZudWindow& window, const char* name)
{
    return window.tray_menu()->findChild<QAction*>(QString::fromLatin1(name));
}

// The program's loop goes on while the window hides and comes back; only
// the close ends it. A modal dialog's loop would end at the hiding.
TEST_F(QtWindow, hiding_to_the_tray_keeps_the_program_and_the_run_going)
{
    range.lower = 3001;
    range.upper = 200000000000;
    ZudWindow window(parts(true));
    std::vector<std::string> steps;
    std::int64_t p_when_hidden = 0;
    QTimer script;
    script.setInterval(100);
    QObject::connect(&script, &QTimer::timeout, [&] {
        zud::MainWindowLogic& logic = window.logic();
        if (steps.empty() && logic.last_reported_p() > 0) {
            window.showMinimized();
            steps.push_back("minimised");
        } else if (steps.size() == 1 && !window.isVisible()) {
            p_when_hidden = logic.last_reported_p();
            steps.push_back("hidden");
        } else if (steps.size() == 2 && logic.last_reported_p() > p_when_hidden + 200000) {
            logic.tray_activated();
            steps.push_back(window.isVisible() && !window.isMinimized() ? "back" : "not back");
        } else if (steps.size() == 3) {
            box.answers = {zud::BoxAnswer::ok};
            logic.start_stop();   // stop, confirmed
            steps.push_back("stopping");
        } else if (steps.size() == 4 && !logic.running()) {
            logic.close_request();
            steps.push_back("closed");
        }
    });
    script.start();
    QTimer guard;   // a hung test ends
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::quit(); });
    guard.start(60000);
    zud::qt::serve_window(window);
    EXPECT_EQ(steps, (std::vector<std::string>{"minimised", "hidden", "back", "stopping", "closed"}));
    EXPECT_TRUE(window.logic().destroyed());
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.find("pmin=", 20) != std::string::npos, true) << status;
}

TEST_F(QtWindow, the_tray_menu_shows_hides_stops_and_exits_with_the_window_questions)
{
    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(false));
    window.show();
    window.logic().initialize();
    ASSERT_TRUE(window.logic().running());
    emit window.tray_menu()->aboutToShow();
    EXPECT_EQ(tray_action(window, "show_hide")->text(), "&Hide");
    EXPECT_EQ(tray_action(window, "start_stop")->text(), "&Stop");
    // Pause and Resume, with the status line saying which.
    EXPECT_EQ(tray_action(window, "pause_resume")->text(), "Pause");
    tray_action(window, "pause_resume")->trigger();
    EXPECT_TRUE(window.logic().paused());
    EXPECT_EQ(window.logic().display_text(1), "Paused");
    emit window.tray_menu()->aboutToShow();
    EXPECT_EQ(tray_action(window, "pause_resume")->text(), "Resume");
    tray_action(window, "pause_resume")->trigger();
    EXPECT_FALSE(window.logic().paused());
    EXPECT_EQ(window.logic().display_text(1), "Sieving...");
    tray_action(window, "show_hide")->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
    emit window.tray_menu()->aboutToShow();
    EXPECT_EQ(tray_action(window, "show_hide")->text(), "&Show");

    box.answers = {zud::BoxAnswer::cancel};
    tray_action(window, "start_stop")->trigger();
    QCoreApplication::processEvents();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "The sieve is still running - are you sure you wish to stop it?");
    EXPECT_FALSE(window.logic().stop_requested());

    // Quit brings the hidden window back and asks the window's exit question.
    box.answers = {zud::BoxAnswer::cancel};
    tray_action(window, "quit")->trigger();
    QCoreApplication::processEvents();
    ASSERT_EQ(box.shown.size(), 2u);
    EXPECT_EQ(box.shown[1].text.substr(0, 59), "The sieve is still running - are you sure you wish to exit?");
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.logic().destroyed());
    window.logic().stopped(5000);
    tray_action(window, "quit")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.logic().destroyed());
}

TEST_F(QtWindow, without_data_here_the_folder_chooser_asks_and_the_folder_is_remembered)
{
    ::mkdir("data", 0755);
    ::rename("Zud.dat", "data/Zud.dat");
    range.accept = false;
    zud::qt::WindowParts p = parts(false);
    p.folder_chooser = nullptr;   // Qt's own
    ZudWindow window(p);
    window.show();
    QString title;
    QTimer::singleShot(200, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        title = dialog->windowTitle();
        // As a user would: the folder's path typed into the name field.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name != nullptr)
            name->setText(QString::fromStdString(dir_ + "/data"));
        static_cast<QDialog*>(dialog)->accept();
    });
    window.start();
    EXPECT_EQ(title, "Where is your Zud.dat?");
    EXPECT_EQ(window.logic().folder().shown(), dir_ + "/data");
    EXPECT_EQ(profile.values["folder"], dir_ + "/data");
    EXPECT_EQ(range.runs, 1);   // Zud.dat was found there
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(QtWindow, file_messages_name_the_folder)
{
    ::remove("Zud.dat");
    ::mkdir("empty", 0755);
    ASSERT_EQ(::chdir("empty"), 0);
    zud::qt::WindowParts p = parts(false);
    zud::StartOptions options;
    options.folder_given = true;
    ZudWindow window(p, options);
    window.start();
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, "The file 'Zud.dat' cannot be found in the folder '" + dir_ + "/empty'!");
}

TEST_F(QtWindow, the_chooser_takes_a_data_file_or_its_folder_and_refuses_an_empty_one)
{
    ::mkdir("empty", 0755);
    ::mkdir("data", 0755);
    ::rename("Zud.dat", "data/Zud.dat");
    zud::qt::DataFolderDialog dialog(nullptr, QString::fromStdString(dir_));
    dialog.show();
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    QString refusal;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
                refusal = box->text();
                box->done(QMessageBox::Ok);
            }
    });
    answer.start(50);
    name->setText(QString::fromStdString(dir_ + "/empty"));
    dialog.accept();
    EXPECT_TRUE(refusal.startsWith(QString::fromStdString("The folder '" + dir_ + "/empty' holds neither")))
        << refusal.toStdString();
    EXPECT_TRUE(dialog.isVisible());   // the chooser stays for another try
    refusal.clear();
    name->setText(QString::fromStdString(dir_ + "/data/Zud.dat"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << refusal.toStdString();
    EXPECT_EQ(dialog.folder().toStdString(), dir_ + "/data");
}

TEST_F(QtWindow, the_data_folder_menu_item_is_disabled_during_a_run_and_starts_in_the_new_folder)
{
    struct Chooser : zud::FolderChooser {
        std::optional<std::string> choose(const std::string&) override { return ++asked, answer; }
        std::optional<std::string> answer;
        int asked = 0;
    } chooser;
    ::mkdir("data", 0755);
    write_file("data/Zud.dat", test_data("small_Zud.dat"));
    chooser.answer = dir_ + "/data";
    range.lower = 3001;
    range.upper = 300000;
    zud::qt::WindowParts p = parts(false);
    p.folder_chooser = &chooser;
    ZudWindow window(p);
    window.logic().initialize();
    ASSERT_TRUE(window.logic().running());
    // Disabled, and its tooltip says why, rather than a refusal after a click.
    EXPECT_FALSE(window.folder_action()->isEnabled());
    EXPECT_TRUE(window.folder_action()->toolTip().startsWith(QStringLiteral("Stop the sieve first")));
    window.folder_action()->trigger();
    EXPECT_EQ(chooser.asked, 0);
    EXPECT_TRUE(box.shown.empty());
    window.logic().stopped(5000);
    ASSERT_FALSE(window.logic().running());
    EXPECT_TRUE(window.folder_action()->isEnabled());
    window.folder_action()->trigger();
    EXPECT_EQ(chooser.asked, 1);
    EXPECT_EQ(window.logic().folder().shown(), dir_ + "/data");
    EXPECT_EQ(profile.values["folder"], dir_ + "/data");
    EXPECT_TRUE(window.logic().running());   // Start, in the new folder
    EXPECT_EQ(range.runs, 2);
    // A new log that names the folder, and the title too; the new folder's
    // recorded factors are shown again, the old folder's are gone.
    EXPECT_EQ(window.log_pane()->toPlainText().toStdString(), "Data folder: " + dir_ + "/data");
    EXPECT_EQ(window.windowTitle().toStdString(), "ZudSieve 1.24 - " + dir_ + "/data");
    window.logic().stopped(5000);
    chooser.answer = dir_ + "/more";
    ::mkdir((dir_ + "/more").c_str(), 0755);
    write_file(dir_ + "/more/Zud.dat", test_data("small_Zud.dat"));
    write_file(dir_ + "/more/ZudStatus.dat", "pmax=300000\npmin=3001\n3011 | 7*2^410+1\npmin=4000\n");
    window.folder_action()->trigger();
    EXPECT_EQ(window.log_pane()->toPlainText().toStdString().substr(0, dir_.size() + 83),
              "Data folder: " + dir_ + "/more\n3011 | 7*2^410+1\nResumed at p=4,000 (range p=3,001 to p=300,000)");
}

TEST(QtDialogReasons, the_range_and_alpha_dialogs_say_why)
{
    zud_test::ScriptedBox box;
    zud::qt::RangeDialogQt range(nullptr, box);
    range.lower()->setText("1");
    range.upper()->setText("4611686019");
    range.accept();
    EXPECT_EQ(range.upper_reason()->text(), "at most 4,611,686,018 billion");
    EXPECT_TRUE(range.lower_reason()->text().isEmpty());
    range.upper()->setText("1");
    range.accept();
    EXPECT_EQ(range.upper_reason()->text(), "more than the lower end");
    range.upper()->setText("2");
    box.answers = {zud::BoxAnswer::no};
    range.accept();
    EXPECT_TRUE(range.upper_reason()->text().isEmpty());

    zud::qt::AlphaDialog alpha(nullptr, 2.5);
    alpha.field()->setText("10");
    alpha.accept();
    EXPECT_EQ(alpha.reason()->text(), "between 0.01 and 9.99");
    EXPECT_TRUE(alpha.field()->text().isEmpty());
}

TEST_F(QtWindow, the_window_grows_the_log_pane_and_keeps_its_place)
{
    range.accept = false;
    profile.values["window"] = "40 30 700 500";
    ZudWindow window(parts(false));
    window.show();
    window.logic().initialize();
    EXPECT_EQ(window.size(), QSize(700, 500));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    const QSize log_before = window.log_pane()->size();
    window.resize(900, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.log_pane()->width(), log_before.width() + 200);
    EXPECT_EQ(window.log_pane()->height(), log_before.height() + 200);
    window.logic().close_request();
    EXPECT_EQ(profile.values["window"].substr(profile.values["window"].find(' ', 3)), " 900 700");

    // A place half off the screen (saved at another scale) is not taken.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    profile.values["window"] = std::to_string(screen.right() - 300) + " 30 700 500";
    ZudWindow moved(parts(false));
    EXPECT_TRUE(screen.contains(moved.geometry())) << moved.x();
    EXPECT_EQ(moved.size(), QSize(700, 500));
}

TEST_F(QtWindow, the_workers_menu_offers_each_processor_and_keeps_the_choice)
{
    range.accept = false;
    profile.values["workers"] = "1";
    ZudWindow window(parts(false));
    window.logic().initialize();
    const int processors = zud::default_worker_count();
    EXPECT_TRUE(window.workers_action(1)->isChecked());
    EXPECT_NE(window.workers_action(processors), nullptr);
    EXPECT_EQ(window.workers_action(processors + 1), nullptr);
    window.workers_action(processors)->trigger();
    EXPECT_EQ(window.logic().workers(), processors);
    window.logic().close_request();
    EXPECT_EQ(profile.values["workers"], std::to_string(processors));
}

TEST_F(QtWindow, the_session_items_quit_and_a_folder_no_file_manager_opens)
{
    range.accept = false;
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::string config = before != nullptr ? before : "";
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    ZudWindow window(parts(false));
    window.logic().initialize();
    EXPECT_EQ(window.folder_action()->text(), "&Data folder...");
    // Start with the session: an autostart entry while ticked, none after.
    EXPECT_FALSE(window.autostart_action()->isChecked());
    window.autostart_action()->trigger();
    EXPECT_TRUE(window.autostart_action()->isChecked());
    const std::string entry = read_file("autostart/zudsieve.desktop");
    EXPECT_NE(entry.find("\nExec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n"),
              std::string::npos)
        << entry;
    window.autostart_action()->trigger();
    EXPECT_FALSE(exists("autostart/zudsieve.desktop"));
    if (before != nullptr)
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    // Start hidden in the tray, where there is one.
    window.hidden_action()->trigger();
    EXPECT_EQ(profile.values["start_hidden"], "1");
    EXPECT_TRUE(window.starts_hidden());
    tray.present = false;
    EXPECT_FALSE(window.starts_hidden());
    // Open data folder without a file manager: it says so.
    const std::string path = std::getenv("PATH");
    setenv("PATH", dir_.c_str(), 1);
    window.open_folder();
    setenv("PATH", path.c_str(), 1);
    spin_until([&] { return !box.shown.empty(); }, 5000);
    ASSERT_FALSE(box.shown.empty());
    EXPECT_EQ(box.shown.back().text.rfind("No file manager opened the folder", 0), 0u) << box.shown.back().text;
    // File > Quit, Ctrl+Q.
    EXPECT_EQ(window.quit_action()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    window.quit_action()->trigger();
    spin_until([&] { return window.logic().destroyed(); }, 2000);
    EXPECT_TRUE(window.logic().destroyed());
}

}  // namespace

namespace {

// Help > Check this processor runs the self-test off the window's thread
// and shows its lines in a box.
TEST_F(QtWindow, help_checks_this_processor_and_shows_each_line)
{
    range.accept = false;
    zud::StartOptions options;
    options.instruction_set = zud::InstructionSet::generic;   // one line: a few seconds
    ZudWindow window(parts(false), options);
    window.logic().initialize();
    QAction* check = nullptr;
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == QStringLiteral("C&heck this processor"))
            check = action;
    ASSERT_NE(check, nullptr);
    QString title, text;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    answer.start(50);
    check->trigger();
    EXPECT_FALSE(check->isEnabled());   // while the check runs
    auto* progress = window.findChild<QProgressDialog*>(QStringLiteral("check_progress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_TRUE(progress->labelText().startsWith(QStringLiteral("Checking this processor...")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty() && check->isEnabled(); }, 60000));
    EXPECT_EQ(title, QStringLiteral("Check this processor"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\n\\ngeneric: [0-9,]+ factors, all exact\\n\\nAll answers were exact\\.$"))
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    window.logic().close_request();
}

TEST(QtInformation, help_and_about_name_the_licence_with_links_that_open)
{
    std::unique_ptr<QDialog> help(zud::qt::make_help_dialog(nullptr));
    auto* text = help->findChild<QTextBrowser*>(QStringLiteral("help"));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->openExternalLinks());
    EXPECT_TRUE(text->toPlainText().startsWith(QStringLiteral("ZudSieve " ZUD_VERSION)));
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("GNU General Public License")));
    // What they point to exists: the manual page, no placeholder address.
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("man zudsieve")));
    EXPECT_FALSE(text->toHtml().contains(QStringLiteral("example.org")));
    std::unique_ptr<QDialog> about(zud::qt::make_about_box(nullptr, zud::processor_instruction_set()));
    auto* licence = about->findChild<QLabel*>(QStringLiteral("licence"));
    ASSERT_NE(licence, nullptr);
    EXPECT_TRUE(licence->openExternalLinks());
    EXPECT_TRUE(licence->text().contains(QStringLiteral("gpl-3.0.html")));
    EXPECT_TRUE(licence->text().contains(QStringLiteral("man zudsieve")));
    EXPECT_FALSE(licence->text().contains(QStringLiteral("example.org")));
}

// The window reads and writes the profile through the console's reader/
// writer. Profiles its earlier toolkit reader/writer wrote read back the
// same, and what is written now reads back the same through that one too.
TEST_F(QtWindow, the_profile_reads_what_the_toolkit_wrote_and_the_toolkit_reads_what_it_writes)
{
    const QString file = QString::fromStdString(dir_ + "/zudsieve.ini");
    const std::string paths[] = {"/home/a b/sieve", "/d/one,two;three", "/d/back\\slash\\", "/d/k=v", "/d/Zähler ∑ ü",
                                 " /d/blank at both ends ", "/d/\"quoted\"", "/d/\\\\two\\t", "@/d/at",
                                 "/a b,c\\d=e/Zähler"};
    for (const std::string& path : paths) {
        {
            QSettings toolkit(file, QSettings::IniFormat);
            toolkit.setValue(QStringLiteral("params/folder"), QString::fromStdString(path));
            toolkit.setValue(QStringLiteral("params/start_hidden"), 1);
        }
        auto profile = zud::open_ini_profile(file.toStdString());
        EXPECT_EQ(profile->get_string("folder", ""), path) << read_file("zudsieve.ini");
        EXPECT_EQ(profile->get_int("start_hidden", 0), 1);
        profile->set_string("folder", path + "/again");
        ASSERT_TRUE(profile->save());
        QSettings toolkit(file, QSettings::IniFormat);
        EXPECT_EQ(toolkit.value(QStringLiteral("params/folder")).toString().toStdString(), path + "/again")
            << read_file("zudsieve.ini");
    }
    // A window without a profile of its own opens the one in the
    // configuration folder.
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::string config = before != nullptr ? before : "";
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    range.accept = false;
    zud::qt::WindowParts p = parts(false);
    p.profile = nullptr;
    {
        ZudWindow window(p);
        EXPECT_TRUE(window.hidden_action()->isChecked());
    }
    if (before != nullptr)
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
