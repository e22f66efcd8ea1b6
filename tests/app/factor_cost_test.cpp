// The rate a run measures is kept for the next range on the same file; a
// run that is too short, or on another file, leaves the time unsaid.
#include <gtest/gtest.h>

#include <cmath>

#include "app/factor_cost.h"
#include "app/window_fixture.h"

namespace {

class FactorCostWindow : public zud_test::WindowTest {};

TEST_F(FactorCostWindow, a_runs_measured_rate_is_kept_for_the_next_estimate_on_that_file)
{
    fake_worker = true;
    range.lower = 1000000000;
    range.upper = 2000000000;
    profile.values["workers"] = "2";
    window().initialize();
    ASSERT_EQ(logic->workers(), 2);
    // No rate yet: the factors alone.
    EXPECT_EQ(logic->range_estimate(3000000000, 4000000000), "About 9 factors expected");
    // Ten seconds in, the run's own p-rate is not yet to be trusted.
    clock_ms = 10000;
    logic->progress({5000000000, 0.01, 4e8});
    logic->stopped(5000000000);
    EXPECT_EQ(profile.values.count("rate"), 0u);

    // A minute in: 2 workers at 4e6 p/s near 5e9 are 2 ln(5e9) / 4e6 s of
    // one core a prime, kept with the file's fingerprint.
    logic->start_stop();
    clock_ms = 70000;
    logic->progress({5000000000, 0.3, 4e6});
    logic->stopped(5000000000);
    const std::string kept = profile.values["rate"];
    const double rate = std::stod(kept.substr(kept.find(' ') + 1));
    EXPECT_NEAR(rate, 2 * std::log(5e9) / 4e6, 1e-10);
    // 45.5 million primes at that rate on 2 workers: 254 s.
    EXPECT_EQ(logic->range_estimate(3000000000, 4000000000), "About 9 factors expected; about 4 minutes with 2 workers");
    // Another candidate file: its own rate, none yet.
    EXPECT_EQ(zud::kept_rate(profile, "0000000000000000"), 0);
}

}  // namespace
