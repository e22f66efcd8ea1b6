#include "cli/boinc_slot.h"

#include <cstdio>
#include <cstring>

#include "data/file_io.h"
#include "data/parse.h"

namespace zud {

bool in_boinc_slot()
{
    if (file_kind("init_data.xml") != FileKind::regular)
        return false;
    if (file_kind("boinc_mmap_file") == FileKind::regular)
        return true;
    // The Debian client shares its memory through a System V key instead;
    // a hand-made init_data.xml has none (or -1, the file's mark).
    std::FILE* file = open_for_reading("init_data.xml");
    if (file == nullptr)
        return false;
    char line[1024];
    bool keyed = false;
    while (!keyed && std::fgets(line, sizeof line, file) != nullptr) {
        const char* key = std::strstr(line, "<shm_key>");
        keyed = key != nullptr && parse_leading_int(key + 9).value != -1;
    }
    std::fclose(file);
    return keyed;
}

}  // namespace zud
