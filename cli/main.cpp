// Entry point: the command line, then the window where there is a display,
// else the console.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/search/instruction_set.h"
#include "engine/opencl/devices.h"
#include "run/self_test.h"
#include "run/worker_count.h"
#include "cli/boinc_slot.h"
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/file_commands.h"

#ifdef ZUD_WITH_QT
int run_qt_window(int argc, char** argv, const zud::StartOptions& options);
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

// An X display named by DISPLAY that does not answer would make the
// toolkit abort: asked first, through the X library itself where it is
// installed (the window's toolkit needs it anyway). True when it answers,
// or when nothing can tell.
bool x_display_answers(std::string& display)
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* name = std::getenv("DISPLAY");
    if ((wayland != nullptr && wayland[0] != '\0') || (platform != nullptr && std::strncmp(platform, "xcb", 3) != 0 &&
                                                      platform[0] != '\0') ||
        name == nullptr || name[0] == '\0')
        return true;
    display = name;
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr)
        return true;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    bool answers = true;
    if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
        void* connection = connect(name, nullptr);
        answers = connection != nullptr && has_error(connection) == 0;
        if (connection != nullptr)
            disconnect(connection);
    }
    ::dlclose(xcb);
    return answers;
}

// Status 2 for a command line the program cannot act on.
int refuse(const std::string& error)
{
    std::cerr << "zudsieve: " << error << "\n" << zud::usage_text() << "Try 'zudsieve --help'.\n";
    return 2;
}

// --help and --version: a text that did not reach its reader is a failure.
int print_text(const std::string& text)
{
    errno = 0;
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (written)
        return 0;
    std::fprintf(stderr, "zudsieve: the text could not be written (%s)\n", std::strerror(errno != 0 ? errno : EIO));
    return 1;
}

// The BOINC application is the program zudsieve-boinc, so that this one
// needs no BOINC library. A task started as this program (`--boinc`, or by
// a client in its slot) becomes that program in the same process: the
// client keeps watching the process it started, with the same arguments and
// folder. The one beside this executable comes first, then the PATH's.
int hand_to_boinc_application(char** argv)
{
    static char name[] = "zudsieve-boinc";
    argv[0] = name;
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string beside(self, static_cast<std::size_t>(length));
        beside = beside.substr(0, beside.rfind('/') + 1) + name;
        ::execv(beside.c_str(), argv);
    }
    ::execvp(name, argv);
    return refuse(std::string("the BOINC application is the program zudsieve-boinc (package zudsieve-boinc), "
                              "which could not be started (") + std::strerror(errno) + ")");
}

// --list-devices: a line for each OpenCL device, or why there is none.
int list_devices()
{
    const std::vector<zud::DeviceInfo> devices = zud::list_devices();
    if (devices.empty())
        return print_text(std::string(zud::kNoDeviceText) + "\n");
    std::string text;
    for (const zud::DeviceInfo& device : devices)
        text += zud::describe_device(device) + "\n";
    return print_text(text);
}

int run(int argc, char** argv)
{
    // The one choice of search, before anything runs; ZUDSIEVE_ISA may cap it.
    const zud::InstructionSet instruction_set = zud::decide_instruction_set();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--boinc") != args.end() || zud::in_boinc_slot())
        return hand_to_boinc_application(argv);
    const zud::CommandLine line = zud::parse_command_line(args, zud::default_worker_count());
    switch (line.action) {
    case zud::CommandLine::Action::help:
        return print_text(zud::help_text());
    case zud::CommandLine::Action::version:
        return print_text(zud::version_text(instruction_set));
    case zud::CommandLine::Action::self_test:
        return zud::run_self_test(instruction_set, [](const std::string& text) { print_text(text + "\n"); }) ? 0 : 1;
    case zud::CommandLine::Action::list_devices:
        return list_devices();
    case zud::CommandLine::Action::refused:
        return refuse(line.error);
    case zud::CommandLine::Action::file_command:
        return zud::run_file_command(line.files, line.folder, stdout, stderr);
    case zud::CommandLine::Action::run:
        break;
    }
    zud::StartOptions start = line.start;
    start.instruction_set = instruction_set;
    start.device = zud::device_from_environment(start.device);
    if (!line.warning.empty())
        std::cerr << "zudsieve: " << line.warning << "\n";
    if (start.device_alone && start.device < 0) {
        std::cerr << "zudsieve: --workers 0 needs an OpenCL device (--device N): the Workers setting is used\n";
        start.device_alone = false;
    }
    if (!line.folder.empty())
        if (const std::string unusable = zud::folder_unusable(line.folder); !unusable.empty())
            return refuse("cannot work in the folder '" + line.folder + "' (" + unusable + ")");
    bool console = line.console;
#ifdef ZUD_WITH_QT
    // Decided before any toolkit object exists: Qt aborts without a display.
    if (!console && !display_available()) {
        std::fprintf(stderr, "No display available: running the console front end.\n");
        console = true;
    }
    std::string display;
    if (!console && !x_display_answers(display)) {
        std::fprintf(stderr, "The display '%s' does not answer: running the console front end.\n", display.c_str());
        console = true;
    }
    if (!console)
        return run_qt_window(argc > 0 ? 1 : 0, argv, start);
#else
    (void)display_available;
    (void)x_display_answers;
    (void)console;
#endif
    return zud::run_console(std::cin, std::cout, isatty(STDOUT_FILENO) != 0, start);
}

}  // namespace

int main(int argc, char** argv)
{
    // A closed output pipe ends the output, never a run.
    std::signal(SIGPIPE, SIG_IGN);
    const int status = run(argc, argv);
    std::fflush(nullptr);
    // A worker may still run (an exit during a run) or be leaving its last
    // send: end at once, without static destructors.
    std::_Exit(status);
}
