// One program per folder: an exclusive lock held from Start until the run's
// records are written, so that two instances never write the same files.
// The lock is a file of the owner's in the data folder that nobody else may
// open, so that another user, who may well read the folder, cannot hold it.
#pragma once

#include <string>

#include "data/data_folder.h"

namespace zud {

// The lock file's name in the data folder.
extern const char* const kLockFileName;   // ".ZudSieve.lock"

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock on the data folder without waiting. On failure
    // `message` says why: another ZudSieve holds it, the lock file is not
    // the user's own, or the system refused.
    bool acquire(const DataFolder& folder, std::string& message);
    // Removes the lock file and lets go of it.
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace zud
