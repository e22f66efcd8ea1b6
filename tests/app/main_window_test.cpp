#include "app/main_window.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>

#include "data/status_file.h"
#include "damaged_status.h"
#include "status_lines.h"
#include "app/range_entry.h"
#include "app/window_fixture.h"

namespace {

using zud::BoxAnswer;
using zud::RunOutcome;
using zud_test::factor_lines;

const char* const kClipboardDone =
    "Sieving complete!\r\n\r\nThe data has been placed on the Clipboard ready to be sent to the Zud "
    "team.\r\nThis information can also be found in the file 'ZudStatus.dat'";

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += (text.empty() ? "" : "\r\n") + line;
    return text;
}

class MainWindow : public zud_test::WindowTest {};

TEST_F(MainWindow, a_new_range_runs_to_completion_and_hands_over_the_results)
{
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    EXPECT_TRUE(tray.added);
    EXPECT_EQ(view.caption, "&Stop");
    EXPECT_EQ(view.range_line, "p=3,001 to p=400,000");
    serve_until_idle();

    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.substr(0, 22), "pmax=400000\npmin=3001\n");
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    const auto lines = factor_lines(status);
    ASSERT_GT(lines.size(), 50u);
    EXPECT_EQ(logic->factor_count(), static_cast<std::int32_t>(lines.size()));
    EXPECT_EQ(logic->log_text(), joined(lines));
    EXPECT_EQ(view.log, logic->log_text());
    EXPECT_EQ(box.texts(), std::vector<std::string>{kClipboardDone});
    EXPECT_EQ(clipboard.copied, status);
    EXPECT_EQ(view.caption, "&Start");
    EXPECT_EQ(logic->display_text(1), "Complete!");
    EXPECT_EQ(logic->outcome(), RunOutcome::completed);
    EXPECT_GE(logic->last_reported_p(), std::stoll(lines.back()));
    EXPECT_EQ(tray.tooltip, "ZudSieve: Complete, 100.0% done");
    EXPECT_EQ(cursor.depth, 0);
}

TEST_F(MainWindow, a_recorded_range_resumes_without_asking_and_echoes_its_factors)
{
    write_file("ZudStatus.dat", "pmax=400000\npmin=3001\n3041 | 5*2^1549+1\npmin=200000\n");
    window().initialize();
    EXPECT_EQ(range.runs, 0);
    EXPECT_EQ(view.range_line, "p=3,001 to p=400,000");
    // The recorded factors, then where the sieve takes the range up again.
    EXPECT_EQ(logic->log_text().substr(0, 68), "3041 | 5*2^1549+1\r\nResumed at p=200,000 (range p=3,001 to p=400,000)");
    serve_until_idle();
    for (const auto& line : factor_lines(read_file("ZudStatus.dat"))) {
        if (line != "3041 | 5*2^1549+1") {
            EXPECT_GE(std::stoll(line), 200000) << line;
        }
    }
    // The echo happens on the first Start only.
    write_file("ZudStatus.dat", "pmax=400000\npmin=3001\n3041 | 5*2^1549+1\npmin=399000\n");
    const std::string before = logic->log_text();
    logic->start_stop();
    EXPECT_EQ(logic->log_text().substr(0, before.size() + 51),
              before + "\r\nResumed at p=399,000 (range p=3,001 to p=400,000)");
    serve_until_idle();
}

TEST_F(MainWindow, initial_creation_rewrites_the_candidate_file_and_marks_done)
{
    const std::string original = read_file("Zud.dat");
    range.lower = 0;
    range.upper = 60000;
    window().initialize();
    EXPECT_EQ(logic->log_text().substr(0, 24), "INITIAL FILE CREATION.\r\n");
    EXPECT_FALSE(exists("ZudStatus.dat"));
    serve_until_idle();
    EXPECT_EQ(read_file("ZudStatus.dat"), "Done");
    EXPECT_EQ(read_file("Zud.dat~"), original);
    zud::CandidateSet written;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), written).ok);
    // Every n of 100..2000 was a candidate and searched, whatever class the
    // old file's n shared: the sieve to 60000 leaves fewer than the file
    // pre-sieved to 3000 had, and none that 3 divides.
    EXPECT_LT(written.candidate_count(), 679u);
    EXPECT_GT(written.candidate_count(), 100u);
    for (std::int32_t i = 0; i < written.kcount; ++i)
        for (std::int32_t n = written.nmin; n <= written.nmax; ++n)
            if (written.is_candidate(i, n)) {
                EXPECT_NE((written.k_values[i] % 3 * (n % 2 == 0 ? 1 : 2) + 1) % 3, 0) << n;
            }
    EXPECT_EQ(box.texts(), std::vector<std::string>{
                               "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'"});
    // Window lines are thinned to one per 1000 of p.
    std::int64_t previous = -10000;
    const std::string log = logic->log_text();
    for (std::size_t at = 0; at < log.size();) {
        if (std::isdigit(static_cast<unsigned char>(log[at]))) {
            const std::int64_t p = std::stoll(log.substr(at));
            EXPECT_GE(p - previous, 1000);
            previous = p;
        }
        at = log.find("\r\n", at);
        at = at == std::string::npos ? log.size() : at + 2;
    }
    EXPECT_GT(previous, 1000);
}

TEST_F(MainWindow, a_confirmed_stop_records_the_resume_point_and_the_next_start_goes_on)
{
    range.lower = 3001;
    // Wide enough that the run is still going when the window handles its
    // first progress event: a short range ends before the stop is asked.
    range.upper = 40000000;
    bool asked = false;
    after_event = [&](char kind) {
        if (!asked && kind == 'S') {
            asked = true;
            box.answers = {BoxAnswer::cancel, BoxAnswer::ok};
            logic->start_stop();   // Cancel: nothing changes
            EXPECT_FALSE(active->stop_requested());
            logic->start_stop();   // OK: stop at the next prime
            EXPECT_EQ(view.caption, "&Stop");
        }
    };
    window().initialize();
    serve_until_idle();
    const std::int64_t p = stopped_at;
    ASSERT_GT(p, 3001);
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.substr(status.rfind("pmin=")), "pmin=" + std::to_string(p - 1) + "\n");
    EXPECT_EQ(logic->display_text(1), "Stopped");
    EXPECT_EQ(view.caption, "&Start");
    EXPECT_EQ(logic->outcome(), RunOutcome::stopped);
    EXPECT_EQ(box.shown[0].text, "The sieve is still running - are you sure you wish to stop it?");
    EXPECT_EQ(box.shown[0].default_answer, BoxAnswer::cancel);

    after_event = nullptr;
    logic->start_stop();
    EXPECT_EQ(range.runs, 1);
    EXPECT_EQ(view.range_line, "p=3,001 to p=40,000,000");
    serve_until_idle();
    EXPECT_EQ(logic->outcome(), RunOutcome::completed);
}

TEST_F(MainWindow, the_completed_results_question_both_ways)
{
    write_file("ZudStatus.dat", "pmax=5000\npmin=3001\n3041 | 5*2^1549+1\nDone\n");
    box.answers = {BoxAnswer::no};
    window().initialize();
    EXPECT_FALSE(logic->running());
    ASSERT_EQ(box.shown.size(), 2u);
    EXPECT_EQ(box.shown[0].text,
              "There is a complete set of results in the file 'ZudStatus.dat' - have these been sent to the Zud "
              "team?\r\n\r\nNB If you say YES, a new range is started and this file is kept as 'ZudStatus.dat~'.");
    EXPECT_EQ(box.shown[0].buttons, zud::BoxButtons::yes_no);
    EXPECT_EQ(box.shown[0].default_answer, BoxAnswer::no);
    EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::none);
    // Asked by name: --yes answers it whatever its words.
    EXPECT_EQ(box.asked, std::vector<zud::BoxQuestion>{zud::BoxQuestion::results_handed_over});
    EXPECT_EQ(box.shown[1].text, "Please send the results to the Zud team before starting a new sieve.");
    EXPECT_EQ(logic->log_text(), "3041 | 5*2^1549+1");
    EXPECT_EQ(range.runs, 0);

    // Yes, then the range cancelled: the finished file stays where it is.
    const std::string completed = read_file("ZudStatus.dat");
    write_file("ZudStatus.dat~", "older\n");
    box.answers = {BoxAnswer::yes};
    range.accept = false;
    logic->start_stop();
    EXPECT_EQ(read_file("ZudStatus.dat"), completed);
    EXPECT_EQ(read_file("ZudStatus.dat~"), "older\n");
    EXPECT_EQ(logic->log_text(), "");
    EXPECT_EQ(range.runs, 1);
    EXPECT_EQ(logic->display_text(1), "The data file has been read");
    EXPECT_FALSE(logic->running());
    // A range confirmed: the backups keep the last two.
    box.answers = {BoxAnswer::yes};
    range.accept = true;
    range.lower = 3001;
    range.upper = 5000;
    logic->start_stop();
    EXPECT_EQ(read_file("ZudStatus.dat~"), completed);
    EXPECT_EQ(read_file("ZudStatus.dat~~"), "older\n");
    EXPECT_EQ(read_file("ZudStatus.dat").substr(0, 20), "pmax=5000\npmin=3001\n");
    serve_until_idle();
}

TEST_F(MainWindow, a_bad_candidate_file_starts_nothing)
{
    std::remove("Zud.dat");
    window().initialize();
    EXPECT_EQ(box.texts(), std::vector<std::string>{"The file 'Zud.dat' cannot be found in the current directory!"});
    EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::warning);
    EXPECT_EQ(logic->display_text(1), "Reading Zud.dat file...");
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(logic->outcome(), RunOutcome::not_started);
    EXPECT_EQ(workers_started, 0);
    EXPECT_EQ(cursor.depth, 0);
}

TEST_F(MainWindow, a_window_tells_of_completion_without_a_box_once_done_is_recorded)
{
    // The window: a line in the log when shown, a notice when hidden; the
    // clipboard holds the whole file even when the log was cut.
    view.announces = true;
    range.lower = 3001;
    range.upper = 400000;
    window().set_log_limit(300);
    logic->initialize();
    serve_until_idle();
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_TRUE(logic->log_truncated());
    EXPECT_EQ(view.log, logic->log_text());
    EXPECT_TRUE(box.texts().empty());
    EXPECT_TRUE(clipboard.copied.empty());   // the clipboard is the user's
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    EXPECT_NE(logic->log_text().find("Sieving complete!"), std::string::npos);
    EXPECT_EQ(view.status_line, "Sieving complete! The results are in 'ZudStatus.dat'.");
    EXPECT_TRUE(tray.notices.empty());
    EXPECT_EQ(tray.marks, (std::vector<zud::TrayMark>{zud::TrayMark::running, zud::TrayMark::done}));

    // Hidden: the notice comes after Done is in the file. Yes to the
    // hand-over question keeps the finished file as ZudStatus.dat~.
    box.answers = {BoxAnswer::yes};
    range.upper = 300000;
    logic->minimized();
    logic->start_stop();
    EXPECT_EQ(read_file("ZudStatus.dat~"), status);
    serve_until_idle();
    ASSERT_EQ(tray.notices.size(), 1u);
    EXPECT_EQ(tray.status_at_notice.substr(tray.status_at_notice.size() - 5), "Done\n");
    EXPECT_TRUE(clipboard.copied.empty());
}

TEST_F(MainWindow, log_separators)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 5000;
    window().initialize();
    logic->factors_recorded({});
    EXPECT_EQ(logic->log_text(), "");
    logic->factors_recorded({{3041, 5, 1549}});
    logic->warning({zud::WarningKind::workers_reduced, "", "some info"});
    logic->warning({zud::WarningKind::engine, "", "Cannot reduce gcd value of 143"});
    logic->factors_recorded({{3049, 7, 100}, {3049, 11, 200}});
    EXPECT_EQ(logic->log_text(), "3041 | 5*2^1549+1\r\nsome info\r\nCannot reduce gcd value of 143\r\n"
                                 "3049 | 7*2^100+1\r\n3049 | 11*2^200+1");
    EXPECT_EQ(view.log, logic->log_text());
    EXPECT_EQ(logic->last_reported_p(), 3049);
    EXPECT_EQ(logic->factor_count(), 3);

    // A batch longer than the whole pane: the pane keeps its limit and the
    // newest lines.
    logic->set_log_limit(1000);
    std::vector<zud::FactorRecord> many;
    for (std::int32_t n = 0; n < 200; ++n)
        many.push_back({5003, 7, 1000 + n});
    logic->factors_recorded(many);
    EXPECT_LT(logic->log_text().size() + 100, 1000u);
    EXPECT_EQ(logic->log_text().substr(logic->log_text().size() - 19), "\r\n5003 | 7*2^1199+1");
    EXPECT_EQ(view.log, logic->log_text());
    EXPECT_TRUE(logic->log_truncated());
    EXPECT_EQ(logic->factor_count(), 203);
}

// A status file edited by hand or damaged on the disk: the damage is named
// before anything is asked (the completed-results question is never reached,
// even with Yes ready), nothing runs and no file changes.
TEST_F(MainWindow, a_damaged_status_file_stops_the_window_with_its_reason)
{
    const std::string range_header = "pmax=300000\npmin=3001\n";
    write_file("ZudStatus.dat", range_header);
    window().initialize();
    serve_until_idle();
    const std::vector<std::string> whole = factor_lines(read_file("ZudStatus.dat"));
    ASSERT_GT(whole.size(), 200u);
    std::vector<zud_test::DamagedStatus> cases = {
        {"a forged factor line", range_header + "299993 | 5*2^109+1\n",
         "The file 'ZudStatus.dat' is damaged - line 3 (\"299993 | 5*2^109+1\") records no true factor: p does "
         "not divide k*2^n+1. The file has been left unchanged."}};
    for (const auto& d : zud_test::damaged_status_files(range_header, whole))
        cases.push_back(d);
    ASSERT_EQ(cases.size(), 8u);
    for (const auto& c : cases) {
        write_file("ZudStatus.dat", c.text);
        box.shown.clear();
        box.answers = {BoxAnswer::yes, BoxAnswer::yes};
        range.runs = 0;
        logic->start_stop();
        EXPECT_FALSE(logic->running()) << c.what;
        ASSERT_EQ(box.shown.size(), 1u) << c.what;
        EXPECT_EQ(box.shown[0].text, c.message);
        EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::warning);
        EXPECT_TRUE(box.asked.empty()) << c.what;
        EXPECT_EQ(range.runs, 0);
        EXPECT_NE(logic->outcome(), RunOutcome::completed);
        EXPECT_EQ(read_file("ZudStatus.dat"), c.text);
        EXPECT_FALSE(exists("ZudStatus.dat~"));
        EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
    }
}

TEST_F(MainWindow, a_done_note_ends_nothing)
{
    write_file("ZudStatus.dat", "pmax=20000\npmin=3\nDone with half of it, rest tomorrow\n");
    window().initialize();
    serve_until_idle();
    for (const auto& shown : box.shown)
        EXPECT_NE(shown.buttons, zud::BoxButtons::yes_no) << shown.text;
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_FALSE(factor_lines(status).empty());
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    EXPECT_FALSE(exists("ZudStatus.dat~"));
}

TEST_F(MainWindow, a_recorded_range_with_a_zero_resume_point_stays_a_normal_run)
{
    write_file("ZudStatus.dat", "pmax=20000\npmin=0\n");
    window().initialize();
    EXPECT_EQ(view.range_line, "p=1 to p=20,000");
    EXPECT_EQ(logic->run().pmin, 1);
    serve_until_idle();
    EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
    EXPECT_FALSE(factor_lines(read_file("ZudStatus.dat")).empty());
}

TEST_F(MainWindow, a_stop_below_3_writes_nothing)
{
    fake_worker = true;
    range.lower = 0;
    range.upper = 20000;
    window().initialize();
    logic->error({zud::RunErrorKind::engine_gave_up, {}, "Cannot reduce gcd value of 143"});
    EXPECT_EQ(logic->log_text().substr(logic->log_text().size() - 30), "Cannot reduce gcd value of 143");
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(logic->display_text(1), "Stopped");
    EXPECT_FALSE(exists("ZudStatus.dat"));
    EXPECT_FALSE(exists("Zud.dat~"));
    EXPECT_EQ(logic->outcome(), RunOutcome::nothing_sieved);
}

std::FILE* refuse_new_candidate_file(const char* path, const char* mode)
{
    if (std::strncmp(path, "Zud.dat.new", 11) == 0) {
        errno = ENOSPC;
        return nullptr;
    }
    return std::fopen(path, mode);
}

std::FILE* refuse_status_replacement(const char* path, const char* mode)
{
    if (std::strncmp(path, "ZudStatus.dat.new", 17) == 0 && std::strcmp(mode, "w") == 0) {
        errno = EACCES;
        return nullptr;
    }
    return std::fopen(path, mode);
}

TEST_F(MainWindow, an_initial_creation_keeps_its_records_until_both_files_are_written)
{
    fake_worker = true;
    write_file("ZudStatus.dat", "pmin=9999\n");   // an interrupted initial creation's checkpoint
    range.lower = 0;
    range.upper = 20000;
    window().initialize();
    zud::set_file_opener(refuse_new_candidate_file);
    logic->done();
    logic->retry_records();   // a second later
    // Nothing claims completion, the status file is left alone, and the
    // user is told once which file and why.
    EXPECT_TRUE(logic->running());
    EXPECT_TRUE(logic->records_pending());
    EXPECT_EQ(logic->display_text(1), "Waiting to write 'Zud.dat'...");
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=9999\n");
    EXPECT_EQ(read_file("Zud.dat"), test_data("small_Zud.dat"));
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::warning);
    EXPECT_EQ(box.shown[0].text.find("The file 'Zud.dat' could not be written (No space left on device)."), 0u)
        << box.shown[0].text;
    zud::set_file_opener(nullptr);
    logic->retry_records();
    EXPECT_FALSE(logic->running());
    EXPECT_FALSE(logic->records_pending());
    EXPECT_EQ(logic->display_text(1), "Complete!");
    EXPECT_EQ(read_file("ZudStatus.dat"), "Done");
    EXPECT_EQ(read_file("Zud.dat~"), test_data("small_Zud.dat"));
    EXPECT_EQ(logic->outcome(), RunOutcome::completed);

    // A stop record that cannot be written: the new Zud.dat is written once
    // only (a second write would replace the backup), and Stop gives up.
    write_file("ZudStatus.dat", "");
    logic->start_stop();
    ASSERT_TRUE(logic->running());
    const std::string first_new = read_file("Zud.dat");
    box.shown.clear();
    zud::set_file_opener(refuse_status_replacement);
    logic->stopped(10007);
    logic->retry_records();
    EXPECT_EQ(read_file("Zud.dat~"), first_new);
    EXPECT_EQ(logic->display_text(1), "Waiting to write 'ZudStatus.dat'...");
    box.answers = {BoxAnswer::ok};
    logic->start_stop();
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(logic->outcome(), RunOutcome::results_not_saved);
    EXPECT_EQ(box.texts(), (std::vector<std::string>{
                               "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'",
                               "The file 'ZudStatus.dat' could not be written (Permission denied)! Everything is kept "
                               "in memory and written as soon as the file can be; ZudSieve tries again every second.",
                               "The results of the initial creation have not been written yet - are you sure you "
                               "wish to give them up?",
                               "The new 'Zud.dat' has been written, but 'ZudStatus.dat' does not record what it "
                               "covers."}));
}

TEST_F(MainWindow, no_run_starts_without_its_range_header)
{
    zud::set_file_opener(refuse_status_replacement);
    range.lower = 3001;
    range.upper = 20000;
    window().initialize();
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(workers_started, 0);
    EXPECT_EQ(box.texts(), std::vector<std::string>{"The file 'ZudStatus.dat' could not be written (Permission denied)!"});
}

TEST_F(MainWindow, closing_during_a_run_stops_it_and_goes_once_the_resume_point_is_recorded)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    logic->progress({131101, 0.3, 1000.0});
    box.answers = {BoxAnswer::cancel};
    view.visible = false;
    logic->close_request();
    EXPECT_TRUE(view.visible);   // brought back for the question
    EXPECT_FALSE(logic->destroyed());
    EXPECT_FALSE(active->stop_requested());
    box.answers = {BoxAnswer::ok};
    logic->close_request();
    // Through the run's own stop: nothing it holds is lost or cut in half.
    EXPECT_TRUE(active->stop_requested());
    EXPECT_FALSE(logic->destroyed());
    logic->stopped(131129);
    EXPECT_TRUE(logic->destroyed());
    EXPECT_TRUE(view.closed);
    EXPECT_FALSE(tray.added);
    EXPECT_EQ(profile.saves, 0);   // nothing the user chose changed
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=400000\npmin=3001\npmin=131128\n");
    EXPECT_EQ(logic->outcome(), RunOutcome::stopped);
}

TEST_F(MainWindow, a_second_program_in_the_same_folder_is_refused_and_changes_nothing)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    ASSERT_TRUE(logic->running());
    zud_test::ScriptedBox other_box;
    zud::WindowServices services{&view, &other_box, &cursor, &tray, &clipboard, &range, &profile, [] { return 0; },
                                 &events, [](zud::Run&) {}, nullptr};
    zud::MainWindowLogic second(services);
    second.initialize();
    EXPECT_FALSE(second.running());
    ASSERT_EQ(other_box.shown.size(), 1u);
    EXPECT_EQ(other_box.shown[0].text.find("ZudSieve is already running in the folder '"), 0u);
    EXPECT_NE(other_box.shown[0].text.find(dir_), std::string::npos);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=400000\npmin=3001\n");
    // Once the first run has ended, Start works.
    logic->stopped(5003);
    second.start_stop();
    EXPECT_TRUE(second.running());
    second.stopped(5003);
}

TEST_F(MainWindow, exiting_an_initial_creation_stops_it_first)
{
    range.lower = 0;
    range.upper = 2000000;
    box.answers = {BoxAnswer::ok};
    bool asked = false;
    after_event = [&](char kind) {
        if (!asked && kind == 'S') {
            asked = true;
            logic->close_request();
            EXPECT_FALSE(logic->destroyed());   // not before the stop is handled
        }
    };
    window().initialize();
    serve_until_idle();
    EXPECT_TRUE(logic->destroyed());
    ASSERT_GT(stopped_at, 3);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=" + std::to_string(stopped_at - 1) + "\npmax=2000000\n");
    EXPECT_TRUE(exists("Zud.dat~"));
}

TEST_F(MainWindow, a_run_that_ended_while_a_question_was_open_is_left_alone)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    logic->progress({131101, 0.3, 1000.0});
    logic->stopped(131129);   // one program per folder: this run ends first
    // The final message arrives while the stop question is open.
    struct EndingBox : zud_test::ScriptedBox {
        zud::MainWindowLogic* logic = nullptr;
        BoxAnswer show(const std::string& text, zud::BoxIcon icon, zud::BoxButtons buttons,
                       BoxAnswer default_answer) override
        {
            if (buttons == zud::BoxButtons::ok_cancel)
                logic->done();
            ScriptedBox::show(text, icon, buttons, default_answer);
            return BoxAnswer::ok;
        }
    };
    // Rebuild with the ending box.
    EndingBox ending;
    zud::WindowServices services{&view, &ending, &cursor, &tray, &clipboard, &range, &profile, [] { return 0; },
                                 &events, [](zud::Run&) {}, nullptr};
    zud::MainWindowLogic other(services);
    ending.logic = &other;
    write_file("ZudStatus.dat", "pmax=400000\npmin=3001\n");
    other.initialize();
    ASSERT_TRUE(other.running());
    other.start_stop();
    EXPECT_FALSE(other.running());
    // And the exit question: the run is over, so no exit line.
    write_file("ZudStatus.dat", "pmax=400000\npmin=3001\n");
    zud::MainWindowLogic third(services);
    ending.logic = &third;
    third.initialize();
    third.progress({131101, 0.3, 1000.0});
    third.close_request();
    EXPECT_TRUE(third.destroyed());
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=400000\npmin=3001\nDone\n");
}

TEST_F(MainWindow, the_status_line_cycles_through_rate_status_and_remaining)
{
    fake_worker = true;
    profile.values["statusval"] = "2";
    range.accept = false;
    window().initialize();
    // Idle, each display says what it will show.
    EXPECT_EQ(view.status_line, "Share done and time left, shown while sieving");
    logic->status_line_clicked();
    EXPECT_EQ(view.status_line, "Rate: p/sec and sec/n/k, shown while sieving");
    logic->status_line_clicked();
    EXPECT_EQ(view.status_line, "The data file has been read");
    logic->status_line_clicked();
    EXPECT_EQ(view.status_line, "Share done and time left, shown while sieving");
    EXPECT_EQ(logic->status_choice(), 2);
}

TEST_F(MainWindow, settings_come_from_the_profile_and_go_back_to_it)
{
    fake_worker = true;
    profile.values = {{"statusval", "7"}, {"factor", "0.05"}, {"priority", "I"}};
    range.accept = false;
    window().initialize();
    EXPECT_EQ(logic->status_choice(), 0);
    EXPECT_EQ(logic->alpha(), 2.5);
    EXPECT_EQ(view.radio, zud::PriorityClass::idle);
    EXPECT_EQ(view.check_mark, zud::ThreadPriority::lowest);
    logic->set_alpha(0.0996);
    logic->close_request();
    EXPECT_EQ(profile.values["factor"], "0.100");
    EXPECT_EQ(profile.values["statusval"], "7");   // never chosen: as it was
    EXPECT_EQ(profile.values["priority"], "I");

    // A fresh profile: each click writes its own key and nothing else (a
    // worker count written unasked would hold on a machine with more cores).
    zud::WindowServices services{&view, &box, &cursor, &tray, &clipboard, &range, &profile,
                                 [] { return 0; }, &events, [](zud::Run&) {}, nullptr};
    profile.values.clear();
    zud::MainWindowLogic fresh(services);
    fresh.initialize();
    EXPECT_TRUE(profile.values.empty());
    fresh.select_priority_class(zud::PriorityClass::idle);
    EXPECT_EQ(profile.values, (std::map<std::string, std::string>{{"priority", "I"}}));
    fresh.status_line_clicked();
    fresh.set_alpha(3);
    EXPECT_EQ(profile.values,
              (std::map<std::string, std::string>{{"priority", "I"}, {"statusval", "1"}, {"factor", "3.000"}}));
    fresh.close_request();
}

TEST_F(MainWindow, the_tray_hides_and_shows_the_window)
{
    fake_worker = true;
    range.accept = false;
    window().initialize();
    EXPECT_EQ(tray.tooltip, "ZudSieve 1.24");
    logic->minimized();
    EXPECT_FALSE(view.visible);
    tray.tooltip = "Sieved up to 1000003 (1.0 million)";
    const int scrolls = view.scrolls;
    logic->tray_activated();
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(tray.tooltip, "ZudSieve 1.24");
    EXPECT_GT(view.scrolls, scrolls);
    logic->tray_activated();
    EXPECT_FALSE(view.visible);
}

TEST_F(MainWindow, a_long_progress_text_is_cut_for_the_tooltip)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 5000;
    window().initialize();
    logic->progress({4611686018427387847, 0.5, 1000.0});
    EXPECT_EQ(tray.tooltip, "Sieved up to 4,611,686,018,427,387,846 (4611686.0 trillion) - 1");
}

// The kernel as an ordinary user meets it: a thread may lower its
// priority (raise its nice value) but never raise it again. Fake runs'
// threads start at the nice value the window asked for.
std::map<pid_t, int> g_nice;
const std::vector<int>* g_started = nullptr;

bool unprivileged(pid_t tid, int nice)
{
    if (g_nice.count(tid) == 0) {
        const auto run = static_cast<std::size_t>(tid - zud_test::kFakeWorkerTid - 1);
        g_nice[tid] = g_started != nullptr && run < g_started->size() ? (*g_started)[run] : 0;
    }
    if (nice < g_nice[tid])
        return false;
    g_nice[tid] = nice;
    return true;
}

TEST_F(MainWindow, every_priority_an_ordinary_user_may_have_takes_effect_and_the_window_stays_at_zero)
{
    g_nice.clear();
    g_started = &started_nices;
    set_nice = unprivileged;
    fake_worker = true;
    range.lower = 3001;
    range.upper = 500000;
    window().initialize();
    ASSERT_EQ(started_nices, std::vector<int>{5});   // Normal class, Lowest worker

    // Lowering works on the running threads.
    logic->select_priority_class(zud::PriorityClass::idle);
    EXPECT_EQ(view.radio, zud::PriorityClass::idle);
    EXPECT_EQ(g_nice[zud_test::kFakeWorkerTid + 1], 19);
    EXPECT_FALSE(active->stop_requested());

    // Raising again: the run stops, records itself and goes on in new threads.
    logic->select_priority_class(zud::PriorityClass::normal);
    EXPECT_EQ(view.radio, zud::PriorityClass::normal);
    EXPECT_TRUE(active->stop_requested());
    logic->stopped(4001);
    EXPECT_EQ(started_nices, (std::vector<int>{5, 5}));
    EXPECT_TRUE(logic->running());
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=500000\npmin=3001\npmin=4000\n");
    EXPECT_EQ(view.range_line, "p=3,001 to p=500,000");

    logic->select_thread_priority(zud::ThreadPriority::normal);
    EXPECT_EQ(view.check_mark, zud::ThreadPriority::normal);
    logic->stopped(5003);
    EXPECT_EQ(started_nices, (std::vector<int>{5, 5, 0}));
    EXPECT_TRUE(box.shown.empty());

    // Above normal needs privilege: told once, the choice in force stays.
    logic->select_priority_class(zud::PriorityClass::high);
    EXPECT_EQ(view.radio, zud::PriorityClass::normal);
    logic->select_priority_class(zud::PriorityClass::high);
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::warning);
    EXPECT_FALSE(active->stop_requested());
    // The window thread was never touched.
    EXPECT_EQ(g_nice.count(zud::current_tid()) == 0 || g_nice[zud::current_tid()] == 0, true);
    g_started = nullptr;

    // Idle saved in the profile: the next start is not stuck there.
    logic->select_priority_class(zud::PriorityClass::idle);
    logic->stopped(6007);
    logic->close_request();
    EXPECT_EQ(profile.values["priority"], "I");
}

}  // namespace

namespace {

TEST_F(MainWindow, a_status_file_that_cannot_be_written_is_told_and_the_run_goes_on)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    logic->warning({zud::WarningKind::status_file_unwritable, "ZudStatus.dat",
                    "The file 'ZudStatus.dat' could not be written (No space left on device)!"});
    EXPECT_EQ(logic->display_text(1), "Waiting to write 'ZudStatus.dat'...");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].icon, zud::BoxIcon::warning);
    EXPECT_EQ(box.shown[0].text, "The file 'ZudStatus.dat' could not be written (No space left on device)! The "
                                 "factors found are kept and written as soon as the file can be written.");
    EXPECT_TRUE(logic->running());
    // The run's own stop still works, and a record that cannot be written
    // is not reported as saved.
    zud::set_file_opener([](const char* path, const char* mode) -> std::FILE* {
        if (std::strncmp(path, "ZudStatus.dat", 13) == 0) {
            errno = ENOSPC;
            return nullptr;
        }
        return std::fopen(path, mode);
    });
    logic->stop_confirmed();
    logic->stopped(5003);
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(logic->outcome(), RunOutcome::results_not_saved);
}

}  // namespace
