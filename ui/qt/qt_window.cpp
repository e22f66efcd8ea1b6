// The main window's controls, menu and event routing.
#include "ui/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
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

ZudWindow::ZudWindow(WindowParts parts)
{
    setFont(window_font());
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    setWindowIcon(QIcon(QStringLiteral(":/zudsieve/zudsieve.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    build_menu();
    build_controls();

    if (parts.box == nullptr) {
        own_box_ = std::make_unique<QtMessageBox>(this);
        parts.box = own_box_.get();
    }
    if (parts.tray == nullptr) {
        own_tray_ = std::make_unique<QtTray>(this, [this] { logic_->tray_activated(); });
        parts.tray = own_tray_.get();
    }
    if (parts.profile == nullptr) {
        own_profile_ = std::make_unique<QtProfile>(QString::fromStdString(profile_path()));
        parts.profile = own_profile_.get();
    }
    if (parts.range_dialog == nullptr) {
        own_range_ = std::make_unique<QtRangeDialog>(this, *parts.box);
        parts.range_dialog = own_range_.get();
    }
    WindowServices services{this,       parts.box, &cursor_, parts.tray, &clipboard_, parts.range_dialog,
                            parts.profile, monotonic_ms, {},        parts.start_worker};
    logic_ = std::make_unique<MainWindowLogic>(services);
    sink_ = std::make_unique<QtSink>(this, [this](const std::string& text) { logic_->handle_message(text); });
    set_message_sink(sink_.get());
}

ZudWindow::~ZudWindow()
{
    if (message_sink() == sink_.get())
        set_message_sink(nullptr);
}

void ZudWindow::build_controls()
{
    const DialogUnits du(font());
    const int top = menu_bar_->sizeHint().height();
    auto at = [&](int x, int y, int w, int h) { return du.rect(x, y, w, h).translated(0, top); };
    setFixedSize(du.size(261, 158) + QSize(0, top));
    menu_bar_->setGeometry(0, 0, width(), top);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setGeometry(at(7, 7, 191, 125));

    start_ = new QPushButton(QStringLiteral("&Start"), this);
    start_->setGeometry(at(204, 7, 50, 16));
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { logic_->start_stop(); });

    auto* group = new QGroupBox(QStringLiteral("Priority"), this);
    group->setGeometry(at(205, 97, 50, 48));
    // Positions inside the group, from the window's (213, 108), (213, 120), (213, 133).
    high_ = new QRadioButton(QStringLiteral("Hi&gh"), group);
    normal_ = new QRadioButton(QStringLiteral("Nor&mal"), group);
    idle_ = new QRadioButton(QStringLiteral("I&dle"), group);
    high_->setGeometry(du.rect(6, 12, 42, 10));
    normal_->setGeometry(du.rect(6, 24, 42, 10));
    idle_->setGeometry(du.rect(6, 36, 42, 10));
    auto* radios = new QButtonGroup(this);
    radios->addButton(high_);
    radios->addButton(normal_);
    radios->addButton(idle_);
    connect(high_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::high); });
    connect(normal_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::normal); });
    connect(idle_, &QRadioButton::clicked, this, [this] { logic_->select_priority_class(PriorityClass::idle); });

    status_ = new QLineEdit(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setReadOnly(true);
    status_->setGeometry(at(7, 132, 191, 12));
    status_->installEventFilter(this);

    range_ = new QLineEdit(this);
    range_->setObjectName(QStringLiteral("range"));
    range_->setReadOnly(true);
    range_->setFrame(false);
    range_->setAlignment(Qt::AlignCenter);
    range_->setFocusPolicy(Qt::NoFocus);
    // Wider than the log pane, to the window's right margin: a range near
    // 2^62 takes 58 characters.
    range_->setGeometry(at(7, 145, 247, 12));
}

void ZudWindow::build_menu()
{
    auto* bar = new QMenuBar(this);
    menu_bar_ = bar;
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
    options->addSeparator();
    alpha_action_ = options->addAction(QStringLiteral("&Set alpha..."));
    connect(alpha_action_, &QAction::triggered, this, &ZudWindow::open_alpha_dialog);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    connect(help->addAction(QStringLiteral("&Contents")), &QAction::triggered, this, [this] {
        std::unique_ptr<QDialog> dialog(make_help_dialog(this));
        dialog->exec();
    });
    help->addSeparator();
    connect(help->addAction(QStringLiteral("&About ZudSieve...")), &QAction::triggered, this, [this] {
        std::unique_ptr<QDialog> dialog(make_about_box(this));
        dialog->exec();
    });
}

void ZudWindow::open_alpha_dialog()
{
    AlphaDialog dialog(this, logic_->alpha());
    if (dialog.exec() == QDialog::Accepted)
        logic_->set_alpha(dialog.value());
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
}

void ZudWindow::show_range_line(const std::string& text)
{
    range_->setText(QString::fromStdString(text));
}

void ZudWindow::set_start_caption(const std::string& caption)
{
    start_->setText(QString::fromStdString(caption));
}

void ZudWindow::set_start_enabled(bool enabled)
{
    start_->setEnabled(enabled);
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
    if (!closing_)
        logic_->close_request();
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

int run_window(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Qt takes the user's locale; the profile and the dialogs' numbers use
    // the decimal point whatever the locale says.
    std::setlocale(LC_NUMERIC, "C");
    ZudWindow window;
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.logic().initialize(); });
    window.exec();
    const int status = window.logic().outcome() == RunOutcome::verification_failed ? 2 : 0;
    // The exit line, the profile and the tray are done with; a worker may
    // still run or be blocked in a send to this window, so end here, before
    // any destructor can pull the window from under it.
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace zud::qt
