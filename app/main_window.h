// The main window's behaviour without a toolkit: initialisation, Start and
// Stop, the handling of every run event, the log pane's text, the status
// line, priorities, the close request and the final save. The Qt window and
// the console front end render its state, forward the user's commands, and
// deliver the run's events to it on their own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/data_folder.h"
#include "data/folder_lock.h"
#include <memory>

#include "run/priority.h"
#include "run/run.h"
#include "run/run_events.h"
#include "run/run_record.h"
#include "run/worker_count.h"
#include "app/factor_cost.h"
#include "app/message_box.h"
#include "app/progress_display.h"
#include "app/rate_display.h"
#include "app/settings.h"
#include "app/window_view.h"

namespace zud {

extern const char* const kProgramTitle;
// What the three status line displays say before a run has anything to show.
extern const char* const kIdleRate;
extern const char* const kIdleStatus;
extern const char* const kIdleRemaining;   // "ZudSieve " and the version of project()

struct WindowServices {
    WindowView* view;
    MessageBox* box;
    WaitCursor* cursor;
    Tray* tray;
    Clipboard* clipboard;
    RangeDialog* range_dialog;
    Profile* profile;
    std::function<std::int32_t()> clock_ms = monotonic_ms;
    // Where runs report; the front end hands what arrives there to the
    // logic's RunEvents on the logic's thread (an EventQueue does that).
    RunEvents* run_events = nullptr;
    // Starts a run; empty: run.start(). A test may play the run itself.
    std::function<void(Run& run)> start_run;
    NiceSetter set_nice = nullptr;   // nullptr: the system's
    InstructionSet instruction_set = processor_instruction_set();   // the front end gives main's choice
};

// How the last Start ended, for the console's exit status.
enum class RunOutcome {
    not_started,           // no run could start (bad file, refusal, cancel, write failure)
    running,
    completed,
    stopped,               // with its resume point (or candidate file) recorded
    nothing_sieved,        // the engine's set-up gave up
    verification_failed,
    results_not_saved,     // the end-of-run write failed
};

enum class LogKind { plain, info, echoed };

// What the status text tells, for a front end that shows each kind in its
// own way.
enum class StatusKind {
    other,      // "Sieving...", "Stopped", "Complete!" and the like
    reading,    // the data files are being read, before a run
    progress,   // how far the run has sieved
};

// The window's side of a run: its RunEvents are called on the window's
// thread (never by the run's thread directly).
class MainWindowLogic : public RunEvents {
public:
    explicit MainWindowLogic(WindowServices services);

    // The window's initialisation: profile values, tray, processor check,
    // then Start.
    void initialize();
    // The Start/Stop button (and Enter).
    void start_stop();
    // The run's events, on the window's thread.
    void factors_recorded(const std::vector<FactorRecord>& batch) override;
    void progress(const RunProgress& progress) override;
    void checkpoint_written(std::int64_t resume_p) override;
    void warning(const RunWarning& warning) override;
    void stopped(std::int64_t resume_p) override;
    void done() override;
    void error(const RunError& error) override;
    // Esc, the close box: asks while a run is active.
    void close_request();
    // The console's Ctrl+C: a stop the user has already confirmed.
    void stop_confirmed();
    // The console's second Ctrl+C: an exit the user has already confirmed.
    // It stops the run first, so that its results are recorded.
    void exit_confirmed();
    // The console's third Ctrl+C: away at once, whatever the run has not
    // yet recorded (it is found again on resume).
    void exit_now();
    // The tray menu's Pause and Resume: the sieving threads wait where
    // they are and use no processor time.
    void pause();
    void resume();
    void pause_resume();   // the window's Pause/Resume button
    // An initial creation's records that could not be written yet: the
    // front end calls retry_records about once a second while they wait.
    bool records_pending() const { return saving_; }
    void retry_records();
    bool paused() const { return paused_; }
    // A stop was asked of the running run and it has not yet ended.
    bool stop_requested() const { return active_run_ != nullptr && active_run_->stop_requested(); }

    // Cycles the status line through the rate, the status text and the
    // share done with the time left.
    void status_line_clicked();
    void select_priority_class(PriorityClass cls);
    void select_thread_priority(ThreadPriority priority);
    void tray_activated();   // a double-click on the tray icon
    void minimized();        // hides the window when the tray can bring it back
    // Whether the desktop has a tray now, asked again and again: a panel
    // that comes after the program gets the icon, and a window hidden in a
    // tray that went away comes back.
    void tray_presence(bool available);
    // File > Copy results: the whole status file onto the clipboard, and a
    // log line that says what went there.
    void copy_results();
    // The computing preferences' verdict, asked again and again: a reason
    // ("Suspended: computer on battery") pauses the run as Pause does and
    // shows the reason; empty lets a run it paused go on. The user's own
    // Resume overrides a reason until it has gone.
    void computing_state(const std::string& reason);
    const std::string& suspended_by() const { return suspended_; }

    // Worker threads: the profile's choice, which the command line may
    // override for this run (before initialize) and the Workers menu changes.
    void override_workers(int workers) { workers_override_ = workers; }
    // The OpenCL device of the runs (-1: none), alone or beside the workers.
    void use_device(int device, bool alone)
    {
        device_ = device;
        device_alone_ = alone && device >= 0;
    }
    void choose_workers(int workers);
    int workers() const { return workers_; }
    // Stop when a factor is expected to take longer than this many seconds
    // of one core (a primality test's time); 0: never. The command line's
    // holds for this run (before initialize); the Options item is kept.
    void override_stop_seconds(double seconds) { stop_seconds_override_ = seconds; }
    void set_stop_seconds(double seconds);
    double stop_seconds() const { return stop_seconds_; }
    const FactorCost& factor_cost() const { return factor_cost_; }
    // "About 35 factors expected; ..." for a range of the candidates read.
    std::string range_estimate(std::int64_t pmin, std::int64_t pmax);
    int processors() const { return processors_; }
    const ProgressEstimate& progress() const { return progress_; }

    double alpha() const { return run_.alpha; }
    void set_alpha(double alpha);
    // The folder the data files are in; the current folder until set
    // (before initialize).
    const DataFolder& folder() const { return folder_; }
    void set_folder(const DataFolder& folder) { folder_ = folder; }
    // Options > Data folder and a second start's folder: the program works
    // in `folder` now; a new log names it, then a Start there.
    void folder_changed(const DataFolder& folder);
    // The session ends (a signal, a logout): the run records itself and
    // the window goes, and the profile stays as it was.
    void session_ending() { session_ending_ = true; }

    bool running() const { return running_; }
    bool destroyed() const { return destroyed_; }
    RunOutcome outcome() const { return outcome_; }
    const std::string& log_text() const { return log_text_; }
    bool log_truncated() const { return log_truncated_; }
    void set_log_limit(std::size_t limit) { log_limit_ = limit; }
    std::int64_t last_reported_p() const { return last_reported_p_; }
    std::int32_t factor_count() const { return factor_count_; }
    int status_choice() const { return status_choice_; }
    const std::string& display_text(int choice) const { return display_[choice]; }
    StatusKind status_kind() const { return status_kind_; }
    PriorityClass priority_class() const { return priority_class_; }
    ThreadPriority thread_priority() const { return thread_priority_; }
    const RunRecord& run() const { return run_; }

private:
    void log_append(const std::string& text, LogKind kind);
    void clear_log();
    void set_status_text(const std::string& text, StatusKind kind = StatusKind::other);
    void set_display(int choice, const std::string& text);
    void tray_modify(const std::string& tooltip);
    bool begin_run();
    bool results_handed_over();
    void start_progress();
    void show_progress(std::int64_t p);
    bool choose_range(std::int64_t& pmin, std::int64_t& pmax);
    void launch_worker();
    void log_factors(const std::vector<FactorRecord>& batch);
    void announce_completion();
    void end_of_run();
    // The run's record of its end in the status file: a stop at
    // `stopped_at`, or Done when it is 0.
    FileResult end_record(std::int64_t stopped_at);
    bool initial_records_written(std::int64_t stopped_at);
    void wait_for_records(const std::string& file, const std::string& message);
    void abandon_records();
    void stop_run();
    void finish_run_thread();
    bool initial_creation_allowed();
    void warn_if_failed(const FileResult& result);
    void report_priority_refusal();
    bool apply_worker_nice(int nice);
    bool change_worker_priority(PriorityClass cls, ThreadPriority thread);
    void destroy();
    void save_choice(const std::string& key, const std::string& value);
    void show_paused();
    void show_stopped();
    void resume_after_suspension();
    void record(const std::string& text);   // a line of the record on disk
    void show_idle();
    void restart_run();
    void load_stop_seconds();
    void start_factor_cost();
    void factor_cost_progress(const RunProgress& progress);
    void update_stop_depth();
    std::string factor_cost_text() const;
    void end_factor_cost(std::int64_t resume_p);

    WindowServices services_;
    RunRecord run_;
    std::unique_ptr<Run> active_run_;
    DataFolder folder_;
    FolderLock lock_;
    bool running_ = false;
    bool paused_ = false;
    bool destroyed_ = false;
    bool initialized_ = false;
    bool session_ending_ = false;
    bool completed_file_pending_ = false;   // a completed file waits for the new range to be confirmed
    bool exit_after_stop_ = false;
    bool restart_after_stop_ = false;   // new workers at a priority the old ones could not take
    bool status_echo_ = true;
    // An initial creation's end: its records wait to be written (the run
    // goes on offering them every second), and whether the new Zud.dat is
    // in place already (it must not be written twice: the second would
    // replace the backup of the old one).
    bool saving_ = false;
    // The final event whose records wait: 0 none, -1 done, else stopped at it.
    std::int64_t pending_final_ = 0;
    bool candidates_written_ = false;
    std::string saving_told_;
    bool tray_added_ = false;
    bool priority_refusal_told_ = false;
    RunOutcome outcome_ = RunOutcome::not_started;

    std::string log_text_;
    std::size_t log_limit_ = 1000000000;
    bool log_truncated_ = false;

    std::string display_[3] = {kIdleRate, kIdleStatus, kIdleRemaining};
    StatusKind status_kind_ = StatusKind::other;
    int status_choice_ = 0;
    std::int64_t last_reported_p_ = 0;
    std::int32_t factor_count_ = 0;
    std::int32_t range_factors_before_ = 0;   // recorded for the range before this run
    std::int32_t progress_recorded_ms_ = 0;   // when the record last took a progress line
    std::string suspended_;                   // why the preferences paused the run; empty: they did not
    bool suspension_overridden_ = false;      // the user resumed while a reason held
    RateDisplay rate_;
    ProgressEstimate progress_;

    int processors_ = 1;
    int workers_ = 1;
    int saved_workers_ = 1;
    int workers_override_ = 0;
    int device_ = -1;
    bool device_alone_ = false;

    FactorCost factor_cost_;
    std::string fingerprint_;
    double stop_seconds_ = 0;
    double stop_seconds_override_ = 0;
    std::string depth_stop_text_;   // why the run stopped by itself; "pending" until it has
    std::int64_t stop_depth_ = 0;   // where the run is told to stop; 0: nowhere

    PriorityClass priority_class_ = PriorityClass::normal;
    ThreadPriority thread_priority_ = ThreadPriority::lowest;
};

}  // namespace zud
