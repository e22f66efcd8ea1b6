// The window's progress display and the Workers setting.
#include "app/main_window.h"
#include "app/shown_numbers.h"
#include "app/sieve_log.h"

namespace zud {

void MainWindowLogic::choose_workers(int workers)
{
    const int before = workers_;
    workers_ = usable_workers(workers, processors_);
    saved_workers_ = workers_;
    services_.view->show_workers(workers_);
    save_choice("workers", std::to_string(saved_workers_));
    // Like a priority, a new count takes effect at once: the run restarts
    // from its resume point with it.
    if (running_ && !saving_ && active_run_ && !active_run_->stop_requested() && workers_ != before) {
        log_append("Workers: " + std::to_string(workers_) + " from now on; the sieve goes on from where it is.",
                   LogKind::plain);
        restart_run();
    }
}

void MainWindowLogic::start_progress()
{
    // A resumed run counts from the start of its range, not from the
    // resume point.
    progress_.start(shown_range_start(folder_, run_.pmin), run_.pmax);
    show_progress(run_.pmin);
}

void MainWindowLogic::show_progress(std::int64_t p)
{
    progress_.on_progress(p, services_.clock_ms());
    set_display(2, progress_.remaining_text() + factor_cost_text());
    services_.view->show_progress(progress_.permille());
}

void MainWindowLogic::record(const std::string& text)
{
    append_sieve_log(folder_, text);
}

// A stopped run does no work: a rate or a time left would claim some.
void MainWindowLogic::show_stopped()
{
    display_[0] = "Rate: stopped";
    display_[1] = "Stopped";
    status_kind_ = StatusKind::other;
    display_[2] = progress_.active() ? "Stopped, " + progress_.share_text() : std::string("Stopped");
    services_.view->show_status_line(display_[status_choice_]);
    tray_modify("ZudSieve: " + display_[2]);
}

// Nothing of another folder's range may stay on show.
void MainWindowLogic::show_idle()
{
    display_[0] = kIdleRate;
    display_[1] = kIdleStatus;
    status_kind_ = StatusKind::other;
    display_[2] = kIdleRemaining;
    progress_ = ProgressEstimate();
    services_.view->show_status_line(display_[status_choice_]);
    services_.view->show_range_line("");
    services_.view->show_progress(0);
    tray_modify(kProgramTitle);
}

}  // namespace zud
