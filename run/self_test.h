// `zudsieve --self-test`: every search this processor can run, held against
// plain exact arithmetic on fixed cases (planted factors from 10^6 to 2^62,
// windows across 2^48 and 2^52, where the arithmetic changes), so that a
// volunteer can see that their processor gives exact answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/search/instruction_set.h"

namespace zud {

// What one search gave on all the cases.
struct SelfTestResult {
    std::int64_t factors = 0;                // the exact factors of the cases it found
    std::vector<std::string> differences;    // "missed ...", "false ...": empty when exact
};

// Runs the cases with `plan`; `name` heads the line.
SelfTestResult self_test_plan(const SearchPlan& plan);

// "ifma: 1,234 factors, all exact", or what differs.
std::string self_test_line(const char* name, const SelfTestResult& result);

// Every set from `top` down to generic, one line each to `line` as it
// ends; true when every one was exact.
bool run_self_test(InstructionSet top, const std::function<void(const std::string&)>& line);

}  // namespace zud
