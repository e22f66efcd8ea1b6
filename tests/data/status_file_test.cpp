#include "data/status_file.h"
#include "data/file_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

class StatusFile : public zud_test::TempDirTest {
protected:
    void TearDown() override
    {
        zud::set_file_opener(nullptr);
        TempDirTest::TearDown();
    }
    zud::StatusRead read(bool echo = false)
    {
        echo_flag = echo;
        return zud::read_status_file(zud::DataFolder(), echo_flag, {});
    }
    bool echo_flag = false;
};

TEST_F(StatusFile, resumes_at_the_last_record_and_a_factor_line_at_its_own_prime)
{
    write_file("ZudStatus.dat", "pmax=5000000000\npmin=1000000000\n1000000007 | 5*2^10+1\n1000000123 | 7*2^12+1\n");
    auto r = read();
    EXPECT_FALSE(r.unusable);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.pmax, 5000000000);
    // The rest of that prime's factors may not have been written.
    EXPECT_EQ(r.pmin, 1000000123);
    EXPECT_EQ(r.factors, (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 10}, {7, 12}}));

    write_file("ZudStatus.dat", "pmax=5000000000\npmin=1000000000\n1000000007 | 5*2^10+1\npmin=1000000099\n");
    EXPECT_EQ(read().pmin, 1000000099);
    write_file("ZudStatus.dat", "pmin=1000000000\n  1000000007 | 5*2^10+1\npmin=1000000099\npmax=5000000000\n");
    EXPECT_TRUE(read().unusable);   // a factor line before the range header
    write_file("ZudStatus.dat", "pmin=1000000000\npmax=5000000000\npmin=1000000099\n  1000000007 | 5*2^10+1\n");
    EXPECT_TRUE(read().unusable);   // records go back
}

// The reader tells, the front ends show: a finished range, an unfinished
// one and a damaged file give their facts, and nothing reaches the terminal.
TEST_F(StatusFile, gives_facts_and_shows_nothing)
{
    const auto read_quietly = [this](const std::string& text) {
        write_file("ZudStatus.dat", text);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const zud::StatusRead r = read(true);
        const std::string shown = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_EQ(shown, "") << text;
        EXPECT_EQ(read_file("ZudStatus.dat"), text);
        return r;
    };
    const std::string repeats = "The file 'ZudStatus.dat' repeats factor lines of earlier lines: line 4. They are "
                                "kept as they are and counted once.";

    // Finished: the repeat is named, the note is not (it goes with the results).
    auto r = read_quietly("pmax=50\npmin=3\n7 | 5*2^2+1\n7 | 5*2^2+1\nmy note\n13 | 7*2^3+1\nDone\n");
    EXPECT_TRUE(r.completed);
    EXPECT_FALSE(r.unusable);
    EXPECT_EQ(r.pmax, 50);
    EXPECT_EQ(r.pmin, 13);
    EXPECT_EQ(r.factors, (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 2}, {7, 3}}));
    // Every factor line is echoed as the file has it, the repeat too.
    EXPECT_EQ(r.echo_lines, (Lines{"7 | 5*2^2+1", "7 | 5*2^2+1", "13 | 7*2^3+1"}));
    EXPECT_EQ(r.notes, Lines{repeats});
    EXPECT_EQ(r.damage, "");

    // Unfinished: resumes at its last record; both notes, in order.
    r = read_quietly("pmax=50\npmin=3\n7 | 5*2^2+1\n7 | 5*2^2+1\nmy note\npmin=11\n");
    EXPECT_FALSE(r.completed);
    EXPECT_FALSE(r.unusable);
    EXPECT_EQ(r.pmax, 50);
    EXPECT_EQ(r.pmin, 11);
    EXPECT_EQ(r.factors, (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 2}}));
    EXPECT_EQ(r.echo_lines, (Lines{"7 | 5*2^2+1", "7 | 5*2^2+1"}));
    EXPECT_EQ(r.notes, (Lines{repeats, "The file 'ZudStatus.dat' has lines that are not records: line 5. They are "
                                       "kept as they are and do not move the resume point."}));

    // Damaged: the reason, and nothing else to go on.
    r = read_quietly("pmax=50\npmin=3\n13 | 7*2^3+1\n7 | 5*2^2+1\nmy note\nDone\n");
    EXPECT_TRUE(r.unusable);
    EXPECT_EQ(r.damage, "The file 'ZudStatus.dat' is damaged - line 4 (\"7 | 5*2^2+1\") goes back below line 3: "
                        "the records of a range ascend. The file has been left unchanged.");
    EXPECT_TRUE(r.notes.empty());
    EXPECT_TRUE(r.echo_lines.empty());
    EXPECT_TRUE(r.factors.empty());
}

TEST_F(StatusFile, only_records_move_the_resume_point_and_the_others_are_named_once)
{
    const std::string note(1500, 'x');
    const std::string text = "pmax=2000000000\npmin=1000000000\n1000000007 | 5*2^10+1\n"
                             "checked up to 9999999999 by hand\n"
                             "2024-06-01: moved to new PC\n" +
                             note + "1500000000\n" +
                             "1500000001 and more\n"
                             "pmin=1500000000x\n"
                             "\n"
                             "1000000009 | 7*2^10+1\n";
    write_file("ZudStatus.dat", text);
    const auto r = read(true);
    EXPECT_FALSE(r.unusable);
    EXPECT_EQ(r.pmin, 1000000009);
    EXPECT_EQ(r.factors, (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 10}, {7, 10}}));
    EXPECT_EQ(r.echo_lines, (Lines{"1000000007 | 5*2^10+1", "1000000009 | 7*2^10+1"}));
    EXPECT_EQ(r.notes, Lines{"The file 'ZudStatus.dat' has lines that are not records: lines 4, 5, 6, 7, 8. "
                             "They are kept as they are and do not move the resume point."});
    EXPECT_EQ(read_file("ZudStatus.dat"), text);

    // A record above pmax is damage: nothing runs, nothing changes.
    for (const std::string bad : {"pmax=2000000000\npmin=1000000000\npmin=2000000001\n",
                                  "pmax=2000000000\npmin=1000000000\n2000000011 | 5*2^10+1\n",
                                  "pmin=3000000000\npmax=2000000000\n"}) {
        write_file("ZudStatus.dat", bad);
        const auto damaged = read();
        EXPECT_TRUE(damaged.unusable) << bad;
        EXPECT_TRUE(damaged.notes.empty());
        EXPECT_NE(damaged.damage.find("resumes above pmax. The file has been left unchanged."), std::string::npos)
            << damaged.damage;
        EXPECT_EQ(read_file("ZudStatus.dat"), bad);
    }
}

TEST_F(StatusFile, a_task_digest_line_is_kept_silent_and_moves_nothing)
{
    const std::string text = "pmax=50\npmin=3\n7 | 5*2^2+1\ndigest=0123456789abcdef primes=12345 below=1000000\n";
    write_file("ZudStatus.dat", text);
    const auto r = read();
    EXPECT_FALSE(r.unusable);
    EXPECT_EQ(r.pmin, 7);
    EXPECT_TRUE(r.notes.empty());
    EXPECT_TRUE(r.damage.empty());
    EXPECT_EQ(read_file("ZudStatus.dat"), text);
}

TEST_F(StatusFile, values_near_2_62_are_read_whole)
{
    write_file("ZudStatus.dat",
               "pmax=4611686018000000000\npmin=4611686017000000000\n4611686017123456789 | 3061*2^40+1\n");
    auto r = read();
    EXPECT_EQ(r.pmax, 4611686018000000000);
    EXPECT_EQ(r.pmin, 4611686017123456789);
    write_file("ZudStatus.dat", "pmax=4611686018000000000\npmin=4611686017999999999\n");
    EXPECT_EQ(read().pmin, 4611686017999999999);
}

TEST_F(StatusFile, missing_or_foreign_lines_mean_no_range)
{
    auto r = read(true);
    EXPECT_EQ(r.pmax, 0);
    EXPECT_FALSE(r.unusable);
    EXPECT_FALSE(r.completed);
    EXPECT_FALSE(echo_flag);
    // An interrupted initial creation: checkpoints only, no pmax.
    write_file("ZudStatus.dat", "pmin=123457\nhello\n");
    r = read();
    EXPECT_EQ(r.pmax, 0);
}

TEST_F(StatusFile, echoes_factor_lines_on_the_first_read_only)
{
    write_file("ZudStatus.dat", "pmax=50\npmin=3\n7 | 5*2^2+1\n13 | 7*2^3+1\n");
    EXPECT_EQ(read(true).echo_lines, (Lines{"7 | 5*2^2+1", "13 | 7*2^3+1"}));
    EXPECT_FALSE(echo_flag);
    EXPECT_TRUE(zud::read_status_file(zud::DataFolder(), echo_flag, {}).echo_lines.empty());
}

TEST_F(StatusFile, done_as_the_last_record_completes_the_range)
{
    const std::string text = "pmax=50\npmin=3\n7 | 5*2^2+1\nDone\nsent on 2024-06-01\n\n";
    write_file("ZudStatus.dat", text);
    auto r = read(true);
    EXPECT_TRUE(r.completed);
    EXPECT_FALSE(r.unusable);
    EXPECT_EQ(r.pmax, 50);
    EXPECT_EQ(r.pmin, 7);
    EXPECT_EQ(r.echo_lines, Lines{"7 | 5*2^2+1"});
    EXPECT_TRUE(r.notes.empty());
    EXPECT_EQ(read_file("ZudStatus.dat"), text);

    // Read again at the next Start, without echo.
    r = read(false);
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(r.echo_lines.empty());
    // The file stays until a new range is confirmed; then the backups
    // keep the last two.
    EXPECT_EQ(read_file("ZudStatus.dat"), text);
    write_file("ZudStatus.dat~", "older\n");
    ASSERT_TRUE(zud::keep_completed_results(zud::DataFolder()).ok);
    EXPECT_FALSE(exists("ZudStatus.dat"));
    EXPECT_EQ(read_file("ZudStatus.dat~"), text);
    EXPECT_EQ(read_file("ZudStatus.dat~~"), "older\n");

    // A new file takes the mode the umask gives, like any other.
    const mode_t previous = ::umask(027);
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 2000, 1000).ok);
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat("ZudStatus.dat", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(StatusFile, every_writer_writes_its_exact_text)
{
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 2000000000, 1000000000).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=2000000000\npmin=1000000000\n");
    ASSERT_TRUE(zud::append_status_text(zud::DataFolder(), zud::factor_line(7, 5, 5) + zud::checkpoint_line(1000003), false).ok);
    ASSERT_TRUE(zud::append_resume_point(zud::DataFolder(), 1000100).ok);
    ASSERT_TRUE(zud::append_resume_point(zud::DataFolder(), 1000200).ok);
    ASSERT_TRUE(zud::append_done(zud::DataFolder()).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=2000000000\npmin=1000000000\n7 | 5*2^5+1\npmin=1000003\n"
                                          "pmin=1000100\npmin=1000200\nDone\n");
    ASSERT_TRUE(zud::write_stop_record(zud::DataFolder(), 999, 1000000000).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=999\npmax=1000000000\n");
    ASSERT_TRUE(zud::write_done_initial(zud::DataFolder()).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "Done");
    ASSERT_TRUE(zud::delete_status_file(zud::DataFolder()).ok);
    EXPECT_FALSE(exists("ZudStatus.dat"));
    EXPECT_TRUE(zud::delete_status_file(zud::DataFolder()).ok);
}

std::FILE* refuse_status(const char* path, const char* mode)
{
    if (std::strncmp(path, "ZudStatus.dat", 13) == 0) {
        errno = EROFS;
        return nullptr;
    }
    return std::fopen(path, mode);
}

TEST_F(StatusFile, a_write_that_fails_says_so_and_changes_nothing)
{
    zud::set_file_opener(refuse_status);
    const zud::FileResult r = zud::append_resume_point(zud::DataFolder(), 17);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "The file 'ZudStatus.dat' could not be written (Read-only file system)!");
    EXPECT_FALSE(zud::write_range_header(zud::DataFolder(), 5, 3).ok);
    EXPECT_FALSE(zud::append_resume_point(zud::DataFolder(), 17).ok);
    zud::set_file_opener(nullptr);
    EXPECT_FALSE(exists("ZudStatus.dat"));
    EXPECT_FALSE(exists("ZudStatus.dat.new"));
}

std::size_t g_allowed = 0;

std::size_t disk_fills_up(const char*, std::size_t bytes)
{
    const std::size_t allowed = bytes < g_allowed ? bytes : g_allowed;
    g_allowed -= allowed;
    errno = ENOSPC;
    return allowed;
}

TEST_F(StatusFile, a_partial_append_is_cut_back_to_the_last_whole_line)
{
    write_file("ZudStatus.dat", "pmax=20000000\npmin=3\n");
    g_allowed = 25;   // room for the first line and part of the second
    zud::set_write_limiter(disk_fills_up);
    const zud::FileResult r =
        zud::append_status_text(zud::DataFolder(), zud::factor_line(121081, 5, 17) + zud::factor_line(121081, 7, 23), false);
    zud::set_write_limiter(nullptr);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("No space left on device"), std::string::npos) << r.message;
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=20000000\npmin=3\n");
    // Once there is room again the same lines go in whole.
    ASSERT_TRUE(zud::append_status_text(zud::DataFolder(), zud::factor_line(121081, 5, 17), true).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=20000000\npmin=3\n121081 | 5*2^17+1\n");
}

TEST_F(StatusFile, a_cut_record_is_cut_and_any_other_last_line_is_ended_before_writing)
{
    // What a crash or an old version on a full disk left: half a factor line.
    write_file("ZudStatus.dat", "pmax=20000000\npmin=3\n7 | 5*2^2+1\n121081 | 5*2^1");
    auto r = read(true);
    EXPECT_EQ(r.pmin, 7);
    EXPECT_EQ(r.echo_lines, Lines{"7 | 5*2^2+1"});
    ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=20000000\npmin=3\n7 | 5*2^2+1\n");

    // Whole records and notes without their line end are kept and ended;
    // digits alone are a note (a year) unless they may begin the next record.
    for (const std::string kept : {"pmax=50\npmin=13", "pmin=1", "pmax=50\n7 | 5*2^2+1", "pmax=50\nmy note",
                                   "pmax=50\n2024", "pmax=50\n12 | twelve"}) {
        write_file("ZudStatus.dat", kept);
        ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
        EXPECT_EQ(read_file("ZudStatus.dat"), kept + "\n");
    }
    write_file("ZudStatus.dat", "Done");
    ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "Done");
    for (const std::string cut : {"pmin=", "pmi", "Do", "121081 | 5*2^17+", "121081 ", "121081 | 5*", "121081 | 5*2^17"}) {
        write_file("ZudStatus.dat", "pmax=5\n3 | 5*2^1+1\n" + cut);
        ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
        EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=5\n3 | 5*2^1+1\n") << cut;
    }
    // Between the last record (121081) and pmax: "12" and "2024" may be the
    // start of the next prime, "pmin=12" of the next resume point.
    const std::string range = "pmax=300000\npmin=3\n121081 | 5*2^17+1\n";
    for (const std::string cut : {"12", "2024", "pmin=12"}) {
        write_file("ZudStatus.dat", range + cut);
        ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
        EXPECT_EQ(read_file("ZudStatus.dat"), range) << cut;
    }
    for (const std::string kept : {"9", "3000001", "pmin=121081", "pmin=9"}) {
        write_file("ZudStatus.dat", range + kept);
        ASSERT_TRUE(zud::repair_status_file(zud::DataFolder()).ok);
        EXPECT_EQ(read_file("ZudStatus.dat"), range + kept + "\n") << kept;
    }
}

TEST_F(StatusFile, appends_never_create_the_file_nor_glue_to_a_line_without_its_end)
{
    EXPECT_FALSE(zud::append_status_text(zud::DataFolder(), zud::factor_line(7, 5, 2), false).ok);
    EXPECT_FALSE(exists("ZudStatus.dat"));
    write_file("ZudStatus.dat", "pmax=20000000\npmin=3\nmy note, no newline");
    ASSERT_TRUE(zud::append_status_text(zud::DataFolder(), zud::factor_line(18574873, 7, 354), false).ok);
    ASSERT_TRUE(zud::append_status_text(zud::DataFolder(), zud::factor_line(18574877, 5, 35), true).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"),
              "pmax=20000000\npmin=3\nmy note, no newline\n18574873 | 7*2^354+1\n18574877 | 5*2^35+1\n");
    // Written again when it vanished: the header first, then the text.
    ASSERT_TRUE(zud::restore_status_file(zud::DataFolder(), 20000000, 18574873, zud::factor_line(18574873, 7, 354)).ok);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=20000000\npmin=18574873\n18574873 | 7*2^354+1\n");
}

// Every sync, with the size of the file at that moment.
std::vector<std::string> g_syncs;

void note_sync(zud::SyncKind kind, const char* path)
{
    struct stat info {};
    const bool file = kind != zud::SyncKind::folder && ::stat(path, &info) == 0;
    const char* what = kind == zud::SyncKind::data ? "data " : kind == zud::SyncKind::file ? "file " : "folder ";
    g_syncs.push_back(what + std::string(kind == zud::SyncKind::file ? "new" : path) +
                      (file ? " " + std::to_string(info.st_size) : ""));
}

// A resume point and "Done" are on the disk before the program goes on,
// and what was written before them reaches it first; a replaced file is
// on the disk before its rename, and the rename is synced too.
TEST_F(StatusFile, records_that_must_survive_a_power_cut_are_synced_before_and_after)
{
    zud::set_sync_observer(note_sync);
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 20000000, 3).ok);
    const std::size_t header = read_file("ZudStatus.dat").size();
    EXPECT_EQ(g_syncs, (std::vector<std::string>{"file new " + std::to_string(header), "folder ."}));
    g_syncs.clear();
    ASSERT_TRUE(zud::append_status_text(zud::DataFolder(), zud::factor_line(18574873, 7, 354), false).ok);
    EXPECT_TRUE(g_syncs.empty());
    const std::string factors = std::to_string(read_file("ZudStatus.dat").size());
    ASSERT_TRUE(zud::append_resume_point(zud::DataFolder(), 18574900).ok);
    const std::string resumed = std::to_string(read_file("ZudStatus.dat").size());
    ASSERT_TRUE(zud::append_done(zud::DataFolder()).ok);
    const std::string done = std::to_string(read_file("ZudStatus.dat").size());
    zud::set_sync_observer(nullptr);
    EXPECT_EQ(g_syncs, (std::vector<std::string>{"data ZudStatus.dat " + factors, "data ZudStatus.dat " + resumed,
                                                 "data ZudStatus.dat " + resumed, "data ZudStatus.dat " + done}));
    g_syncs.clear();
}

TEST_F(StatusFile, a_replaced_file_keeps_its_mode_and_a_new_one_takes_the_umask)
{
    const mode_t old_mask = umask(027);
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 50, 3).ok);
    struct stat info {};
    ASSERT_EQ(stat("ZudStatus.dat", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    ASSERT_EQ(chmod("ZudStatus.dat", 0664), 0);
    ASSERT_TRUE(zud::write_stop_record(zud::DataFolder(), 7, 50).ok);
    ASSERT_EQ(stat("ZudStatus.dat", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0664u);
    umask(old_mask);
}

// What a run never writes is damage, in a finished range as in one still
// going: a record after "Done" (the range would end early, or its rest be
// lost), a second factor of one number (its prime would move the resume
// point past primes never sieved), and a factor line that does not read as
// one (its factor would be lost as a note).
TEST_F(StatusFile, a_record_after_done_a_second_factor_and_a_broken_factor_line_are_damage)
{
    const std::string range = "pmax=50\npmin=3\n7 | 5*2^2+1\n";
    const std::string after_done = "\") comes after \"Done\" (line ";
    const std::string broken = "\") is not a factor line \"p | k*2^n+1\".";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {range + "Done\n13 | 7*2^3+1\n", "line 5 (\"13 | 7*2^3+1" + after_done + "4), which ends the range."},
        {range + "Done\n7 | 5*2^2+1\n", "line 5 (\"7 | 5*2^2+1" + after_done + "4)"},
        {range + "Done\npmin=40\n", "line 5 (\"pmin=40" + after_done + "4)"},
        {range + "Done\nDone\n", "line 5 (\"Done" + after_done + "4)"},
        {"Done\n" + range, "line 2 (\"pmax=50" + after_done + "1)"},
        {range + "13 | 5*2^2+1\n", "line 4 (\"13 | 5*2^2+1\") records 5*2^2+1 a second time (line 3 gives its "
                                    "factor 7): a range records one factor of each number."},
        {range + "13 | 5*2^2+1\nDone\n", "records 5*2^2+1 a second time"},
        {range + "13 | 7*2^3\nDone\n", "line 4 (\"13 | 7*2^3" + broken},
        {range + "13 | 7*2^3+1=0\n", "line 4 (\"13 | 7*2^3+1=0" + broken},
        {range + "13 | 7*2^3+117 | 5*2^4+1\nDone\n", "line 4 (\"13 | 7*2^3+117 | 5*2^4+1" + broken},
        {range + " 13 | seven\n", broken},
        {range + "1e | 7*2^3+1\n", broken},
        {range + "x3 | 7*2^3+1\nDone\n", broken},
        {range + "13 7*2^3+1\n", broken},
        {range + "-13 | 7*2^3+1\n", broken},
        {"pmin=5\n13 | 7*2^3\n", "line 2 (\"13 | 7*2^3" + broken},
    };
    for (const auto& [text, message] : cases) {
        write_file("ZudStatus.dat", text);
        const auto r = read(true);
        EXPECT_TRUE(r.unusable) << text;
        EXPECT_FALSE(r.completed) << text;
        EXPECT_NE(r.damage.find(message), std::string::npos) << r.damage;
        EXPECT_NE(r.damage.find("The file has been left unchanged."), std::string::npos) << r.damage;
        EXPECT_TRUE(r.notes.empty());
        EXPECT_TRUE(r.factors.empty());
        EXPECT_TRUE(r.echo_lines.empty());
        EXPECT_EQ(read_file("ZudStatus.dat"), text);
    }
    // Notes that only share a number, a bar or a power with a factor line
    // stay notes, and what follows "Done" may be a note too.
    write_file("ZudStatus.dat", range + "13 is unlucky\n2^10 | 1024\nsent | 2024\npmin=12x\nDone\nsent, 2024\n");
    const auto r = read();
    EXPECT_FALSE(r.unusable) << r.damage;
    EXPECT_TRUE(r.completed);
}

TEST_F(StatusFile, a_meaningless_range_is_damage_and_left_alone)
{
    std::string damage;
    for (const std::string text : {"pmax=-5\npmin=3\n", "pmin=3\npmax=0\n", "pmax=abc\n"}) {
        write_file("ZudStatus.dat", text);
        const auto r = read();
        EXPECT_TRUE(r.unusable) << text;
        EXPECT_TRUE(r.notes.empty());
        damage = r.damage;
        EXPECT_NE(damage.find("damaged - line "), std::string::npos) << damage;
        EXPECT_NE(damage.find("left unchanged"), std::string::npos);
        EXPECT_EQ(read_file("ZudStatus.dat"), text);
    }
    EXPECT_NE(damage.find("line 1 (\"pmax=abc\")"), std::string::npos) << damage;
    // Factor lines that a new range's header would overwrite.
    write_file("ZudStatus.dat", "pmin=3\n7 | 5*2^2+1\n");
    EXPECT_TRUE(read().unusable);
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmin=3\n7 | 5*2^2+1\n");
}

TEST_F(StatusFile, what_is_not_a_regular_file_is_refused_without_blocking)
{
    ASSERT_EQ(mkfifo("ZudStatus.dat", 0644), 0);
    auto r = read();
    EXPECT_TRUE(r.unusable);
    EXPECT_EQ(r.damage, "The file 'ZudStatus.dat' cannot be read - it is not a regular file!");
    EXPECT_EQ(zud::append_resume_point(zud::DataFolder(), 5).message,
              "The file 'ZudStatus.dat' could not be written (it is not a regular file)!");
    ASSERT_EQ(unlink("ZudStatus.dat"), 0);

    ASSERT_EQ(symlink("/dev/full", "ZudStatus.dat"), 0);
    EXPECT_TRUE(read().unusable);
    EXPECT_FALSE(zud::append_status_text(zud::DataFolder(), zud::factor_line(7, 5, 2), false).ok);
    ASSERT_EQ(unlink("ZudStatus.dat"), 0);

    ASSERT_EQ(mkdir("ZudStatus.dat", 0755), 0);
    r = read();
    EXPECT_TRUE(r.unusable);
    EXPECT_EQ(r.damage, "The file 'ZudStatus.dat' cannot be read - it is a folder!");
    EXPECT_FALSE(zud::write_range_header(zud::DataFolder(), 50, 3).ok);
}

}  // namespace
