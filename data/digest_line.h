// The status file's "digest=" line: the work digest (engine/work_digest.h)
// of every prime from the range's pmin up to `below`, written with each
// checkpoint of a BOINC task and before its "Done", so that the project can
// tell a searched range from a claimed one. Other readers pass it over.
#pragma once

#include <cstdint>
#include <string>

#include "engine/work_digest.h"

namespace zud {

struct DigestPoint {
    std::int64_t below = 0;   // the digest covers the primes below it
    WorkDigest digest;
};

// "digest=<16 hex digits> primes=<count> below=<p>\n"
std::string digest_line(const DigestPoint& point);

// One line (without its line end); false unless it is a whole digest line.
bool parse_digest_line(const std::string& text, DigestPoint& point);

// The last digest line of the file at `path`; false when it has none or
// cannot be read.
bool last_digest_point(const char* path, DigestPoint& point);

}  // namespace zud
