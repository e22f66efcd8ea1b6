// Initialisation, Start/Stop, priorities, the tray and the window's end.
#include "app/main_window.h"

#include <sys/statvfs.h>

#include "data/status_file.h"
#include "run/factor_check.h"
#include "app/range_entry.h"
#include "app/shown_numbers.h"

namespace zud {

const char* const kProgramTitle = "ZudSieve " ZUD_VERSION;
const char* const kIdleRate = "Rate: p/sec and sec/n/k, shown while sieving";
const char* const kIdleStatus = "Status: not started";
const char* const kIdleRemaining = "Share done and time left, shown while sieving";

namespace {

const char* const kStopQuestion = "The sieve is still running - are you sure you wish to stop it?";
const char* const kExitQuestion =
    "The sieve is still running - are you sure you wish to exit?\r\n\r\n(NB You can exit okay as long as you do "
    "not delete or modify the file 'ZudStatus.dat')";
const char* const kInitialCreation =
    "INITIAL FILE CREATION.\r\n\r\nWhen the sieve is stopped or reaches the pmax, a Zud.dat file will be created. "
    "Also screen logging will only be performed every 1000 p's.\r\n\r\n";
const char* const kGiveUpQuestion =
    "The results of the initial creation have not been written yet - are you sure you wish to give them up?";
const char* const kCompletedQuestion =
    "There is a complete set of results in the file 'ZudStatus.dat' - have these been sent to the Zud "
    "team?\r\n\r\nNB If you say YES, a new range is started and this file is kept as 'ZudStatus.dat~'.";
const char* const kSendFirst = "Please send the results to the Zud team before starting a new sieve.";
const char* const kPriorityRefused =
    "This priority is higher than the one the sieve runs at now, and only the system administrator may give a "
    "running program more of the processor. ZudSieve goes on at the priority shown.";

}  // namespace

MainWindowLogic::MainWindowLogic(WindowServices services) : services_(std::move(services))
{
    if (!services_.start_run)
        services_.start_run = [](Run& run) { run.start(); };
}

void MainWindowLogic::initialize()
{
    // The session may have ended while the folder was asked for.
    if (destroyed_)
        return;
    thread_priority_ = ThreadPriority::lowest;
    services_.view->show_thread_priority(thread_priority_);
    if (services_.tray->available()) {
        services_.tray->add(kProgramTitle);
        tray_added_ = true;
    }
    display_[0] = kIdleRate;
    display_[1] = kIdleStatus;
    status_kind_ = StatusKind::other;
    display_[2] = kIdleRemaining;
    status_choice_ = status_choice_from_profile(*services_.profile);
    services_.view->show_status_line(display_[status_choice_]);
    run_.alpha = alpha_from_profile(*services_.profile);
    processors_ = default_worker_count();
    saved_workers_ = workers_from_profile(*services_.profile, processors_);
    // An override the rule would change is not the user's number: the profile's holds.
    const bool override_usable = usable_workers(workers_override_, processors_) == workers_override_;
    workers_ = override_usable ? workers_override_ : saved_workers_;
    services_.view->show_workers(workers_);
    load_stop_seconds();
    services_.range_dialog->set_estimate([this](std::int64_t pmin, std::int64_t pmax) { return range_estimate(pmin, pmax); });
    run_.candidates.release();
    priority_class_ = PriorityClass::normal;
    select_priority_class(priority_from_profile(*services_.profile));
    services_.view->show_folder(folder_.shown());
    services_.view->show_pause(false, false);
    initialized_ = true;
    start_stop();
}

void MainWindowLogic::start_stop()
{
    services_.view->focus_log();
    if (destroyed_)
        return;
    if (running_ && saving_) {
        const BoxAnswer answer =
            services_.box->ask_named(kGiveUpQuestion, "Give them up", "Keep trying", BoxAnswer::cancel);
        if (answer == BoxAnswer::ok && saving_)
            abandon_records();
        return;
    }
    if (running_) {
        const BoxAnswer answer =
            services_.box->show(kStopQuestion, BoxIcon::question, BoxButtons::ok_cancel, BoxAnswer::cancel);
        // The run may have ended while the question was open.
        if (answer == BoxAnswer::ok && running_)
            stop_run();
        return;
    }
    outcome_ = RunOutcome::not_started;
    // One program per folder, from before either file is touched until the
    // run's records are written.
    std::string refusal;
    if (!lock_.acquire(folder_, refusal)) {
        services_.box->warn(refusal);
        return;
    }
    if (!begin_run())
        lock_.release();
}

bool MainWindowLogic::begin_run()
{
    remove_leftover_temporaries(folder_);
    const FileResult repaired = StatusJournal::mend(folder_);
    if (!repaired.ok) {
        services_.box->warn(repaired.message);
        return false;
    }
    run_.candidates.release();
    set_status_text("Reading Zud.dat file...", StatusKind::reading);
    FileResult read;
    {
        WaitCursorScope wait(*services_.cursor);
        read = read_candidate_file(folder_, run_.candidates);
    }
    if (!read.ok) {
        services_.box->warn(read.message);
        return false;
    }
    set_status_text("The data file has been read", StatusKind::reading);
    StatusReadHooks hooks;
    hooks.factor_fault = factor_fault;
    hooks.candidates = &run_.candidates;
    const StatusRead status = read_status_file(folder_, status_echo_, hooks);
    if (status.unusable) {
        if (!status.damage.empty())
            services_.box->warn(status.damage);
        return false;
    }
    for (const std::string& line : status.echo_lines)
        log_append(line, LogKind::echoed);
    for (const std::string& note : status.notes)
        services_.box->alert(note);
    std::int64_t pmin = status.pmin;
    std::int64_t pmax = status.pmax;
    if (status.completed) {
        if (!results_handed_over())
            return false;
        // The completed file stays where it is until a new range is
        // confirmed (StatusJournal::keep_completed): a cancelled range loses nothing.
        clear_log();
        pmin = pmax = 0;
    }
    completed_file_pending_ = status.completed;
    range_factors_before_ = status.completed || pmax == 0 ? 0 : static_cast<std::int32_t>(status.factors.size());
    if (pmax == 0) {
        if (!choose_range(pmin, pmax))
            return false;
    } else {
        if (pmin <= 0) {
            // A recorded range never turns into an initial creation (which
            // would record no factor lines): resume it from the first prime.
            pmin = 1;
        }
        // What the range has already found stays found: a resume records
        // just what one uninterrupted run would have.
        run_.candidates.remove(status.factors);
    }
    const std::int64_t range_start = shown_range_start(folder_, pmin);
    services_.view->show_range_line(range_line(range_start, pmax));
    const std::string workers = ", " + std::to_string(workers_) + (workers_ == 1 ? " worker" : " workers");
    // After a restart of the program (or of the run) the pane says where
    // the sieve took up the range again.
    if (pmin > range_start && pmin > 1)
        log_append("Resumed at p=" + with_commas(pmin) + " (range " + range_line(range_start, pmax) + ")" + workers + ".",
                   LogKind::plain);
    else
        record("Start: range " + range_line(range_start, pmax) + workers);
    run_.pmin = pmin;
    run_.pmax = pmax;
    set_status_text("Sieving...");
    services_.view->set_start_caption("&Stop");
    launch_worker();
    return true;
}

bool MainWindowLogic::results_handed_over()
{
    const BoxAnswer answer = services_.box->ask(BoxQuestion::results_handed_over, kCompletedQuestion, BoxIcon::none,
                                                BoxButtons::yes_no, BoxAnswer::no);
    if (answer == BoxAnswer::yes)
        return true;
    services_.box->inform(kSendFirst);
    return false;
}

bool MainWindowLogic::choose_range(std::int64_t& pmin, std::int64_t& pmax)
{
    if (!services_.range_dialog->run(pmin, pmax))
        return false;
    if (completed_file_pending_) {
        const FileResult kept = StatusJournal::keep_completed(folder_);
        if (!kept.ok) {
            services_.box->warn(kept.message);
            return false;
        }
        completed_file_pending_ = false;
    }
    if (pmin != 0) {
        // Factor lines without their range header would be overwritten by
        // the next Start: no header, no run.
        const FileResult header = StatusJournal::begin_range(folder_, pmax, pmin);
        if (!header.ok) {
            services_.box->warn(header.message);
            return false;
        }
        return true;
    }
    run_.candidates.fill_all();
    if (!initial_creation_allowed())
        return false;
    log_text_ = kInitialCreation;
    services_.view->log_replaced(log_text_);
    return true;
}

// Before a whole run's work depends on it: can the new Zud.dat be written
// here, and is there room for it?
bool MainWindowLogic::initial_creation_allowed()
{
    const std::string unwritable = candidate_folder_unwritable(folder_);
    if (!unwritable.empty()) {
        services_.box->warn("A new 'Zud.dat' cannot be written in this folder (" + unwritable +
                            "), so the initial creation has not been started.");
        return false;
    }
    struct statvfs info {};
    const std::uint64_t needed = candidate_file_size_bound(run_.candidates);
    if (statvfs(folder_.path().c_str(), &info) != 0)
        return true;
    const std::uint64_t free_bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    if (free_bytes >= needed)
        return true;
    const std::string question = "The new 'Zud.dat' may need up to " + std::to_string((needed >> 20) + 1) +
                                 " MB, and only " + std::to_string(free_bytes >> 20) +
                                 " MB are free in this folder. Start the initial creation anyway?";
    return services_.box->ask_named(question, "Start anyway", "Cancel", BoxAnswer::cancel) == BoxAnswer::ok;
}

void MainWindowLogic::launch_worker()
{
    rate_.reset();
    set_display(0, kIdleRate);
    suspended_.clear();   // a new run starts unpaused; the preferences are asked again
    factor_count_ = 0;
    exit_after_stop_ = false;
    restart_after_stop_ = false;
    saving_ = false;
    candidates_written_ = false;
    saving_told_.clear();
    pending_final_ = 0;
    start_factor_cost();
    start_progress();
    running_ = true;
    outcome_ = RunOutcome::running;
    paused_ = false;
    RunSettings settings;
    settings.nice = nice_value(priority_class_, thread_priority_);
    settings.workers = workers_;
    settings.set_nice = services_.set_nice;
    settings.folder = folder_;
    settings.instruction_set = services_.instruction_set;
    settings.device = device_;
    settings.processor_workers = !device_alone_;
    if (tray_added_)
        services_.tray->mark(TrayMark::running);
    services_.view->show_pause(true, false);
    active_run_ = std::make_unique<Run>(run_, *services_.run_events, settings);
    update_stop_depth();
    services_.start_run(*active_run_);
}

// While an initial creation's records wait, the run has ended already.
void MainWindowLogic::stop_run()
{
    if (active_run_)
        active_run_->stop();
}

void MainWindowLogic::stop_confirmed()
{
    // While an initial creation's records wait, the run has stopped
    // already: the tries go on until the user exits.
    if (running_)
        stop_run();
}

void MainWindowLogic::pause()
{
    if (!running_ || paused_ || saving_)
        return;
    paused_ = true;
    if (active_run_)
        active_run_->pause();
    show_paused();
    const std::string where = last_reported_p_ > 0 ? ", sieved up to p=" + with_commas(last_reported_p_ - 1) : "";
    log_append(suspended_.empty() ? "Paused" + where + ": the sieve uses no processor time until Resume."
                                  : suspended_ + where + ".",
               LogKind::plain);
}

// Every display says so while the threads wait: the last rate would claim
// work that is not being done.
void MainWindowLogic::show_paused()
{
    const std::string why = suspended_.empty() ? std::string("Paused") : suspended_;
    display_[0] = "Rate: paused";
    display_[1] = why;
    status_kind_ = StatusKind::other;
    display_[2] = why + ", " + progress_.share_text();
    services_.view->show_status_line(display_[status_choice_]);
    services_.view->show_pause(true, true);
    if (tray_added_)
        services_.tray->mark(TrayMark::paused);
    tray_modify("ZudSieve: " + why + ", " + progress_.share_text());
}

void MainWindowLogic::resume()
{
    if (!running_ || !paused_)
        return;
    if (!suspended_.empty()) {
        // The user's Resume while a preference holds: the user wins.
        suspension_overridden_ = true;
        suspended_.clear();
    }
    paused_ = false;
    // The pause is no part of the rate.
    rate_.reset();
    set_display(0, rate_.rate_text());
    set_display(2, progress_.remaining_text());
    if (active_run_)
        active_run_->resume();
    log_append("Resumed.", LogKind::plain);
    set_status_text("Sieving...");
    services_.view->show_pause(true, false);
    if (tray_added_)
        services_.tray->mark(TrayMark::running);
    tray_modify(kProgramTitle);
}

void MainWindowLogic::pause_resume()
{
    if (paused_)
        resume();
    else
        pause();
}

void MainWindowLogic::close_request()
{
    if (destroyed_)
        return;
    if (!running_) {
        destroy();
        return;
    }
    if (!services_.view->window_visible()) {
        services_.view->show_window();
        tray_modify(kProgramTitle);
    }
    const BoxAnswer answer =
        services_.box->show(kExitQuestion, BoxIcon::question, BoxButtons::ok_cancel, BoxAnswer::cancel);
    if (answer != BoxAnswer::ok)
        return;
    exit_confirmed();
}

void MainWindowLogic::exit_confirmed()
{
    if (destroyed_)
        return;
    // The run may have ended while the question was open.
    if (!running_) {
        destroy();
        return;
    }
    if (saving_) {
        abandon_records();
        destroy();
        return;
    }
    // Through a stop: the run writes what it has found and records its
    // resume point (an initial creation its candidate file), then the
    // window goes. Nothing is cut in half and nothing is sieved twice.
    exit_after_stop_ = true;
    stop_run();
}

void MainWindowLogic::exit_now()
{
    destroy();
    if (running_)
        outcome_ = RunOutcome::results_not_saved;
}

void MainWindowLogic::destroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (tray_added_) {
        services_.tray->remove();
        tray_added_ = false;
    }
    // The user's choices were saved as they were made; the window's place
    // goes with an exit the user asked for, never with a session's end.
    const std::string placement = services_.view->placement();
    if (initialized_ && !session_ending_ && !placement.empty() &&
        services_.profile->get_string("window", "") != placement) {
        services_.profile->set_string("window", placement);
        services_.profile->save();
    }
    services_.view->close_window();
}

// The profile changes by the user's choices alone, each as it is made and
// each under its own key: a session that ends, a cancelled dialog or a
// failed start leaves it as it was, and a value never chosen (a worker
// count from this machine's processors) is never written.
void MainWindowLogic::save_choice(const std::string& key, const std::string& value)
{
    if (!initialized_ || destroyed_)
        return;
    services_.profile->set_string(key, value);
    services_.profile->save();
}

void MainWindowLogic::set_alpha(double alpha)
{
    run_.alpha = alpha;
    save_choice("factor", format_alpha(alpha));
}

void MainWindowLogic::status_line_clicked()
{
    status_choice_ = (status_choice_ + 1) % 3;
    services_.view->show_status_line(display_[status_choice_]);
    services_.view->focus_log();
    save_choice("statusval", std::to_string(status_choice_));
}

void MainWindowLogic::folder_changed(const DataFolder& folder)
{
    folder_ = folder;
    const std::string shown = folder_.shown();
    services_.view->show_folder(shown);
    clear_log();
    show_idle();
    log_append("Data folder: " + shown, LogKind::info);
    // The new folder's recorded factors are shown, as at the program's start.
    status_echo_ = true;
    start_stop();
}

void MainWindowLogic::report_priority_refusal()
{
    if (priority_refusal_told_ || !services_.view->shows_priority())
        return;
    priority_refusal_told_ = true;
    services_.box->warn(kPriorityRefused);
}

// The nice value of every thread of a running sieve.
bool MainWindowLogic::apply_worker_nice(int nice)
{
    return !running_ || !active_run_ || active_run_->change_priority(nice);
}

// The class and the worker setting apply to the sieve's threads only: the
// window thread stays at nice 0, so that a thread it starts may take any
// nice value an ordinary user may set, and no choice is ever stuck.
bool MainWindowLogic::change_worker_priority(PriorityClass cls, ThreadPriority thread)
{
    const int nice = nice_value(cls, thread);
    if (apply_worker_nice(nice))
        return true;
    // Raising a running thread's priority needs privilege; new threads
    // start from the window thread's nice 0 and need none for nice >= 0.
    const bool attainable =
        nice >= 0 || (set_thread_nice(services_.set_nice, 0, nice) && set_thread_nice(services_.set_nice, 0, 0));
    if (!attainable) {
        report_priority_refusal();
        return false;
    }
    restart_run();
    return true;
}

// The run stops, records its resume point, and starts again from there
// with the new settings: nothing is lost and nothing sieved twice.
void MainWindowLogic::restart_run()
{
    restart_after_stop_ = true;
    if (paused_ && active_run_)
        active_run_->resume();
    stop_run();
}

void MainWindowLogic::select_priority_class(PriorityClass cls)
{
    if (change_worker_priority(cls, thread_priority_))
        priority_class_ = cls;
    services_.view->show_priority_class(priority_class_);
    save_choice("priority", priority_class_ == PriorityClass::high     ? "H"
                            : priority_class_ == PriorityClass::normal ? "N"
                                                                       : "I");
}

void MainWindowLogic::select_thread_priority(ThreadPriority priority)
{
    if (change_worker_priority(priority_class_, priority))
        thread_priority_ = priority;
    services_.view->show_thread_priority(thread_priority_);
}

void MainWindowLogic::tray_activated()
{
    if (services_.view->window_visible()) {
        services_.view->hide_window();
        return;
    }
    services_.view->show_window();
    tray_modify(kProgramTitle);
    services_.view->log_scroll_to_end();
}

void MainWindowLogic::minimized()
{
    if (tray_added_ && services_.tray->available())
        services_.view->hide_window();
}

void MainWindowLogic::tray_modify(const std::string& tooltip)
{
    if (tray_added_)
        services_.tray->modify(tooltip.substr(0, 63));
}

}  // namespace zud
