// The OpenCL device as one more worker of a run: beside a processor
// worker, alone, stopped and resumed, lost mid-run, or absent, the status
// file is byte for byte what a processor worker writes. Skips where the
// machine has no OpenCL device.
#include "run/run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "data/status_file.h"
#include "dense_candidates.h"
#include "engine/opencl/devices.h"
#include "run_harness.h"
#include "temp_dir.h"

namespace {

class DeviceWorker : public zud_test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
#if defined(__SANITIZE_THREAD__)
        // As with the BOINC library: PoCL's threads are not built for
        // ThreadSanitizer, which would miss or misread their accesses.
        GTEST_SKIP() << "the OpenCL implementation is not built for ThreadSanitizer";
#endif
        if (zud::list_devices().empty())
            GTEST_SKIP() << "no OpenCL platform or device on this machine";
    }
    void TearDown() override
    {
        unsetenv("ZUDSIEVE_DEVICE_FAIL_AT");
        TempDirTest::TearDown();
    }

    // The status file after a run of [pmin, pmax] with `settings`, stopped
    // at the first factor batch and resumed when `stop`; the warnings in
    // `warnings`.
    std::string status_of(const std::string& candidates, std::int64_t pmin, std::int64_t pmax,
                          const zud::RunSettings& settings, bool stop, std::string* warnings = nullptr)
    {
        write_file("ZudStatus.dat", "pmax=" + std::to_string(pmax) + "\npmin=" + std::to_string(pmin) + "\n");
        write_file("Zud.dat", candidates);
        zud::RunRecord run;
        EXPECT_TRUE(zud::read_candidate_file(zud::DataFolder(), run.candidates).ok);
        run.pmin = pmin;
        run.pmax = pmax;
        const zud_test::RunLog log = zud_test::run_worker(run, settings, [stop](char kind, zud::Run& controls) {
            if (stop && kind == 'f')
                controls.stop();
        });
        for (const zud::RunWarning& w : log.warnings)
            if (warnings != nullptr)
                *warnings += w.why + "\n";
        if (log.end() == 'C')
            return read_file("ZudStatus.dat");
        EXPECT_TRUE(stop);
        EXPECT_EQ(log.end(), 's');
        zud::RunRecord rest;
        EXPECT_TRUE(zud::read_candidate_file(zud::DataFolder(), rest.candidates).ok);
        bool echo = false;
        const zud::StatusRead recorded = zud::read_status_file(zud::DataFolder(), echo, {});
        rest.candidates.remove(recorded.factors);
        rest.pmin = log.stopped_at;
        rest.pmax = pmax;
        EXPECT_EQ(zud_test::run_worker(rest, settings).end(), 'C');
        return read_file("ZudStatus.dat");
    }

    static zud::RunSettings processor(int workers)
    {
        zud::RunSettings settings;
        settings.workers = workers;
        return settings;
    }
    static zud::RunSettings device(bool with_processor)
    {
        zud::RunSettings settings;
        settings.workers = 1;
        settings.device = 0;
        settings.processor_workers = with_processor;
        return settings;
    }
};

TEST_F(DeviceWorker, beside_a_processor_worker_or_alone_it_writes_what_a_processor_worker_writes)
{
    const std::string small = test_data("small_Zud.dat");
    // Dense: several factor lines for most primes, in one order whoever finds them.
    const std::string dense = zud_test::dense_candidates(3000);
    const std::string one_small = status_of(small, 3001, 3000000, processor(1), false);
    const std::string one_dense = status_of(dense, 3, 300000, processor(1), false);
    EXPECT_GT(one_small.size(), 1000u);
    EXPECT_GT(one_dense.size(), 50000u);
    for (bool with_processor : {true, false}) {
        for (bool stop : {false, true}) {
            const std::string what = std::string(with_processor ? "beside" : "alone") + (stop ? ", stopped" : "");
            std::string warnings;
            EXPECT_EQ(status_of(small, 3001, 3000000, device(with_processor), stop, &warnings), one_small) << what;
            EXPECT_EQ(status_of(dense, 3, 300000, device(with_processor), stop, &warnings), one_dense) << what;
            EXPECT_EQ(warnings, "") << what;
        }
    }
}

TEST_F(DeviceWorker, a_device_lost_mid_run_leaves_the_rest_to_the_processor_and_says_so)
{
    const std::string small = test_data("small_Zud.dat");
    const std::string expected = status_of(small, 3001, 3000000, processor(1), false);
    setenv("ZUDSIEVE_DEVICE_FAIL_AT", "3", 1);
    for (bool with_processor : {true, false}) {
        std::string warnings;
        EXPECT_EQ(status_of(small, 3001, 3000000, device(with_processor), false, &warnings), expected);
        EXPECT_NE(warnings.find("CL_OUT_OF_RESOURCES"), std::string::npos) << warnings;
        EXPECT_NE(warnings.find("the run goes on with its processor workers"), std::string::npos) << warnings;
    }
}

TEST_F(DeviceWorker, a_device_that_is_not_there_is_said_once_and_the_processor_sieves)
{
    const std::string small = test_data("small_Zud.dat");
    const std::string expected = status_of(small, 3001, 1000000, processor(1), false);
    zud::RunSettings settings = device(false);
    settings.device = 99;
    std::string warnings;
    EXPECT_EQ(status_of(small, 3001, 1000000, settings, false, &warnings), expected);
    EXPECT_EQ(warnings, "There is no OpenCL device 99: sieving on the processor.\n");
}

}  // namespace
