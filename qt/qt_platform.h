// Qt's side of the window's small interfaces: message boxes, the wait
// cursor, the tray icon, the clipboard, the folder chooser, and the synchronous
// worker-to-window transport.
#pragma once

#include <QFileDialog>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/message_box.h"
#include "app/settings.h"
#include "app/start_options.h"
#include "app/window_view.h"

class QMenu;
class QWidget;

namespace zud::qt {

// The application icon with a small mark in its lower right corner.
QIcon marked_icon(TrayMark state);
// The whole text of the folder's ZudStatus.dat onto the clipboard.
void copy_results(const DataFolder& folder);
// The data folder (its full path) in the desktop's file manager;
// `unopened` is called (with the folder) when none opens it.
void open_data_folder(const std::string& folder, std::function<void(const std::string& folder)> unopened);

// "\r\n" line ends of the log become "\n" for Qt's widgets and the clipboard.
QString from_log_text(const std::string& text);

// Once the session ends (SIGTERM, SIGHUP, logout) no question may hold the
// program: the open boxes and dialogs close with their cautious answer and
// any later one takes it without being shown.
void end_all_questions();
bool questions_ended();

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
    BoxAnswer show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer) override;
    BoxAnswer ask_named(const std::string& text, const std::string& ok_label, const std::string& cancel_label,
                        BoxAnswer default_answer) override;

private:
    QWidget* parent_;
};

class QtWaitCursor : public WaitCursor {
public:
    void begin() override;
    void end() override;
};

class QtClipboard : public Clipboard {
public:
    bool available() const override { return true; }
    void copy(const std::string& text) override;
};

// The notification-area icon. A double-click toggles the window; where the
// desktop's tray only reports single activations, a single activation not
// followed by a double-click does the same, or a hidden window could never
// come back.
class QtTray : public QObject, public Tray {
    Q_OBJECT
public:
    QtTray(QObject* parent, std::function<void()> on_activate);
    bool available() const override;
    void add(const std::string& tooltip) override;
    void modify(const std::string& tooltip) override;
    void remove() override;
    // Through the desktop's notification service, with "Open folder" and
    // "Copy results"; the icon's own balloon where no service answers.
    void notify(const std::string& title, const std::string& text) override;
    void mark(TrayMark state) override;
    // The icon's context menu (kept by the caller).
    void set_menu(QMenu* menu);
    // What the notice's "Open folder" does.
    void set_folder_opener(std::function<void()> opener) { open_folder_ = std::move(opener); }
    // The data folder the notice is about; unset: the current folder.
    void set_data_folder(std::function<DataFolder()> folder) { folder_ = std::move(folder); }
    QSystemTrayIcon* icon() const { return icon_; }

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    bool notify_on_bus(const QString& title, const QString& text);
    Q_SLOT void notice_action(uint id, const QString& action);

    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    QTimer single_click_;
    TrayMark mark_ = TrayMark::none;
    uint notice_id_ = 0;
    bool bus_connected_ = false;
    std::function<void()> on_activate_;
    std::function<void()> open_folder_;
    std::function<DataFolder()> folder_;
};

// "Where is your Zud.dat?": Qt's own file dialog, the same on every
// desktop, showing the data files; it takes a data file or a folder.
class DataFolderDialog : public QFileDialog {
    Q_OBJECT
public:
    DataFolderDialog(QWidget* parent, const QString& start);
    QString folder() const { return folder_; }
    void accept() override;

private:
    QString folder_;
};

class QtFolderChooser : public FolderChooser {
public:
    explicit QtFolderChooser(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> choose(const std::string& start) override;

private:
    QWidget* parent_;
};

}  // namespace zud::qt
