// The window's progress display and the Workers setting.
#include "app/main_window.h"

namespace zud {

void MainWindowLogic::choose_workers(int workers)
{
    const int before = workers_;
    workers_ = usable_workers(workers, processors_);
    saved_workers_ = workers_;
    services_.view->show_workers(workers_);
    save_choices();
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
    std::int64_t start = run_.pmin == 0 ? 0 : recorded_range_start(folder_, run_.pmin);
    if (start > run_.pmin || start < 0)
        start = run_.pmin;
    progress_.start(start, run_.pmax);
    show_progress(run_.pmin);
}

void MainWindowLogic::show_progress(std::int64_t p)
{
    progress_.on_progress(p, services_.clock_ms());
    set_display(2, progress_.remaining_text() + factor_cost_text());
    services_.view->show_progress(progress_.permille());
}

}  // namespace zud
