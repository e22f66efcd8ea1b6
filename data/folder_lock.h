// One program per folder: an exclusive lock on the folder itself, held from
// Start until the run's records are written, so that two instances never
// write the same files.
#pragma once

#include <string>

#include "data/data_folder.h"

namespace zud {

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock on the data folder without waiting. On failure
    // `message` says why: another ZudSieve holds it, or the system refused.
    bool acquire(const DataFolder& folder, std::string& message);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace zud
