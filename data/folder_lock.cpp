// flock(2) on a file created with mode 0600: released by the system when the
// process ends, so a killed instance never leaves a stale lock behind, and
// open to nobody but its owner, so that only the owner's programs can hold it.
#include "data/folder_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/file_io.h"

namespace zud {

const char* const kLockFileName = ".ZudSieve.lock";

namespace {

std::string cannot_lock(const DataFolder& folder, const std::string& why)
{
    return "The folder '" + folder.shown() + "' cannot be locked (" + why + ")!";
}

}  // namespace

bool FolderLock::acquire(const DataFolder& folder, std::string& message)
{
    if (held())
        return true;
    const std::string path = folder.path() + "/" + kLockFileName;
    // A holder that is letting go removes the file after we opened it: the
    // lock then goes with a name nobody else finds, so take the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0) {
            const int error_number = errno;
            struct stat info {};
            if (error_number == EACCES && ::lstat(path.c_str(), &info) == 0 && info.st_uid != ::geteuid())
                message = cannot_lock(folder, std::string("its lock file ") + kLockFileName +
                                                  " belongs to another user; if no ZudSieve of theirs works there, "
                                                  "delete it");
            else if (error_number == ELOOP)
                message = cannot_lock(folder, std::string(kLockFileName) + " is not a regular file");
            else
                message = cannot_lock(folder, system_reason(error_number));
            return false;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            const bool regular = S_ISREG(info.st_mode);
            ::close(fd);
            message = cannot_lock(folder, std::string(kLockFileName) +
                                              (regular ? " belongs to another user; if no ZudSieve of theirs works "
                                                         "there, delete it"
                                                       : " is not a regular file"));
            return false;
        }
        if ((info.st_mode & 077) != 0) {
            // Others may have it open already: a new file, private from its
            // creation, takes its place.
            ::unlink(path.c_str());
            ::close(fd);
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error_number = errno;
            ::close(fd);
            if (error_number == EWOULDBLOCK)
                message = "ZudSieve is already running in the folder '" + folder.shown() +
                          "'. Only one ZudSieve may work in a folder at a time.";
            else
                message = cannot_lock(folder, system_reason(error_number));
            return false;
        }
        struct stat named {};
        if (::lstat(path.c_str(), &named) != 0 || named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        path_ = path;
        return true;
    }
    message = cannot_lock(folder, std::string(kLockFileName) + " keeps changing");
    return false;
}

void FolderLock::release()
{
    if (fd_ >= 0) {
        // Removed while still held: whoever opened it meanwhile sees that
        // it is gone and makes a new one.
        ::unlink(path_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace zud
