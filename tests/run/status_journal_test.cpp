// The status file's one writer: each record in its exact form, the rules
// of resume points (a stop at p records p - 1, never below what the file
// records, never past pmax), and what reaches the disk before the program
// goes on, seen through the sync observer.
#include "run/status_journal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "data/file_io.h"
#include "data/status_file.h"
#include "temp_dir.h"

namespace {

using Syncs = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// Every sync, with the size of the file at that moment.
Syncs g_syncs;

void note_sync(zud::SyncKind kind, const char* path)
{
    struct stat info {};
    const bool file = kind != zud::SyncKind::folder && ::stat(path, &info) == 0;
    const char* what = kind == zud::SyncKind::data ? "data " : kind == zud::SyncKind::file ? "file " : "folder ";
    g_syncs.push_back(what + std::string(kind == zud::SyncKind::file ? "new" : path) +
                      (file ? " " + std::to_string(info.st_size) : ""));
}

class StatusJournalTest : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        g_syncs.clear();
        zud::set_sync_observer(note_sync);
    }
    void TearDown() override
    {
        zud::set_sync_observer(nullptr);
        TempDirTest::TearDown();
    }
    std::string size() { return std::to_string(read_file("ZudStatus.dat").size()); }
    // The syncs since the last call.
    Syncs syncs()
    {
        Syncs seen;
        seen.swap(g_syncs);
        return seen;
    }
    zud::DataFolder folder;
    zud::RunRecord record;
};

TEST_F(StatusJournalTest, a_desktop_run_records_in_order_and_syncs_what_must_survive_a_power_cut)
{
    ASSERT_TRUE(zud::StatusJournal::begin_range(folder, 400000, 3001).ok);
    EXPECT_EQ(syncs(), (Syncs{"file new " + size(), "folder ."}));
    record.pmin = 3001;
    record.pmax = 400000;
    zud::StatusJournal journal(folder, record);

    // Factor lines reach the disk in bulk, a little later.
    const Clock::time_point written = Clock::now();
    ASSERT_TRUE(journal.append_factors(zud::factor_line(3011, 5, 7) + zud::factor_line(3019, 7, 11), 3001).ok);
    journal.sync_if_due(written, 3020);
    EXPECT_EQ(syncs(), Syncs{});
    journal.sync_if_due(written + std::chrono::seconds(3), 3020);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + size(), "data ZudStatus.dat " + size()}));
    journal.sync(3020);
    EXPECT_EQ(syncs(), Syncs{}) << "nothing new to sync";

    // A checkpoint is on the disk with everything before it.
    ASSERT_TRUE(journal.append_factors(zud::factor_line(3023, 5, 9), 3020).ok);
    const std::string before = size();
    ASSERT_TRUE(journal.checkpoint(65537, {}).ok);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + before, "data ZudStatus.dat " + size()}));
    journal.sync(70000);
    EXPECT_EQ(syncs(), Syncs{}) << "the checkpoint synced the factor lines";

    // A stop at p: p was fetched and not sieved. A stop past the last prime
    // of the range still names a point within it.
    const std::string checkpointed = size();
    ASSERT_TRUE(journal.record_stop(131129).ok);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + checkpointed, "data ZudStatus.dat " + size()}));
    ASSERT_TRUE(journal.record_stop(400009).ok);
    ASSERT_TRUE(journal.record_done().ok);
    EXPECT_EQ(syncs().size(), 4u);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=400000\npmin=3001\n3011 | 5*2^7+1\n3019 | 7*2^11+1\n3023 | 5*2^9+1\n"
                                          "pmin=65537\npmin=131128\npmin=400000\nDone\n");
}

// A BOINC task's records carry the work digest. A restart from an earlier
// digest line searches again what the file calls sieved: its resume points
// never step back below the recorded one, nor past pmax.
TEST_F(StatusJournalTest, a_task_s_records_carry_their_digest_and_are_synced_before_and_after)
{
    write_file("ZudStatus.dat", "pmax=1000\npmin=3\n7 | 5*2^2+1\n");
    record.pmin = 3;
    record.pmax = 1000;
    record.digest_wanted = true;
    record.recorded_p = 7;
    zud::StatusJournal journal(folder, record);
    std::string before = size();
    ASSERT_TRUE(journal.checkpoint(5, {0x1, 1}).ok);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + before, "data ZudStatus.dat " + size()}));
    before = size();
    ASSERT_TRUE(journal.checkpoint(293, {0xdef, 9}).ok);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + before, "data ZudStatus.dat " + size()}));
    // Stopped past the last prime of the range.
    record.digest = {0xabc, 7};
    before = size();
    ASSERT_TRUE(journal.record_stop(1009).ok);
    EXPECT_EQ(syncs(), (Syncs{"data ZudStatus.dat " + before, "data ZudStatus.dat " + size()}));
    ASSERT_TRUE(journal.record_done().ok);
    EXPECT_EQ(syncs().size(), 2u);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=1000\npmin=3\n7 | 5*2^2+1\n"
                                          "pmin=7\ndigest=0000000000000001 primes=1 below=5\n"
                                          "pmin=293\ndigest=0000000000000def primes=9 below=293\n"
                                          "pmin=1000\ndigest=0000000000000abc primes=7 below=1009\n"
                                          "digest=0000000000000abc primes=7 below=1001\nDone\n");
    bool echo = false;
    EXPECT_FALSE(zud::read_status_file(folder, echo, {}).unusable);
}

// An initial creation records no factor lines: its end replaces the file
// (after its new candidate file), and its checkpoints never create one.
TEST_F(StatusJournalTest, an_initial_creation_s_end_replaces_the_file_and_nothing_creates_it_earlier)
{
    record.pmin = 0;
    record.pmax = 2000000;
    zud::StatusJournal journal(folder, record);
    EXPECT_FALSE(journal.checkpoint(65537, {}).ok);
    EXPECT_FALSE(exists("ZudStatus.dat"));
    ASSERT_TRUE(journal.record_stop(131129).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=131128\npmax=2000000\n");
    EXPECT_EQ(syncs(), (Syncs{"file new " + size(), "folder ."}));
    ASSERT_TRUE(journal.record_done().ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "Done");
}

// A status file that vanished during a run is written again with its
// range, from the run's frontier, and the run is told once.
TEST_F(StatusJournalTest, a_vanished_file_is_written_again_with_its_range)
{
    ASSERT_TRUE(zud::StatusJournal::begin_range(folder, 20000000, 3).ok);
    record.pmin = 3;
    record.pmax = 20000000;
    zud::StatusJournal journal(folder, record);
    std::remove("ZudStatus.dat");
    ASSERT_TRUE(journal.append_factors(zud::factor_line(18574873, 7, 354), 18574800).ok);
    EXPECT_TRUE(journal.take_restored());
    EXPECT_EQ(journal.restored_at(), 18574800);
    EXPECT_FALSE(journal.take_restored());
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=20000000\npmin=18574800\n18574873 | 7*2^354+1\n");
}

}  // namespace
