// The program's command line, run as a script would run it.
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <sstream>

#include "cli/console_fixture.h"
#include "dense_candidates.h"
#include "engine/search/instruction_set.h"
#include "status_lines.h"
#include "cli/console.h"
#include "temp_dir.h"

namespace {

class CommandLineRun : public zud_test::TempDirTest {
protected:
    // Runs zudsieve with `args`, input from /dev/null, output to out.txt
    // (standard output to `stdout_path` when given, standard error to
    // err.txt when `split`).
    int run(std::vector<std::string> args, const char* stdout_path = nullptr, bool split = false)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int out = open((dir_ + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = split ? open((dir_ + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : out;
            dup2(in, 0);
            dup2(stdout_path != nullptr ? open(stdout_path, O_WRONLY) : out, 1);
            dup2(err, 2);
            setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
            if (isa_cap_.empty())
                unsetenv("ZUDSIEVE_ISA");
            else
                setenv("ZUDSIEVE_ISA", isa_cap_.c_str(), 1);
            zud_test::exec_sieve(args);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string out() const { return read_file(dir_ + "/out.txt"); }
    std::string err() const { return read_file(dir_ + "/err.txt"); }
    std::string isa_cap_;   // ZUDSIEVE_ISA for the next runs; empty: unset
};

// Every instruction set of this processor, from the best down (a cap of
// ZUDSIEVE_ISA lowers the first), one line each, exact on all the cases.
TEST_F(CommandLineRun, the_self_test_checks_each_instruction_set_exactly)
{
    EXPECT_EQ(run({"--self-test"}), 0) << out();
    std::string expected_start;
    for (int set = static_cast<int>(zud::processor_instruction_set()); set >= 0; --set)
        expected_start += std::string(zud::instruction_set_name(static_cast<zud::InstructionSet>(set))) + ": ";
    std::istringstream lines(out());
    std::string line, names;
    std::string first_count;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        names += line.substr(0, colon + 2);
        const std::string rest = line.substr(colon + 2);
        const std::size_t space = rest.find(' ');
        // "3,971 factors, all exact": the same count on every set.
        EXPECT_EQ(rest.substr(space), " factors, all exact") << line;
        const std::string count = rest.substr(0, space);
        EXPECT_TRUE(count.size() >= 5 && count[count.size() - 4] == ',') << line;
        EXPECT_EQ(first_count.empty() ? count : first_count, count) << line;
        first_count = count;
    }
    EXPECT_EQ(names, expected_start) << out();
    isa_cap_ = "generic";
    EXPECT_EQ(run({"--self-test"}), 0);
    EXPECT_EQ(out(), "generic: " + first_count + " factors, all exact\n");
    isa_cap_.clear();
}

TEST_F(CommandLineRun, help_version_and_refusals)
{
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out().find("--range FROM TO"), std::string::npos) << out();
    EXPECT_EQ(run({"-V"}), 0);
    EXPECT_NE(out().find("\nLicence: GPL-3.0-or-later"), std::string::npos) << out();
    // Text that cannot be written is a failure, said on the error output.
    EXPECT_EQ(run({"--help"}, "/dev/full"), 1);
    EXPECT_NE(out().find("zudsieve: the text could not be written (No space left on device)"), std::string::npos)
        << out();
    EXPECT_EQ(run({"-h"}, "/dev/full"), 1);
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out().rfind("ZudSieve 1.24\n", 0), 0u) << out();
    EXPECT_NE(out().find(std::string("\ninstruction set: ") + zud::instruction_set_name(zud::processor_instruction_set()) +
                         "\n"),
              std::string::npos)
        << out();
    isa_cap_ = "generic";
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_NE(out().find("\ninstruction set: generic\n"), std::string::npos) << out();
    isa_cap_ = "sse9";
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_NE(out().find("zudsieve: ZUDSIEVE_ISA=sse9 names no instruction set (ifma, avx2, generic): using "),
              std::string::npos)
        << out();
    EXPECT_NE(out().find(std::string("\ninstruction set: ") + zud::instruction_set_name(zud::processor_instruction_set()) +
                         "\n"),
              std::string::npos)
        << out();
    isa_cap_.clear();
    EXPECT_EQ(run({"--frobnicate"}), 2);
    EXPECT_EQ(out().rfind("zudsieve: unknown option '--frobnicate'\nUsage: zudsieve", 0), 0u) << out();
    EXPECT_EQ(run({"--console", "--range", "3e9", "5e18"}), 2);
    EXPECT_NE(out().find("the upper end is refused: at most 4,611,686,018 billion"), std::string::npos) << out();
    EXPECT_EQ(run({"--console", "no-such-folder"}), 2);
    EXPECT_NE(out().find("cannot work in the folder 'no-such-folder'"), std::string::npos) << out();
    EXPECT_FALSE(exists("ZudStatus.dat"));
}

TEST_F(CommandLineRun, range_and_folder_from_the_command_line_and_share_in_the_status_lines)
{
    ::mkdir("data", 0755);
    write_file("data/Zud.dat", test_data("small_Zud.dat"));
    EXPECT_EQ(run({"--console", "--workers", "1", "--range", "3001", "3e5", "data"}), 0) << out();
    const std::string status = read_file("data/ZudStatus.dat");
    EXPECT_EQ(status.substr(0, 22), "pmax=300000\npmin=3001\n") << status;
    EXPECT_EQ(status.substr(status.size() - 5), "Done\n");
    const std::string text = out();
    EXPECT_EQ(text.find("Enter the range of p"), std::string::npos);
    EXPECT_NE(text.find("Data folder: " + dir_ + "/data"), std::string::npos) << text;
    // Off a terminal the progress lines carry the share done.
    EXPECT_NE(text.find("Sieved up to "), std::string::npos) << text;
    EXPECT_NE(text.find("% done"), std::string::npos) << text;

    // --yes answers the handed-over question; the preset range starts the next run.
    EXPECT_EQ(run({"--console", "--yes", "--range", "3001", "4000", "data"}), 0) << out();
    EXPECT_NE(out().find("Yes (--yes)"), std::string::npos) << out();
    EXPECT_EQ(read_file("data/ZudStatus.dat").substr(0, 20), "pmax=4000\npmin=3001\n");
}

// Results and progress on standard output, everything else on standard
// error, and the end of the input at a question says what it took.
TEST_F(CommandLineRun, diagnostics_go_to_standard_error_and_results_to_standard_output)
{
    ::mkdir("data", 0755);
    EXPECT_EQ(run({"--console", "data"}, nullptr, true), 1);
    EXPECT_NE(err().find("cannot be found"), std::string::npos) << err();
    EXPECT_EQ(out().find("cannot be found"), std::string::npos) << out();

    write_file("data/Zud.dat", test_data("small_Zud.dat"));
    EXPECT_EQ(run({"--console", "data"}, nullptr, true), 1);
    EXPECT_NE(err().find("Sieve from p= (billion): (end of input: no range, nothing is sieved)"), std::string::npos)
        << err();
    for (const char* stray : {"Status", "The data file has been read", "Reading Zud.dat file..."})
        EXPECT_EQ(out().find(stray), std::string::npos) << out();

    EXPECT_EQ(run({"--console", "--range", "3001", "3e5", "data"}, nullptr, true), 0);
    EXPECT_NE(out().find("\n3011 | "), std::string::npos) << out();   // a factor line
    EXPECT_NE(out().find("Complete!"), std::string::npos) << out();
    EXPECT_EQ(out().find("Sieving complete!"), std::string::npos) << out();
    EXPECT_NE(err().find("Sieving complete!"), std::string::npos) << err();

    // Every factor line is shown, also when a batch is larger than the log
    // the window would keep.
    ::mkdir("dense", 0755);
    write_file("dense/Zud.dat", zud_test::dense_candidates(30000));
    EXPECT_EQ(run({"--console", "--range", "3", "2e6", "dense"}, nullptr, true), 0);
    const auto written = zud_test::factor_lines(read_file("dense/ZudStatus.dat"));
    EXPECT_GT(written.size(), 60000u);
    EXPECT_TRUE(zud_test::factor_lines(out()) == written);

    // A completed range asks before a new one: the end of the input is No.
    EXPECT_EQ(run({"--console", "data"}, nullptr, true), 1);
    EXPECT_NE(err().find("[y/N] (end of input: No assumed)"), std::string::npos) << err();
    EXPECT_EQ(out().find("[y/N]"), std::string::npos) << out();
}

TEST_F(CommandLineRun, the_folder_remembered_in_the_profile_is_used_from_elsewhere)
{
    ::mkdir("data", 0755);
    ::mkdir("elsewhere", 0755);
    write_file("data/Zud.dat", test_data("small_Zud.dat"));
    write_file("data/ZudStatus.dat", "pmax=300000\npmin=3001\n");
    write_file("zudsieve.ini", "[params]\nfolder=" + dir_ + "/data\n");
    ASSERT_EQ(chdir("elsewhere"), 0);
    EXPECT_EQ(run({"--console"}), 0) << out();
    EXPECT_EQ(read_file(dir_ + "/data/ZudStatus.dat").substr(0, 22), "pmax=300000\npmin=3001\n");
    EXPECT_NE(out().find("Data folder: " + dir_ + "/data"), std::string::npos) << out();
}

}  // namespace

namespace {

class ConsoleTerminal : public zud_test::TempDirTest {};

// On a terminal the updating status line carries the share done.
TEST_F(ConsoleTerminal, the_status_line_shows_the_share_done)
{
    write_file("Zud.dat", test_data("small_Zud.dat"));
    // Long enough (a second or so) that a status line is drawn while
    // sieving, however busy the machine: a range that ends within one
    // batch of events shows only its end.
    write_file("ZudStatus.dat", "pmax=30000000\npmin=3001\n");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    std::istringstream in;
    std::ostringstream out;
    zud::StartOptions options;
    options.folder_given = true;
    EXPECT_EQ(zud::run_console(in, out, true, options), 0);
    const std::string text = out.str();
    const std::size_t status = text.find("\r\033[KSieved up to ");
    ASSERT_NE(status, std::string::npos) << text;
    EXPECT_NE(text.find("% done)   Rate: ", status), std::string::npos) << text;
    EXPECT_NE(text.find("\r\033[KComplete!   Rate: "), std::string::npos) << text;

    // A narrow terminal: the status is cut to its width, never wrapped.
    write_file("ZudStatus.dat", "pmax=300000\npmin=3001\n");
    setenv("COLUMNS", "40", 1);
    std::ostringstream narrow;
    EXPECT_EQ(zud::run_console(in, narrow, true, options), 0);
    unsetenv("COLUMNS");
    const std::string cut = narrow.str();
    std::size_t shown = 0;
    for (std::size_t at = cut.find("\r\033[K"); at != std::string::npos; at = cut.find("\r\033[K", at + 1)) {
        const std::size_t end = std::min(cut.find('\r', at + 1), cut.find('\n', at + 1));
        const std::size_t length = (end == std::string::npos ? cut.size() : end) - at - 4;
        EXPECT_LE(length, 39u) << cut.substr(at + 4, length);
        shown += length > 0;
    }
    EXPECT_GT(shown, 1u);
}

}  // namespace
