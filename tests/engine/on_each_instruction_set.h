// Runs a test once per instruction set, with that set's searches; a set the
// processor lacks is skipped with a word, never run on another.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/search/instruction_set.h"

namespace zud_test {

class OnEachInstructionSet : public ::testing::TestWithParam<zud::InstructionSet> {
protected:
    void SetUp() override
    {
        if (!zud::processor_has(GetParam()))
            GTEST_SKIP() << "this processor has no " << zud::instruction_set_name(GetParam());
    }
    // The program's searches on the set under test.
    zud::SearchPlan plan() const { return zud::search_plan(GetParam()); }
};

inline std::string instruction_set_label(const ::testing::TestParamInfo<zud::InstructionSet>& info)
{
    return zud::instruction_set_name(info.param);
}

}  // namespace zud_test

#define ZUD_ON_EACH_INSTRUCTION_SET(fixture)                                                                 \
    INSTANTIATE_TEST_SUITE_P(Isa, fixture,                                                                   \
                             ::testing::Values(zud::InstructionSet::ifma, zud::InstructionSet::avx2,         \
                                               zud::InstructionSet::generic),                                \
                             zud_test::instruction_set_label)
