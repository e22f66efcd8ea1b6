// "Zud.dat": one value per line; "k=" headers, absolute n, "+" deltas.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <cstdlib>
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
            if (read_interrupted.load(std::memory_order_relaxed)) {
                interrupted_ = true;
                return 0;
            }
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

    bool interrupted() const { return interrupted_; }

private:
    std::FILE* file_;
    std::int64_t running_ = 0;
    bool interrupted_ = false;
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

FileResult read_values(LineValueReader& reader, CandidateSet& set);

FileResult read_set(std::FILE* file, CandidateSet& set)
{
    LineValueReader reader(file);
    FileResult result = read_values(reader, set);
    if (reader.interrupted())
        return fail("Reading the file 'Zud.dat' was interrupted.");
    return result;
}

FileResult read_values(LineValueReader& reader, CandidateSet& set)
{
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

FileResult write_temporary(const char* temporary, const CandidateSet& set)
{
    std::FILE* file = open_file(temporary, "w");
    if (file == nullptr)
        return write_failed(errno);
    std::vector<char> buffer(1 << 16);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    bool ok = write_lines(file, set) && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error_number = ok ? 0 : errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    return ok ? FileResult{} : write_failed(error_number);
}

// A copy through a temporary file, where the folder takes no hard links.
bool copy_to_backup()
{
    std::FILE* from = open_for_reading(kCandidateFile);
    if (from == nullptr)
        return false;
    std::string text;
    char piece[1 << 16];
    std::size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, from)) > 0)
        text.append(piece, got);
    const bool read_ok = std::ferror(from) == 0;
    std::fclose(from);
    return read_ok && replace_whole(kCandidateBackup, text) == 0;
}

// The previous Zud.dat, kept as Zud.dat~ by a second name for the same file.
bool keep_backup()
{
    if (file_kind(kCandidateFile) != FileKind::regular)
        return false;
    if (unlink(kCandidateBackup) != 0 && errno != ENOENT)
        return false;
    return link(kCandidateFile, kCandidateBackup) == 0 || copy_to_backup();
}

}  // namespace

std::size_t CandidateSet::candidate_count() const
{
    std::size_t count = 0;
    for (std::uint32_t w : bits)
        count += static_cast<std::size_t>(__builtin_popcount(w));
    return count;
}

void CandidateSet::remove(const std::vector<std::pair<std::int32_t, std::int32_t>>& factors)
{
    std::vector<std::pair<std::int32_t, std::int32_t>> by_k;   // (k, index), sorted
    for (std::int32_t i = 0; i < kcount; ++i)
        by_k.emplace_back(k_values[static_cast<std::size_t>(i)], i);
    std::sort(by_k.begin(), by_k.end());
    for (const auto& [k, n] : factors) {
        if (n < nmin || n > nmax)
            continue;
        const auto d = static_cast<std::uint32_t>(n - nmin);
        for (auto it = std::lower_bound(by_k.begin(), by_k.end(), std::make_pair(k, INT32_MIN));
             it != by_k.end() && it->first == k; ++it)
            bitmap(it->second)[d / 32] &= ~(1u << (d % 32));
    }
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
    std::FILE* file = open_for_reading(kCandidateFile);
    if (file == nullptr) {
        if (errno == ENOENT)
            return fail("The file 'Zud.dat' cannot be found in the current directory!");
        const std::string unusable = unusable_reason(kCandidateFile);
        if (!unusable.empty())
            return fail("The file 'Zud.dat' cannot be read - " + unusable + "!");
        return fail("The file 'Zud.dat' cannot be read (" + system_reason(errno) + ")!");
    }
    FileCloser closer(file);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    return read_set(file, set);
}

FileResult write_candidate_file(const CandidateSet& set)
{
    // A name of our own: two instances never write into one another's file.
    std::string temporary = std::string(kCandidateFile) + ".new-XXXXXX";
    const int made = mkstemp(&temporary[0]);
    if (made < 0)
        return write_failed(errno);
    follow_umask(made);
    close(made);
    if (FileResult written = write_temporary(temporary.c_str(), set); !written.ok) {
        unlink(temporary.c_str());
        return written;
    }
    // Zud.dat stays in place until the new file replaces it in one rename:
    // there is never a moment without a complete Zud.dat.
    const bool backed_up = keep_backup();
    if (std::rename(temporary.c_str(), kCandidateFile) != 0) {
        const int error_number = errno;
        unlink(temporary.c_str());
        return write_failed(error_number);
    }
    sync_folder();
    if (backed_up)
        return {true, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'"};
    return {true, "The 'Zud.dat' file has been created."};
}

}  // namespace zud
