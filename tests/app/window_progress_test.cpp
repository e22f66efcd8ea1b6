// The window logic's progress display, the completion notice, the Workers
// setting and the window's place in the profile.
#include <gtest/gtest.h>

#include "run/worker_count.h"
#include "cli/command_line.h"
#include "app/start_options.h"
#include "app/window_fixture.h"

namespace {

class WindowProgress : public zud_test::WindowTest {};

TEST_F(WindowProgress, remaining_shows_share_and_time_left_everywhere)
{
    fake_worker = true;
    view.announces = true;
    range.lower = 3001;
    range.upper = 1003001;
    profile.values["statusval"] = "2";
    window().initialize();
    EXPECT_EQ(view.status_line, "0.0% done");
    EXPECT_EQ(view.permille, 0);
    clock_ms = 10000;
    logic->progress({103001, 0.1, 10000.0});
    EXPECT_EQ(view.status_line, "10.0% done, about 1 min left");   // 90 s
    EXPECT_EQ(view.permille, 100);
    EXPECT_EQ(tray.tooltip, "Sieved up to 103,000 - 10.0% done");
    clock_ms = 20000;
    logic->progress({203001, 0.2, 10000.0});   // 10,000 p/s since the start: 80 s left
    EXPECT_EQ(view.status_line, "20.0% done, about 1 min left");
    // A factor line moves the share too.
    clock_ms = 21000;
    logic->factors_recorded({{303001, 5, 9}});
    EXPECT_EQ(logic->display_text(2).substr(0, 10), "30.0% done");
    // Completion while hidden: a desktop notice, and the whole range done.
    logic->minimized();
    logic->done();
    EXPECT_EQ(logic->display_text(2), "100.0% done");
    EXPECT_EQ(logic->display_text(0), "Rate: complete");
    EXPECT_EQ(tray.tooltip, "ZudSieve: Complete, 100.0% done");
    EXPECT_EQ(view.permille, 1000);
    ASSERT_EQ(tray.notices.size(), 1u);
    EXPECT_EQ(tray.notices[0], "ZudSieve 1.24: Sieving complete: p=3,001 to p=1,003,001, 1 factor found in the "
                               "range. The results are in 'ZudStatus.dat' in " + zud::current_folder() + ".");
}

TEST_F(WindowProgress, a_resumed_range_counts_from_its_recorded_start)
{
    fake_worker = true;
    write_file("ZudStatus.dat", "pmax=1003001\npmin=3001\npmin=503001\n");
    window().initialize();
    EXPECT_EQ(logic->run().pmin, 503001);
    EXPECT_EQ(logic->display_text(2), "50.0% done");
    EXPECT_EQ(view.permille, 500);
    // Completed while shown: no notice.
    logic->done();
    EXPECT_TRUE(tray.notices.empty());
}

TEST_F(WindowProgress, workers_come_from_the_profile_the_command_line_and_the_menu)
{
    fake_worker = true;
    range.accept = false;
    profile.values["workers"] = "99";
    window().initialize();
    const int processors = logic->processors();
    EXPECT_GE(processors, 1);
    EXPECT_EQ(logic->workers(), processors);   // out of range: every processor
    EXPECT_EQ(view.workers, processors);
    logic->choose_workers(0);
    EXPECT_EQ(logic->workers(), processors);
    logic->choose_workers(1);
    EXPECT_EQ(view.workers, 1);
    view.place = "10 20 640 480 max";
    logic->close_request();
    EXPECT_EQ(profile.values["workers"], "1");
    EXPECT_EQ(profile.values["window"], "10 20 640 480 max");
}

TEST_F(WindowProgress, the_command_line_overrides_the_workers_for_this_run_only)
{
    fake_worker = true;
    range.accept = false;
    profile.values["workers"] = "1";
    window().override_workers(1000);   // beyond the processors: the profile's
    logic->initialize();
    EXPECT_EQ(logic->workers(), 1);
    if (zud::default_worker_count() < 2)
        GTEST_SKIP() << "one processor: no override to show";
    zud::WindowServices services{&view, &box, &cursor, &tray, &clipboard, &range, &profile,
                                 [] { return 0; }, &events, [](zud::Run&) {}, nullptr};
    zud::MainWindowLogic second(services);
    second.override_workers(2);
    second.initialize();
    EXPECT_EQ(second.workers(), 2);
    EXPECT_EQ(view.workers, 2);
    second.close_request();
    EXPECT_EQ(profile.values["workers"], "1");
}

TEST_F(WindowProgress, a_pause_looks_paused_and_a_new_worker_count_restarts_the_run_from_its_resume_point)
{
    fake_worker = true;
    range.lower = 3001;
    range.upper = 1003001;
    profile.values["workers"] = "1";
    window().initialize();
    EXPECT_EQ(view.folder, zud::current_folder());
    EXPECT_TRUE(view.pause_enabled);
    EXPECT_FALSE(view.pause_shown);
    clock_ms = 1000;
    logic->progress({203001, 0.2, 10000.0});
    // Paused: every display, the button, the tray's mark and tooltip say so,
    // and a late event does not undo it.
    logic->pause_resume();
    EXPECT_TRUE(active->paused());
    EXPECT_TRUE(view.pause_shown);
    EXPECT_EQ(tray.marks.back(), zud::TrayMark::paused);
    EXPECT_EQ(tray.tooltip, "ZudSieve: Paused, 20.0% done");
    const char* const shown[] = {"Rate: paused", "Paused", "Paused, 20.0% done"};
    for (int click = 0; click < 3; ++click) {
        EXPECT_EQ(view.status_line, shown[logic->status_choice()]);
        logic->status_line_clicked();
    }
    logic->progress({223001, 0.22, 10000.0});
    EXPECT_EQ(view.status_line, shown[logic->status_choice()]);
    EXPECT_NE(logic->log_text().find("Paused, sieved up to p=203,000: the sieve uses no processor time until Resume."),
              std::string::npos);
    logic->pause_resume();
    EXPECT_FALSE(active->paused());
    EXPECT_EQ(logic->log_text().substr(logic->log_text().size() - 8), "Resumed.");
    EXPECT_FALSE(view.pause_shown);
    EXPECT_EQ(tray.marks.back(), zud::TrayMark::running);
    EXPECT_EQ(view.status_line.find("Paused"), std::string::npos);

    // A new count during a run: the run stops, records its resume point
    // and goes on from it with the new count, as a priority change does.
    const int processors = logic->processors();
    if (processors < 2)
        GTEST_SKIP() << "one processor: no other count to choose";
    logic->choose_workers(2);
    EXPECT_EQ(profile.values["workers"], "2");
    EXPECT_TRUE(active->stop_requested());
    logic->stopped(223001);
    EXPECT_EQ(workers_started, 2);
    EXPECT_TRUE(logic->running());
    EXPECT_EQ(active->workers(), 2);
    EXPECT_EQ(view.range_line, "p=3,001 to p=1,003,001");
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status, "pmax=1003001\npmin=3001\npmin=223000\n");
    EXPECT_NE(logic->log_text().find("Workers: 2 from now on"), std::string::npos);
    // The same count again changes nothing.
    logic->choose_workers(2);
    EXPECT_FALSE(active->stop_requested());
}

}  // namespace
