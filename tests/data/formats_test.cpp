// ABCD, ABC and NewPGen in and out, and factor files: round trips back to
// the same Zud.dat, and every kind of doubtful line refused by its number.
#include "data/formats.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "temp_dir.h"

namespace {

using zud::CandidateFormat;
using namespace std::string_literals;

class Formats : public zud_test::TempDirTest {
protected:
    std::string exported(const zud::CandidateSet& set, CandidateFormat format, std::int64_t depth = 3000)
    {
        std::FILE* file = std::fopen("out.txt", "w");
        EXPECT_TRUE(zud::write_candidates(file, set, format, depth, "out.txt").ok);
        std::fclose(file);
        return read_file("out.txt");
    }
    zud::FileResult import(const std::string& text, std::int32_t nmin = 100, std::int32_t nmax = 2000)
    {
        write_file("in.txt", text);
        return zud::read_candidates("in.txt", "in.txt", nmin, nmax, imported);
    }
    zud::ImportedCandidates imported;
};

TEST_F(Formats, every_format_round_trips_to_the_same_candidate_file)
{
    const std::string original = test_data("small_Zud.dat");
    write_file("Zud.dat", original);
    zud::CandidateSet set;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    for (CandidateFormat format : {CandidateFormat::abcd, CandidateFormat::abc, CandidateFormat::newpgen}) {
        write_file("Zud.dat", original);
        const zud::FileResult read = import(exported(set, format));
        ASSERT_TRUE(read.ok) << read.message;
        EXPECT_EQ(imported.lines, set.candidate_count());
        zud::CandidateSet merged;
        std::vector<std::int32_t> kept;
        ASSERT_TRUE(zud::merge_candidates(imported, set, merged, kept).ok);
        EXPECT_TRUE(kept.empty());
        ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), merged).ok);
        EXPECT_EQ(read_file("Zud.dat"), original);
    }
}

TEST_F(Formats, texts_written_and_k_kept_by_the_old_file)
{
    // k=3 without n, out of order.
    write_file("Zud.dat", "3\n100\n200\nk=9\n101\n+49\n+50\nk=3\nk=1\n120\n");
    zud::CandidateSet set;
    ASSERT_TRUE(zud::read_candidate_file(zud::DataFolder(), set).ok);
    EXPECT_EQ(exported(set, CandidateFormat::abcd, 7),
              "ABCD 1*2^$a+1 [120] // Sieved to 7\nABCD 9*2^$a+1 [101] // Sieved to 7\n49\n50\n");
    EXPECT_EQ(exported(set, CandidateFormat::abc, 7), "ABC $a*2^$b+1 // Sieved to 7\n1 120\n9 101\n9 150\n9 200\n");
    EXPECT_EQ(exported(set, CandidateFormat::newpgen, 7), "7:P:1:2:257\n1 120\n9 101\n9 150\n9 200\n");
    // Concatenated blocks of every form; the old file's k keep their order,
    // k=3 stays without n, new k follow ascending.
    ASSERT_TRUE(import("ABCD 9*2^$a+1 [110]\n\n5\nABC 7*2^$a+1\n130\n1000:P:1:2:257\n5 140\n1 120\n", 100, 200).ok);
    zud::CandidateSet merged;
    std::vector<std::int32_t> kept;
    ASSERT_TRUE(zud::merge_candidates(imported, set, merged, kept).ok);
    EXPECT_EQ(kept, (std::vector<std::int32_t>{3}));
    ASSERT_TRUE(zud::write_candidate_file(zud::DataFolder(), merged).ok);
    EXPECT_EQ(read_file("Zud.dat"), "5\n100\n200\nk=9\n110\n+5\nk=3\nk=1\n120\nk=5\n140\nk=7\n130\n");
}

TEST_F(Formats, doubtful_lines_are_refused_by_number)
{
    const std::pair<std::string, std::string> refused[] = {
        {"18\n20\n", "line 1 (\"18\"): a line before any header"},
        {"ABCD 5*2^$a+1 [109]\n18\n0\n", "line 3 (\"0\"): a difference must be positive"},
        {"ABCD 5*2^$a+1 [109]\n-4\n", "line 2 (\"-4\"): a difference must be positive"},
        {"ABCD 5*2^$a+1 [109]\n1x\n", "line 2 (\"1x\"): not a number"},
        {"ABCD 5*2^$a+1 [109]\r\n18\r\n", "line 1 ends with a carriage return (CR LF line ends)"},
        {"ABCD 5*2^$a+1 [109]\n1\0\n"s, "line 2 holds a NUL byte"},
        {"ABCD 5*2^$a+1 [109]\n" + std::string(1200, '1') + "\n", "line 2 is longer than 1000 characters"},
        {"ABCD 5*2^$a+1 [99]\n", "n=99 is outside the range of n, 100 to 2000"},
        {"ABCD 5*2^$a+1 [1999]\n2\n", "line 2 (\"2\"): n=2001 is outside"},
        {"ABCD 5*2^$a+1\n", "an ABCD header is"},
        {"ABCD 5*3^$a+1 [109]\n", "base 3: only base 2"},
        {"ABCD 5*2^$a-1 [109]\n", "the -1 form"},
        {"ABC (5*2^$a+1)/3\n", "a divisor"},
        {"ABC $a*2^7+1\n", "$a is not the exponent"},
        {"ABC 0*2^$a+1\n", "k must be a number from 1"},
        {"ABC 5*2^$a+1\n7 109\n", "line 2 (\"7 109\"): one number was expected"},
        {"1000:M:1:2:257\n", "the -1 form (M)"},
        {"1000:P:1:10:257\n", "base 10"},
        {"1000:P:1:2:257\n5\n", "two numbers, k and n, were expected"},
        {"1000:P:1:2:257\n5 99999999999999999999\n", "the number is too large"},
        {"99999999999999999999999:P:1:2:257\n5 109\n", "line 1 (\"99999999999999999999999:P:1:2:257\"): the depth is "
                                                      "too large"},
    };
    for (const auto& [text, message] : refused) {
        const zud::FileResult read = import(text);
        EXPECT_FALSE(read.ok) << text;
        EXPECT_EQ(read.message.rfind("'in.txt' ", 0), 0u) << read.message;
        EXPECT_NE(read.message.find(message), std::string::npos) << read.message;
    }
}

TEST_F(Formats, a_sparse_two_gigabyte_file_is_refused_at_its_first_line)
{
    const int fd = ::open("big.abcd", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{2} << 30), 0);
    ::close(fd);
    const zud::FileResult read = zud::read_candidates("big.abcd", "big.abcd", 100, 2000, imported);
    EXPECT_EQ(read.message, "'big.abcd' line 1 holds a NUL byte: it is not a text file");
    EXPECT_TRUE(imported.bitmaps.empty());
    // Whatever it holds, a folder or a missing file is no input.
    EXPECT_NE(zud::read_candidates(dir_, "here", 100, 2000, imported).message.find("it is a folder"),
              std::string::npos);
    EXPECT_NE(zud::read_candidates("none", "none", 100, 2000, imported).message.find("No such file"),
              std::string::npos);
}

TEST_F(Formats, factor_lines_and_their_refusals)
{
    write_file("f.txt", "pmax=9\npmin=3\n7 | 5*2^5+1\n\n 11|3*2^2+1 \n3 | 5*2^5-1\n3 | 5*3^5+1\n"
                        "x | 5*2^5+1\n1 | 5*2^5+1\n7 | 5*2^0+1\n7 | 5*2^5+1 junk\nDone\n");
    std::vector<zud::FactorLine> lines;
    ASSERT_TRUE(zud::read_factor_file("f.txt", "f.txt", [&](const zud::FactorLine& l) { lines.push_back(l); }).ok);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0].line_number, 3);
    EXPECT_EQ(lines[0].refusal, "");
    EXPECT_EQ((std::vector<std::int64_t>{lines[0].p, lines[0].k, lines[0].n}), (std::vector<std::int64_t>{7, 5, 5}));
    EXPECT_EQ(lines[1].refusal, "");
    EXPECT_EQ(lines[1].p, 11);
    const char* const reasons[] = {"the -1 form", "base 3", "not a factor line", "p must be a number from 2",
                                   "n must be a number from 1", "not a factor line"};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(lines[i + 2].refusal.find(reasons[i]), 0u) << lines[i + 2].refusal;
    write_file("f.txt", "7 | 5*2^5+1\r\n");
    EXPECT_NE(zud::read_factor_file("f.txt", "f.txt", [](const zud::FactorLine&) {}).message.find("carriage"),
              std::string::npos);
}

}  // namespace
