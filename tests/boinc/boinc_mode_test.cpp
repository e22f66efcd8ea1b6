// zudsieve-boinc under a stand-in client: progress reported, suspend
// without processor time, quit, abort, a silent client and kills at random,
// each ending in the output of one uninterrupted run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "boinc/stand_in_client.h"
#include "damaged_status.h"
#include "dense_candidates.h"

using namespace zud_test;

namespace {

const std::string kProgram = ZUD_SIEVE_BINARY;           // the desktop program, for the reference run
const std::string kApplication = ZUD_BOINC_BINARY;       // zudsieve-boinc
const char* const kPmin = "1000000";
const char* const kPmax = "60000000";   // a few seconds of sieving
const char* const kLongPmax = "5000000000";

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The factor lines and the done mark: restarts add only resume points
// and the work digests that go with them.
std::string without_resume_points(const std::string& status)
{
    std::istringstream in(status);
    std::string line, kept;
    for (int i = 0; std::getline(in, line); ++i)
        if (i < 2 || (line.compare(0, 5, "pmin=") != 0 && line.compare(0, 7, "digest=") != 0))
            kept += line + "\n";
    return kept;
}

// The last work digest line.
std::string last_digest(const std::string& status)
{
    const std::size_t at = status.rfind("\ndigest=");
    return at == std::string::npos ? "" : status.substr(at + 1, status.find('\n', at + 1) - at);
}

// A shell command that must work.
void shell(const std::string& command)
{
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

std::string make_folder()
{
    char pattern[] = "/tmp/zudboinc.XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "";
}

// What one uninterrupted desktop run records for the range.
const std::string& reference_output()
{
    static const std::string text = [] {
        const std::string dir = make_folder();
        write_text(dir + "/Zud.dat", dense_candidates(400));
        const std::string command = kProgram + " --console --workers 2 --range " + kPmin + " " + kPmax + " " + dir +
                                    " </dev/null >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        const std::string out = status == 0 ? read_text(dir + "/ZudStatus.dat") : "";
        shell("rm -rf " + dir);
        return out;
    }();
    return text;
}

// The digest of an uninterrupted task on the portable instruction set with
// one thread: every restart, worker count and instruction set must match it.
const std::string& reference_digest()
{
    static const std::string text = [] {
        const std::string dir = make_folder();
        write_text(dir + "/Zud.dat", dense_candidates(400));
        write_text(dir + "/range", std::string(kPmin) + " " + kPmax + "\n");
        const std::string command = "cd " + dir + " && ZUDSIEVE_ISA=generic " + kProgram +
                                    " --boinc --nthreads 1 </dev/null >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        const std::string out = status == 0 ? last_digest(read_text(dir + "/ZudStatus.dat")) : "";
        shell("rm -rf " + dir);
        return out;
    }();
    return text;
}

class BoincModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        slot_ = make_folder();
        ASSERT_FALSE(slot_.empty());
        write_text(slot_ + "/Zud.dat", dense_candidates(400));
        write_text(slot_ + "/range", std::string(kPmin) + " " + kPmax + "\n");
    }
    void TearDown() override { shell("rm -rf " + slot_); }

    std::string status() const { return read_text(slot_ + "/ZudStatus.dat"); }

    // Waits until the program reports a fraction done above `above`.
    static bool wait_fraction(StandInClient& client, double above, int seconds)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (client.fraction_done() > above)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    int run_to_end(StandInClient& client)
    {
        client.start(kApplication, {"--boinc"});
        return client.wait_exit(300);
    }

    std::string slot_;
};

TEST_F(BoincModeTest, reports_progress_quits_on_request_and_finishes_on_restart)
{
    ASSERT_FALSE(reference_output().empty());
    StandInClient client(slot_, 2);
    ASSERT_TRUE(client.ready());
    // A range the sieve cannot finish before the quit arrives: the short one
    // can end within the second the first progress report takes.
    write_text(slot_ + "/range", std::string(kPmin) + " " + kLongPmax + "\n");
    client.start(kApplication, {});   // as a client with no command line starts it
    ASSERT_TRUE(wait_fraction(client, 0.0, 60));
    EXPECT_LT(client.fraction_done(), 1.0);
    ASSERT_TRUE(client.send("<quit/>"));
    ASSERT_EQ(client.wait_exit(30), 0);
    const std::string stopped = status();
    EXPECT_EQ(stopped.rfind("pmax=" + std::string(kLongPmax) + "\npmin=1000000\n", 0), 0u) << stopped;
    EXPECT_EQ(stopped.find("Done"), std::string::npos);
    EXPECT_NE(stopped.find("\ndigest="), std::string::npos) << stopped;

    // The short range, quit as soon as it starts (wherever that finds it),
    // then finished by a restart: the uninterrupted run's lines and digest.
    shell("rm -f " + slot_ + "/ZudStatus.dat");
    write_text(slot_ + "/range", std::string(kPmin) + " " + kPmax + "\n");
    client.start(kApplication, {"--boinc"});
    ASSERT_TRUE(client.send("<quit/>"));
    ASSERT_EQ(client.wait_exit(60), 0);
    ASSERT_EQ(run_to_end(client), 0) << read_text(slot_ + "/stderr.txt");
    EXPECT_EQ(client.fraction_done(), 1.0);   // the client shows the task complete
    EXPECT_EQ(without_resume_points(status()), reference_output());
    ASSERT_FALSE(reference_digest().empty());
    EXPECT_EQ(last_digest(status()), reference_digest());
    EXPECT_EQ(status().find(reference_digest() + "Done\n"), status().size() - reference_digest().size() - 5);
    // A finished task stays finished.
    const std::string finished = status();
    ASSERT_EQ(run_to_end(client), 0);
    EXPECT_EQ(client.fraction_done(), 1.0);
    EXPECT_EQ(status(), finished);
}

TEST_F(BoincModeTest, suspended_workers_use_no_processor_time_until_resumed_and_abort_ends_with_194)
{
    write_text(slot_ + "/range", std::string(kPmin) + " " + kLongPmax + "\n");
    StandInClient client(slot_, 2);
    client.start(kApplication, {"--boinc", "--nthreads", "2"});
    ASSERT_TRUE(wait_fraction(client, 0.0, 60));
    ASSERT_TRUE(client.send("<suspend/>"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long before = client.cpu_ticks();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long suspended = client.cpu_ticks() - before;
    std::printf("suspended for 3 s: %ld clock ticks of processor time\n", suspended);
    // The polling main thread and the library's timer: a few ticks at most.
    EXPECT_LE(suspended, 10) << "clock ticks used in 3 s while suspended";

    ASSERT_TRUE(client.send("<resume/>"));
    const double fraction = client.fraction_done();
    const long resumed_at = client.cpu_ticks();
    ASSERT_TRUE(wait_fraction(client, fraction, 60));
    EXPECT_GT(client.cpu_ticks(), resumed_at + 10);

    const std::string before_abort = status();
    ASSERT_TRUE(client.send("<abort/>"));
    EXPECT_EQ(client.wait_exit(30), 194);
    EXPECT_EQ(status().find("Done"), std::string::npos);
    EXPECT_EQ(status().compare(0, before_abort.size(), before_abort), 0);
}

TEST_F(BoincModeTest, a_silent_client_makes_it_record_and_exit)
{
    write_text(slot_ + "/range", std::string(kPmin) + " " + kLongPmax + "\n");
    StandInClient client(slot_, 1);
    client.start(kApplication, {"--boinc"});
    ASSERT_TRUE(wait_fraction(client, 0.0, 60));
    client.stop_heartbeat();
    ASSERT_EQ(client.wait_exit(120), 0);
    const std::string recorded = status();
    const std::size_t last = recorded.rfind("\npmin=");
    ASSERT_NE(last, std::string::npos);
    // The stop record and the digest of the primes below it end the file.
    const std::size_t digest = recorded.find('\n', last + 1);
    EXPECT_EQ(recorded.compare(digest, 8, "\ndigest="), 0) << recorded.substr(last);
    EXPECT_EQ(recorded.find('\n', digest + 1), recorded.size() - 1) << "the stop record ends the file";
}

TEST_F(BoincModeTest, kills_at_random_moments_then_a_restart_give_the_uninterrupted_output)
{
    ASSERT_FALSE(reference_output().empty());
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> moment(50, 1500);
    StandInClient client(slot_, 2);
    for (int kill = 0; kill < 4; ++kill) {
        client.start(kApplication, {"--boinc"});
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        client.kill_now();
        const int code = client.wait_exit(30);
        ASSERT_TRUE(code == 128 + SIGKILL || code == 0) << code;
    }
    ASSERT_EQ(run_to_end(client), 0) << read_text(slot_ + "/stderr.txt");
    EXPECT_EQ(client.fraction_done(), 1.0);   // the client shows the task complete
    EXPECT_EQ(without_resume_points(status()), reference_output());
    EXPECT_EQ(last_digest(status()), reference_digest());
}

// Without a client: each bad input ends with its own code and its reason.
TEST_F(BoincModeTest, each_input_fault_has_its_own_exit_code)
{
    struct Case {
        const char* zud;
        const char* range;
        std::vector<std::string> args;
        int code;
    };
    const std::string good = dense_candidates(10);
    const std::vector<Case> cases = {
        {nullptr, "1000 2000\n", {}, 11},
        {"1\n9\n1\nk=3\n", "1000 2000\n", {}, 12},
        {good.c_str(), nullptr, {}, 13},
        {good.c_str(), "0 2000\n", {}, 14},
        {good.c_str(), "2000 1000\n", {}, 14},
        {good.c_str(), "1000\n", {}, 14},
        {good.c_str(), "1000 2000\n", {"--nthreads", "0"}, 19},
        {good.c_str(), "1000 2000\n", {"--workers"}, 19},
    };
    for (const Case& c : cases) {
        shell("rm -f " + slot_ + "/*");
        if (c.zud != nullptr)
            write_text(slot_ + "/Zud.dat", c.zud);
        if (c.range != nullptr)
            write_text(slot_ + "/range", c.range);
        std::string command = "cd " + slot_ + " && " + kApplication + " --boinc";
        for (const std::string& a : c.args)
            command += " " + a;
        const int status = std::system((command + " </dev/null >/dev/null 2>stderr.txt").c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.code) << command;
        EXPECT_FALSE(read_text(slot_ + "/stderr.txt").empty()) << command;
    }
    // Another task's status file in the slot.
    write_text(slot_ + "/range", "1000 2000\n");
    write_text(slot_ + "/ZudStatus.dat", "pmax=3000\npmin=1000\n");
    int status = std::system(("cd " + slot_ + " && " + kApplication + " --boinc 2>stderr.txt").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 15);
    // A forged factor line, and a note that only begins with "Done": the
    // first is damage, the second ends nothing.
    for (const std::string forged : {"1999 | 3*2^5+1\n", "Done? not yet\n1999 | 3*2^5+1\n"}) {
        write_text(slot_ + "/ZudStatus.dat", "pmax=2000\npmin=1000\n" + forged);
        status = std::system(("cd " + slot_ + " && " + kApplication + " --boinc </dev/null 2>stderr.txt").c_str());
        EXPECT_EQ(WEXITSTATUS(status), 15) << forged;
        EXPECT_NE(read_text(slot_ + "/stderr.txt").find("(\"1999 | 3*2^5+1\") records no true factor"),
                  std::string::npos)
            << read_text(slot_ + "/stderr.txt");
        EXPECT_EQ(read_text(slot_ + "/ZudStatus.dat"), "pmax=2000\npmin=1000\n" + forged);
    }
    // Damage that a lenient reader would take for a finished task or a
    // resume point: the input fault, never "finished".
    const std::string dir = make_folder();
    write_text(dir + "/Zud.dat", dense_candidates(400));
    ASSERT_EQ(std::system((kProgram + " --console --range 1000 100000 " + dir + " </dev/null >/dev/null 2>&1").c_str()),
              0);
    std::vector<std::string> lines;
    std::istringstream whole(read_text(dir + "/ZudStatus.dat"));
    for (std::string line; std::getline(whole, line);)
        if (line.find(" | ") != std::string::npos)
            lines.push_back(line);
    shell("rm -rf " + dir);
    write_text(slot_ + "/range", "1000 100000\n");
    write_text(slot_ + "/Zud.dat", dense_candidates(400));
    const auto damaged = damaged_status_files("pmax=100000\npmin=1000\n", lines);
    ASSERT_EQ(damaged.size(), 7u);
    for (const DamagedStatus& d : damaged) {
        write_text(slot_ + "/ZudStatus.dat", d.text);
        status = std::system(("cd " + slot_ + " && " + kApplication + " --boinc </dev/null 2>stderr.txt").c_str());
        EXPECT_EQ(WEXITSTATUS(status), 15) << d.what;
        EXPECT_NE(read_text(slot_ + "/stderr.txt").find(d.message), std::string::npos)
            << d.what << ": " << read_text(slot_ + "/stderr.txt");
        EXPECT_EQ(read_text(slot_ + "/ZudStatus.dat"), d.text);
        EXPECT_EQ(read_text(slot_ + "/Zud.dat"), dense_candidates(400));
    }
}

// The desktop program has no BOINC mode of its own: a task started as
// `zudsieve --boinc`, or by a client in its slot, is handed to zudsieve-boinc
// in the same process, so the client still sees the program it started.
TEST_F(BoincModeTest, the_desktop_program_hands_a_task_to_the_application)
{
    StandInClient client(slot_, 1);
    ASSERT_TRUE(client.ready());
    write_text(slot_ + "/range", std::string(kPmin) + " " + kLongPmax + "\n");   // still going at the quit
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"--boinc"}}) {
        client.start(kProgram, args);
        ASSERT_TRUE(wait_fraction(client, 0.0, 60)) << read_text(slot_ + "/stderr.txt");
        ASSERT_TRUE(client.send("<quit/>"));
        ASSERT_EQ(client.wait_exit(30), 0) << read_text(slot_ + "/stderr.txt");
        EXPECT_EQ(status().rfind("pmax=" + std::string(kLongPmax) + "\npmin=1000000\n", 0), 0u) << status();
    }
}

}  // namespace
