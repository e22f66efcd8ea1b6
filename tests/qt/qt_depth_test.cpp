// Sieve depth in the window: the estimate beside the range dialog's fields,
// the time a factor takes on the status line, and the stop past a test's
// time, kept in the profile.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/factor_cost.h"
#include "qt/qt_fixture.h"

namespace {

using zud_test::QtWindow;
using zud::qt::ZudWindow;

TEST(QtDepth, the_range_dialog_shows_the_estimate_as_the_ends_are_typed)
{
    zud_test::ScriptedBox box;
    zud::qt::RangeDialogQt range(nullptr, box);
    range.set_estimate([](std::int64_t pmin, std::int64_t pmax) {
        return "About " + std::to_string(pmax / pmin) + " factors expected";
    });
    range.lower()->setText("3");
    EXPECT_TRUE(range.estimate()->text().isEmpty());   // no upper end yet
    range.upper()->setText("12");
    EXPECT_EQ(range.estimate()->text(), "About 4 factors expected");
    range.upper()->setText("1.5");
    EXPECT_TRUE(range.estimate()->text().isEmpty());
}

TEST_F(QtWindow, a_run_stops_where_a_factor_takes_longer_than_a_test)
{
    zud::CandidateSet set;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    profile.values["rate"] = zud::candidate_fingerprint(set) + " 0.01";
    profile.values["workers"] = "1";
    profile.values["statusval"] = "2";
    range.lower = 3001;
    range.upper = 3000000;
    ZudWindow window(parts(false));
    window.logic().initialize();
    // 679 candidates, 45.5 million primes at 0.01 s on one worker.
    EXPECT_EQ(window.logic().range_estimate(3000000000, 4000000000),
              "About 9 factors expected; about 5 days with 1 worker");
    EXPECT_EQ(window.range_line_field()->toolTip().toStdString(),
              "About 314 factors expected; about 36 minutes with 1 worker");
    EXPECT_EQ(window.logic().stop_seconds(), 0);   // off by default

    window.logic().set_stop_seconds(25);
    EXPECT_EQ(profile.values["stopseconds"], "25");
    // At 10^6 a factor costs 0.01 * 10^6 / (679 ln 3001 / ln 10^6) = 25.4 s.
    window.logic().progress({900001, 0.3, 1000.0});
    EXPECT_FALSE(window.logic().stop_requested());
    EXPECT_NE(window.status_line()->text().toStdString().find("a factor about 23 s; 0 found, 282 expected"),
              std::string::npos)
        << window.status_line()->text().toStdString();
    window.logic().progress({1100003, 0.3, 1000.0});
    EXPECT_TRUE(window.logic().stop_requested());
    window.logic().stopped(1100003);
    const std::string said = "Stopped at p=1,100,003: a factor now takes about 28 s, longer than the 25 s a test takes.";
    EXPECT_NE(window.log_pane()->toPlainText().toStdString().find(said), std::string::npos);
    EXPECT_EQ(window.status_line()->text().toStdString(), said);
    const std::string status = read_file("ZudStatus.dat");
    EXPECT_EQ(status.find("Done"), std::string::npos);
    EXPECT_NE(status.find("pmin=1100002\n"), std::string::npos) << status;
}

}  // namespace
