// flock(2) on the folder: released by the system when the process ends, so
// a killed instance never leaves a stale lock behind.
#include "data/folder_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "data/file_io.h"

namespace zud {

bool FolderLock::acquire(const DataFolder& folder, std::string& message)
{
    if (held())
        return true;
    const int fd = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error_number = errno;
        message = "The folder '" + folder.shown() + "' cannot be opened (" + system_reason(error_number) + ")!";
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error_number = errno;
        ::close(fd);
        if (error_number == EWOULDBLOCK)
            message = "ZudSieve is already running in the folder '" + folder.shown() +
                      "'. Only one ZudSieve may work in a folder at a time.";
        else
            message = "The folder '" + folder.shown() + "' cannot be locked (" + system_reason(error_number) + ")!";
        return false;
    }
    fd_ = fd;
    return true;
}

void FolderLock::release()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace zud
