// The run's controls as a front end uses them, on a run of its own thread:
// pause and resume keep the place, a stop is not held up by events nobody
// has taken yet, and what is written equals one uninterrupted run.
#include "run/run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "data/status_file.h"
#include "dense_candidates.h"
#include "run/event_queue.h"
#include "run_harness.h"
#include "status_lines.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Clock ticks of processor time a thread of this process has used; 0 once
// it has ended.
long cpu_ticks(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (text.find(')') == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;   // state .. cmajflt
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

class RunControls : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", zud_test::dense_candidates(3000));
    }
    // A fresh record of [pmin, pmax] with the file's factors removed, as Start makes it.
    zud::RunRecord record(std::int64_t pmin, std::int64_t pmax)
    {
        zud::RunRecord run;
        EXPECT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        bool echo = false;
        run.candidates.remove(zud::read_status_file(zud::DataFolder(), echo, {}).factors);
        run.pmin = pmin;
        run.pmax = pmax;
        return run;
    }
    std::string uninterrupted(std::int64_t pmin, std::int64_t pmax)
    {
        EXPECT_TRUE(zud::write_range_header(zud::DataFolder(), pmax, pmin).ok);
        zud::RunRecord run = record(pmin, pmax);
        EXPECT_EQ(zud_test::run_worker(run, settings).end(), 'C');
        const std::string text = read_file("ZudStatus.dat");
        std::remove("ZudStatus.dat");
        return text;
    }
    // Delivers into `log` until its run has ended or `done` holds.
    void deliver_until(zud::EventQueue& queue, zud_test::RunCapture& capture, const zud_test::RunLog& log,
                       const std::function<bool()>& done)
    {
        while (!done() && std::string("sCE").find(log.end()) == std::string::npos)
            queue.deliver(capture, std::chrono::milliseconds(10));
    }
    zud::RunSettings settings = [] {
        zud::RunSettings s;
        s.workers = 2;
        return s;
    }();
};

TEST_F(RunControls, a_paused_run_uses_no_processor_and_resumes_without_a_gap_or_a_line_twice)
{
    const std::string whole = uninterrupted(3, 3000000);
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 3000000, 3).ok);
    zud_test::RunLog log;
    zud_test::RunCapture capture(log, {});
    zud::EventQueue queue;
    zud::RunRecord run = record(3, 3000000);
    zud::Run controls(run, queue, settings);
    controls.start();
    deliver_until(queue, capture, log, [&] { return !log.factors.empty(); });
    ASSERT_EQ(std::string("sCE").find(log.end()), std::string::npos) << "the range ended before it could be paused";
    controls.pause();
    EXPECT_TRUE(controls.paused());
    // What was finished before the pause may still be written; then nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    queue.deliver(capture);
    const std::size_t lines = log.factors.size();
    std::vector<long> before;
    for (pid_t tid : controls.thread_ids())
        before.push_back(cpu_ticks(tid));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    long used = 0;
    const std::vector<pid_t> tids = controls.thread_ids();
    for (std::size_t i = 0; i < tids.size(); ++i) {
        const long now = cpu_ticks(tids[i]);
        used += now != 0 ? now - before[i] : 0;
    }
    EXPECT_LE(used, 2) << "clock ticks used while paused";
    queue.deliver(capture);
    EXPECT_EQ(log.factors.size(), lines);

    controls.resume();
    deliver_until(queue, capture, log, [] { return false; });
    controls.wait();
    EXPECT_EQ(log.end(), 'C');
    EXPECT_TRUE(read_file("ZudStatus.dat") == whole);
}

TEST_F(RunControls, a_stop_while_paused_records_its_resume_point_and_the_rest_follows)
{
    const std::string whole = uninterrupted(3, 3000000);
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 3000000, 3).ok);
    zud_test::RunLog log;
    zud_test::RunCapture capture(log, {});
    zud::EventQueue queue;
    zud::RunRecord run = record(3, 3000000);
    zud::Run controls(run, queue, settings);
    controls.start();
    deliver_until(queue, capture, log, [&] { return !log.factors.empty(); });
    controls.pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    controls.stop();
    controls.wait();
    queue.deliver(capture);
    ASSERT_EQ(log.end(), 's');
    EXPECT_GT(log.stopped_at, 3);
    EXPECT_LE(log.stopped_at, 3000000);

    zud::RunRecord rest = record(log.stopped_at, 3000000);
    EXPECT_EQ(zud_test::run_worker(rest, settings).end(), 'C');
    EXPECT_TRUE(read_file("ZudStatus.dat") == whole);
}

TEST_F(RunControls, a_stop_is_not_held_up_by_events_nobody_has_taken)
{
    write_file("Zud.dat", zud_test::dense_candidates(30000));
    zud::EventQueue queue;   // never delivered while the run goes
    ASSERT_TRUE(zud::write_range_header(zud::DataFolder(), 20000000, 3).ok);
    zud::RunRecord run = record(3, 20000000);
    zud::Run controls(run, queue, settings);
    controls.start();
    // Until lines wait to be shown.
    while (read_file("ZudStatus.dat").size() < 500000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Clock::time_point asked = Clock::now();
    controls.stop();
    controls.wait();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - asked).count(), 1.0);

    zud_test::RunLog log;
    zud_test::RunCapture capture(log, {});
    queue.deliver(capture);
    ASSERT_EQ(log.end(), 's');
    EXPECT_GT(log.factors.size(), 5000u);
    // Batches waiting in the queue were joined: a few events, not one a line.
    EXPECT_LT(log.kinds.size(), 200u);
    // Everything shown is written, in the order written, and the resume
    // point lies above it.
    EXPECT_TRUE(zud_test::factor_lines(read_file("ZudStatus.dat")) == zud_test::texts_of(log.factors));
    EXPECT_GT(log.stopped_at, log.factors.back().p);
}

}  // namespace
