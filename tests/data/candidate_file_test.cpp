#include "data/candidate_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

#include "temp_dir.h"

namespace {

using zud::CandidateSet;

class CandidateFile : public zud_test::TempDirTest {
protected:
    void TearDown() override
    {
        zud::set_file_opener(nullptr);
        TempDirTest::TearDown();
    }
    zud::FileResult read(const std::string& text)
    {
        write_file("Zud.dat", text);
        return zud::read_candidate_file(zud::DataFolder(), set);
    }
    std::vector<std::int32_t> ns_of(std::int32_t k_index) const
    {
        std::vector<std::int32_t> ns;
        for (std::int32_t n = set.nmin; n <= set.nmax; ++n)
            if (set.is_candidate(k_index, n))
                ns.push_back(n);
        return ns;
    }
    CandidateSet set;
};

TEST_F(CandidateFile, reads_headers_deltas_spacing_and_residue)
{
    ASSERT_TRUE(read("2\n500\n700\nk=5\n531\n+24\n+48\nk=7\n").ok);
    EXPECT_EQ(set.kcount, 2);
    EXPECT_EQ(set.k_values, (std::vector<std::int32_t>{5, 7}));
    EXPECT_EQ(ns_of(0), (std::vector<std::int32_t>{531, 555, 603}));
    EXPECT_EQ(set.spacings[0], 24);
    EXPECT_EQ(set.residues[0], (531 - 500) % 24);
    // A k without n: spacing 1, residue 0.
    EXPECT_TRUE(ns_of(1).empty());
    EXPECT_EQ(set.spacings[1], 1);
    EXPECT_EQ(set.residues[1], 0);
    EXPECT_EQ(set.words_per_k, (700 - 500 + 1) / 32 + 1);
}

TEST_F(CandidateFile, writer_round_trips_and_keeps_a_backup)
{
    ASSERT_TRUE(read("2\n500\n700\nk=5\n531\n+24\n+48\nk=7\n").ok);
    const CandidateSet before = set;
    const zud::FileResult written = zud::write_candidate_file(zud::DataFolder(), set);
    ASSERT_TRUE(written.ok);
    EXPECT_EQ(written.message, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'");
    EXPECT_EQ(read_file("Zud.dat"), "2\n500\n700\nk=5\n531\n+24\n+48\nk=7\n");
    EXPECT_EQ(read_file("Zud.dat~"), "2\n500\n700\nk=5\n531\n+24\n+48\nk=7\n");
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(set.k_values, before.k_values);
    EXPECT_EQ(set.bits, before.bits);
    EXPECT_EQ(set.spacings, before.spacings);
    EXPECT_FALSE(exists("Zud.dat.new"));

    // A second backup replaces the first; without a file there is no backup.
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), set).ok);
    std::remove("Zud.dat");
    std::remove("Zud.dat~");
    EXPECT_EQ(zud::write_candidate_file(zud::DataFolder(), set).message, "The 'Zud.dat' file has been created.");
    EXPECT_FALSE(exists("Zud.dat~"));
}

TEST_F(CandidateFile, round_trip_of_the_shipped_small_file)
{
    const std::string original = test_data("small_Zud.dat");
    ASSERT_TRUE(read(original).ok);
    EXPECT_EQ(set.candidate_count(), 679u);
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(read_file("Zud.dat"), original);
}

TEST_F(CandidateFile, initial_creation_writes_every_n_of_the_range)
{
    ASSERT_TRUE(read("1\n10\n13\nk=3\n11\n").ok);
    set.fill_all();
    set.bitmap(0)[0] &= ~(1u << (12 - 10));
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(read_file("Zud.dat"), "1\n10\n13\nk=3\n10\n+1\n+2\n");
}

TEST_F(CandidateFile, every_validation_message)
{
    const std::pair<const char*, const char*> cases[] = {
        {"-2\n1\n5\nk=3\n", "The file 'Zud.dat' is invalid - bad first line!"},
        {"", "The file 'Zud.dat' is invalid - bad first line!"},
        {"k=3\n", "The file 'Zud.dat' is invalid - bad first line!"},
        {"1\n0\n5\nk=3\n", "The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!"},
        {"1\n6\n5\nk=3\n", "The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!"},
        {"1\n6\n", "The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!"},
        {"1\n1\n5\n3\n", "The file 'Zud.dat' is invalid - bad k value at line 4!"},
        {"1\n1\n5\n", "The file 'Zud.dat' is invalid - bad k value at line 4!"},
        {"3\n1\n5\nk=3\n2\nk=5\n", "The file 'Zud.dat' is invalid - insufficient k's!"},
        {"1\n10\n20\nk=3\n21\n", "The file'Zud.dat' is invalid - for k=3, there is n=21, which is out of range!"},
        {"1\n10\n20\nk=3\n12\n+9\n", "The file'Zud.dat' is invalid - for k=3, there is n=21, which is out of range!"},
        {"1\n10\n20\nk=3\n9\n", "The file'Zud.dat' is invalid - for k=3, there is n=9, which is out of range!"},
    };
    for (auto [text, message] : cases) {
        const zud::FileResult r = read(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_EQ(r.message, message) << text;
    }
    std::remove("Zud.dat");
    EXPECT_EQ(zud::read_candidate_file(zud::DataFolder(), set).message, "The file 'Zud.dat' cannot be found in the current directory!");
}

TEST_F(CandidateFile, line_value_rules)
{
    // Blank lines are passed over and change nothing, before line 4 too.
    ASSERT_TRUE(read("\n1\n\n10\n40\n\nk=5\n15\n\n+5\n\n").ok);
    EXPECT_EQ(set.kcount, 1);
    EXPECT_EQ(ns_of(0), (std::vector<std::int32_t>{15, 20}));
    // Anything but digits after "k=", "+" or at the start, a 0, a surplus
    // header and a second block of one k would each give another set:
    // refused, naming the line.
    const std::pair<const char*, const char*> cases[] = {
        {"1\n10\n40\nk=5\n20\n0\n", "line 6 (\"0\") holds 0"},
        {"1\n10\n40\nk=5\n20\n+0\n", "line 6 (\"+0\") holds 0"},
        {"1\n10\n40\nk=5\n20\n+l0\n", "line 6 (\"+l0\") is not a number, a \"+\" difference or a \"k=\" line"},
        {"1\n10\n40\nk=5\n20\n+ 3\n", "line 6 (\"+ 3\") is not a number"},
        {"2\n1\n40\n-5\nk=7\n", "line 4 (\"-5\") is not a number"},
        {"2\n1\n40\nk=5\nk=-5\n", "line 5 (\"k=-5\") is not a number"},
        {"1\n1\n40\nk=5\n7\nk=7\n", "line 6 holds more than the 1 k's that line 1 gives"},
        {"2\n1\n40\nk=5\n7\nk=5\n9\n", "line 6 gives k=5 a second time (line 4)"},
        {"1\n1\n40\nk=5\n+7\n", "line 5 is a difference with no n before it, for k=5"},
        {"1\n1\n40\nk=5\n9\n7\n", "line 6 gives n=7, not above the n before it, for k=5"},
        {"1\n1\n40\nk=5\n9\n9\n", "line 6 gives n=9, not above the n before it, for k=5"},
        {"1\n1\n40\nk=5\n9 \n", "line 5 (\"9 \") has characters after its number"},
        {"1\n1\n40\nk=5\n\x1b[2J9\n", "line 5 (\"\\x1b[2J9\") is not a number"},
    };
    for (const auto& [text, message] : cases) {
        const zud::FileResult r = read(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_NE(r.message.find(std::string("The file 'Zud.dat' is invalid - ") + message), std::string::npos)
            << r.message;
    }
}

TEST_F(CandidateFile, oversized_values_fail_their_own_check_instead_of_wrapping)
{
    // 4294967297 would wrap to 1 in 32 bits; 2147483647 + 2 to a negative n.
    EXPECT_EQ(read("4294967297\n1\n5\nk=3\n").message, "The file 'Zud.dat' is invalid - bad first line!");
    EXPECT_EQ(read("1\n4294967297\n4294967300\nk=3\n").message,
              "The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!");
    EXPECT_EQ(read("1\n1\n5\nk=4294967299\n").message, "The file 'Zud.dat' is invalid - bad k value at line 4!");
    EXPECT_EQ(read("1\n10\n2147483647\nk=3\n2147483646\n+2\n").message,
              "The file'Zud.dat' is invalid - for k=3, there is n=2147483648, which is out of range!");
    EXPECT_EQ(read("1\n10\n20\nk=3\n99999999999999999999999\n").message,
              "The file 'Zud.dat' is invalid - line 5 (\"99999999999999999999999\") holds a number above 2^31 - 1!");
    EXPECT_FALSE(read("2\n1\n5\nk=3\n2\nk=99999999999\n").ok);
}

TEST_F(CandidateFile, spacing_counts_every_n_however_written)
{
    // Absolute lines: 100, 112, 124 share the class mod 12.
    ASSERT_TRUE(read("1\n100\n200\nk=5\n100\n112\n124\n").ok);
    EXPECT_EQ(set.spacings[0], 12);
    EXPECT_EQ(set.residues[0], 0);
    // Deltas: 136, 160, 208 share the class mod 24; a negative one is refused.
    ASSERT_TRUE(read("1\n100\n300\nk=5\n136\n+24\n+48\n").ok);
    EXPECT_EQ(set.spacings[0], 24);
    EXPECT_EQ(set.residues[0], (208 - 100) % 24);
    EXPECT_FALSE(read("1\n100\n200\nk=5\n160\n+-24\n+48\n").ok);
    // A single n keeps the full 907200.
    ASSERT_TRUE(read("1\n100\n200\nk=5\n150\n").ok);
    EXPECT_EQ(set.spacings[0], 907200);
    EXPECT_EQ(set.residues[0], 50);
}

TEST_F(CandidateFile, damage_that_would_shift_later_values_is_refused_naming_its_line)
{
    const std::pair<std::string, std::string> cases[] = {
        {std::string("1\n10\n20\nk=5\n1\0" "2\n+2\n", 20), "line 5 holds a NUL byte"},
        {"1\n10\n20\nk=5\n12\n+2x\n", "line 6 (\"+2x\") has characters after its number"},
        {"1\n10\n20\nk=5 7\n12\n", "line 4 (\"k=5 7\") has characters after its number"},
        // A bit flip that turns "+44" into "+04": the writer never writes a
        // leading zero, so it can only be damage.
        {"1\n10\n60\nk=5\n12\n+04\n", "line 6 (\"+04\") has a number with a leading zero"},
        {"1\n10\n60\nk=05\n12\n", "line 4 (\"k=05\") has a number with a leading zero"},
        {"1\n10\n60\nk=5\n012\n", "line 5 (\"012\") has a number with a leading zero"},
        {"2\n10\n20\nk=5\n12\nk=7\n11\n+1", "it ends inside line 8, without a line end"},
        // 37 s and 7.8 GB before: refused from the file's size alone.
        {"500000000\n1\n2000000000\nk=3\n", "line 1 gives 500000000 k's, more than a file of 27 bytes can hold"},
    };
    for (const auto& [text, message] : cases) {
        const zud::FileResult r = read(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_NE(r.message.find("The file 'Zud.dat' is invalid - " + message), std::string::npos) << r.message;
        EXPECT_TRUE(set.bits.empty());
    }
    // A carriage return before the line end is no damage; other blanks are.
    ASSERT_TRUE(read("1\n10\n20\nk=5\r\n12\r\n+2\r\n").ok);
    EXPECT_EQ(ns_of(0), (std::vector<std::int32_t>{12, 14}));
    // Beyond the memory available now: refused, not killed.
    std::string many = "20000\n1\n2000000000\n";
    for (int i = 0; i < 20000; ++i)
        many += "k=3\n";
    const zud::FileResult r = read(many);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("not enough memory"), std::string::npos) << r.message;
    EXPECT_TRUE(set.bits.empty());
}

std::FILE* open_new_file_on_full_disk(const char* path, const char* mode)
{
    if (std::strncmp(path, "Zud.dat.new", 11) == 0)
        return std::fopen("/dev/full", mode);
    return std::fopen(path, mode);
}

std::FILE* refuse_new_file(const char* path, const char* mode)
{
    if (std::strncmp(path, "Zud.dat.new", 11) == 0) {
        errno = EACCES;
        return nullptr;
    }
    return std::fopen(path, mode);
}

TEST_F(CandidateFile, a_failing_write_keeps_the_old_file_and_says_why)
{
    const std::string original = "1\n10\n20\nk=5\n11\n";
    for (zud::FileOpener opener : {open_new_file_on_full_disk, refuse_new_file}) {
        ASSERT_TRUE(read(original).ok);
        set.fill_all();
        zud::set_file_opener(opener);
        const zud::FileResult r = zud::write_candidate_file(zud::DataFolder(), set);
        zud::set_file_opener(nullptr);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("'Zud.dat'"), std::string::npos);
        EXPECT_NE(r.message.find(opener == refuse_new_file ? "Permission denied" : "No space left"), std::string::npos)
            << r.message;
        EXPECT_EQ(read_file("Zud.dat"), original);
        EXPECT_FALSE(exists("Zud.dat~"));
    }
}

TEST_F(CandidateFile, the_backup_comes_before_the_old_one_goes_and_modes_are_kept)
{
    const std::string first = "1\n10\n20\nk=5\n11\n";
    ASSERT_TRUE(read(first).ok);
    ASSERT_EQ(chmod("Zud.dat", 0640), 0);
    set.fill_all();
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(read_file("Zud.dat~"), first);
    struct stat info {};
    ASSERT_EQ(stat("Zud.dat", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    const std::string second = read_file("Zud.dat");
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(read_file("Zud.dat~"), second);   // a second backup replaces the first

    // Where no backup can be made (no inode left for the link or a copy),
    // Zud.dat is not replaced and the user is told.
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    ASSERT_EQ(mkdir("disk", 0755), 0);
    if (mount("tmpfs", "disk", "tmpfs", 0, "size=1m,nr_inodes=3") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_EQ(chdir("disk"), 0);
    write_file("Zud.dat", first);   // the folder, Zud.dat and the new file use the 3 inodes
    const zud::FileResult r = zud::write_candidate_file(zud::DataFolder(), set);
    const std::string kept = read_file("Zud.dat");
    const bool temporaries = system("ls | grep -q new") == 0;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    umount("disk");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "No backup 'Zud.dat~' of the previous 'Zud.dat' could be made (No space left on device), "
                         "so 'Zud.dat' has not been replaced.");
    EXPECT_EQ(kept, first);
    EXPECT_FALSE(temporaries);
}

}  // namespace
