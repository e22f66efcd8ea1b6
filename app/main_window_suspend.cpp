// The computing preferences acting on a run: a pause with a reason, and a
// resume when the reason has gone.
#include "app/main_window.h"

namespace zud {

void MainWindowLogic::computing_state(const std::string& reason)
{
    if (reason.empty()) {
        suspension_overridden_ = false;
        if (suspended_.empty())
            return;
        suspended_.clear();
        resume_after_suspension();
        return;
    }
    // A run the user paused stays the user's; one the user resumed in
    // spite of the reason goes on until the reason has gone.
    if (!running_ || saving_ || suspension_overridden_ || (paused_ && suspended_.empty()))
        return;
    if (suspended_ == reason)
        return;
    const bool already = !suspended_.empty();
    suspended_ = reason;
    if (already)
        show_paused();   // another reason now: say so
    else
        pause();
}

void MainWindowLogic::resume_after_suspension()
{
    if (!running_ || !paused_)
        return;
    log_append("The computing preferences allow the sieve again.", LogKind::plain);
    resume();
}

}  // namespace zud
