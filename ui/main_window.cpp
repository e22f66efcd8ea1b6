// Initialisation, Start/Stop, priorities, the tray and the window's end.
#include "ui/main_window.h"

#include <cpuid.h>

#include "data/status_file.h"
#include "engine/sieve.h"
#include "ui/command_line.h"
#include "ui/range_entry.h"

namespace zud {

const char* const kProgramTitle = "ZudSieve 1.24";

namespace {

const char* const kStopQuestion = "The sieve is still running - are you sure you wish to stop it?";
const char* const kExitQuestion =
    "The sieve is still running - are you sure you wish to exit?\r\n\r\n(NB You can exit okay as long as you do "
    "not delete or modify the file 'ZudStatus.dat')";
const char* const kInitialCreation =
    "INITIAL FILE CREATION.\r\n\r\nWhen the sieve is stopped or reaches the pmax, a Zud.dat file will be created. "
    "Also screen logging will only be performed every 1000 p's.\r\n\r\n";
const char* const kNoCmov = "This software requires the CMOV instructions, found on PII and later processors. Sorry.";
const char* const kPriorityRefused =
    "The system did not allow this priority change: only a privileged user may raise a priority again. "
    "ZudSieve goes on at the priority shown.";

}  // namespace

bool processor_has_cmov()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & (1u << 15)) != 0;
}

MainWindowLogic::MainWindowLogic(WindowServices services) : services_(std::move(services))
{
    if (!services_.processor_ok)
        services_.processor_ok = processor_has_cmov;
    if (!services_.start_worker)
        services_.start_worker = [](RunRecord& run, int nice, WorkerInfo& info) { start_worker(run, nice, info); };
}

void MainWindowLogic::initialize()
{
    thread_priority_ = ThreadPriority::lowest;
    services_.view->show_thread_priority(thread_priority_);
    if (services_.tray->available()) {
        services_.tray->add(kProgramTitle);
        tray_added_ = true;
    }
    display_[0] = "Rate";
    display_[1] = "Status";
    display_[2] = "Remaining";
    status_choice_ = status_choice_from_profile(*services_.profile);
    services_.view->show_status_line(display_[status_choice_]);
    run_.alpha = alpha_from_profile(*services_.profile);
    processors_ = available_processors();
    saved_workers_ = workers_from_profile(*services_.profile, processors_);
    workers_ = workers_override_ >= 1 && workers_override_ <= processors_ ? workers_override_ : saved_workers_;
    services_.view->show_workers(workers_);
    run_.candidates.release();
    priority_class_ = PriorityClass::normal;
    select_priority_class(priority_from_profile(*services_.profile));
    if (services_.processor_ok()) {
        start_stop();
    } else {
        services_.box->inform(kNoCmov);
        start_enabled_ = false;
        services_.view->set_start_enabled(false);
    }
}

void MainWindowLogic::start_stop()
{
    services_.view->focus_log();
    if (!start_enabled_ || destroyed_)
        return;
    if (running_) {
        const BoxAnswer answer =
            services_.box->show(kStopQuestion, BoxIcon::question, BoxButtons::ok_cancel, BoxAnswer::cancel);
        // The run may have ended while the question was open.
        if (answer == BoxAnswer::ok && running_)
            stop_flag.store(1);
        return;
    }
    outcome_ = RunOutcome::not_started;
    run_.candidates.release();
    set_status_text("Reading Zud.dat file...");
    FileResult read;
    {
        WaitCursorScope wait(*services_.cursor);
        read = read_candidate_file(run_.candidates);
    }
    if (!read.ok) {
        services_.box->warn(read.message);
        return;
    }
    set_status_text("The data file has been read");
    StatusReadHooks hooks;
    hooks.echo_line = [this](const std::string& line) { log_append(line, LogKind::echoed); };
    hooks.clear_log = [this] { clear_log(); };
    hooks.box = services_.box;
    const StatusRead status = read_status_file(status_echo_, hooks);
    if (status.outcome == StatusOutcome::refused)
        return;
    std::int64_t pmin = status.pmin;
    std::int64_t pmax = status.pmax;
    if (pmax == 0) {
        if (!choose_range(pmin, pmax))
            return;
    } else if (pmin <= 0) {
        // A recorded range never turns into an initial creation (which
        // would record no factor lines): resume it from the first prime.
        pmin = 1;
    }
    services_.view->show_range_line(range_line(pmin, pmax));
    run_.pmin = pmin;
    run_.pmax = pmax;
    set_status_text("Sieving...");
    services_.view->set_start_caption("&Stop");
    launch_worker();
}

bool MainWindowLogic::choose_range(std::int64_t& pmin, std::int64_t& pmax)
{
    if (!services_.range_dialog->run(pmin, pmax))
        return false;
    if (pmin != 0) {
        // Factor lines without their range header would be overwritten by
        // the next Start: no header, no run.
        const FileResult header = write_range_header(pmax, pmin);
        if (!header.ok) {
            services_.box->warn(header.message);
            return false;
        }
        return true;
    }
    log_text_ = kInitialCreation;
    services_.view->log_replaced(log_text_);
    run_.candidates.fill_all();
    return true;
}

void MainWindowLogic::launch_worker()
{
    stop_flag.store(0);
    rate_.reset();
    factor_count_ = 0;
    exit_after_stop_ = false;
    start_progress();
    running_ = true;
    outcome_ = RunOutcome::running;
    worker_priority_refused.store(false);
    services_.start_worker(run_, nice_value(priority_class_, thread_priority_), worker_);
}

void MainWindowLogic::stop_confirmed()
{
    if (running_)
        stop_flag.store(1);
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
    if (run_.pmin == 0) {
        // An initial creation keeps its eliminations only in memory: stop
        // first, so that the stop handling writes the candidate file.
        exit_after_stop_ = true;
        stop_flag.store(1);
        return;
    }
    destroy();
    if (last_reported_p_ != 0)
        append_exit_line(last_reported_p_);
    outcome_ = last_reported_p_ != 0 ? RunOutcome::stopped : RunOutcome::not_started;
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
    services_.profile->set_int("workers", saved_workers_);
    const std::string placement = services_.view->placement();
    if (!placement.empty())
        services_.profile->set_string("window", placement);
    save_settings(*services_.profile, run_.alpha, status_choice_, priority_class_);
    services_.view->close_window();
}

void MainWindowLogic::status_line_clicked()
{
    status_choice_ = (status_choice_ + 1) % 3;
    services_.view->show_status_line(display_[status_choice_]);
    services_.view->focus_log();
}

void MainWindowLogic::report_priority_refusal()
{
    if (priority_refusal_told_)
        return;
    priority_refusal_told_ = true;
    services_.box->warn(kPriorityRefused);
}

void MainWindowLogic::select_priority_class(PriorityClass cls)
{
    bool ok = set_thread_nice(0, nice_value(cls, ThreadPriority::normal));
    const pid_t worker = worker_.tid.load();
    if (ok && running_ && worker != 0)
        ok = set_thread_nice(worker, nice_value(cls, thread_priority_));
    if (ok)
        priority_class_ = cls;
    else
        report_priority_refusal();
    services_.view->show_priority_class(priority_class_);
}

void MainWindowLogic::select_thread_priority(ThreadPriority priority)
{
    const pid_t worker = worker_.tid.load();
    if (running_ && worker != 0 && !set_thread_nice(worker, nice_value(priority_class_, priority)))
        report_priority_refusal();
    else
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
    handle_message("#I");
}

void MainWindowLogic::minimized()
{
    if (tray_added_)
        services_.view->hide_window();
}

void MainWindowLogic::tray_modify(const std::string& tooltip)
{
    if (tray_added_)
        services_.tray->modify(tooltip.substr(0, 63));
}

}  // namespace zud
