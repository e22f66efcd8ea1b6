// The file seam, whole-text appends and replacements, and the checks that
// keep devices, FIFOs and folders out of the data files' places.
#include "data/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zud {

std::atomic<bool> read_interrupted{false};

namespace {

std::atomic<FileOpener> g_opener{nullptr};
std::atomic<WriteLimiter> g_limiter{nullptr};

// Temporary names: "<name>.new-XXXXXX", unique per writer.
const char* const kTemporaryMark = ".new";

// An open descriptor through the seam: a test's opener decides whether the
// open works, the descriptor is ours.
int open_descriptor(const char* path, const char* mode, int flags)
{
    FileOpener opener = g_opener.load();
    if (opener == nullptr)
        return ::open(path, flags | O_CLOEXEC, 0666);
    std::FILE* file = opener(path, mode);
    if (file == nullptr)
        return -1;
    const int fd = ::dup(fileno(file));
    const int error_number = errno;
    std::fclose(file);
    errno = error_number;
    return fd;
}

// write(2) until all is down or it fails; a test's limiter may cut it short.
bool write_all(int fd, const char* path, const char* data, std::size_t size)
{
    if (WriteLimiter limiter = g_limiter.load()) {
        const std::size_t allowed = limiter(path, size);
        if (allowed < size) {
            const int error_number = errno;
            if (allowed > 0)
                write_all(fd, path, data, allowed);
            errno = error_number != 0 ? error_number : ENOSPC;
            return false;
        }
    }
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void cut_back(int fd, off_t size)
{
    while (::ftruncate(fd, size) != 0 && errno == EINTR) {
    }
}

int close_checked(int fd, int error_number)
{
    if (::close(fd) != 0 && error_number == 0)
        error_number = errno;
    return error_number;
}

bool has_temporary_name(const char* entry, const std::string& base)
{
    return std::strncmp(entry, base.c_str(), base.size()) == 0 &&
           std::strncmp(entry + base.size(), kTemporaryMark, 4) == 0;
}

// The temporaries of the file `path`, in the folder that holds it.
void remove_temporaries_of(const std::string& path)
{
    const std::string folder_path = folder_holding(path);
    const std::string base = name_in_folder(path);
    DIR* folder = ::opendir(folder_path.c_str());
    if (folder == nullptr)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        if (!has_temporary_name(entry->d_name, base))
            continue;
        const std::string leftover = folder_path == "." ? std::string(entry->d_name)
                                                        : folder_path + "/" + entry->d_name;
        if (file_kind(leftover.c_str()) == FileKind::regular)
            ::unlink(leftover.c_str());
    }
    ::closedir(folder);
}

}  // namespace

mode_t mode_for_replacing(const char* path)
{
    struct stat info {};
    if (::stat(path, &info) == 0 && S_ISREG(info.st_mode))
        return info.st_mode & 07777;
    // The umask without changing it, which other threads would notice.
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(0666 & ~mask);
    }
    return 0644;
}

std::FILE* open_file(const char* path, const char* mode)
{
    FileOpener opener = g_opener.load();
    return opener != nullptr ? opener(path, mode) : std::fopen(path, mode);
}

void set_file_opener(FileOpener opener)
{
    g_opener.store(opener);
}

void set_write_limiter(WriteLimiter limiter)
{
    g_limiter.store(limiter);
}

std::string system_reason(int error_number)
{
    return error_number != 0 ? std::strerror(error_number) : "unknown error";
}

FileKind file_kind(const char* path)
{
    struct stat info {};
    if (::stat(path, &info) != 0)
        return FileKind::missing;
    if (S_ISREG(info.st_mode))
        return FileKind::regular;
    return S_ISDIR(info.st_mode) ? FileKind::folder : FileKind::other;
}

std::string unusable_reason(const char* path)
{
    switch (file_kind(path)) {
    case FileKind::folder:
        return "it is a folder";
    case FileKind::other:
        return "it is not a regular file";
    default:
        return "";
    }
}

std::FILE* open_for_reading(const char* path)
{
    if (!unusable_reason(path).empty()) {
        errno = EINVAL;
        return nullptr;
    }
    if (g_opener.load() != nullptr)
        return open_file(path, "r");
    // O_NONBLOCK: a FIFO put in the file's place since the check must not
    // hang the open.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "r");
    if (file == nullptr)
        ::close(fd);
    return file;
}

int append_whole(const char* path, const std::string& text, bool durable)
{
    if (!unusable_reason(path).empty())
        return EINVAL;
    // Never created here: a file that vanished would come back without its
    // range header. The caller decides what to write then (ENOENT).
    int fd = open_descriptor(path, "a+", O_RDWR | O_APPEND | O_NONBLOCK);
    if (fd < 0 && errno == EACCES)   // a file we may write but not read
        fd = open_descriptor(path, "a", O_WRONLY | O_APPEND | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return close_checked(fd, EINVAL);
    // A line someone added without its line end must not swallow the
    // first line of this text.
    char last = '\n';
    std::string ended;
    if (!text.empty() && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') {
        ended = "\n" + text;
    }
    const std::string& whole = ended.empty() ? text : ended;
    // Earlier texts reach the disk before this one can: a resume point
    // never survives a power cut that the factor lines before it did not.
    if (durable && synced(SyncKind::data, fd, path) != 0)
        return close_checked(fd, errno);
    if (!write_all(fd, path, whole.data(), whole.size())) {
        const int error_number = errno;
        // Cut back to the last complete line: half a factor line would be
        // read as a factor and as a resume point.
        cut_back(fd, info.st_size);
        return close_checked(fd, error_number);
    }
    if (durable && synced(SyncKind::data, fd, path) != 0) {
        const int error_number = errno;
        cut_back(fd, info.st_size);
        return close_checked(fd, error_number);
    }
    return close_checked(fd, 0);
}

int replace_whole(const char* path, const std::string& text)
{
    if (!unusable_reason(path).empty())
        return EINVAL;
    std::string temporary = temporary_name_for(path);
    const int made = ::mkstemp(&temporary[0]);
    if (made < 0)
        return errno;
    // mkstemp makes 0600: the new file takes the mode of the one it
    // replaces, or what the umask gives a new file.
    ::fchmod(made, mode_for_replacing(path));
    ::close(made);
    const int fd = open_descriptor(temporary.c_str(), "w", O_WRONLY | O_TRUNC);
    int error_number = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (!write_all(fd, temporary.c_str(), text.data(), text.size()) ||
            synced(SyncKind::file, fd, temporary.c_str()) != 0)
            error_number = errno;
        error_number = close_checked(fd, error_number);
    }
    if (error_number == 0 && ::rename(temporary.c_str(), path) != 0)
        error_number = errno;
    if (error_number != 0) {
        ::unlink(temporary.c_str());
        return error_number;
    }
    sync_folder_holding(path);
    return 0;
}

void sync_folder_holding(const std::string& path)
{
    const std::string folder = folder_holding(path);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        synced(SyncKind::folder, fd, folder.c_str());
        ::close(fd);
    }
}

int sync_file(int fd, const char* path)
{
    return synced(SyncKind::file, fd, path);
}

std::string temporary_name_for(const std::string& path)
{
    return path + kTemporaryMark + "-XXXXXX";
}

void remove_leftover_temporaries(const DataFolder& folder)
{
    remove_temporaries_of(folder.candidate_file());
    remove_temporaries_of(folder.status_file());
}

std::uint64_t available_memory()
{
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, meminfo) != nullptr)
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        std::fclose(meminfo);
        if (found)
            return static_cast<std::uint64_t>(kib) * 1024;
    }
    return static_cast<std::uint64_t>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<std::uint64_t>(sysconf(_SC_PAGE_SIZE));
}

std::string current_folder()
{
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

namespace {
std::atomic<SyncObserver> g_sync_observer{nullptr};
}  // namespace

void set_sync_observer(SyncObserver observer)
{
    g_sync_observer.store(observer);
}

int synced(SyncKind kind, int fd, const char* path)
{
    const int result = kind == SyncKind::data ? ::fdatasync(fd) : ::fsync(fd);
    const int error_number = errno;
    if (const SyncObserver observer = g_sync_observer.load())
        observer(kind, path);
    errno = error_number;
    return result;
}

}  // namespace zud
