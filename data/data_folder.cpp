// Paths of the data files, joined once here.
#include "data/data_folder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "data/file_io.h"

namespace zud {

const char* const kCandidateFileName = "Zud.dat";
const char* const kStatusFileName = "ZudStatus.dat";

namespace {

std::string inside(const std::string& folder, const char* name)
{
    if (folder.empty() || folder == ".")
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

DataFolder::DataFolder(const std::string& folder)
    : folder_(folder.empty() ? std::string(".") : folder),
      candidate_(inside(folder, kCandidateFileName)),
      status_(inside(folder, kStatusFileName))
{
}

DataFolder DataFolder::mapped(const std::string& candidate_file, const std::string& status_file)
{
    DataFolder folder(folder_holding(status_file));
    folder.candidate_ = candidate_file;
    folder.status_ = status_file;
    folder.mapped_ = true;
    return folder;
}

std::string DataFolder::shown() const
{
    return folder_ == "." ? current_folder() : full_folder_path(folder_);
}

std::string folder_holding(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string name_in_folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_unusable(const std::string& folder)
{
    // What changing into the folder would have said: a folder we may enter.
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return system_reason(errno);
    if (!S_ISDIR(info.st_mode))
        return system_reason(ENOTDIR);
    if (::access(folder.c_str(), X_OK) != 0)
        return system_reason(errno);
    return {};
}

std::string full_folder_path(const std::string& folder)
{
    char buffer[PATH_MAX];
    return ::realpath(folder.c_str(), buffer) != nullptr ? std::string(buffer) : folder;
}

}  // namespace zud
