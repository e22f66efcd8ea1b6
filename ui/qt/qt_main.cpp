// The Qt front end's entry (the window arrives in its own change).
#include <iostream>
#include <unistd.h>

#include "ui/console.h"

int run_qt_window(int, char**)
{
    return zud::run_console(std::cin, std::cout, isatty(STDOUT_FILENO) != 0);
}
