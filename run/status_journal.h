// The one writer of "ZudStatus.dat": every record goes through here, with
// its rules kept in one place: where a stop resumes, that no resume point
// steps back below what the file records or past pmax, which records reach
// the disk before the program goes on, and that a file that vanished is
// written again with its range. Front ends ask; they never write a line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "data/data_folder.h"
#include "data/file_io.h"
#include "engine/work_digest.h"
#include "run/run_record.h"

namespace zud {

class StatusJournal {
public:
    // A new range of a normal run: the header, replacing whatever the file
    // held (a completed file has been kept aside by then).
    static FileResult begin_range(const DataFolder& folder, std::int64_t pmax, std::int64_t pmin);
    // Before anything reads the file: what an interrupted write left of a
    // last record is cut, any other last line gets its line end.
    static FileResult mend(const DataFolder& folder);
    // A completed file (handed over, a new range confirmed) is kept aside
    // as "ZudStatus.dat~" before the new range's header is written.
    static FileResult keep_completed(const DataFolder& folder);

    // The record gives the range (pmin 0: initial creation), whether the
    // lines carry a work digest, and the point the file already records;
    // it must outlive the journal.
    StatusJournal(DataFolder folder, const RunRecord& record) : folder_(std::move(folder)), record_(record) {}

    // Factor lines, whole; on disk within kSyncDelay (sync_if_due) or at
    // the next record that is synced. `frontier`: every prime below it is
    // in the file before these lines (where a restored file resumes).
    FileResult append_factors(const std::string& lines, std::int64_t frontier);
    // "pmin=" (with the digest of the primes below `resume_p`, when the
    // record asks for one), synced, and everything before it: every prime
    // below `resume_p` is in.
    FileResult checkpoint(std::int64_t resume_p, const WorkDigest& digest);
    // Factor lines written more than kSyncDelay ago reach the disk; the
    // run's frontier is where a file that vanished meanwhile resumes.
    void sync_if_due(std::chrono::steady_clock::time_point now, std::int64_t frontier);
    void sync(std::int64_t frontier);
    // True once after a write found the file gone and wrote it again with
    // its range; `restored_at()` is the resume point it was given.
    bool take_restored();
    std::int64_t restored_at() const { return restored_at_; }

    // The end's record, when the front end asks after the run's final
    // event (an initial creation's once its new candidate file is written),
    // with the record's digest of every prime searched: a stop at `p`, the
    // first prime not sieved, or the whole range done. Synced.
    FileResult record_stop(std::int64_t p);
    FileResult record_done();

    static constexpr double kSyncDelaySeconds = 2.0;

private:
    FileResult append(const std::string& text, bool durable, std::int64_t frontier);
    // A resume point the reader will take: never below the recorded one,
    // never past pmax.
    std::int64_t resume_point(std::int64_t p) const;

    DataFolder folder_;
    const RunRecord& record_;
    bool dirty_ = false;
    std::chrono::steady_clock::time_point dirty_since_;
    bool restored_ = false;
    std::int64_t restored_at_ = 0;
};

}  // namespace zud
