// Share done and time left, and where a resumed range began.
#include <gtest/gtest.h>

#include "temp_dir.h"
#include "app/progress_display.h"

namespace {

using zud::ProgressEstimate;

TEST(ProgressEstimate, share_done_and_the_time_left_from_the_recent_rate)
{
    ProgressEstimate progress;
    progress.start(1000000000, 2000000000);
    EXPECT_EQ(progress.remaining_text(), "0.0% done");
    progress.on_progress(1372000000, 0);
    // One sample gives no rate yet.
    EXPECT_EQ(progress.remaining_text(), "37.2% done");
    EXPECT_EQ(progress.permille(), 372);
    // 100,000 p a second for 10 seconds; 627,000,000 p left: 6270 s.
    for (int s = 1; s <= 10; ++s)
        progress.on_progress(1372000000 + s * 100000, s * 1000);
    EXPECT_EQ(progress.remaining_text(), "37.3% done, about 1 h 44 min left");
    // A sample within the same second is not kept, but moves the share.
    progress.on_progress(1373000500, 10500);
    EXPECT_EQ(progress.share_text(), "37.3% done");
}

TEST(ProgressEstimate, the_rate_comes_from_the_last_minutes_only)
{
    ProgressEstimate progress;
    progress.start(0, 1000000000000);
    // Ten minutes fast, then five minutes at a tenth of the speed.
    std::int64_t p = 0;
    std::int32_t ms = 0;
    for (int s = 0; s < 600; ++s, ms += 1000)
        progress.on_progress(p += 10000000, ms);
    for (int s = 0; s < 301; ++s, ms += 1000)
        progress.on_progress(p += 1000000, ms);
    // About 1,000,000 p/s over the last five minutes: 993,699 s left.
    EXPECT_EQ(progress.remaining_text(), "0.6% done, about 11 d 12 h left");
}

TEST(ProgressEstimate, ends_clamps_and_the_wrapping_clock)
{
    ProgressEstimate progress;
    progress.start(100, 200);
    progress.on_progress(50, 0);   // below the start (a resume point before the factors)
    EXPECT_EQ(progress.share_text(), "0.0% done");
    progress.on_progress(199, 0x7fffff00);
    progress.on_progress(199, static_cast<std::int32_t>(0x80000f00u));
    EXPECT_EQ(progress.share_text(), "99.0% done");
    progress.complete();
    EXPECT_EQ(progress.remaining_text(), "100.0% done");
    EXPECT_EQ(progress.permille(), 1000);
    ProgressEstimate none;
    EXPECT_FALSE(none.active());
    EXPECT_EQ(none.share_text(), "0.0% done");
}

TEST(TimeLeft, units_by_size)
{
    EXPECT_EQ(zud::format_time_left(30), "less than a minute left");
    EXPECT_EQ(zud::format_time_left(59 * 60 + 59), "about 59 min left");
    EXPECT_EQ(zud::format_time_left(5 * 3600 + 10 * 60 + 5), "about 5 h 10 min left");
    EXPECT_EQ(zud::format_time_left(3 * 86400 + 7200), "about 3 d 2 h left");
    EXPECT_EQ(zud::format_time_left(1234.0 * 86400 + 7200), "about 1,234 d 2 h left");
    EXPECT_EQ(zud::format_time_left(1e300), "many years left");
}

class RangeStart : public zud_test::TempDirTest {};

TEST_F(RangeStart, the_first_pmin_line_of_the_status_file)
{
    EXPECT_EQ(zud::recorded_range_start(zud::DataFolder(), 7), 7);
    write_file("ZudStatus.dat", "pmax=4000000000\npmin=3000000000\n3000000019 | 5*2^9+1\npmin=3500000000\n");
    EXPECT_EQ(zud::recorded_range_start(zud::DataFolder(), 7), 3000000000);
}

}  // namespace
