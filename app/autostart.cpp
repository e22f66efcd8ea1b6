// The autostart entry.
#include "app/autostart.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "data/file_io.h"
#include "app/settings.h"

namespace zud {

namespace {

// A desktop entry's Exec argument: quoted, with its reserved characters
// escaped, so that a path with blanks still names the program.
std::string exec_argument(const std::string& program)
{
    std::string quoted = "\"";
    for (char c : program) {
        // Escaped for the quoting rule, then each backslash again for the
        // entry's string rule.
        if (c == '"' || c == '`' || c == '$')
            quoted += "\\\\";
        if (c == '\\')
            quoted += "\\\\\\";
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string autostart_path()
{
    return config_folder() + "/autostart/zudsieve.desktop";
}

bool autostart_enabled()
{
    return ::access(autostart_path().c_str(), F_OK) == 0;
}

std::string autostart_entry(const std::string& program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=ZudSieve\n"
           "Comment=Sieves for factors of k*2^n+1, started with the session\n"
           "Exec=" + exec_argument(program) + "\n"
           "Icon=zudsieve\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string set_autostart(bool enabled, const std::string& program)
{
    const std::string path = autostart_path();
    if (!enabled) {
        if (std::remove(path.c_str()) != 0 && errno != ENOENT)
            return "The file '" + path + "' could not be removed (" + system_reason(errno) + ").";
        return {};
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    ::mkdir(config_folder().c_str(), 0700);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "The folder '" + folder + "' could not be made (" + system_reason(errno) + ").";
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << autostart_entry(program);
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return "The file '" + path + "' could not be written.";
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        return "The file '" + path + "' could not be written (" + system_reason(error) + ").";
    }
    return {};
}

}  // namespace zud
