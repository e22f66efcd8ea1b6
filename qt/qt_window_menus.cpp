// The main window's menus, the tray icon's menu, its place on the screen,
// and the program's event loop.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "run/self_test.h"
#include "run/worker_count.h"
#include "data/file_io.h"
#include "qt/qt_single.h"
#include "qt/qt_window.h"
#include "app/autostart.h"

namespace zud::qt {

void ZudWindow::build_menu()
{
    auto* bar = new QMenuBar(this);
    menu_bar_ = bar;
    build_file_menu(bar);
    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    QMenu* worker = options->addMenu(QStringLiteral("&Worker Thread Priority"));
    thread_normal_ = worker->addAction(QStringLiteral("&Normal"));
    thread_lowest_ = worker->addAction(QStringLiteral("&Lowest"));
    for (QAction* a : {thread_normal_, thread_lowest_})
        a->setCheckable(true);
    connect(thread_normal_, &QAction::triggered, this,
            [this] { logic_->select_thread_priority(ThreadPriority::normal); });
    connect(thread_lowest_, &QAction::triggered, this,
            [this] { logic_->select_thread_priority(ThreadPriority::lowest); });
    build_workers_menu(options);
    options->addSeparator();
    alpha_action_ = options->addAction(QStringLiteral("&Set alpha..."));
    connect(alpha_action_, &QAction::triggered, this, &ZudWindow::open_alpha_dialog);
    build_depth_stop_item(options);
    options->addSeparator();
    folder_action_ = options->addAction(QStringLiteral("&Data folder..."));
    options->setToolTipsVisible(true);
    connect(folder_action_, &QAction::triggered, this, &ZudWindow::choose_data_folder);
    connect(options->addAction(QStringLiteral("&Open data folder")), &QAction::triggered, this,
            &ZudWindow::open_folder);
    options->addSeparator();
    build_session_items(options);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    connect(help->addAction(QStringLiteral("&Contents")), &QAction::triggered, this, [this] {
        std::unique_ptr<QDialog> dialog(make_help_dialog(this));
        dialog->exec();
    });
    // The self-test takes seconds: on a thread of its own, the answer in a box.
    QAction* check = help->addAction(QStringLiteral("C&heck this processor"));
    connect(check, &QAction::triggered, this, [this, check] { check_processor(check); });
    help->addSeparator();
    connect(help->addAction(QStringLiteral("&About ZudSieve...")), &QAction::triggered, this, [this] {
        std::unique_ptr<QDialog> dialog(make_about_box(this, options_.instruction_set));
        dialog->exec();
    });
}

// Help > Check this processor: the self-test of `zudsieve --self-test`. The
// thread keeps its outcome alive by itself, so a window closed meanwhile
// loses nothing; a timer of the window collects it. It takes some twenty
// seconds: a small window shows each instruction set's answer as it comes.
void ZudWindow::check_processor(QAction* action)
{
    struct Outcome {
        std::atomic<bool> done{false};
        bool exact = false;
        std::mutex lock;
        std::string lines;   // under lock
    };
    action->setEnabled(false);
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, top = options_.instruction_set] {
        const bool exact = run_self_test(top, [&outcome](const std::string& line) {
            const std::lock_guard<std::mutex> hold(outcome->lock);
            outcome->lines += line + "\n";
        });
        outcome->exact = exact;
        outcome->done.store(true);
    }).detach();
    auto* progress = new QProgressDialog(QStringLiteral("Checking this processor..."), QString(), 0, 0, this);
    progress->setObjectName(QStringLiteral("check_progress"));
    progress->setWindowTitle(QStringLiteral("Check this processor"));
    progress->setMinimumDuration(0);
    progress->setWindowModality(Qt::NonModal);
    progress->show();
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, action, outcome, progress] {
        if (!outcome->done.load()) {
            const std::lock_guard<std::mutex> hold(outcome->lock);
            progress->setLabelText(QStringLiteral("Checking this processor...\n\n") +
                                   QString::fromStdString(outcome->lines).trimmed());
            return;
        }
        poll->stop();
        poll->deleteLater();
        progress->close();
        progress->deleteLater();
        action->setEnabled(true);
        const QString text =
            QStringLiteral("Each instruction set of this processor sieved cases whose factors are known:\n\n") +
            QString::fromStdString(outcome->lines) +
            (outcome->exact ? QStringLiteral("\nAll answers were exact.")
                            : QStringLiteral("\nSome answers were NOT exact: this processor cannot be trusted to sieve."));
        QMessageBox box(outcome->exact ? QMessageBox::Information : QMessageBox::Warning,
                        QStringLiteral("Check this processor"), text, QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("check_processor"));
        box.exec();
    });
    poll->start(100);
}

// The results onto the clipboard when asked (never unasked), and Quit,
// which asks as the close box does while a run goes.
void ZudWindow::build_file_menu(QMenuBar* bar)
{
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    copy_action_ = file->addAction(QStringLiteral("&Copy results"));
    connect(copy_action_, &QAction::triggered, this, [this] { logic_->copy_results(); });
    file->addSeparator();
    quit_action_ = file->addAction(QStringLiteral("&Quit"));
    quit_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_action_->setShortcutContext(Qt::WindowShortcut);
    connect(quit_action_, &QAction::triggered, this, [this] { logic_->close_request(); }, Qt::QueuedConnection);
}

// Options > "Start with the session" (an autostart entry, there while
// ticked) and "Start hidden in the tray" (the profile's "start_hidden").
void ZudWindow::build_session_items(QMenu* options)
{
    autostart_action_ = options->addAction(QStringLiteral("Start with the session"));
    autostart_action_->setCheckable(true);
    connect(autostart_action_, &QAction::triggered, this, [this](bool enabled) {
        const std::string refusal = set_autostart(enabled, QCoreApplication::applicationFilePath().toStdString());
        autostart_action_->setChecked(autostart_enabled());
        if (!refusal.empty())
            naming_box_->show(refusal, BoxIcon::warning, BoxButtons::ok, BoxAnswer::ok);
    });
    hidden_action_ = options->addAction(QStringLiteral("Start hidden in the tray"));
    hidden_action_->setCheckable(true);
    connect(hidden_action_, &QAction::triggered, this, [this](bool hidden) {
        profile_->set_int("start_hidden", hidden ? 1 : 0);
        profile_->save();
    });
}

bool ZudWindow::starts_hidden() const
{
    return profile_->get_int("start_hidden", 0) == 1 && tray_->available();
}

void ZudWindow::open_folder()
{
    open_data_folder(logic_->folder().shown(), [this](const std::string& folder) {
        naming_box_->show("No file manager opened the folder '" + folder + "'. It holds 'Zud.dat' and "
                          "'ZudStatus.dat'; open it with a file manager of your own.",
                          BoxIcon::warning, BoxButtons::ok, BoxAnswer::ok);
    });
}

// One item per processor the program may use; the choice is kept in the
// profile and, like a priority, taken by a running sieve at once.
void ZudWindow::build_workers_menu(QMenu* options)
{
    QMenu* menu = options->addMenu(QStringLiteral("W&orkers"));
    workers_group_ = new QActionGroup(this);
    workers_group_->setExclusive(true);
    const int processors = default_worker_count();
    for (int n = 1; n <= processors; ++n) {
        QAction* action = menu->addAction(QString::number(n));
        action->setCheckable(true);
        action->setData(n);
        workers_group_->addAction(action);
        connect(action, &QAction::triggered, this, [this, n] { logic_->choose_workers(n); });
    }
}

QAction* ZudWindow::workers_action(int workers) const
{
    const QList<QAction*> actions = workers_group_->actions();
    return workers >= 1 && workers <= actions.size() ? actions[workers - 1] : nullptr;
}

void ZudWindow::show_workers(int workers)
{
    if (QAction* action = workers_action(workers))
        action->setChecked(true);
}

// Show/Hide, Start/Stop, Pause/Resume and Quit, with the window's own
// questions.
void ZudWindow::build_tray_menu()
{
    tray_menu_ = new QMenu(this);
    tray_menu_->setObjectName(QStringLiteral("tray_menu"));
    QAction* show_hide = tray_menu_->addAction(QStringLiteral("&Hide"));
    show_hide->setObjectName(QStringLiteral("show_hide"));
    QAction* start_stop = tray_menu_->addAction(QStringLiteral("&Stop"));
    start_stop->setObjectName(QStringLiteral("start_stop"));
    QAction* pause = tray_menu_->addAction(QStringLiteral("Pause"));
    pause->setObjectName(QStringLiteral("pause_resume"));
    tray_menu_->addSeparator();
    QAction* exit = tray_menu_->addAction(QStringLiteral("&Quit"));
    exit->setObjectName(QStringLiteral("quit"));
    connect(tray_menu_, &QMenu::aboutToShow, this, [this, show_hide, start_stop, pause] {
        show_hide->setText(window_visible() ? QStringLiteral("&Hide") : QStringLiteral("&Show"));
        start_stop->setText(start_->text());
        start_stop->setEnabled(start_->isEnabled());
        pause->setText(logic_->paused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        pause->setEnabled(logic_->running());
    });
    connect(pause, &QAction::triggered, this, [this] { logic_->pause_resume(); });
    // Queued: the menu closes before a question opens.
    connect(show_hide, &QAction::triggered, this, [this] { logic_->tray_activated(); }, Qt::QueuedConnection);
    connect(start_stop, &QAction::triggered, this, [this] { logic_->start_stop(); }, Qt::QueuedConnection);
    connect(exit, &QAction::triggered, this, [this] { logic_->close_request(); }, Qt::QueuedConnection);
}

// Another folder, then a Start there, as at the program's own start.
void ZudWindow::choose_data_folder()
{
    std::string refusal;
    DataFolder folder = logic_->folder();
    if (change_data_folder(logic_->running(), folder, *profile_, *chooser_, refusal)) {
        logic_->folder_changed(folder);
        return;
    }
    if (!refusal.empty())
        naming_box_->show(refusal, BoxIcon::warning, BoxButtons::ok, BoxAnswer::ok);
}

SecondStartAnswer ZudWindow::second_start(const std::string& folder)
{
    if (!window_visible())
        logic_->tray_activated();
    else
        show_window();
    const std::string here = logic_->folder().shown();
    if (folder.empty() || folder == here)
        return {true, "ZudSieve is already running in '" + here + "': its window has come forward."};
    DataFolder next = logic_->folder();
    const std::string word = switch_data_folder(logic_->running(), next, folder, *profile_);
    if (!word.empty())
        return {false, word};
    QTimer::singleShot(0, this, [this, next] { logic_->folder_changed(next); });
    return {true, "ZudSieve is already running: its window has come forward and works in '" + folder + "' now."};
}

void ZudWindow::open_alpha_dialog()
{
    AlphaDialog dialog(this, logic_->alpha());
    if (dialog.exec() == QDialog::Accepted)
        logic_->set_alpha(dialog.value());
}

// The bar says the same figure as the status line: tenths, rounded down.
void ZudWindow::show_progress(int permille)
{
    progress_->setValue(permille);
    progress_->setFormat(QStringLiteral("%1.%2%").arg(permille / 10).arg(permille % 10));
}

std::string ZudWindow::placement() const
{
    const QRect place = isMaximized() ? normalGeometry() : geometry();
    return format_placement({place.x(), place.y(), place.width(), place.height(), isMaximized()});
}

// Where it was last time, unless that is no longer wholly on one screen (a
// screen gone, another scale): then the desktop places it, at the saved
// size where that still fits.
void ZudWindow::restore_placement(Profile& profile)
{
    const std::optional<Placement> place = parse_placement(profile.get_string("window", ""));
    if (!place)
        return;
    const QRect rect(place->x, place->y, place->width, place->height);
    bool on_screen = false;
    bool fits = false;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect room = screen->availableGeometry();
        on_screen = on_screen || room.contains(rect);
        fits = fits || (rect.width() <= room.width() && rect.height() <= room.height());
    }
    if (on_screen)
        setGeometry(rect);
    else if (fits)
        resize(rect.size());
    if (place->maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void ZudWindow::start()
{
    logic_->set_folder(options_.folder_given ? DataFolder(options_.folder) : settle_data_folder(*profile_, chooser_));
    logic_->initialize();
}

int serve_window(ZudWindow& window)
{
    // Hiding to the tray hides the last window: that must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &QDialog::finished, qApp, [] { QCoreApplication::quit(); });
    // Hidden in the tray only where a tray can bring it back.
    if (!window.starts_hidden())
        window.show();
    QTimer::singleShot(0, &window, [&window] { window.start(); });
    QApplication::exec();
    return window.logic().outcome() == RunOutcome::verification_failed ? 2 : 0;
}

namespace {

std::atomic<int> g_end_signals{0};

extern "C" void on_end_signal(int)
{
    g_end_signals.fetch_add(1);
}

// SIGTERM, SIGHUP (the session ends) and SIGINT end the window as a
// confirmed exit does: the run stops and records itself first. A second
// signal ends it at once.
void end_on_signals(ZudWindow& window)
{
    struct sigaction action {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal_number, &action, nullptr);
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, handled = 0]() mutable {
        const int received = g_end_signals.load();
        if (received == handled)
            return;
        if (handled == 0) {
            // The open question closes with its cautious answer, then the
            // run records itself and the window goes.
            end_all_questions();
            window.logic().session_ending();
            window.logic().exit_confirmed();
        } else {
            window.logic().session_ending();
            window.logic().exit_now();
        }
        handled = received;
    });
    timer->start(200);
    // A logout through the session manager: the same as SIGTERM.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [](QSessionManager&) {
        if (g_end_signals.load() == 0)
            g_end_signals.fetch_add(1);
    });
}

ZudWindow* g_window_at_exit = nullptr;

// Our own ends go through _Exit; an exit() in the window's process is Qt's
// (or Xlib's) answer to a display connection that broke, from inside the
// event loop. The run records itself first, as it does for SIGTERM.
extern "C" void record_at_exit()
{
    ZudWindow* window = g_window_at_exit;
    g_window_at_exit = nullptr;
    if (window == nullptr)
        return;
    window->display_lost();
    std::fflush(nullptr);
    // The rest of exit() would pull objects from under the run's threads.
    std::_Exit(1);
}

}  // namespace

int run_window(int argc, char** argv, const StartOptions& options)
{
    QApplication app(argc, argv);
    // Qt takes the user's locale; the profile and the dialogs' numbers use
    // the decimal point whatever the locale says.
    std::setlocale(LC_NUMERIC, "C");
    // A window nobody sees (the offscreen platform of scripts and tests)
    // has nothing to bring forward: those may run side by side.
    const bool seen = QGuiApplication::platformName() != QStringLiteral("offscreen");
    const SingleWindowPlace place = seen ? single_window_place() : SingleWindowPlace{};
    if (!place.refusal.empty())
        std::fprintf(stderr, "zudsieve: %s: this window does not look for another one.\n", place.refusal.c_str());
    const bool single = seen && place.refusal.empty();
    // Starts at the same instant agree on one first window through the
    // lock; the others hand over to it once it listens.
    if (single && !claim_first_window(place.lock)) {
        const std::string here = DataFolder(options.folder).shown();
        const std::string folder = options.folder_given || folder_has_data(here) ? here : std::string();
        SecondStartAnswer answer;
        bool handed = false;
        for (int tries = 0; tries < 100 && !handed; ++tries) {
            handed = hand_to_running_window(place.socket, folder, answer);
            if (!handed)
                QThread::msleep(100);
        }
        if (!handed) {
            std::fprintf(stderr, "zudsieve: another ZudSieve window of this display does not answer.\n");
            return 1;
        }
        std::fprintf(stderr, "zudsieve: %s\n", answer.word.c_str());
        return answer.taken ? 0 : 1;
    }
    ZudWindow window({}, options);
    SingleWindowServer server(&window, [&window](const std::string& folder) { return window.second_start(folder); });
    if (single && !server.listen(place.socket))
        std::fprintf(stderr, "zudsieve: the socket '%s' cannot be made: this window does not look for another one.\n",
                     place.socket.toLocal8Bit().constData());
    end_on_signals(window);
    g_window_at_exit = &window;
    std::atexit(record_at_exit);
    const int status = serve_window(window);
    // The exit line, the profile and the tray are done with; a worker may
    // still run or be blocked in a send to this window, so end here, before
    // any destructor can pull the window from under it.
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace zud::qt
