// The record on disk: what a run's events leave in zudsieve.log, across a
// stop and a resume, and its rotation.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "app/sieve_history.h"
#include "app/sieve_log.h"
#include "app/window_fixture.h"

namespace {

class SieveLog : public zud_test::WindowTest {
protected:
    // The lines without their time stamps, which must all be there.
    std::vector<std::string> recorded()
    {
        std::istringstream in(read_file("zudsieve.log"));
        std::vector<std::string> lines;
        // "YYYY-MM-DD HH:MM:SS " (std::regex would do, but gcc 12 warns
        // falsely inside it at -O1, which the sanitizer builds use).
        const std::string shape = "0000-00-00 00:00:00 ";
        const auto stamped = [&shape](const std::string& line) {
            if (line.size() < shape.size())
                return false;
            for (std::size_t i = 0; i < shape.size(); ++i)
                if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
                    return false;
            return true;
        };
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(stamped(line)) << line;
            lines.push_back(line.substr(20));
        }
        return lines;
    }
};

TEST_F(SieveLog, a_run_stopped_and_resumed_leaves_its_whole_story)
{
    fake_worker = true;
    profile.values["workers"] = "1";
    write_file("ZudStatus.dat", "pmax=1003001\npmin=3001\n");
    window().initialize();
    logic->factors_recorded({{200003, 5, 9}});
    clock_ms = 1000;
    logic->progress({203001, 0.2, 10000.0});
    clock_ms = 2000;
    logic->progress({213001, 0.21, 10000.0});   // within the minute: no line
    logic->pause();
    logic->resume();
    box.answers = {zud::BoxAnswer::ok};
    logic->start_stop();
    logic->stopped(303001);
    logic->start_stop();
    logic->done();
    const std::vector<std::string> expected{
        "Start: range p=3,001 to p=1,003,001, 1 worker",
        "Factor: 200003 | 5*2^9+1",
        "Progress: sieved up to p=203,000, 20.0% done",
        "Paused, sieved up to p=213,000: the sieve uses no processor time until Resume.",
        "Resumed.",
        "Stopped: sieved up to p=303,000; the next Start goes on from there.",
        "Resumed at p=303,000 (range p=3,001 to p=1,003,001), 1 worker.",
        "Complete: p=3,001 to p=1,003,001, 0 factors in the range",
    };
    EXPECT_EQ(recorded(), expected);
}

// A real range, stopped once and resumed: the history read back has both
// runs, and every factor of the status file with the time it was found.
TEST_F(SieveLog, the_history_read_back_has_each_run_and_every_factor_with_its_time)
{
    // Long enough that the stop after p = 100,000 comes before the end,
    // however busy the machine.
    range.lower = 3001;
    range.upper = 20000000;
    bool stopped = false;
    after_event = [&](char kind) {
        if (!stopped && kind == 'f' && logic->last_reported_p() > 100000) {
            stopped = true;
            box.answers = {zud::BoxAnswer::ok};
            logic->start_stop();
        }
    };
    window().initialize();
    serve_until_idle();
    ASSERT_TRUE(stopped);
    logic->start_stop();
    serve_until_idle();
    ASSERT_EQ(logic->outcome(), zud::RunOutcome::completed);

    const zud::SieveHistory history = zud::read_sieve_history(zud::DataFolder());
    const std::vector<zud::FoundFactor> factors = zud::range_factors(zud::DataFolder(), history);
    std::size_t lines = 0;
    for (const char c : read_file("ZudStatus.dat"))
        lines += c == '|';
    ASSERT_GT(lines, 50u);
    EXPECT_EQ(factors.size(), lines);
    EXPECT_EQ(history.factors.size(), lines);
    for (const zud::FoundFactor& f : factors) {
        EXPECT_NE(f.when, 0) << zud::factor_text(f);
    }
    int runs = 0;
    for (std::size_t i = 0; i < history.reached.size(); ++i) {
        runs += history.reached[i].run_begins;
        if (i > 0) {
            EXPECT_GE(history.reached[i].p, history.reached[i - 1].p);
        }
    }
    EXPECT_EQ(runs, 2);
    ASSERT_FALSE(history.reached.empty());
    EXPECT_EQ(history.reached.front().p, 3001);
    EXPECT_EQ(history.reached.back().p, 20000000);
    const std::string status = read_file("ZudStatus.dat");
    const std::size_t first_line = status.find('\n', status.find('\n') + 1) + 1;   // after the range header
    EXPECT_EQ(zud::factor_text(factors.front()) + "\n", status.substr(first_line, zud::factor_text(factors.front()).size() + 1));
}

TEST_F(SieveLog, a_full_record_moves_aside_and_a_new_one_begins)
{
    const std::string old(zud::kSieveLogLimit, 'x');
    write_file("zudsieve.log", old);
    zud::append_sieve_log(zud::DataFolder(), "line\r\none", 0);
    EXPECT_EQ(read_file("zudsieve.log.1"), old);
    const std::string now = read_file("zudsieve.log");
    EXPECT_EQ(now.substr(now.size() - 10), " line one\n");
}

}  // namespace
