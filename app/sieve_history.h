// The sieving's history as the record on disk (zudsieve.log and the older
// zudsieve.log.1) tells it: how far p had got and when, and when each
// factor was found; and the range's factors from the status file, each
// with its time where the record has it. For the Factors and Progress views.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "data/data_folder.h"

namespace zud {

struct ReachedPoint {
    std::time_t when;
    std::int64_t p;   // sieved up to p
    bool run_begins;  // a start or a resume: no progress is claimed since the point before
};

struct FoundFactor {
    std::int64_t p;
    std::int32_t k;
    std::int32_t n;
    std::time_t when;   // 0: not in the record
};

struct SieveHistory {
    std::vector<ReachedPoint> reached;   // in the order written
    std::vector<FoundFactor> factors;    // the record's factor lines
};

SieveHistory read_sieve_history(const DataFolder& folder);

// Every factor line of the folder's status file, in the file's order.
std::vector<FoundFactor> range_factors(const DataFolder& folder, const SieveHistory& history);

// "p | k*2^n+1"
std::string factor_text(const FoundFactor& factor);

}  // namespace zud
