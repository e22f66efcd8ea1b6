// "Zud.dat": one value per line; "k=" headers, absolute n, "+" deltas.
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

#include "data/candidate_set.h"
#include "data/parse.h"
#include "engine/mod_arith.h"

namespace zud {

namespace {

constexpr std::int32_t kSpacingBase = 907200;   // 2^6 * 3^4 * 5^2 * 7

const char* const kTempFile = "Zud.dat.new";

// One value per call: the first non-zero line value, a "k=" header's
// negated value, or 0 at the end of the file. Values are 64-bit and
// saturate, so that an oversized number fails its own check instead of
// wrapping into a plausible one.
class LineValueReader {
public:
    explicit LineValueReader(std::FILE* file) : file_(file) {}

    std::int64_t next()
    {
        char line[1024];
        while (std::fgets(line, sizeof line, file_) != nullptr) {
            if (line[0] == 'k' && line[1] == '=')
                return -parse_leading_int(line + 2).value;
            std::int64_t value;
            if (line[0] == '+') {
                const std::int64_t delta = parse_leading_int(line + 1).value;
                if (__builtin_add_overflow(running_, delta, &value))
                    value = delta > 0 ? INT64_MAX : INT64_MIN + 1;
            } else {
                value = parse_leading_int(line).value;
            }
            running_ = value;
            if (value != 0)
                return value;
        }
        return 0;
    }

private:
    std::FILE* file_;
    std::int64_t running_ = 0;
};

class FileCloser {
public:
    explicit FileCloser(std::FILE* file) : file_(file) {}
    ~FileCloser()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* file_;
};

FileResult fail(std::string message)
{
    return {false, std::move(message)};
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

// Memory the machine can give us; a set beyond it would be killed, not refused.
std::uint64_t memory_budget()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 4 * 3;
}

FileResult too_large(std::uint64_t bytes)
{
    return fail(format("There is not enough memory to hold the candidates of 'Zud.dat' (%" PRIu64 " MB needed)!",
                       bytes >> 20));
}

// Allocates the per-k arrays and bitmaps, zero-filled, or says why not.
FileResult allocate(CandidateSet& set, std::int64_t kcount, std::int64_t words_per_k)
{
    const auto per_k_bytes = static_cast<std::uint64_t>(3 * sizeof(std::int32_t) + 4 * words_per_k);
    const std::uint64_t bytes = static_cast<std::uint64_t>(kcount) * per_k_bytes;
    if (bytes > memory_budget())
        return too_large(bytes);
    try {
        set.k_values.assign(static_cast<std::size_t>(kcount), 0);
        set.residues.assign(static_cast<std::size_t>(kcount), 0);
        set.spacings.assign(static_cast<std::size_t>(kcount), 1);
        set.bits.assign(static_cast<std::size_t>(kcount * words_per_k), 0u);
    } catch (const std::bad_alloc&) {
        set.release();
        return too_large(bytes);
    }
    set.words_per_k = static_cast<std::int32_t>(words_per_k);
    return {};
}

// The n list of one k, up to the value that ends it (0 or the next header).
FileResult read_n_list(LineValueReader& reader, CandidateSet& set, std::int32_t k_index, std::int64_t& value)
{
    std::int32_t spacing = kSpacingBase;
    std::int64_t previous = -1;
    const std::int32_t k = set.k_values[static_cast<std::size_t>(k_index)];
    std::uint32_t* bitmap = set.bitmap(k_index);
    while ((value = reader.next()) > 0) {
        if (value < set.nmin || value > set.nmax)
            return fail(format("The file'Zud.dat' is invalid - for k=%d, there is n=%" PRId64
                               ", which is out of range!",
                               k, value));
        // Differences of every n, however written: a class that misses one
        // n would never sieve it.
        if (previous >= 0 && value != previous)
            spacing = gcd(spacing, static_cast<std::int32_t>(value > previous ? value - previous : previous - value));
        previous = value;
        const auto d = static_cast<std::uint32_t>(value - set.nmin);
        bitmap[d / 32] |= 1u << (d % 32);
    }
    if (previous < 0) {
        set.spacings[static_cast<std::size_t>(k_index)] = 1;
        set.residues[static_cast<std::size_t>(k_index)] = 0;
    } else {
        set.spacings[static_cast<std::size_t>(k_index)] = spacing;
        set.residues[static_cast<std::size_t>(k_index)] = static_cast<std::int32_t>((previous - set.nmin) % spacing);
    }
    return {};
}

FileResult read_set(std::FILE* file, CandidateSet& set)
{
    LineValueReader reader(file);
    const std::int64_t kcount = reader.next();
    if (kcount < 1 || kcount > INT32_MAX)
        return fail("The file 'Zud.dat' is invalid - bad first line!");
    const std::int64_t nmin = reader.next();
    const std::int64_t nmax = reader.next();
    if (nmin < 1 || nmax < 1 || nmin > nmax || nmax > INT32_MAX)
        return fail("The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!");
    if (FileResult r = allocate(set, kcount, (nmax - nmin + 1) / 32 + 1); !r.ok)
        return r;
    set.kcount = static_cast<std::int32_t>(kcount);
    set.nmin = static_cast<std::int32_t>(nmin);
    set.nmax = static_cast<std::int32_t>(nmax);
    std::int64_t value = reader.next();
    if (value >= 0 || value < -INT32_MAX)
        return fail("The file 'Zud.dat' is invalid - bad k value at line 4!");
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        if (value == 0)
            return fail("The file 'Zud.dat' is invalid - insufficient k's!");
        if (value < -INT32_MAX)
            return fail(format("The file 'Zud.dat' is invalid - bad k value after k=%d!", set.k_values[i - 1]));
        set.k_values[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(-value);
        if (FileResult r = read_n_list(reader, set, i, value); !r.ok)
            return r;
    }
    return {};
}

bool write_lines(std::FILE* file, const CandidateSet& set)
{
    std::fprintf(file, "%d\n%d\n%d\n", set.kcount, set.nmin, set.nmax);
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        std::fprintf(file, "k=%d\n", set.k_values[static_cast<std::size_t>(i)]);
        const std::uint32_t* bitmap = set.bitmap(i);
        std::int64_t previous = -1;
        for (std::int64_t n = set.nmin; n <= set.nmax; ++n) {
            const auto d = static_cast<std::uint32_t>(n - set.nmin);
            if (bitmap[d / 32] == 0) {   // skip empty words whole
                n += 31 - d % 32;
                continue;
            }
            if ((bitmap[d / 32] >> (d % 32) & 1u) == 0)
                continue;
            if (previous < 0)
                std::fprintf(file, "%" PRId64 "\n", n);
            else
                std::fprintf(file, "+%" PRId64 "\n", n - previous);
            previous = n;
        }
    }
    return std::ferror(file) == 0;
}

FileResult write_failed(int error_number)
{
    return fail("The file 'Zud.dat' could not be written (" + system_reason(error_number) +
                "). The previous 'Zud.dat' has been kept.");
}

}  // namespace

std::size_t CandidateSet::candidate_count() const
{
    std::size_t count = 0;
    for (std::uint32_t w : bits)
        count += static_cast<std::size_t>(__builtin_popcount(w));
    return count;
}

void CandidateSet::release()
{
    *this = CandidateSet{};
}

void CandidateSet::fill_all()
{
    for (std::uint32_t& w : bits)
        w = ~0u;
    // Every n is a candidate now, so the n of a k no longer share a class:
    // a spacing kept from the file would leave the other classes unsieved
    // and write them back as candidates.
    for (std::size_t i = 0; i < spacings.size(); ++i) {
        spacings[i] = 1;
        residues[i] = 0;
    }
}

FileResult read_candidate_file(CandidateSet& set)
{
    set.release();
    std::vector<char> buffer(1 << 16);   // outlives the stream: declared first
    std::FILE* file = open_file(kCandidateFile, "r");
    if (file == nullptr)
        return fail("The file 'Zud.dat' cannot be found in the current directory!");
    FileCloser closer(file);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    return read_set(file, set);
}

FileResult write_candidate_file(const CandidateSet& set)
{
    std::FILE* file = open_file(kTempFile, "w");
    if (file == nullptr)
        return write_failed(errno);
    const bool written = write_lines(file, set);
    int error_number = errno;
    const bool flushed = written && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    if (written && !flushed)
        error_number = errno;
    if (std::fclose(file) != 0 && flushed) {
        error_number = errno;
        std::remove(kTempFile);
        return write_failed(error_number);
    }
    if (!flushed) {
        std::remove(kTempFile);
        return write_failed(error_number);
    }
    const bool backed_up = std::rename(kCandidateFile, kCandidateBackup) == 0;
    if (std::rename(kTempFile, kCandidateFile) != 0) {
        error_number = errno;
        if (backed_up)
            std::rename(kCandidateBackup, kCandidateFile);
        std::remove(kTempFile);
        return write_failed(error_number);
    }
    if (backed_up)
        return {true, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'"};
    return {true, "The 'Zud.dat' file has been created."};
}

}  // namespace zud
