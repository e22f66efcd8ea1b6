// The main window on Qt: renders the window logic's state and forwards the
// user's commands to it.
#pragma once

#include <QDialog>
#include <memory>

#include "ui/main_window.h"
#include "ui/qt/qt_dialogs.h"
#include "ui/qt/qt_platform.h"

class QAction;
class QMenuBar;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace zud::qt {

// Parts a test may replace; the window makes Qt's own for those left empty.
struct WindowParts {
    MessageBox* box = nullptr;
    Tray* tray = nullptr;
    Profile* profile = nullptr;
    RangeDialog* range_dialog = nullptr;
    std::function<void(RunRecord&, int, WorkerInfo&)> start_worker;
};

class ZudWindow : public QDialog, public WindowView {
    Q_OBJECT
public:
    explicit ZudWindow(WindowParts parts = {});
    ~ZudWindow() override;

    MainWindowLogic& logic() { return *logic_; }
    QPlainTextEdit* log_pane() const { return log_; }
    QLineEdit* status_line() const { return status_; }
    QLineEdit* range_line_field() const { return range_; }
    QPushButton* start_button() const { return start_; }
    QRadioButton* priority_button(PriorityClass cls) const;
    QAction* thread_priority_action(ThreadPriority priority) const;
    QAction* alpha_action() const { return alpha_action_; }

    // WindowView
    void log_appended(const std::string& text) override;
    void log_cut_front(const std::string& removed) override;
    void log_replaced(const std::string& text) override;
    void log_scroll_to_end() override;
    void focus_log() override;
    void show_status_line(const std::string& text) override;
    void show_range_line(const std::string& text) override;
    void set_start_caption(const std::string& caption) override;
    void set_start_enabled(bool enabled) override;
    void show_priority_class(PriorityClass cls) override;
    void show_thread_priority(ThreadPriority priority) override;
    bool window_visible() const override;
    void show_window() override;
    void hide_window() override;
    void close_window() override;

    void open_alpha_dialog();

protected:
    void accept() override;   // Enter: Start/Stop through the default button
    void reject() override;   // Esc: the close request
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_controls();
    void build_menu();

    std::unique_ptr<QtMessageBox> own_box_;
    std::unique_ptr<QtTray> own_tray_;
    std::unique_ptr<QtProfile> own_profile_;
    std::unique_ptr<QtRangeDialog> own_range_;
    QtWaitCursor cursor_;
    QtClipboard clipboard_;
    std::unique_ptr<MainWindowLogic> logic_;
    std::unique_ptr<QtSink> sink_;

    QMenuBar* menu_bar_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QPushButton* start_ = nullptr;
    QRadioButton* high_ = nullptr;
    QRadioButton* normal_ = nullptr;
    QRadioButton* idle_ = nullptr;
    QLineEdit* status_ = nullptr;
    QLineEdit* range_ = nullptr;
    QAction* thread_normal_ = nullptr;
    QAction* thread_lowest_ = nullptr;
    QAction* alpha_action_ = nullptr;
    bool closing_ = false;
};

// The program's window front end; returns the exit status.
int run_window(int argc, char** argv);

}  // namespace zud::qt
