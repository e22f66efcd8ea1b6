// The window's handling of the worker's messages: log, status line, tray,
// rate, and the records written when a run completes or stops. It runs
// while the worker waits in its send, so the bitmaps and files are ours.
#include "data/parse.h"
#include "data/status_file.h"
#include "run/worker.h"
#include "ui/main_window.h"
#include "ui/start_options.h"

namespace zud {

namespace {

const char* const kCompleteLogLine =
    "Sieving complete! The results (the whole text of 'ZudStatus.dat') are on the clipboard, ready to be sent to "
    "the Zud team.";
const char* const kCompleteClipboard =
    "Sieving complete!\r\n\r\nThe data has been placed on the Clipboard ready to be sent to the Zud "
    "team.\r\nThis information can also be found in the file 'ZudStatus.dat'";

// Where there is no clipboard (the console) nothing was cut and nothing
// was copied: the file is where the results are.
const char* const kCompleteInFile =
    "Sieving complete!\r\n\r\nThe results are in the file 'ZudStatus.dat': please send its text to the Zud "
    "team.";

}  // namespace

void MainWindowLogic::handle_message(const std::string& text)
{
    if (worker_priority_refused.exchange(false))
        report_priority_refusal();
    if (text.empty() || text[0] != '#') {
        on_factor_line(text);
        return;
    }
    const char code = text.size() > 1 ? text[1] : '\0';
    const std::string proper = text.size() > 2 ? text.substr(2) : std::string();
    switch (code) {
    case 'S':
        on_progress(text);
        break;
    case 'E':
        outcome_ = RunOutcome::verification_failed;
        services_.box->warn(proper);
        destroy();
        break;
    case 'I':
        log_append(proper, LogKind::info);
        break;
    case 'W':
        set_status_text("Waiting to write 'ZudStatus.dat'...");
        services_.box->alert(proper);
        break;
    case 'C':
        on_complete();
        break;
    case 's':
        on_stopped(parse_int64(proper.c_str()));
        break;
    default:
        break;
    }
}

void MainWindowLogic::on_factor_line(const std::string& text)
{
    log_append(text, LogKind::plain);
    last_reported_p_ = parse_int64(text.c_str());
    rate_.on_factor(factor_count_, run_.candidates.kcount, services_.clock_ms());
    set_display(0, rate_.rate_text());
    ++factor_count_;
    if (running_)
        show_progress(last_reported_p_);
}

void MainWindowLogic::on_progress(const std::string& text)
{
    const std::string proper = text.substr(2);
    set_status_text(proper);
    last_reported_p_ = text.size() > 15 ? parse_int64(text.c_str() + 15) : 0;
    rate_.on_progress(last_reported_p_, services_.clock_ms());
    set_display(0, rate_.rate_text());
    show_progress(last_reported_p_);
    tray_modify(progress_.active() ? proper + " - " + progress_.share_text() : proper);
}

void MainWindowLogic::on_complete()
{
    // An initial creation is complete once both its files are written.
    if (run_.pmin == 0 &&
        !initial_records_written([](std::int64_t, std::int64_t) { return write_done_initial(); }, 0, 0))
        return;
    services_.view->set_start_caption("&Start");
    set_status_text("Complete!");
    progress_.complete();
    set_display(2, progress_.remaining_text());
    services_.view->show_progress(progress_.permille());
    if (tray_added_)
        services_.tray->mark(TrayMark::done);
    // Recorded before anything is shown: a box or a notice may be the last
    // thing a session shows before it ends.
    if (run_.pmin != 0) {
        const FileResult done = append_done();
        warn_if_failed(done);
        outcome_ = done.ok ? RunOutcome::completed : RunOutcome::results_not_saved;
        if (done.ok)
            announce_completion();
    } else {
        outcome_ = RunOutcome::completed;
    }
    end_of_run();
}

// The results are the whole status file, whatever the log pane kept.
void MainWindowLogic::announce_completion()
{
    const bool copied = services_.clipboard->available();
    if (copied)
        services_.clipboard->copy(read_status_text());
    if (!services_.view->announces_completion()) {
        services_.box->warn(copied ? kCompleteClipboard : kCompleteInFile);
        return;
    }
    // A window never stops the user with a box for good news: a line in the
    // log, and a desktop notice when the window is hidden.
    log_append(kCompleteLogLine, LogKind::info);
    // On the status line too, whichever display it shows; the next click
    // goes back to the displays.
    services_.view->show_status_line("Sieving complete! The results are on the clipboard.");
    if (tray_added_ && !services_.view->window_visible())
        services_.tray->notify(kProgramTitle,
                               "Sieving complete! The results are in 'ZudStatus.dat' in " + current_folder());
}

void MainWindowLogic::on_stopped(std::int64_t p)
{
    if (p < 3) {
        // The engine's set-up gave up: nothing was sieved, so neither file
        // may change.
        outcome_ = RunOutcome::nothing_sieved;
    } else if (run_.pmin != 0) {
        const FileResult resume = append_resume_point(p - 1);
        warn_if_failed(resume);
        outcome_ = resume.ok ? RunOutcome::stopped : RunOutcome::results_not_saved;
    } else if (initial_records_written(write_stop_record, p - 1, run_.pmax)) {
        outcome_ = RunOutcome::stopped;
    } else {
        return;   // offered again in a second
    }
    services_.view->set_start_caption("&Start");
    set_status_text("Stopped");
    if (tray_added_)
        services_.tray->mark(TrayMark::stopped);
    const bool restart = restart_after_stop_ && !exit_after_stop_ && outcome_ == RunOutcome::stopped;
    restart_after_stop_ = false;
    end_of_run();
    if (restart)
        start_stop();   // resumes from the point just recorded, at the new priority
}

// The new Zud.dat, then the status record that says what it covers. What
// cannot be written yet stays in memory and is tried again when the run
// offers it again; false until both are written.
bool MainWindowLogic::initial_records_written(FileResult (*status_write)(std::int64_t, std::int64_t), std::int64_t a,
                                              std::int64_t b)
{
    if (!candidates_written_) {
        FileResult written;
        {
            WaitCursorScope wait(*services_.cursor);
            written = write_candidate_file(run_.candidates);
        }
        if (!written.ok) {
            // The status file stays as it is: marking it done or replacing
            // it would claim eliminations that no file holds.
            wait_for_records(kCandidateFile, written.message);
            return false;
        }
        candidates_written_ = true;
        services_.box->inform(written.message);
    }
    const FileResult status = status_write(a, b);
    if (!status.ok) {
        wait_for_records(kStatusFile, status.message);
        return false;
    }
    saving_ = false;
    final_records_pending.store(false);
    return true;
}

void MainWindowLogic::wait_for_records(const std::string& file, const std::string& message)
{
    saving_ = true;
    final_records_pending.store(true);
    set_status_text("Waiting to write '" + file + "'...");
    if (saving_told_ == file)
        return;
    saving_told_ = file;
    services_.box->alert(message + " Everything is kept in memory and written as soon as the file can be; "
                                   "ZudSieve tries again every second.");
}

// The user gives up on records that cannot be written.
void MainWindowLogic::abandon_records()
{
    saving_ = false;
    final_records_pending.store(false);
    outcome_ = RunOutcome::results_not_saved;
    services_.view->set_start_caption("&Start");
    set_status_text("Stopped");
    services_.box->warn(candidates_written_
                            ? "The new 'Zud.dat' has been written, but 'ZudStatus.dat' does not record what it "
                              "covers."
                            : "The new 'Zud.dat' has not been written: the results of this initial creation are "
                              "lost.");
    end_of_run();
}

void MainWindowLogic::end_of_run()
{
    running_ = false;
    worker_.clear();
    lock_.release();
    if (exit_after_stop_)
        destroy();
}

void MainWindowLogic::warn_if_failed(const FileResult& result)
{
    if (!result.ok)
        services_.box->warn(result.message);
}

void MainWindowLogic::log_append(const std::string& text, LogKind kind)
{
    if (log_text_.size() + 100 >= log_limit_) {
        const std::size_t cut = log_text_.size() < 500 ? log_text_.size() : 500;
        services_.view->log_cut_front(log_text_.substr(0, cut));
        log_text_.erase(0, cut);
        log_truncated_ = true;
    }
    const bool separate = !log_text_.empty() && (kind != LogKind::info || !text.empty());
    const std::string insert = separate ? "\r\n" + text : text;
    log_text_ += insert;
    if (!insert.empty())
        services_.view->log_appended(insert);
    services_.view->log_scroll_to_end();
}

void MainWindowLogic::clear_log()
{
    log_text_.clear();
    log_truncated_ = false;
    services_.view->log_replaced(log_text_);
}

void MainWindowLogic::set_status_text(const std::string& text)
{
    set_display(1, text);
}

void MainWindowLogic::set_display(int choice, const std::string& text)
{
    display_[choice] = text.substr(0, 99);
    if (status_choice_ == choice)
        services_.view->show_status_line(display_[choice]);
}

}  // namespace zud
