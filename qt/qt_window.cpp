// The main window's controls, menu and event routing.
#include "qt/qt_window.h"

#include "app/autostart.h"
#include "qt/qt_accessibility.h"
#include "qt/qt_record_views.h"
#include "qt/qt_computing_prefs.h"

#include <chrono>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace zud::qt {

namespace {

QFont window_font()
{
    QFont font(QStringLiteral("Arial"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

ZudWindow::ZudWindow(WindowParts parts, StartOptions options) : options_(options)
{
    setFont(window_font());
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    setWindowIcon(QIcon(QStringLiteral(":/zudsieve/zudsieve.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    build_menu();
    build_controls();
    build_tray_menu();

    if (parts.box == nullptr) {
        own_box_ = std::make_unique<QtMessageBox>(this);
        parts.box = own_box_.get();
    }
    answered_box_ = std::make_unique<AnswerHandedOver>(*parts.box, options_.yes);
    naming_box_ = std::make_unique<FolderNamingBox>(*answered_box_, [this] { return logic_->folder().shown(); });
    if (parts.tray == nullptr) {
        own_tray_ = std::make_unique<QtTray>(this, [this] { logic_->tray_activated(); });
        own_tray_->set_menu(tray_menu_);
        own_tray_->set_folder_opener([this] { open_folder(); });
        own_tray_->set_data_folder([this] { return logic_->folder(); });
        parts.tray = own_tray_.get();
    }
    if (parts.profile == nullptr) {
        own_profile_ = open_ini_profile(profile_path());
        parts.profile = own_profile_.get();
    }
    profile_ = parts.profile;
    tray_ = parts.tray;
    hidden_action_->setChecked(profile_->get_int("start_hidden", 0) == 1);
    autostart_action_->setChecked(autostart_enabled());
    if (parts.range_dialog == nullptr) {
        own_range_ = std::make_unique<QtRangeDialog>(this, *naming_box_);
        parts.range_dialog = own_range_.get();
    }
    preset_range_ = std::make_unique<PresetRange>(*parts.range_dialog, options_);
    if (parts.folder_chooser == nullptr) {
        own_chooser_ = std::make_unique<QtFolderChooser>(this);
        parts.folder_chooser = own_chooser_.get();
    }
    chooser_ = parts.folder_chooser;
    // The wake-up runs on the run's thread: it only posts; the events are
    // taken when the window's loop comes to the posted call.
    events_ = std::make_unique<EventQueue>([this] {
        QMetaObject::invokeMethod(this, [this] { events_->deliver(*logic_); }, Qt::QueuedConnection);
    });
    WindowServices services{this,          naming_box_.get(), &cursor_,      parts.tray,      &clipboard_,
                            preset_range_.get(), parts.profile, monotonic_ms, events_.get(),
                            parts.start_run,     nullptr,           options_.instruction_set};
    logic_ = std::make_unique<MainWindowLogic>(services);
    logic_->override_workers(options_.workers);
    logic_->use_device(options_.device, options_.device_alone);
    logic_->override_stop_seconds(options_.stop_seconds);
    // Records that could not be written are tried again every second, and
    // the tray is looked for as often: a panel may come at any time.
    auto* retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this] {
        if (logic_->records_pending())
            logic_->retry_records();
        logic_->tray_presence(tray_->available());
    });
    retry->start(1000);
    restore_placement(*parts.profile);
    add_record_views(*this);
    add_computing_prefs(*this);
    describe_controls(*this);
}

void ZudWindow::display_lost()
{
    end_all_questions();
    logic_->session_ending();
    logic_->exit_confirmed();
    // Records that cannot be written yet are not waited for long: nobody
    // can be asked to give them up.
    for (int tries = 0; tries < 100 && logic_->running() && !logic_->destroyed(); ++tries) {
        events_->deliver(*logic_, std::chrono::milliseconds(100));
        if (logic_->records_pending() && tries % 10 == 9)
            logic_->retry_records();
    }
}

// The logic goes first: it stops a run still going and waits for it, which
// may still post to the queue.
ZudWindow::~ZudWindow()
{
    logic_.reset();
}

void ZudWindow::build_controls()
{
    const DialogUnits du(font());
    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setMinimumSize(du.size(120, 60));

    start_ = new QPushButton(QStringLiteral("&Start"), this);
    start_->setFixedSize(du.size(50, 16));
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { logic_->start_stop(); });

    pause_ = new QPushButton(QStringLiteral("&Pause"), this);
    pause_->setObjectName(QStringLiteral("pause_resume"));
    pause_->setFixedSize(du.size(50, 16));
    pause_->setAutoDefault(false);
    pause_->setEnabled(false);
    connect(pause_, &QPushButton::clicked, this, [this] { logic_->pause_resume(); });

    auto* group = new QGroupBox(QStringLiteral("Priority"), this);
    high_ = new QRadioButton(QStringLiteral("Hi&gh"), group);
    normal_ = new QRadioButton(QStringLiteral("Nor&mal"), group);
    idle_ = new QRadioButton(QStringLiteral("I&dle"), group);
    auto* radio_column = new QVBoxLayout(group);
    auto* radios = new QButtonGroup(this);
    for (QRadioButton* radio : {high_, normal_, idle_}) {
        radio_column->addWidget(radio);
        radios->addButton(radio);
    }
    group->setFixedWidth(du.size(50, 0).width());
    connect(high_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::high); });
    connect(normal_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::normal); });
    connect(idle_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::idle); });

    status_ = new QLineEdit(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setReadOnly(true);
    status_->setToolTip(QStringLiteral(
        "Click to show the rate, the status or the share done and time left.\n"
        "p/sec: how far p advances each second.\n"
        "sec/n/k: the seconds between two factors times the number of k, the time one k takes to lose one n."));
    status_->installEventFilter(this);

    range_ = new QLineEdit(this);
    range_->setObjectName(QStringLiteral("range"));
    range_->setReadOnly(true);
    range_->setFrame(false);
    range_->setAlignment(Qt::AlignCenter);
    range_->setFocusPolicy(Qt::NoFocus);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("0.0%"));
    progress_->setMaximumHeight(du.size(0, 10).height());
    lay_out(group);
    resize(du.size(275, 170) + QSize(0, menu_bar_->sizeHint().height()));
}

// The log pane takes whatever room the window gains.
void ZudWindow::lay_out(QWidget* priority_group)
{
    auto* grid = new QGridLayout(this);
    grid->setMenuBar(menu_bar_);
    grid->addWidget(log_, 0, 0);
    auto* right = new QVBoxLayout;
    right->addWidget(start_);
    right->addWidget(pause_);
    right->addStretch(1);
    right->addWidget(priority_group);
    grid->addLayout(right, 0, 1, 2, 1);
    grid->addWidget(status_, 1, 0);
    grid->addWidget(range_, 2, 0);
    grid->addWidget(progress_, 3, 0, 1, 2);
    grid->setRowStretch(0, 1);
    grid->setColumnStretch(0, 1);
}

QRadioButton* ZudWindow::priority_button(PriorityClass cls) const
{
    return cls == PriorityClass::high ? high_ : cls == PriorityClass::normal ? normal_ : idle_;
}

QAction* ZudWindow::thread_priority_action(ThreadPriority priority) const
{
    return priority == ThreadPriority::normal ? thread_normal_ : thread_lowest_;
}

void ZudWindow::log_appended(const std::string& text)
{
    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(from_log_text(text));
}

void ZudWindow::log_cut_front(const std::string& removed)
{
    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, static_cast<int>(from_log_text(removed).size()));
    cursor.removeSelectedText();
}

void ZudWindow::log_replaced(const std::string& text)
{
    log_->setPlainText(from_log_text(text));
}

void ZudWindow::log_scroll_to_end()
{
    log_->moveCursor(QTextCursor::End);
    log_->ensureCursorVisible();
}

void ZudWindow::focus_log()
{
    log_->setFocus();
}

void ZudWindow::show_status_line(const std::string& text)
{
    status_->setText(QString::fromStdString(text));
    // A long display shows its start; the whole text is the tooltip.
    status_->setCursorPosition(0);
    status_->setToolTip(QString::fromStdString(text));
}

void ZudWindow::show_range_line(const std::string& text)
{
    range_->setText(QString::fromStdString(text));
}

void ZudWindow::set_start_caption(const std::string& caption)
{
    start_->setText(QString::fromStdString(caption));
}

void ZudWindow::show_pause(bool enabled, bool paused)
{
    pause_->setEnabled(enabled);
    pause_->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    // The button is usable exactly while a run goes, and a run holds its
    // folder: the menu item says so rather than refuse after a click.
    folder_action_->setEnabled(!enabled);
    folder_action_->setToolTip(enabled ? QStringLiteral("Stop the sieve first: a running sieve keeps its data folder")
                                       : QStringLiteral("Work in another folder of Zud.dat and ZudStatus.dat"));
}

// The title names the folder, with the home folder as "~".
void ZudWindow::show_folder(const std::string& folder)
{
    QString shown = QString::fromStdString(folder);
    const QString home = QDir::homePath();
    if (home.size() > 1 && (shown == home || shown.startsWith(home + QLatin1Char('/'))))
        shown = QLatin1Char('~') + shown.mid(home.size());
    setWindowTitle(QString::fromLatin1(kProgramTitle) + QStringLiteral(" - ") + shown);
}

void ZudWindow::show_priority_class(PriorityClass cls)
{
    priority_button(cls)->setChecked(true);
}

void ZudWindow::show_thread_priority(ThreadPriority priority)
{
    thread_normal_->setChecked(priority == ThreadPriority::normal);
    thread_lowest_->setChecked(priority == ThreadPriority::lowest);
}

bool ZudWindow::window_visible() const
{
    return isVisible() && !isMinimized();
}

void ZudWindow::show_window()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void ZudWindow::hide_window()
{
    hide();
}

void ZudWindow::close_window()
{
    closing_ = true;
    done(0);
}

void ZudWindow::accept()
{
    // Enter presses the default button (Start/Stop); the window stays.
}

void ZudWindow::reject()
{
    // The close box, Alt+F4 and the menus close the window; Esc does not.
}

void ZudWindow::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    logic_->close_request();
}

void ZudWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] { logic_->minimized(); });
}

bool ZudWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == status_ && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, this, [this] { logic_->status_line_clicked(); });
    return QDialog::eventFilter(watched, event);
}

}  // namespace zud::qt
