// "Zud.dat": one value per line; "k=" headers, absolute n, "+" deltas.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <cstdlib>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/candidate_set.h"
#include "data/parse.h"
#include "engine/mod_arith.h"

namespace zud {

namespace {

constexpr std::int32_t kSpacingBase = 907200;   // 2^6 * 3^4 * 5^2 * 7


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

// One line per call, each exactly as the writer makes it: a number, "+"
// and a difference, or "k=" and a k, digits only, with a line end ("\r\n"
// too). Blank lines are passed over. Anything else would shift or change
// the candidates that follow, so it ends the read with a message naming the
// line: a changed byte must never give another candidate set.
class LineValueReader {
public:
    enum class Kind { end, number, difference, header };
    struct Line {
        Kind kind = Kind::end;
        std::int64_t value = 0;
        int number = 0;   // in the file
    };

    explicit LineValueReader(std::FILE* file) : file_(file) {}
    ~LineValueReader() { std::free(line_); }
    LineValueReader(const LineValueReader&) = delete;
    LineValueReader& operator=(const LineValueReader&) = delete;

    Line next()
    {
        ssize_t length;
        while (error_.empty() && (length = ::getline(&line_, &capacity_, file_)) >= 0) {
            ++line_number_;
            if (read_interrupted.load(std::memory_order_relaxed)) {
                interrupted_ = true;
                return {};
            }
            auto size = static_cast<std::size_t>(length);
            if (std::memchr(line_, '\0', size) != nullptr) {
                error_ = format("The file 'Zud.dat' is invalid - line %d holds a NUL byte!", line_number_);
                return {};
            }
            const bool ended = size > 0 && line_[size - 1] == '\n';
            if (ended)
                --size;
            if (size > 0 && line_[size - 1] == '\r' && ended)
                --size;
            if (size == 0)
                continue;
            if (!ended) {
                error_ = format("The file 'Zud.dat' is invalid - it ends inside line %d, without a line end: the "
                                "file was cut short!",
                                line_number_);
                return {};
            }
            Line line;
            line.number = line_number_;
            std::size_t digits = 0;
            if (line_[0] == 'k' && size > 1 && line_[1] == '=') {
                line.kind = Kind::header;
                digits = 2;
            } else if (line_[0] == '+') {
                line.kind = Kind::difference;
                digits = 1;
            } else {
                line.kind = Kind::number;
            }
            const std::string text(line_, size);
            if (digits == size || text.find_first_not_of("0123456789", digits) != std::string::npos) {
                const bool after_number = digits < size && line_[digits] >= '0' && line_[digits] <= '9';
                badly_formed_ = true;
                error_ = format(after_number ? "The file 'Zud.dat' is invalid - line %d (\"%s\") has characters after "
                                               "its number!"
                                             : "The file 'Zud.dat' is invalid - line %d (\"%s\") is not a number, "
                                               "a \"+\" difference or a \"k=\" line!",
                                line_number_, quoted_line(text, 40).c_str());
                return {};
            }
            // The writer never writes a leading zero: "+04" is a damaged
            // "+44" or "+4", and either would give another set.
            if (line_[digits] == '0' && size > digits + 1) {
                badly_formed_ = true;
                error_ = format("The file 'Zud.dat' is invalid - line %d (\"%s\") has a number with a leading zero!",
                                line_number_, quoted_line(text, 40).c_str());
                return {};
            }
            const ParsedInt parsed = parse_leading_int(line_ + digits);
            if (parsed.overflow || parsed.value > INT32_MAX || parsed.value == 0) {
                badly_formed_ = bad_value_ = true;
                error_ = format("The file 'Zud.dat' is invalid - line %d (\"%s\") holds %s!", line_number_,
                                quoted_line(text, 40).c_str(), parsed.value == 0 ? "0" : "a number above 2^31 - 1");
                return {};
            }
            line.value = parsed.value;
            return line;
        }
        return {};
    }

    bool interrupted() const { return interrupted_; }
    // Why the read must stop, or "".
    const std::string& error() const { return error_; }
    // The read stopped at a line that is no number of 1 to 2^31 - 1 (the
    // first lines have messages of their own for that).
    bool badly_formed() const { return badly_formed_; }
    // ... and it is a number, only not one of 1 to 2^31 - 1.
    bool bad_value() const { return bad_value_; }

private:
    std::FILE* file_;
    bool badly_formed_ = false;
    bool bad_value_ = false;
    char* line_ = nullptr;
    std::size_t capacity_ = 0;
    int line_number_ = 0;
    bool interrupted_ = false;
    std::string error_;
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

// Memory the system can give now: a set beyond it would be killed or
// swapped to a standstill, not refused.
std::uint64_t memory_budget()
{
    return available_memory();
}

FileResult too_large(std::uint64_t bytes)
{
    return fail(format("There is not enough memory to hold the candidates of 'Zud.dat' (%" PRIu64 " MB needed)!",
                       bytes >> 20));
}

std::uint64_t set_bytes(std::int64_t kcount, std::int64_t words_per_k)
{
    return static_cast<std::uint64_t>(kcount) * static_cast<std::uint64_t>(3 * sizeof(std::int32_t) + 4 * words_per_k);
}

// Allocates the per-k arrays and bitmaps, zero-filled, or says why not.
FileResult allocate(CandidateSet& set, std::int64_t kcount, std::int64_t words_per_k)
{
    const std::uint64_t bytes = set_bytes(kcount, words_per_k);
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

// The n list of one k, up to the line that ends it (the end or the next
// header): ascending, within [nmin, nmax].
FileResult read_n_list(LineValueReader& reader, CandidateSet& set, std::int32_t k_index,
                       LineValueReader::Line& line)
{
    std::int32_t spacing = kSpacingBase;
    std::int64_t previous = -1;
    const std::int32_t k = set.k_values[static_cast<std::size_t>(k_index)];
    std::uint32_t* bitmap = set.bitmap(k_index);
    using Kind = LineValueReader::Kind;
    while ((line = reader.next()).kind == Kind::number || line.kind == Kind::difference) {
        std::int64_t value = line.value;
        if (line.kind == Kind::difference) {
            if (previous < 0)
                return fail(format("The file 'Zud.dat' is invalid - line %d is a difference with no n before it, "
                                   "for k=%d!",
                                   line.number, k));
            value = previous + line.value;
        } else if (value <= previous) {
            return fail(format("The file 'Zud.dat' is invalid - line %d gives n=%" PRId64
                               ", not above the n before it, for k=%d!",
                               line.number, value, k));
        }
        if (value < set.nmin || value > set.nmax)
            return fail(format("The file'Zud.dat' is invalid - for k=%d, there is n=%" PRId64
                               ", which is out of range!",
                               k, value));
        // Differences of every n, however written: a class that misses one
        // n would never sieve it.
        if (previous >= 0)
            spacing = gcd(spacing, static_cast<std::int32_t>(value - previous));
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

FileResult read_values(LineValueReader& reader, CandidateSet& set, std::int64_t file_size);

FileResult read_set(std::FILE* file, CandidateSet& set)
{
    LineValueReader reader(file);
    struct stat info {};
    const std::int64_t size = ::fstat(fileno(file), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
    FileResult result = read_values(reader, set, size);
    if (reader.interrupted())
        return fail("Reading the file 'Zud.dat' was interrupted.");
    if (!reader.error().empty())
        set.release();
    if (!result.ok)
        return result;
    if (!reader.error().empty())
        return fail(reader.error());
    return result;
}

FileResult read_values(LineValueReader& reader, CandidateSet& set, std::int64_t file_size)
{
    using Kind = LineValueReader::Kind;
    const LineValueReader::Line count = reader.next();
    if (!reader.error().empty() && !reader.badly_formed())
        return {};
    if (count.kind != Kind::number)
        return fail("The file 'Zud.dat' is invalid - bad first line!");
    const std::int64_t kcount = count.value;
    const LineValueReader::Line low = reader.next();
    const LineValueReader::Line high = reader.next();
    if (!reader.error().empty() && !reader.badly_formed())
        return {};
    if (low.kind != Kind::number || high.kind != Kind::number || low.value > high.value)
        return fail("The file 'Zud.dat' is invalid - bad range of n on lines 2 and 3!");
    const std::int64_t nmin = low.value;
    const std::int64_t nmax = high.value;
    // Every k needs a header line of at least "k=N\n": a count the file
    // cannot hold is damage, refused before anything is allocated for it.
    if (file_size >= 0 && kcount > file_size / 4)
        return fail(format("The file 'Zud.dat' is invalid - line 1 gives %" PRId64
                           " k's, more than a file of %" PRId64 " bytes can hold!",
                           kcount, file_size));
    if (FileResult r = allocate(set, kcount, (nmax - nmin + 1) / 32 + 1); !r.ok)
        return r;
    set.kcount = static_cast<std::int32_t>(kcount);
    set.nmin = static_cast<std::int32_t>(nmin);
    set.nmax = static_cast<std::int32_t>(nmax);
    LineValueReader::Line line = reader.next();
    if (line.kind != Kind::header)
        return reader.error().empty() || reader.bad_value()
                   ? fail("The file 'Zud.dat' is invalid - bad k value at line 4!")
                   : FileResult{};
    std::vector<std::pair<std::int32_t, int>> seen;   // (k, line), sorted
    seen.reserve(static_cast<std::size_t>(kcount));
    for (std::int32_t i = 0; i < set.kcount; ++i) {
        if (line.kind != Kind::header)
            return reader.error().empty() ? fail("The file 'Zud.dat' is invalid - insufficient k's!") : FileResult{};
        const auto k = static_cast<std::int32_t>(line.value);
        set.k_values[static_cast<std::size_t>(i)] = k;
        seen.emplace_back(k, line.number);
        if (FileResult r = read_n_list(reader, set, i, line); !r.ok)
            return r;
    }
    if (line.kind != Kind::end)
        return fail(format("The file 'Zud.dat' is invalid - line %d holds more than the %d k's that line 1 gives!",
                           line.number, set.kcount));
    if (!reader.error().empty())
        return {};
    // One block per k: a second block of a k would be sieved twice, or hide
    // the first one's candidates.
    std::sort(seen.begin(), seen.end());
    for (std::size_t i = 1; i < seen.size(); ++i)
        if (seen[i].first == seen[i - 1].first)
            return fail(format("The file 'Zud.dat' is invalid - line %d gives k=%d a second time (line %d)!",
                               std::max(seen[i].second, seen[i - 1].second), seen[i].first,
                               std::min(seen[i].second, seen[i - 1].second)));
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
    bool ok = write_lines(file, set) && std::fflush(file) == 0 && sync_file(fileno(file), temporary) == 0;
    int error_number = ok ? 0 : errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    return ok ? FileResult{} : write_failed(error_number);
}

// A name of our own beside Zud.dat, which the clean-up at Start removes
// if we are killed before it is renamed: "Zud.dat.new-XXXXXX".
std::string temporary_name(const DataFolder& folder, int& fd)
{
    std::string name = temporary_name_for(folder.candidate_file());
    fd = mkstemp(&name[0]);
    return name;
}

// A copy of Zud.dat under `name` (an empty file of ours), for a folder
// that takes no hard links.
int copy_candidate_file(const DataFolder& folder, int to, const std::string& name, mode_t mode)
{
    std::FILE* from = open_for_reading(folder.candidate_file().c_str());
    if (from == nullptr)
        return errno;
    int error_number = 0;
    char piece[1 << 16];
    std::size_t got;
    while (error_number == 0 && (got = std::fread(piece, 1, sizeof piece, from)) > 0)
        for (std::size_t done = 0; done < got && error_number == 0;) {
            const ssize_t written = write(to, piece + done, got - done);
            if (written < 0 && errno != EINTR)
                error_number = errno;
            else if (written > 0)
                done += static_cast<std::size_t>(written);
        }
    if (error_number == 0 && std::ferror(from) != 0)
        error_number = EIO;
    std::fclose(from);
    if (error_number == 0 && (fchmod(to, mode) != 0 || sync_file(to, name.c_str()) != 0))
        error_number = errno;
    return error_number;
}

// The previous Zud.dat becomes Zud.dat~: a second name for it (or a copy)
// is made first and then renamed over the old backup, so that there is
// always one backup. Returns 0 or why no backup could be made.
int keep_backup(const DataFolder& folder)
{
    const char* const candidate_file = folder.candidate_file().c_str();
    // A fresh name without creating a file: a link takes no inode.
    std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)));
    std::string name;
    int error_number = EEXIST;
    for (int attempt = 0; attempt < 100 && error_number == EEXIST; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xffffff));
        name = folder.candidate_file() + ".new-" + suffix;
        error_number = link(candidate_file, name.c_str()) == 0 ? 0 : errno;
        if (error_number != 0 && error_number != EEXIST) {
            const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            error_number = fd < 0 ? errno : copy_candidate_file(folder, fd, name, mode_for_replacing(candidate_file));
            if (fd >= 0) {
                close(fd);
                if (error_number != 0)
                    unlink(name.c_str());
            }
        }
    }
    if (error_number == 0 && std::rename(name.c_str(), folder.candidate_backup().c_str()) != 0) {
        error_number = errno;
        unlink(name.c_str());
    }
    return error_number;
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

FileResult read_candidate_file(const DataFolder& folder, CandidateSet& set)
{
    set.release();
    std::vector<char> buffer(1 << 16);   // outlives the stream: declared first
    std::FILE* file = open_for_reading(folder.candidate_file().c_str());
    if (file == nullptr) {
        if (errno == ENOENT)
            return fail("The file 'Zud.dat' cannot be found in the current directory!");
        const std::string unusable = unusable_reason(folder.candidate_file().c_str());
        if (!unusable.empty())
            return fail("The file 'Zud.dat' cannot be read - " + unusable + "!");
        return fail("The file 'Zud.dat' cannot be read (" + system_reason(errno) + ")!");
    }
    FileCloser closer(file);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    return read_set(file, set);
}

FileResult write_candidate_file(const DataFolder& folder, const CandidateSet& set)
{
    const char* const candidate_file = folder.candidate_file().c_str();
    // A name of our own: two instances never write into one another's file.
    int made = -1;
    const std::string temporary = temporary_name(folder, made);
    if (made < 0)
        return write_failed(errno);
    fchmod(made, mode_for_replacing(candidate_file));
    close(made);
    if (FileResult written = write_temporary(temporary.c_str(), set); !written.ok) {
        unlink(temporary.c_str());
        return written;
    }
    // Zud.dat stays in place until the new file replaces it in one rename:
    // there is never a moment without a complete Zud.dat, nor one without
    // a backup of the previous one.
    const bool replacing = file_kind(candidate_file) == FileKind::regular;
    if (replacing) {
        if (const int error_number = keep_backup(folder); error_number != 0) {
            unlink(temporary.c_str());
            return fail("No backup 'Zud.dat~' of the previous 'Zud.dat' could be made (" +
                        system_reason(error_number) + "), so 'Zud.dat' has not been replaced.");
        }
    }
    if (std::rename(temporary.c_str(), candidate_file) != 0) {
        const int error_number = errno;
        unlink(temporary.c_str());
        return write_failed(error_number);
    }
    sync_folder_holding(folder.candidate_file());
    if (replacing)
        return {true, "A new 'Zud.dat' has been written. The previous version has been renamed 'Zud.dat~'"};
    return {true, "The 'Zud.dat' file has been created."};
}

std::uint64_t candidate_file_size_bound(const CandidateSet& set)
{
    // Headers, then per k its header, its first n and at most "+1\n" for
    // every further n of the range.
    const std::uint64_t range = static_cast<std::uint64_t>(set.nmax - set.nmin);
    std::uint64_t bytes = 36;
    for (std::int32_t k : set.k_values)
        bytes += static_cast<std::uint64_t>(std::snprintf(nullptr, 0, "k=%d\n%d\n", k, set.nmax)) + 3 * range;
    return bytes;
}

std::string candidate_folder_unwritable(const DataFolder& folder)
{
    int fd = -1;
    const std::string name = temporary_name(folder, fd);
    if (fd < 0)
        return system_reason(errno);
    close(fd);
    unlink(name.c_str());
    return "";
}

FileResult allocate_candidate_set(CandidateSet& set, std::int64_t kcount, std::int32_t nmin, std::int32_t nmax)
{
    set.release();
    if (FileResult r = allocate(set, kcount, (std::int64_t{nmax} - nmin + 1) / 32 + 1); !r.ok)
        return r;
    set.kcount = static_cast<std::int32_t>(kcount);
    set.nmin = nmin;
    set.nmax = nmax;
    return {};
}

FileResult candidate_memory_check(std::int64_t kcount, std::int32_t nmin, std::int32_t nmax)
{
    const std::uint64_t bytes = set_bytes(kcount, (std::int64_t{nmax} - nmin + 1) / 32 + 1);
    return bytes > memory_budget() ? too_large(bytes) : FileResult{};
}

}  // namespace zud
