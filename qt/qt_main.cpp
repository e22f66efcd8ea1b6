// The entry of the window front end.
#include "qt/qt_window.h"

int run_qt_window(int argc, char** argv, const zud::StartOptions& options)
{
    return zud::qt::run_window(argc, argv, options);
}
