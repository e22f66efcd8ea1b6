// The console front end as a user runs it: the real program in a folder of
// its own, with its input from a file and its output in out.txt.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "temp_dir.h"

namespace zud_test {

// In a forked child: becomes `zudsieve ARGS`.
[[noreturn]] inline void exec_sieve(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{ZUD_SIEVE_BINARY};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    execv(ZUD_SIEVE_BINARY, const_cast<char* const*>(argv.data()));
    _exit(127);
}

class Console : public TempDirTest {
protected:
    // Starts `zudsieve --console ARGS` here, input from `input_file`, output
    // (both streams) to out.txt unless `out_fd` is given.
    pid_t start(const std::string& input_file = "/dev/null", const std::vector<std::string>& args = {},
                int out_fd = -1)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const int in = open(input_file.c_str(), O_RDONLY);
            const int out = out_fd >= 0 ? out_fd : open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open("out.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out_fd >= 0 ? err : out, 2);
            setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
            std::vector<std::string> console_args{"--console"};
            console_args.insert(console_args.end(), args.begin(), args.end());
            exec_sieve(console_args);
        }
        return pid;
    }
    static int wait_exit(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The exit status, or -1 after killing a program that did not end in time.
    static int wait_exit_within(pid_t pid, int seconds)
    {
        for (int i = 0; i < seconds * 100; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    int run(const std::string& input_file = "/dev/null") { return wait_exit(start(input_file)); }
    // Waits (up to 10 s) until out.txt holds `text`.
    static bool wait_for_output(const std::string& text)
    {
        for (int i = 0; i < 1000; ++i) {
            if (read_file("out.txt").find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Waits until the program says it sieves, then a little longer.
    static void wait_for_sieving(int extra_ms)
    {
        wait_for_output("Sieving...");
        std::this_thread::sleep_for(std::chrono::milliseconds(extra_ms));
    }
};

}  // namespace zud_test
