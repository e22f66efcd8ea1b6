// Writing and finding the status file's digest lines.
#include "data/digest_line.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "data/file_io.h"

namespace zud {

std::string digest_line(const DigestPoint& point)
{
    char text[120];
    std::snprintf(text, sizeof text, "digest=%016" PRIx64 " primes=%" PRIu64 " below=%" PRId64 "\n",
                  point.digest.sum, point.digest.primes, point.below);
    return text;
}

bool parse_digest_line(const std::string& text, DigestPoint& point)
{
    unsigned long long sum = 0, primes = 0;
    long long below = 0;
    int used = -1;
    if (text.size() < 24 || text.compare(0, 7, "digest=") != 0 || text[23] != ' ')
        return false;
    for (std::size_t i = 7; i < 23; ++i)
        if (std::isxdigit(static_cast<unsigned char>(text[i])) == 0)
            return false;
    // %n after the last field: nothing may follow it but a carriage return.
    if (std::sscanf(text.c_str(), "digest=%16llx primes=%llu below=%lld%n", &sum, &primes, &below, &used) != 3 ||
        used < 0)
        return false;
    const std::string rest = text.substr(static_cast<std::size_t>(used));
    if (!(rest.empty() || rest == "\r") || below < 0)
        return false;
    point.digest.sum = sum;
    point.digest.primes = primes;
    point.below = below;
    return true;
}

bool last_digest_point(const char* path, DigestPoint& point)
{
    std::FILE* file = open_for_reading(path);
    if (file == nullptr)
        return false;
    bool found = false;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&buffer, &capacity, file)) >= 0) {
        std::string line(buffer, static_cast<std::size_t>(length));
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        DigestPoint seen;
        if (parse_digest_line(line, seen)) {
            point = seen;
            found = true;
        }
    }
    std::free(buffer);
    std::fclose(file);
    return found;
}

}  // namespace zud
