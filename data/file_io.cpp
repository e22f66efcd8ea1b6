// The file-opening seam and shared file names.
#include "data/file_io.h"

#include <atomic>
#include <cstring>

namespace zud {

const char* const kCandidateFile = "Zud.dat";
const char* const kCandidateBackup = "Zud.dat~";
const char* const kStatusFile = "ZudStatus.dat";

namespace {

std::atomic<FileOpener> g_opener{nullptr};

}  // namespace

std::FILE* open_file(const char* path, const char* mode)
{
    FileOpener opener = g_opener.load();
    return opener != nullptr ? opener(path, mode) : std::fopen(path, mode);
}

void set_file_opener(FileOpener opener)
{
    g_opener.store(opener);
}

std::string system_reason(int error_number)
{
    return error_number != 0 ? std::strerror(error_number) : "unknown error";
}

}  // namespace zud
