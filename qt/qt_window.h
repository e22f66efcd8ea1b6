// The main window on Qt: renders the window logic's state and forwards the
// user's commands to it.
#pragma once

#include <QDialog>
#include <memory>

#include "run/event_queue.h"
#include "app/main_window.h"
#include "qt/qt_dialogs.h"
#include "qt/qt_platform.h"
#include "qt/qt_single.h"
#include "app/start_options.h"

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace zud::qt {

// Parts a test may replace; the window makes Qt's own for those left empty.
struct WindowParts {
    MessageBox* box = nullptr;
    Tray* tray = nullptr;
    Profile* profile = nullptr;
    RangeDialog* range_dialog = nullptr;
    std::function<void(Run&)> start_run;
    FolderChooser* folder_chooser = nullptr;
};

class ZudWindow : public QDialog, public WindowView {
    Q_OBJECT
public:
    explicit ZudWindow(WindowParts parts = {}, StartOptions options = {});
    ~ZudWindow() override;

    // Settles the data folder (asking when there is none), then the logic's
    // initialisation, which starts or resumes a run.
    void start();

    MainWindowLogic& logic() { return *logic_; }
    QPlainTextEdit* log_pane() const { return log_; }
    QLineEdit* status_line() const { return status_; }
    QLineEdit* range_line_field() const { return range_; }
    QProgressBar* progress_bar() const { return progress_; }
    QPushButton* start_button() const { return start_; }
    QPushButton* pause_button() const { return pause_; }
    QRadioButton* priority_button(PriorityClass cls) const;
    QAction* thread_priority_action(ThreadPriority priority) const;
    QAction* alpha_action() const { return alpha_action_; }
    QAction* depth_stop_action() const { return depth_stop_action_; }
    QAction* workers_action(int workers) const;
    QMenu* tray_menu() const { return tray_menu_; }
    QtTray* own_tray() const { return own_tray_.get(); }

    // WindowView
    void log_appended(const std::string& text) override;
    void log_cut_front(const std::string& removed) override;
    void log_replaced(const std::string& text) override;
    void log_scroll_to_end() override;
    void focus_log() override;
    void show_status_line(const std::string& text) override;
    void show_range_line(const std::string& text) override;
    void set_start_caption(const std::string& caption) override;
    void show_priority_class(PriorityClass cls) override;
    void show_thread_priority(ThreadPriority priority) override;
    bool window_visible() const override;
    void show_window() override;
    void hide_window() override;
    void close_window() override;
    void show_progress(int permille) override;
    void show_workers(int workers) override;
    void show_pause(bool enabled, bool paused) override;
    void show_folder(const std::string& folder) override;
    void show_estimate(const std::string& text) override;
    std::string placement() const override;
    bool announces_completion() const override { return true; }

    void open_alpha_dialog();
    void choose_data_folder();   // Options > Data folder…
    // Options > Open data folder and the notice's "Open folder": says so
    // when no file manager opens it.
    void open_folder();
    // Options > "Start hidden in the tray", where there is a tray.
    bool starts_hidden() const;
    // The connection to the display broke and the program is being ended
    // from inside Qt's event loop, which cannot run again: the run stops
    // and records itself here, its events handed over directly, as for
    // SIGTERM.
    void display_lost();
    // A second start of the program: comes forward and, given a folder,
    // works there (not during a run). Returns the word for the second start.
    SecondStartAnswer second_start(const std::string& folder);
    QAction* folder_action() const { return folder_action_; }
    QAction* autostart_action() const { return autostart_action_; }
    QAction* hidden_action() const { return hidden_action_; }
    QAction* quit_action() const { return quit_action_; }
    QAction* copy_action() const { return copy_action_; }
    Profile& profile() const { return *profile_; }

protected:
    void accept() override;   // Enter: Start/Stop through the default button
    void reject() override;   // Esc: nothing (a window of hours is not closed by a stray key)
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_controls();
    void lay_out(QWidget* priority_group);
    void build_menu();
    void build_file_menu(QMenuBar* bar);
    void check_processor(QAction* action);
    void build_session_items(QMenu* options);
    void build_workers_menu(QMenu* options);
    void build_tray_menu();
    void build_depth_stop_item(QMenu* options);
    void choose_depth_stop();
    void restore_placement(Profile& profile);

    StartOptions options_;
    std::unique_ptr<QtMessageBox> own_box_;
    std::unique_ptr<AnswerHandedOver> answered_box_;
    std::unique_ptr<FolderNamingBox> naming_box_;
    std::unique_ptr<QtTray> own_tray_;
    std::unique_ptr<Profile> own_profile_;
    std::unique_ptr<QtRangeDialog> own_range_;
    std::unique_ptr<PresetRange> preset_range_;
    std::unique_ptr<QtFolderChooser> own_chooser_;
    FolderChooser* chooser_ = nullptr;
    Profile* profile_ = nullptr;
    Tray* tray_ = nullptr;
    QtWaitCursor cursor_;
    QtClipboard clipboard_;
    std::unique_ptr<MainWindowLogic> logic_;
    // The run's events wait here; a queued call (never a blocking one)
    // hands them to the logic on the window's thread.
    std::unique_ptr<EventQueue> events_;

    QMenuBar* menu_bar_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* pause_ = nullptr;
    QRadioButton* high_ = nullptr;
    QRadioButton* normal_ = nullptr;
    QRadioButton* idle_ = nullptr;
    QLineEdit* status_ = nullptr;
    QLineEdit* range_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QAction* thread_normal_ = nullptr;
    QAction* thread_lowest_ = nullptr;
    QAction* alpha_action_ = nullptr;
    QAction* depth_stop_action_ = nullptr;
    QAction* folder_action_ = nullptr;
    QAction* autostart_action_ = nullptr;
    QAction* hidden_action_ = nullptr;
    QAction* quit_action_ = nullptr;
    QAction* copy_action_ = nullptr;
    QActionGroup* workers_group_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    bool closing_ = false;
};

// The program's window front end; returns the exit status. The window is
// shown (not run as a modal dialog, whose loop would end when it hides to
// the tray) and the program ends when the window logic closes it.
int run_window(int argc, char** argv, const StartOptions& options = {});
// The same with a window already made: runs the event loop until the
// window closes.
int serve_window(ZudWindow& window);

}  // namespace zud::qt
