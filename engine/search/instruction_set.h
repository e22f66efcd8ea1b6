// Which search the processor runs: decided once, in main, from its features
// and a cap from the environment (ZUDSIEVE_ISA, for benchmarks and trouble-
// shooting), then passed down as a value; one table of searches by
// instruction set and p.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zud {

struct SearchTables;
struct SearchGeometry;

// In ascending order: each needs what the one before it needs.
enum class InstructionSet { generic, avx2, ifma };

// The best set this processor has: ifma needs AVX-512 F and IFMA, avx2
// needs AVX2 and FMA, generic any x86-64.
InstructionSet processor_instruction_set();

// The set a cap selects where `available` is the processor's: the lower of
// the two. An empty or missing cap selects `available`; a cap that names no
// set does too, and `warning` then says so (else it is left empty).
InstructionSet capped_instruction_set(const char* cap, InstructionSet available, std::string& warning);

// The programs' one decision, made in main before anything runs: the
// processor's set capped by ZUDSIEVE_ISA (an unknown value: a line on stderr).
InstructionSet decide_instruction_set();

// True when the processor can run `set`.
bool processor_has(InstructionSet set);

// "ifma", "avx2" or "generic".
const char* instruction_set_name(InstructionSet set);

// The search of one prime (the callback is the engine's FactorCallback).
using SearchFunction = void (*)(const SearchTables& tables, const SearchGeometry& geometry, std::int64_t p,
                                const std::function<void(std::int32_t, std::int32_t, std::int64_t)>& on_factor);

// The searches of one set: `below` for p < boundary, `above` from there.
struct SearchPlan {
    std::int64_t boundary;
    SearchFunction below;
    SearchFunction above;
    SearchFunction for_prime(std::int64_t p) const { return p < boundary ? below : above; }
};
// The filtered searches of a set (which the processor must have).
SearchPlan search_plan(InstructionSet set);

}  // namespace zud
