// A BOINC task's side of the run's events: a checkpoint asked for is told
// once it is written, and the end of the run is kept for the polling loop.
// The records' rules are the journal's (tests/run/status_journal_test.cpp).
#include <gtest/gtest.h>

#include "temp_dir.h"
#include "boinc/boinc_events.h"
#include "boinc/boinc_task.h"
#include "data/status_file.h"
#include "run/status_journal.h"

namespace {

using zud::TaskEvents;

class BoincEventsTest : public zud_test::TempDirTest {};

TEST_F(BoincEventsTest, a_checkpoint_asked_for_is_told_once_it_is_written)
{
    TaskEvents events(100);
    events.checkpoint_written(200);
    EXPECT_FALSE(events.take_checkpoint()) << "none was asked for";
    events.want_checkpoint();
    events.progress({300, 0.2, 0, {0xabc, 7}});
    EXPECT_FALSE(events.take_checkpoint()) << "not before the run has written one";
    events.checkpoint_written(300);
    EXPECT_TRUE(events.take_checkpoint());
    EXPECT_FALSE(events.take_checkpoint());
    events.progress({1009, 1.0, 0, {0xdef, 9}});
    EXPECT_EQ(events.resume_p(), 1009);
}

TEST_F(BoincEventsTest, an_unwritable_status_file_and_the_end_reach_the_loop)
{
    TaskEvents events(100);
    std::string why;
    events.warning({zud::WarningKind::priority_refused, "", "no"});
    EXPECT_FALSE(events.status_unwritable(why));
    events.warning({zud::WarningKind::status_file_unwritable, "ZudStatus.dat", "No space left on device"});
    EXPECT_TRUE(events.status_unwritable(why));
    EXPECT_EQ(why, "No space left on device");
    EXPECT_EQ(events.wait_end(0), TaskEvents::End::running);
    events.stopped(457);
    EXPECT_EQ(events.wait_end(1000), TaskEvents::End::stopped);
    EXPECT_EQ(events.stopped_at(), 457);
}

}  // namespace

namespace {

// A kill between a factor line and the next checkpoint leaves the last
// digest line below the last record. The restart searches again from the
// digest; neither its checkpoints nor its stop record may step back below
// what the file records, or the next start would read damage and fail.
TEST_F(BoincEventsTest, a_restart_below_the_recorded_lines_never_records_a_step_back)
{
    write_file("Zud.dat", "1\n1\n10\nk=5\n2\n+1\n");
    write_file("range", "3 1000\n");
    write_file("ZudStatus.dat", "pmax=1000\npmin=3\ndigest=0000000000000000 primes=0 below=3\n7 | 5*2^2+1\n");
    const zud::DataFolder folder;
    zud::RunRecord record;
    ASSERT_EQ(zud::prepare_task(folder, record, "range").kind, zud::TaskStart::Kind::run);
    EXPECT_EQ(record.pmin, 3) << "the search goes on from the digest";
    EXPECT_EQ(record.recorded_p, 7);

    zud::StatusJournal journal(folder, record);
    ASSERT_TRUE(journal.checkpoint(5, {0x1, 1}).ok);
    record.digest = {0x1, 1};
    ASSERT_TRUE(journal.record_stop(5).ok);
    const std::string text = read_file("ZudStatus.dat");
    EXPECT_EQ(text.substr(text.find("7 | 5*2^2+1\n")), "7 | 5*2^2+1\npmin=7\ndigest=0000000000000001 primes=1 below=5\n"
                                                        "pmin=7\ndigest=0000000000000001 primes=1 below=5\n");
    bool echo = false;
    EXPECT_FALSE(zud::read_status_file(folder, echo, {}).unusable);
}

}  // namespace
