// The record on disk, written as the status file is: open, append, close.
#include "app/sieve_log.h"

#include <cstdio>
#include <sys/stat.h>


namespace zud {

std::string sieve_log_path(const DataFolder& folder)
{
    return folder_holding(folder.status_file()) + "/zudsieve.log";
}

void append_sieve_log(const DataFolder& folder, const std::string& text, std::time_t when)
{
    const std::string path = sieve_log_path(folder);
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && info.st_size >= kSieveLogLimit)
        std::rename(path.c_str(), (path + ".1").c_str());
    std::string line = text;
    for (std::string::size_type at = line.find_first_of("\r\n"); at != std::string::npos;
         at = line.find_first_of("\r\n", at)) {
        const std::string::size_type end = line.find_first_not_of("\r\n", at);
        line.replace(at, (end == std::string::npos ? line.size() : end) - at, " ");
    }
    char stamp[32] = "";
    std::tm local {};
    if (localtime_r(&when, &local) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr)
        return;
    std::fprintf(file, "%s %s\n", stamp, line.c_str());
    std::fclose(file);
}

}  // namespace zud
