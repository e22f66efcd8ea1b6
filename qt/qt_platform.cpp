// Qt implementations of the platform layer.
#include "qt/qt_platform.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTreeView>
#include <QUrl>
#include <memory>

#include "data/status_file.h"

namespace zud::qt {

namespace {

bool g_questions_ended = false;

const char* const kNoticeService = "org.freedesktop.Notifications";
const char* const kNoticePath = "/org/freedesktop/Notifications";

}  // namespace

void end_all_questions()
{
    g_questions_ended = true;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog != nullptr && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
}

bool questions_ended()
{
    return g_questions_ended;
}

QIcon marked_icon(TrayMark state)
{
    QPixmap pixmap = QPixmap(QStringLiteral(":/zudsieve/zudsieve.png"))
                         .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (state == TrayMark::none)
        return QIcon(pixmap);
    // Green: sieving; amber with two bars: paused; grey with a square:
    // stopped; blue with a tick: done. A dark ring keeps the mark apart from
    // the icon on any panel colour.
    const QColor fill = state == TrayMark::running   ? QColor(0x2e, 0xa0, 0x43)
                        : state == TrayMark::paused  ? QColor(0xe0, 0x90, 0x10)
                        : state == TrayMark::stopped ? QColor(0x8a, 0x8a, 0x8a)
                                                     : QColor(0x1f, 0x6f, 0xd0);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 3));
    painter.setBrush(fill);
    const QRectF dot(36, 36, 26, 26);
    painter.drawEllipse(dot);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (state == TrayMark::done) {
        painter.drawPolyline(QPolygonF({QPointF(42, 49), QPointF(47, 55), QPointF(56, 43)}));
    } else if (state == TrayMark::paused) {
        painter.drawLine(QPointF(45, 43), QPointF(45, 55));
        painter.drawLine(QPointF(53, 43), QPointF(53, 55));
    } else if (state == TrayMark::stopped) {
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(44, 44, 10, 10));
    }
    return QIcon(pixmap);
}

void copy_results(const DataFolder& folder)
{
    QApplication::clipboard()->setText(QString::fromStdString(read_status_text(folder)));
}

// Through xdg-open, whose status says whether a file manager took the
// folder (Qt's own opener only says whether it could start one).
void open_data_folder(const std::string& shown, std::function<void(const std::string& folder)> unopened)
{
    const QString folder = QString::fromStdString(shown);
    auto* opener = new QProcess(qApp);
    auto told = std::make_shared<bool>(false);
    auto tell = [unopened = std::move(unopened), folder, told] {
        if (!*told && unopened)
            unopened(folder.toStdString());
        *told = true;
    };
    QObject::connect(opener, &QProcess::finished, opener, [opener, tell](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            tell();
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, tell](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            tell();
            opener->deleteLater();
        }
    });
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->start(QStringLiteral("xdg-open"), {folder});
}

QString from_log_text(const std::string& text)
{
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

BoxAnswer QtMessageBox::show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer)
{
    if (questions_ended())
        return default_answer;
    QMessageBox box(parent_);
    box.setWindowTitle(QStringLiteral("ZudSieve"));
    box.setText(from_log_text(text));
    // A plain notice is information; a plain Yes/No is still a question.
    box.setIcon(icon == BoxIcon::warning                                  ? QMessageBox::Warning
                : icon == BoxIcon::question || buttons != BoxButtons::ok ? QMessageBox::Question
                                                                         : QMessageBox::Information);
    struct Choice {
        QMessageBox::StandardButton button;
        BoxAnswer answer;
    };
    static constexpr Choice kOk[] = {{QMessageBox::Ok, BoxAnswer::ok}};
    static constexpr Choice kOkCancel[] = {{QMessageBox::Ok, BoxAnswer::ok}, {QMessageBox::Cancel, BoxAnswer::cancel}};
    static constexpr Choice kYesNo[] = {{QMessageBox::Yes, BoxAnswer::yes}, {QMessageBox::No, BoxAnswer::no}};
    const Choice* first = buttons == BoxButtons::ok ? kOk : buttons == BoxButtons::ok_cancel ? kOkCancel : kYesNo;
    const Choice* last = first + (buttons == BoxButtons::ok ? 1 : 2);
    QMessageBox::StandardButtons all;
    for (const Choice* c = first; c != last; ++c)
        all |= c->button;
    box.setStandardButtons(all);
    for (const Choice* c = first; c != last; ++c)
        if (c->answer == default_answer)
            box.setDefaultButton(c->button);
    const int result = box.exec();
    for (const Choice* c = first; c != last; ++c)
        if (result == c->button)
            return c->answer;
    return default_answer;   // closed otherwise: the cautious answer
}

BoxAnswer QtMessageBox::ask_named(const std::string& text, const std::string& ok_label,
                                  const std::string& cancel_label, BoxAnswer default_answer)
{
    if (questions_ended())
        return default_answer;
    QMessageBox box(QMessageBox::Question, QStringLiteral("ZudSieve"), from_log_text(text), QMessageBox::NoButton,
                    parent_);
    QPushButton* ok = box.addButton(QString::fromStdString(ok_label), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QString::fromStdString(cancel_label), QMessageBox::RejectRole);
    box.setDefaultButton(default_answer == BoxAnswer::ok ? ok : cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok ? BoxAnswer::ok : BoxAnswer::cancel;
}

void QtWaitCursor::begin()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtWaitCursor::end()
{
    QApplication::restoreOverrideCursor();
}

void QtClipboard::copy(const std::string& text)
{
    QApplication::clipboard()->setText(from_log_text(text));
}

QtTray::QtTray(QObject* parent, std::function<void()> on_activate)
    : QObject(parent), on_activate_(std::move(on_activate))
{
    single_click_.setSingleShot(true);
    connect(&single_click_, &QTimer::timeout, this, [this] { on_activate_(); });
}

bool QtTray::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTray::add(const std::string& tooltip)
{
    if (icon_ == nullptr) {
        icon_ = new QSystemTrayIcon(marked_icon(mark_), this);
        connect(icon_, &QSystemTrayIcon::activated, this, &QtTray::activated);
    }
    icon_->setToolTip(QString::fromStdString(tooltip));
    if (menu_ != nullptr)
        icon_->setContextMenu(menu_);
    icon_->show();
}

void QtTray::set_menu(QMenu* menu)
{
    menu_ = menu;
    if (icon_ != nullptr)
        icon_->setContextMenu(menu_);
}

void QtTray::notify(const std::string& title, const std::string& text)
{
    const QString heading = QString::fromStdString(title);
    const QString body = QString::fromStdString(text);
    if (notify_on_bus(heading, body))
        return;
    if (icon_ != nullptr)
        icon_->showMessage(heading, body, QSystemTrayIcon::Information, 15000);
}

bool QtTray::notify_on_bus(const QString& title, const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kNoticeService)))
        return false;
    if (!bus_connected_)
        bus_connected_ = bus.connect(QString::fromLatin1(kNoticeService), QString::fromLatin1(kNoticePath),
                                     QString::fromLatin1(kNoticeService), QStringLiteral("ActionInvoked"), this,
                                     SLOT(notice_action(uint, QString)));
    QDBusInterface notices(QString::fromLatin1(kNoticeService), QString::fromLatin1(kNoticePath),
                           QString::fromLatin1(kNoticeService), bus);
    notices.setTimeout(3000);
    const QStringList actions = {QStringLiteral("open"), QStringLiteral("Open folder"), QStringLiteral("copy"),
                                 QStringLiteral("Copy results")};
    // Someone away for hours must still find it: it stays until clicked
    // (no time-out, resident, and critical for servers that time out the rest).
    const QVariantMap hints = {{QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(2))},
                               {QStringLiteral("resident"), true},
                               {QStringLiteral("desktop-entry"), QStringLiteral("zudsieve")}};
    const QDBusReply<uint> reply =
        notices.call(QStringLiteral("Notify"), QStringLiteral("ZudSieve"), notice_id_, QStringLiteral("zudsieve"),
                     title, text, actions, hints, 0);
    if (!reply.isValid())
        return false;
    notice_id_ = reply.value();
    return true;
}

void QtTray::notice_action(uint id, const QString& action)
{
    if (id != notice_id_)
        return;
    const DataFolder folder = folder_ ? folder_() : DataFolder();
    if (action == QStringLiteral("open")) {
        if (open_folder_)
            open_folder_();
        else
            open_data_folder(folder.shown(), [](const std::string& folder) {
                QtMessageBox(nullptr).warn("No file manager opened the folder '" + folder + "'.");
            });
    }
    else if (action == QStringLiteral("copy"))
        copy_results(folder);
}

void QtTray::mark(TrayMark state)
{
    mark_ = state;
    if (icon_ != nullptr)
        icon_->setIcon(marked_icon(mark_));
}

void QtTray::modify(const std::string& tooltip)
{
    if (icon_ != nullptr)
        icon_->setToolTip(QString::fromStdString(tooltip));
}

void QtTray::remove()
{
    if (icon_ != nullptr)
        icon_->hide();
}

void QtTray::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick) {
        single_click_.stop();
        on_activate_();
    } else if (reason == QSystemTrayIcon::Trigger) {
        single_click_.start(QApplication::doubleClickInterval() + 50);
    }
}

DataFolderDialog::DataFolderDialog(QWidget* parent, const QString& start)
    : QFileDialog(parent, QStringLiteral("Where is your Zud.dat?"), start)
{
    setObjectName(QStringLiteral("folder_chooser"));
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFile);
    setNameFilters({QStringLiteral("Zud data files (Zud.dat ZudStatus.dat)"), QStringLiteral("All files (*)")});
    setLabelText(QFileDialog::Accept, QStringLiteral("&Use"));
    // Room for the columns: the names take what is left after size, type
    // and date have what they need.
    setViewMode(QFileDialog::Detail);
    resize(820, 480);
    for (QTreeView* view : findChildren<QTreeView*>()) {
        QHeaderView* header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

// Zud.dat (or ZudStatus.dat) stands for its folder; a folder stands for
// itself. One without either file is refused, and the chooser stays.
void DataFolderDialog::accept()
{
    // The selection may hold both a highlighted item and a typed name: the
    // typed one (last) counts first.
    QStringList selected = selectedFiles();
    if (selected.isEmpty())
        selected.append(directory().absolutePath());
    std::string refusal;
    for (auto it = selected.crbegin(); it != selected.crend(); ++it) {
        const QFileInfo info(*it);
        const QString folder = info.isFile() ? info.absolutePath() : info.exists() ? *it : directory().absolutePath();
        const std::string reason = data_folder_refusal(folder.toStdString());
        if (reason.empty()) {
            folder_ = folder;
            QDialog::accept();
            return;
        }
        if (refusal.empty())
            refusal = reason;
    }
    QtMessageBox(this).show(refusal, BoxIcon::warning, BoxButtons::ok, BoxAnswer::ok);
}

std::optional<std::string> QtFolderChooser::choose(const std::string& start)
{
    if (questions_ended())
        return std::nullopt;
    DataFolderDialog dialog(parent_, QString::fromStdString(start));
    if (dialog.exec() != QDialog::Accepted || dialog.folder().isEmpty())
        return std::nullopt;
    return dialog.folder().toStdString();
}

}  // namespace zud::qt
