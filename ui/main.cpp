// Entry point: the window where there is a display, else the console.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include "ui/console.h"

#ifdef ZUD_WITH_QT
int run_qt_window(int argc, char** argv);
#endif

namespace {

bool display_available()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    bool console = false;
    for (int i = 1; i < argc; ++i)
        console = console || std::strcmp(argv[i], "--console") == 0;
#ifdef ZUD_WITH_QT
    // Decided before any toolkit object exists: Qt aborts without a display.
    if (!console && !display_available()) {
        std::fprintf(stderr, "No display available: running the console front end.\n");
        console = true;
    }
    const int status = console ? zud::run_console(std::cin, std::cout, isatty(STDOUT_FILENO) != 0)
                               : run_qt_window(argc, argv);
#else
    (void)display_available;
    const int status = zud::run_console(std::cin, std::cout, isatty(STDOUT_FILENO) != 0);
#endif
    std::fflush(nullptr);
    // A worker may still run (an exit during a run) or be leaving its last
    // send: end at once, without static destructors.
    std::_Exit(status);
}
