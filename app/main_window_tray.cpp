// The tray icon over a session: a panel may come after the program (the
// usual order at login) or go while it runs.
#include "app/main_window.h"

namespace zud {

void MainWindowLogic::tray_presence(bool available)
{
    if (!initialized_ || destroyed_)
        return;
    if (!available) {
        // Nothing could bring a hidden window back.
        if (!services_.view->window_visible())
            services_.view->show_window();
        return;
    }
    if (tray_added_)
        return;
    services_.tray->add(kProgramTitle);
    tray_added_ = true;
    if (!running_)
        return;
    services_.tray->mark(paused_ ? TrayMark::paused : TrayMark::running);
    if (paused_)
        tray_modify("ZudSieve: Paused, " + progress_.share_text());
    else if (status_kind_ == StatusKind::progress)
        tray_modify(progress_.active() ? display_[1] + " - " + progress_.share_text() : display_[1]);
}

}  // namespace zud
