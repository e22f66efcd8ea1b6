// --export, --import and --apply as a user runs them: what reaches Zud.dat,
// what is refused, and what is said.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

#include "cli/console_fixture.h"
#include "data/folder_lock.h"
#include "reference.h"
#include "cli/command_line.h"
#include "cli/file_commands.h"

namespace {

using zud::FileCommand;

class FileCommands : public zud_test::Console {
protected:
    // Runs the command here (or in `folder`), keeping what it said.
    int command(FileCommand::Kind kind, const std::string& file, const std::string& folder = {})
    {
        FileCommand files;
        files.kind = kind;
        files.file = file;
        files.format = format;
        files.nmin = nmin;
        files.nmax = nmax;
        char* out_text = nullptr;
        char* err_text = nullptr;
        std::size_t out_size = 0, err_size = 0;
        std::FILE* out_stream = open_memstream(&out_text, &out_size);
        std::FILE* err_stream = open_memstream(&err_text, &err_size);
        const int status = zud::run_file_command(files, folder, out_stream, err_stream);
        std::fclose(out_stream);
        std::fclose(err_stream);
        out.assign(out_text, out_size);
        err.assign(err_text, err_size);
        std::free(out_text);
        std::free(err_text);
        return status;
    }

    zud::CandidateFormat format = zud::CandidateFormat::newpgen;
    std::int32_t nmin = 1;
    std::int32_t nmax = 40;
    std::string out, err;
};

// The (k, n) of a candidate file in the program's own form.
std::vector<std::pair<std::uint64_t, std::uint64_t>> candidates_of(const std::string& text)
{
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    std::istringstream lines(text);
    std::string line;
    std::uint64_t k = 0, n = 0;
    for (int i = 0; std::getline(lines, line); ++i) {
        if (i < 3)
            continue;
        if (line.rfind("k=", 0) == 0)
            k = std::stoull(line.substr(2));
        else
            found.emplace_back(k, n = line[0] == '+' ? n + std::stoull(line.substr(1)) : std::stoull(line));
    }
    return found;
}

TEST_F(FileCommands, export_after_a_sieve_leaves_what_an_exact_reference_leaves)
{
    const std::string original = test_data("small_Zud.dat");
    write_file("Zud.dat", original);
    write_file("ZudStatus.dat", "pmax=100000\npmin=3001\n");
    ASSERT_EQ(run(), 0) << read_file("out.txt");
    std::string expected = "100000:P:1:2:257\n";
    const auto primes = zud_test::primes_below(100001);
    for (const auto& [k, n] : candidates_of(original)) {
        bool factor = false;
        for (std::size_t i = 0; i < primes.size() && !factor; ++i)
            factor = primes[i] >= 3001 && zud_test::divides(primes[i], k, n);
        if (!factor)
            expected += std::to_string(k) + " " + std::to_string(n) + "\n";
    }
    // The range is done: the depth is its end, and Zud.dat itself is untouched.
    EXPECT_EQ(command(FileCommand::Kind::export_candidates, "out.npg"), 0) << err;
    EXPECT_EQ(read_file("out.npg"), expected);
    EXPECT_EQ(read_file("Zud.dat"), original);
    EXPECT_FALSE(exists("Zud.dat~"));
    // A range under way: its resume point; to the standard output.
    write_file("ZudStatus.dat", "pmax=90000\npmin=5\n10037 | 5*2^157+1\n");
    EXPECT_EQ(command(FileCommand::Kind::export_candidates, ""), 0) << err;
    // (the factor line's prime itself: the rest of its factors may be unwritten)
    EXPECT_EQ(out.substr(0, 28), "10037:P:1:2:257\n5 109\n5 127\n");
    // The program itself: FILE from where it starts, the data from DIR.
    ASSERT_EQ(mkdir("out", 0755), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir("out") != 0)
            _exit(126);
        execl(ZUD_SIEVE_BINARY, ZUD_SIEVE_BINARY, "--export", "ABC", "survivors.abc", dir_.c_str(), nullptr);
        _exit(127);
    }
    EXPECT_EQ(wait_exit(pid), 0);
    EXPECT_EQ(read_file("out/survivors.abc").substr(0, 45), "ABC $a*2^$b+1 // Sieved to 10037\n5 109\n5 127\n");
    // Never over a data file.
    EXPECT_EQ(command(FileCommand::Kind::export_candidates, "ZudStatus.dat"), 1);
    EXPECT_NE(err.find("'ZudStatus.dat' is the data file ZudStatus.dat"), std::string::npos) << err;
    EXPECT_EQ(read_file("ZudStatus.dat"), "pmax=90000\npmin=5\n10037 | 5*2^157+1\n");
}

TEST_F(FileCommands, import_keeps_every_old_k_and_a_refusal_changes_nothing)
{
    const std::string old = "3\n1\n40\nk=5\n1\nk=7\n3\nk=9\n";
    write_file("Zud.dat", old);
    ASSERT_EQ(mkdir("data", 0755), 0);
    write_file("in.abcd", "ABCD 11*2^$a+1 [2] // Sieved to 1000\n3\nABCD 5*2^$a+1 [4]\n");
    // FILE is taken from where the program started, the data from DIR.
    write_file("data/Zud.dat", old);
    EXPECT_EQ(command(FileCommand::Kind::import_candidates, "in.abcd", "data"), 0) << err;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(read_file("data/Zud.dat"), "4\n1\n40\nk=5\n4\nk=7\nk=9\nk=11\n2\n+3\n");
    EXPECT_EQ(read_file("data/Zud.dat~"), old);
    EXPECT_EQ(out, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'\n"
                   "Zud.dat holds 3 candidates of 2 k from 'in.abcd', n from 1 to 40.\n");
    EXPECT_EQ(err, "zudsieve: k=7, 9 of the old Zud.dat have no candidates in 'in.abcd' and are kept without n.\n");

    const std::string refused[] = {"ABCD 5*2^$a+1 [4]\r\n", "ABCD 5*2^$a+1 [41]\n", "", "1000:P:1:2:257\n5 0\n"};
    for (const std::string& text : refused) {
        write_file("in.abcd", text);
        EXPECT_EQ(command(FileCommand::Kind::import_candidates, "in.abcd"), 1) << text;
        EXPECT_NE(err.find("Zud.dat has not been changed."), std::string::npos) << err;
        EXPECT_EQ(read_file("Zud.dat"), old);
        EXPECT_FALSE(exists("Zud.dat~"));
    }
    // A damaged old file would lose its k: no import until it is mended.
    write_file("Zud.dat", "x\n");
    write_file("in.abcd", "ABCD 5*2^$a+1 [4]\n");
    EXPECT_EQ(command(FileCommand::Kind::import_candidates, "in.abcd"), 1);
    EXPECT_NE(err.find("bad first line! Its k are kept by an import"), std::string::npos) << err;
    // Another ZudSieve in the folder: nothing is touched.
    write_file("Zud.dat", old);
    zud::FolderLock other;
    std::string message;
    ASSERT_TRUE(other.acquire(zud::DataFolder(), message));
    EXPECT_EQ(command(FileCommand::Kind::import_candidates, "in.abcd"), 1);
    EXPECT_NE(err.find("already running"), std::string::npos) << err;
    EXPECT_EQ(command(FileCommand::Kind::apply_factors, "in.abcd"), 1);
    EXPECT_EQ(read_file("Zud.dat"), old);
}

TEST_F(FileCommands, apply_checks_each_line_and_counts_what_it_applied)
{
    std::string zud = "1\n1\n40\nk=5\n1\n";
    for (int n = 2; n <= 40; ++n)
        zud += "+1\n";
    write_file("Zud.dat", zud);
    write_file("f.txt", "11 | 5*2^1+1\n"      // the number itself: a prime
                        "3 | 5*2^2+1\n"       // 21
                        "7 | 5*2^2+1\n"       // its other factor: applied, one n removed
                        "9 | 5*2^16+1\n"      // divides, but 9 < 16 is not prime
                        "13 | 5*2^3+1\n"      // 41
                        "3 | 7*2^1+1\n"       // no such k
                        "3 | 5*2^50+1\n"      // beyond nmax
                        "pmax=4\n"
                        "281474976710677 | 5*2^40+1\n");
    EXPECT_EQ(command(FileCommand::Kind::apply_factors, "f.txt"), 1);
    EXPECT_EQ(out, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'\n"
                   "Applied 2 of 8 factor lines: 1 candidates removed.\n");
    EXPECT_EQ(err, "zudsieve: 'f.txt' line 1 refused (p is the number itself, not a proper factor): \"11 | 5*2^1+1\"\n"
                   "zudsieve: 'f.txt' line 4 refused (p is not prime): \"9 | 5*2^16+1\"\n"
                   "zudsieve: 'f.txt' line 5 refused (p does not divide k*2^n+1): \"13 | 5*2^3+1\"\n"
                   "zudsieve: 'f.txt' line 6 refused (names no candidate of Zud.dat): \"3 | 7*2^1+1\"\n"
                   "zudsieve: 'f.txt' line 7 refused (names no candidate of Zud.dat): \"3 | 5*2^50+1\"\n"
                   "zudsieve: 'f.txt' line 9 refused (p does not divide k*2^n+1): \"281474976710677 | "
                   "5*2^40+1\"\n");
    EXPECT_EQ(read_file("Zud.dat~"), zud);
    const auto left = candidates_of(read_file("Zud.dat"));
    EXPECT_EQ(left.size(), 39u);
    EXPECT_EQ(left[1], std::make_pair(std::uint64_t{5}, std::uint64_t{3}));
    // All lines good: status 0. A file that is not text changes nothing.
    write_file("f.txt", "3 | 5*2^4+1\n");
    EXPECT_EQ(command(FileCommand::Kind::apply_factors, "f.txt"), 0) << err;
    EXPECT_EQ(out.substr(out.find("Applied")), "Applied 1 of 1 factor lines: 1 candidates removed.\n");
    const std::string now = read_file("Zud.dat");
    write_file("f.txt", std::string("3 | 5*2^6+1\n\0", 13));
    EXPECT_EQ(command(FileCommand::Kind::apply_factors, "f.txt"), 1);
    EXPECT_EQ(err, "zudsieve: 'f.txt' line 2 holds a NUL byte: it is not a text file. Zud.dat has not been changed.\n");
    EXPECT_EQ(read_file("Zud.dat"), now);
}

TEST(FileCommandLine, the_commands_their_files_and_refusals)
{
    using zud::CommandLine;
    CommandLine line = zud::parse_command_line({"data", "--export", "abc", "out.abc"}, 4);
    EXPECT_EQ(line.action, CommandLine::Action::file_command);
    EXPECT_EQ(line.files.kind, FileCommand::Kind::export_candidates);
    EXPECT_EQ(line.files.format, zud::CandidateFormat::abc);
    EXPECT_EQ(line.files.file, "out.abc");
    EXPECT_EQ(line.folder, "data");
    line = zud::parse_command_line({"--export", "newpgen", "-", "data"}, 4);
    EXPECT_EQ(line.files.file, "");
    EXPECT_EQ(line.folder, "data");
    line = zud::parse_command_line({"--nmax", "2000", "--import", "in.abcd", "--nmin", "100"}, 4);
    EXPECT_EQ(line.files.kind, FileCommand::Kind::import_candidates);
    EXPECT_EQ(std::make_pair(line.files.nmin, line.files.nmax), std::make_pair(100, 2000));
    EXPECT_EQ(zud::parse_command_line({"--apply", "f.txt"}, 4).files.kind, FileCommand::Kind::apply_factors);

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--export"}, "--export needs a format: abcd, abc or newpgen"},
        {{"--export", "csv"}, "--export needs a format: abcd, abc or newpgen"},
        {{"--import", "--nmin", "1"}, "--import needs a FILE"},
        {{"--apply"}, "--apply needs a FILE"},
        {{"--apply", "a", "--export", "abcd"}, "only one of --export, --import and --apply may be given"},
        {{"--import", "a", "--nmin", "1"}, "--import needs --nmin A and --nmax B, the range of n of the new Zud.dat"},
        {{"--import", "a", "--nmin", "1", "--nmin", "2"}, "--nmin may be given only once"},
        {{"--import", "a", "--nmin", "0", "--nmax", "5"}, "--nmin needs a number from 1 to 2147483647"},
        {{"--import", "a", "--nmin", "1", "--nmax", "2147483648"}, "--nmax needs a number from 1 to 2147483647"},
        {{"--import", "a", "--nmin", "9", "--nmax", "5"}, "--nmin must not be above --nmax"},
        {{"--apply", "a", "--nmin", "9"}, "--nmin and --nmax go with --import"},
        {{"--nmax", "9"}, "--nmin and --nmax go with --import"},
        {{"--export", "abcd", "--console"},
         "--export, --import and --apply sieve nothing: --console, --workers, --range, --stop-seconds and --yes do not go "
         "with them"},
    };
    for (const auto& [args, error] : refused) {
        line = zud::parse_command_line(args, 4);
        EXPECT_EQ(line.action, CommandLine::Action::refused) << args[0];
        EXPECT_EQ(line.error, error);
    }
    EXPECT_NE(zud::usage_text().find("--import FILE --nmin A --nmax B"), std::string::npos);
    EXPECT_NE(zud::help_text().find("--apply FILE"), std::string::npos);
}

}  // namespace
