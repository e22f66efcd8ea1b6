// The status file's records and when each reaches the disk.
#include "run/status_journal.h"

#include <algorithm>

#include "data/digest_line.h"
#include "data/status_file.h"

namespace zud {

FileResult StatusJournal::begin_range(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin)
{
    return write_range_header(folder, pmax, pmin);
}

FileResult StatusJournal::mend(const DataFolder& folder)
{
    return repair_status_file(folder);
}

FileResult StatusJournal::keep_completed(const DataFolder& folder)
{
    return keep_completed_results(folder);
}

std::int64_t StatusJournal::resume_point(std::int64_t p) const
{
    // A restart from an earlier digest line searches again primes the file
    // already calls sieved; the reader takes a step back, or a point past
    // the range, for damage.
    return std::min(std::max(p, record_.recorded_p), record_.pmax);
}

// Appends; a file that vanished is written again with its range header,
// from `frontier` on, and the run is told. An initial creation has no
// range in the file to restore.
FileResult StatusJournal::append(const std::string& text, bool durable, std::int64_t frontier)
{
    FileResult written = append_status_text(folder_, text, durable);
    if (written.ok || record_.pmin == 0 || file_kind(folder_.status_file().c_str()) != FileKind::missing)
        return written;
    written = restore_status_file(folder_, record_.pmax, frontier, text);
    if (written.ok) {
        restored_ = true;
        restored_at_ = frontier;
    }
    return written;
}

FileResult StatusJournal::append_factors(const std::string& lines, std::int64_t frontier)
{
    if (lines.empty())
        return {};
    // A dense range writes a million lines a second: they are synced in
    // bulk, a little later, not one batch at a time.
    const FileResult written = append(lines, false, frontier);
    if (written.ok && !dirty_) {
        dirty_since_ = std::chrono::steady_clock::now();
        dirty_ = true;
    }
    return written;
}

FileResult StatusJournal::checkpoint(std::int64_t resume_p, const WorkDigest& digest)
{
    std::string text = checkpoint_line(resume_point(resume_p));
    if (record_.digest_wanted)
        text += digest_line({resume_p, digest});
    // A resume point the disk holds without the lines below it would skip
    // their factors: synced before and after.
    const FileResult written = append(text, true, resume_p);
    if (written.ok)
        dirty_ = false;
    return written;
}

void StatusJournal::sync_if_due(std::chrono::steady_clock::time_point now, std::int64_t frontier)
{
    if (dirty_ && std::chrono::duration<double>(now - dirty_since_).count() >= kSyncDelaySeconds &&
        append("", true, frontier).ok)
        dirty_ = false;
}

void StatusJournal::sync(std::int64_t frontier)
{
    if (dirty_ && append("", true, frontier).ok)
        dirty_ = false;
}

bool StatusJournal::take_restored()
{
    const bool restored = restored_;
    restored_ = false;
    return restored;
}

FileResult StatusJournal::record_done()
{
    if (record_.pmin == 0)
        return write_done_initial(folder_);
    // A task's proof that the whole range was searched comes first.
    return append_status_text(
        folder_, (record_.digest_wanted ? digest_line({record_.pmax + 1, record_.digest}) : std::string()) + "Done\n",
        true);
}

FileResult StatusJournal::record_stop(std::int64_t p)
{
    // The engine returns the prime it fetched but did not sieve.
    if (record_.pmin == 0)
        return write_stop_record(folder_, resume_point(p - 1), record_.pmax);
    // Before the first odd prime nothing was sieved: the file says so already.
    if (p < 3)
        return {};
    std::string text = checkpoint_line(resume_point(p - 1));
    if (record_.digest_wanted)
        text += digest_line({p, record_.digest});
    return append_status_text(folder_, text, true);
}

}  // namespace zud
