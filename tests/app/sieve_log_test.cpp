// The record on disk: what a run's events leave in zudsieve.log, across a
// stop and a resume, and its rotation.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

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
        const std::regex stamp("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ");
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
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
