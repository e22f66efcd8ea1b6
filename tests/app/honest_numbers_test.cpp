// What the window shows once a run no longer goes, after a change of
// folder, and at the end of a range that restarts split into runs: no
// figure that belongs to something else.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "run/worker_count.h"
#include "app/window_fixture.h"

namespace {

class HonestNumbers : public zud_test::WindowTest {};

TEST_F(HonestNumbers, a_stopped_run_and_a_new_folder_show_no_figure_of_the_old_run)
{
    fake_worker = true;
    write_file("ZudStatus.dat", "pmax=1003001\npmin=3001\npmin=103001\n");
    window().initialize();
    // The range line is the range, not the resume point.
    EXPECT_EQ(view.range_line, "p=3,001 to p=1,003,001");
    clock_ms = 10000;
    logic->progress({203001, 0.2, 10000.0});
    clock_ms = 20000;
    logic->progress({303001, 0.3, 10000.0});
    // The p shown is the p a stop records, grouped as the range line is.
    EXPECT_EQ(logic->display_text(1), "Sieved up to 303,000");
    EXPECT_EQ(tray.tooltip, "Sieved up to 303,000 - 30.0% done");
    EXPECT_NE(logic->display_text(0).find("p/sec"), std::string::npos);
    EXPECT_NE(logic->display_text(2).find("left"), std::string::npos);

    logic->start_stop();   // the question's default is Cancel
    EXPECT_FALSE(active->stop_requested());
    box.answers.push_back(zud::BoxAnswer::ok);
    logic->start_stop();
    ASSERT_TRUE(active->stop_requested());
    logic->stopped(303001);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=1003001\npmin=3001\npmin=103001\npmin=303000\n");
    const char* const shown[] = {"Rate: stopped", "Stopped", "Stopped, 30.0% done"};
    for (int click = 0; click < 3; ++click) {
        EXPECT_EQ(view.status_line, shown[logic->status_choice()]);
        logic->status_line_clicked();
    }
    EXPECT_EQ(tray.tooltip, "ZudSieve: Stopped, 30.0% done");
    EXPECT_NE(logic->log_text().find("Stopped: sieved up to p=303,000; the next Start goes on from there."),
              std::string::npos);
    EXPECT_EQ(view.permille, 300);

    // Another folder where nothing has been sieved: nothing of the old
    // range stays, and the dialog's Cancel starts nothing there.
    ASSERT_EQ(mkdir("fresh", 0700), 0);
    write_file("fresh/Zud.dat", read_file("Zud.dat"));
    range.accept = false;
    logic->folder_changed(zud::DataFolder("fresh"));
    EXPECT_FALSE(logic->running());
    EXPECT_EQ(view.range_line, "");
    EXPECT_EQ(view.permille, 0);
    EXPECT_EQ(logic->display_text(0), zud::kIdleRate);
    EXPECT_EQ(logic->display_text(1).find("Stopped"), std::string::npos);
    EXPECT_EQ(logic->display_text(2), zud::kIdleRemaining);
    EXPECT_EQ(tray.tooltip, "ZudSieve 1.24");

    // A folder with a range of its own shows that range and its share.
    ASSERT_EQ(mkdir("other", 0700), 0);
    write_file("other/Zud.dat", read_file("Zud.dat"));
    write_file("other/ZudStatus.dat", "pmax=2003001\npmin=3001\npmin=1003001\n");
    logic->folder_changed(zud::DataFolder("other"));
    EXPECT_TRUE(logic->running());
    EXPECT_EQ(view.range_line, "p=3,001 to p=2,003,001");
    EXPECT_EQ(logic->display_text(2), "50.0% done");
    EXPECT_EQ(view.permille, 500);
}

TEST_F(HonestNumbers, the_completion_notice_counts_every_factor_of_the_range_across_restarts)
{
    if (zud::default_worker_count() < 2)
        GTEST_SKIP() << "one processor: no other worker count to restart with";
    view.announces = true;
    profile.values["workers"] = "1";
    range.lower = 3001;
    range.upper = 400000;
    window().initialize();
    logic->minimized();
    // A new worker count after the first factors: the range goes on in a
    // second run.
    after_event = [this](char kind) {
        if (kind == 'f' && workers_started == 1 && !logic->stop_requested())
            logic->choose_workers(2);
    };
    serve_until_idle();
    EXPECT_EQ(workers_started, 2);
    EXPECT_EQ(logic->outcome(), zud::RunOutcome::completed);
    std::size_t recorded = 0;
    for (const char c : read_file("ZudStatus.dat"))
        recorded += c == '|';
    ASSERT_GT(recorded, static_cast<std::size_t>(logic->factor_count()));
    ASSERT_EQ(tray.notices.size(), 1u);
    EXPECT_NE(tray.notices[0].find("p=3,001 to p=400,000, " + std::to_string(recorded) + " factors found in the range."),
              std::string::npos)
        << tray.notices[0];
}

}  // namespace
