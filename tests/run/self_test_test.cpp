#include "run/self_test.h"

#include <gtest/gtest.h>

#include "engine/sieve.h"

namespace {

// A search that loses the hits of one prime of the cases and reports one
// false factor: the self-test must name both.
constexpr std::int64_t kLost = 140737471578113;   // a prime of the self-test's cases

void lossy_search(const zud::SearchTables& t, const zud::SearchGeometry& geo, std::int64_t p,
                  const zud::FactorCallback& on_factor)
{
    const zud::SearchPlan real = zud::search_plan(zud::InstructionSet::generic);
    if (p == kLost) {
        on_factor(0, 4, p);   // 1*2^4+1 = 17: no factor of p
        return;
    }
    real.for_prime(p)(t, geo, p, on_factor);
}

TEST(SelfTest, names_what_a_search_missed_and_invented)
{
    // The exact runs are the end-to-end test's (tests/cli).
    const zud::SelfTestResult bad = zud::self_test_plan({std::int64_t{1} << 62, lossy_search, lossy_search});
    EXPECT_GT(bad.factors, 1000);
    const std::string line = zud::self_test_line("broken", bad);
    EXPECT_EQ(line.rfind("broken: ", 0), 0u) << line;
    EXPECT_NE(line.find(" NOT exact: false 140737471578113 | 1*2^4+1; missed 140737471578113 | 1*2^"),
              std::string::npos)
        << line;
}

}  // namespace
