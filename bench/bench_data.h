// Locating the benchmark's candidate file: --zud-file=PATH, else the
// shared benchmark file beside the repository.
#pragma once

#include <string>

#include "data/candidate_set.h"

namespace zud_bench {

// Removes --zud-file=PATH from argv and remembers it.
void take_file_argument(int& argc, char** argv);
const std::string& candidate_path();
// Reads the candidate file once (cached); exits with a message when missing.
const zud::CandidateSet& bench_set();
// The parity-only workload: the benchmark file's 8 k over n from 10^6 to
// 2*10^7, every n of the parity that 3 leaves, less those with a factor
// below kParitySieveLimit. Built once, deterministically.
constexpr std::int64_t kParitySieveLimit = 1000;
const zud::CandidateSet& parity_set();
// The many-k workload: kManyKCount distinct odd k below 200,000 drawn from a
// fixed seed, n from 10^5 to 2*10^6, less the n with a factor up to
// kManyKSieveLimit (sieved by the engine itself, so every build sees the
// same set). Built once.
constexpr std::int32_t kManyKCount = 100;
constexpr std::int64_t kManyKSieveLimit = 1000000;
const zud::CandidateSet& many_k_set();

}  // namespace zud_bench
