// The window's sieve-depth figures: the estimate of a range, the time a
// factor takes as the run goes, and the stop where it passes a test's time.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"

namespace zud {

void MainWindowLogic::load_stop_seconds()
{
    if (stop_seconds_override_ > 0) {
        stop_seconds_ = stop_seconds_override_;
        return;
    }
    const double kept = std::strtod(services_.profile->get_string("stopseconds", "0").c_str(), nullptr);
    stop_seconds_ = std::isfinite(kept) && kept > 0 ? kept : 0;
}

void MainWindowLogic::set_stop_seconds(double seconds)
{
    stop_seconds_ = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    if (running_)
        update_stop_depth();
    if (!initialized_ || destroyed_)
        return;
    char text[32];
    std::snprintf(text, sizeof text, "%g", stop_seconds_);
    services_.profile->set_string("stopseconds", text);
    services_.profile->save();
}

std::string MainWindowLogic::range_estimate(std::int64_t pmin, std::int64_t pmax)
{
    if (run_.candidates.empty())
        return {};
    return range_estimate_text(static_cast<double>(run_.candidates.candidate_count()), pmin, pmax,
                               kept_rate(*services_.profile, candidate_fingerprint(run_.candidates)), workers_);
}

void MainWindowLogic::start_factor_cost()
{
    depth_stop_text_.clear();
    if (run_.pmin <= 0) {
        factor_cost_ = FactorCost();
        return;
    }
    const double candidates = static_cast<double>(run_.candidates.candidate_count());
    fingerprint_ = candidate_fingerprint(run_.candidates);
    const double kept = kept_rate(*services_.profile, fingerprint_);
    factor_cost_.start(candidates, run_.pmin, workers_, kept, services_.clock_ms());
    stop_depth_ = 0;
    services_.view->show_estimate(range_estimate_text(candidates, run_.pmin, run_.pmax, kept, workers_));
}

// The run itself stops at the depth, as its resume point passes it: a
// stop from here would come as late as the events reach the window.
void MainWindowLogic::update_stop_depth()
{
    const std::int64_t depth = stop_seconds_ > 0 ? factor_cost_.depth_where(stop_seconds_) : 0;
    if (depth == stop_depth_ || !active_run_)
        return;
    stop_depth_ = depth;
    active_run_->set_stop_depth(depth);
}

void MainWindowLogic::factor_cost_progress(const RunProgress& progress)
{
    factor_cost_.on_progress(progress.resume_p, progress.p_per_second, services_.clock_ms());
    update_stop_depth();
    // Past the crossing the run stops as a Stop does: its resume point is
    // recorded and it never claims the range done.
    if (stop_seconds_ > 0 && depth_stop_text_.empty() && running_ && !saving_ && factor_cost_.past(stop_seconds_) &&
        active_run_ && !active_run_->stop_requested()) {
        depth_stop_text_ = "pending";
        stop_run();
    }
}

std::string MainWindowLogic::factor_cost_text() const
{
    const std::string text = factor_cost_.seconds_per_factor() > 0 ? factor_cost_.status_text() : std::string();
    return text.empty() ? text : "; " + text;
}

void MainWindowLogic::end_factor_cost(std::int64_t resume_p)
{
    if (factor_cost_.measured_rate() > 0 && !session_ending_)
        keep_rate(*services_.profile, fingerprint_, factor_cost_.measured_rate());
    // The run stopped at the depth by itself, or was stopped here.
    const bool at_depth = stop_depth_ > 0 && resume_p >= stop_depth_;
    if ((depth_stop_text_.empty() && !at_depth) || resume_p < 0)
        return;
    depth_stop_text_ = factor_cost_.stop_text(resume_p, stop_seconds_);
    log_append(depth_stop_text_, LogKind::plain);
    services_.view->show_status_line(depth_stop_text_);
}

}  // namespace zud
