// The window's handling of the run's events: log, status line, tray, rate,
// and when the run's end is recorded. Every text the window shows of a run
// is made here. The final events come after the run has let go of its
// record, so the bitmaps and the candidate file are ours.
#include "data/status_file.h"
#include "run/progress.h"
#include "app/main_window.h"
#include "app/progress_display.h"
#include "app/range_entry.h"
#include "app/shown_numbers.h"
#include "app/sieve_log.h"
#include "app/start_options.h"

namespace zud {

namespace {

const char* const kCompleteLogLine =
    "Sieving complete! The results are the whole text of 'ZudStatus.dat', to be sent to the Zud team: File > Copy "
    "results puts them on the clipboard.";
const char* const kCompleteClipboard =
    "Sieving complete!\r\n\r\nThe data has been placed on the Clipboard ready to be sent to the Zud "
    "team.\r\nThis information can also be found in the file 'ZudStatus.dat'";

// Where there is no clipboard (the console) nothing was cut and nothing
// was copied: the file is where the results are.
const char* const kCompleteInFile =
    "Sieving complete!\r\n\r\nThe results are in the file 'ZudStatus.dat': please send its text to the Zud "
    "team.";

const char* const kKeptWhileUnwritable =
    " The factors found are kept and written as soon as the file can be written.";

}  // namespace

void MainWindowLogic::factors_recorded(const std::vector<FactorRecord>& batch)
{
    if (batch.empty())
        return;
    log_factors(batch);
    last_reported_p_ = batch.back().p;
    // One sample per batch: the factor rate is measured between batches.
    factor_count_ += static_cast<std::int32_t>(batch.size()) - 1;
    rate_.on_factor(factor_count_, run_.candidates.kcount, services_.clock_ms());
    set_display(0, rate_.rate_text());
    ++factor_count_;
    factor_cost_.on_factors(batch.size(), services_.clock_ms());
    if (running_)
        show_progress(last_reported_p_);
}

void MainWindowLogic::progress(const RunProgress& progress)
{
    const std::string text = sieved_up_to_text(progress.resume_p);
    set_status_text(text, StatusKind::progress);
    last_reported_p_ = progress.resume_p;
    rate_.on_progress(last_reported_p_, services_.clock_ms());
    set_display(0, rate_.rate_text());
    factor_cost_progress(progress);
    show_progress(last_reported_p_);
    // A line a minute is picture enough of how the run went.
    const std::int32_t now = services_.clock_ms();
    if (progress_recorded_ms_ == 0 || static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                                                 static_cast<std::uint32_t>(progress_recorded_ms_)) >= 60000) {
        progress_recorded_ms_ = now == 0 ? 1 : now;
        record("Progress: sieved up to p=" + with_commas(last_reported_p_ - 1) + ", " + progress_.share_text());
    }
    if (!paused_)
        tray_modify(progress_.active() ? text + " - " + progress_.share_text() : text);
}

void MainWindowLogic::checkpoint_written(std::int64_t) {}

void MainWindowLogic::warning(const RunWarning& warning)
{
    switch (warning.kind) {
    case WarningKind::status_file_unwritable:
        set_status_text("Waiting to write 'ZudStatus.dat'...");
        services_.box->alert(warning.why + kKeptWhileUnwritable);
        break;
    case WarningKind::status_file_restored:
        services_.box->alert("The file 'ZudStatus.dat' had vanished. It has been written again with its range (pmax=" +
                             std::to_string(run_.pmax) + ", pmin=" + std::to_string(warning.p) +
                             ") and the factors found since; the sieve goes on.");
        break;
    case WarningKind::priority_refused:
        // A thread the old run starts while its restart at the new priority
        // is under way may be refused; the new threads will take the value.
        if (!restart_after_stop_)
            report_priority_refusal();
        break;
    case WarningKind::workers_reduced:
    case WarningKind::engine:
        log_append(warning.why, LogKind::plain);
        break;
    }
}

void MainWindowLogic::error(const RunError& error)
{
    if (error.kind == RunErrorKind::engine_gave_up) {
        finish_run_thread();
        // Nothing was sieved, so neither file may change.
        if (!error.text.empty())
            log_append(error.text, LogKind::plain);
        services_.view->set_start_caption("&Start");
        set_status_text("Stopped");
        show_stopped();
        outcome_ = RunOutcome::nothing_sieved;
        end_of_run();
        return;
    }
    std::string text = "Verification failed: ";
    append_factor_line(text, error.factor.p, error.factor.k, error.factor.n, "!");
    // "p does not divide k*2^n+1!"
    const std::string::size_type bar = text.find(" | ");
    text.replace(bar, 3, " does not divide ");
    record(text);
    outcome_ = RunOutcome::verification_failed;
    services_.box->warn(text);
    destroy();
}

void MainWindowLogic::done()
{
    finish_run_thread();
    // An initial creation is complete once both its files are written.
    if (run_.pmin == 0 && !initial_records_written(0)) {
        pending_final_ = -1;
        return;   // tried again every second (retry_records)
    }
    services_.view->set_start_caption("&Start");
    set_status_text("Complete!");
    end_factor_cost(-1);
    progress_.complete();
    set_display(2, progress_.remaining_text());
    // Nothing goes on: the last rate would claim work that is not being done.
    set_display(0, "Rate: complete");
    tray_modify("ZudSieve: Complete, " + progress_.share_text());
    services_.view->show_progress(progress_.permille());
    if (tray_added_)
        services_.tray->mark(TrayMark::done);
    // Recorded before anything is shown: a box or a notice may be the last
    // thing a session shows before it ends.
    if (run_.pmin != 0) {
        const FileResult done = end_record(0);
        warn_if_failed(done);
        record("Complete: " + range_line(shown_range_start(folder_, run_.pmin), run_.pmax) + ", " +
               with_commas(range_factors_before_ + factor_count_) + " factors in the range");
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
    if (!services_.view->announces_completion()) {
        const bool copied = services_.clipboard->available();
        if (copied)
            services_.clipboard->copy(read_status_text(folder_));
        services_.box->warn(copied ? kCompleteClipboard : kCompleteInFile);
        return;
    }
    // A window never stops the user with a box for good news, nor takes
    // the clipboard unasked: a line in the log, and a desktop notice that
    // waits when the window is hidden.
    log_append(kCompleteLogLine, LogKind::info);
    // On the status line too, whichever display it shows; the next click
    // goes back to the displays.
    services_.view->show_status_line("Sieving complete! The results are in 'ZudStatus.dat'.");
    // Every factor of the range, whatever restarts (a new worker count, a
    // priority) split it into runs.
    const std::int32_t range_factors = range_factors_before_ + factor_count_;
    if (tray_added_ && !services_.view->window_visible())
        services_.tray->notify(kProgramTitle, "Sieving complete: " +
                                                  range_line(recorded_range_start(folder_, run_.pmin), run_.pmax) + ", " +
                                                  with_commas(range_factors) +
                                                  (range_factors == 1 ? " factor" : " factors") +
                                                  " found in the range. The results are in 'ZudStatus.dat' in " +
                                                  folder_.shown() + ".");
}

void MainWindowLogic::stopped(std::int64_t p)
{
    finish_run_thread();
    if (run_.pmin != 0) {
        const FileResult resume = end_record(p);
        warn_if_failed(resume);
        outcome_ = resume.ok ? RunOutcome::stopped : RunOutcome::results_not_saved;
    } else if (initial_records_written(p)) {
        outcome_ = RunOutcome::stopped;
    } else {
        pending_final_ = p;
        return;   // tried again every second (retry_records)
    }
    services_.view->set_start_caption("&Start");
    set_status_text("Stopped");
    show_stopped();
    end_factor_cost(p);
    if (tray_added_)
        services_.tray->mark(TrayMark::stopped);
    const bool restart = restart_after_stop_ && !exit_after_stop_ && outcome_ == RunOutcome::stopped;
    if (!restart && outcome_ == RunOutcome::stopped)
        log_append("Stopped: sieved up to p=" + with_commas(p - 1) + "; the next Start goes on from there.",
                   LogKind::plain);
    restart_after_stop_ = false;
    end_of_run();
    if (restart)
        start_stop();   // resumes from the point just recorded, at the new priority
}

void MainWindowLogic::retry_records()
{
    const std::int64_t p = pending_final_;
    if (!saving_ || p == 0)
        return;
    pending_final_ = 0;
    if (p < 0)
        done();
    else
        stopped(p);
}

// The run has sent its final event and is leaving: its thread is joined,
// and the record is the window's alone. The run stays until its end is
// recorded (end_of_run).
void MainWindowLogic::finish_run_thread()
{
    if (paused_) {
        paused_ = false;
        set_display(0, rate_.rate_text());
        set_display(2, progress_.remaining_text());
    }
    if (active_run_)
        active_run_->wait();
}

FileResult MainWindowLogic::end_record(std::int64_t stopped_at)
{
    if (!active_run_)
        return {};
    return stopped_at != 0 ? active_run_->record_stop(stopped_at) : active_run_->record_done();
}

// The new Zud.dat, then the status record that says what it covers. What
// cannot be written yet stays in memory and is tried again a second later;
// false until both are written.
bool MainWindowLogic::initial_records_written(std::int64_t stopped_at)
{
    if (!candidates_written_) {
        FileResult written;
        {
            WaitCursorScope wait(*services_.cursor);
            written = write_candidate_file(folder_, run_.candidates);
        }
        if (!written.ok) {
            // The status file stays as it is: marking it done or replacing
            // it would claim eliminations that no file holds.
            wait_for_records(folder_.candidate_name(), written.message);
            return false;
        }
        candidates_written_ = true;
        services_.box->inform(written.message);
    }
    const FileResult status = end_record(stopped_at);
    if (!status.ok) {
        wait_for_records(folder_.status_name(), status.message);
        return false;
    }
    saving_ = false;
    return true;
}

void MainWindowLogic::wait_for_records(const std::string& file, const std::string& message)
{
    saving_ = true;
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
    pending_final_ = 0;
    outcome_ = RunOutcome::results_not_saved;
    services_.view->set_start_caption("&Start");
    set_status_text("Stopped");
    show_stopped();
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
    paused_ = false;
    services_.view->show_pause(false, false);
    finish_run_thread();
    active_run_.reset();
    lock_.release();
    if (exit_after_stop_)
        destroy();
}

void MainWindowLogic::warn_if_failed(const FileResult& result)
{
    if (!result.ok)
        services_.box->warn(result.message);
}

// A batch enters the pane as one text; then, near the limit, the oldest
// text goes in steps of 500 characters, as for a single line, so the pane
// keeps the newest lines. The view sees the whole batch first: the console
// shows every line and cuts nothing.
void MainWindowLogic::log_factors(const std::vector<FactorRecord>& batch)
{
    std::string insert;
    insert.reserve(batch.size() * 28 + 2);
    if (!log_text_.empty())
        insert = "\r\n";
    for (const FactorRecord& f : batch)
        append_factor_line(insert, f.p, f.k, f.n, "\r\n");
    // An initial creation's lines are shown, not found: only the range's
    // factors go into the record.
    if (run_.pmin != 0)
        for (const FactorRecord& f : batch) {
            std::string line = "Factor: ";
            append_factor_line(line, f.p, f.k, f.n, "");
            record(line);
        }
    insert.resize(insert.size() - 2);
    log_text_ += insert;
    services_.view->log_appended(insert);
    if (log_text_.size() + 100 >= log_limit_) {
        const std::size_t over = log_text_.size() + 100 - log_limit_ + 1;
        std::size_t cut = (over + 499) / 500 * 500;
        cut = cut > log_text_.size() ? log_text_.size() : cut;
        services_.view->log_cut_front(log_text_.substr(0, cut));
        log_text_.erase(0, cut);
        log_truncated_ = true;
    }
    services_.view->log_scroll_to_end();
}

void MainWindowLogic::log_append(const std::string& text, LogKind kind)
{
    if (log_text_.size() + 100 >= log_limit_) {
        const std::size_t cut = log_text_.size() < 500 ? log_text_.size() : 500;
        services_.view->log_cut_front(log_text_.substr(0, cut));
        log_text_.erase(0, cut);
        log_truncated_ = true;
    }
    if (kind != LogKind::echoed && !text.empty())
        record(text);
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

void MainWindowLogic::set_status_text(const std::string& text, StatusKind kind)
{
    // While paused the status says so, whatever a late event says.
    if (!paused_)
        status_kind_ = kind;
    set_display(1, text);
}

void MainWindowLogic::set_display(int choice, const std::string& text)
{
    // While paused every display says so; what a late event says waits.
    if (paused_)
        return;
    display_[choice] = text.substr(0, 99);
    if (status_choice_ == choice)
        services_.view->show_status_line(display_[choice]);
}

}  // namespace zud
