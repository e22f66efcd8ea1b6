// Qt implementations of the platform layer.
#include "ui/qt/qt_platform.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace zud::qt {

QString from_log_text(const std::string& text)
{
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

BoxAnswer QtMessageBox::show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer)
{
    QMessageBox box(parent_);
    box.setWindowTitle(QFileInfo(QApplication::applicationFilePath()).baseName());
    box.setText(from_log_text(text));
    box.setIcon(icon == BoxIcon::warning    ? QMessageBox::Warning
                : icon == BoxIcon::question ? QMessageBox::Question
                                            : QMessageBox::NoIcon);
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
        icon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/zudsieve/tray.png")), this);
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
    if (icon_ != nullptr)
        icon_->showMessage(QString::fromStdString(title), QString::fromStdString(text),
                           QSystemTrayIcon::Information, 15000);
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

std::optional<std::string> QtFolderChooser::choose(const std::string& start)
{
    QFileDialog dialog(parent_, QStringLiteral("Where is your Zud.dat?"), QString::fromStdString(start));
    dialog.setObjectName(QStringLiteral("folder_chooser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("&Use this folder"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

QtProfile::QtProfile(const QString& path) : settings_(path, QSettings::IniFormat)
{
    settings_.beginGroup(QStringLiteral("params"));
}

std::string QtProfile::get_string(const std::string& key, const std::string& fallback)
{
    return settings_.value(QString::fromStdString(key), QString::fromStdString(fallback)).toString().toStdString();
}

int QtProfile::get_int(const std::string& key, int fallback)
{
    bool ok = false;
    const int value = settings_.value(QString::fromStdString(key), fallback).toString().toInt(&ok);
    return ok ? value : 0;
}

void QtProfile::set_string(const std::string& key, const std::string& value)
{
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QtProfile::set_int(const std::string& key, int value)
{
    settings_.setValue(QString::fromStdString(key), value);
}

bool QtProfile::save()
{
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

}  // namespace zud::qt
