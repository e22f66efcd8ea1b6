// A stand-in for the BOINC client: a slot folder with init_data.xml and the
// shared-memory file boinc_mmap_file in the client's layout (8 channels of
// 1,024 bytes; byte 0 is 1 while a message waits, its text follows), the
// program started in it, a heartbeat every second, the control messages,
// and the fraction done read back from the app_status channel.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zud_test {

enum Channel { process_control_request = 0, heartbeat = 4, app_status = 5 };
constexpr int kChannelSize = 1024;
constexpr int kChannels = 8;

class StandInClient {
public:
    StandInClient(const std::string& slot, int ncpus) : slot_(slot)
    {
        std::ofstream(slot + "/init_data.xml")
            << "<app_init_data>\n<major_version>7</major_version>\n<minor_version>20</minor_version>\n"
               "<release>5</release>\n<app_name>zudsieve</app_name>\n<wu_name>zud_test</wu_name>\n"
               "<result_name>zud_test_0</result_name>\n<shm_key>-1</shm_key>\n<ncpus>"
            << ncpus << "</ncpus>\n<checkpoint_period>1</checkpoint_period>\n</app_init_data>\n";
        const int fd = ::open((slot + "/boinc_mmap_file").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0 && ::ftruncate(fd, kChannels * kChannelSize) == 0)
            shm_ = static_cast<char*>(::mmap(nullptr, kChannels * kChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        if (fd >= 0)
            ::close(fd);
        if (shm_ == MAP_FAILED)
            shm_ = nullptr;
    }
    ~StandInClient()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait_exit(10);
        }
        stop_ticking();
        if (shm_ != nullptr)
            ::munmap(shm_, kChannels * kChannelSize);
    }
    StandInClient(const StandInClient&) = delete;
    StandInClient& operator=(const StandInClient&) = delete;

    bool ready() const { return shm_ != nullptr; }

    // Starts `program args` in the slot, stderr to stderr.txt.
    void start(const std::string& program, const std::vector<std::string>& args)
    {
        std::memset(shm_, 0, kChannels * kChannelSize);
        fraction_.store(-1);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(slot_.c_str()) != 0)
                ::_exit(120);
            const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(121);
        }
        beating_.store(true);
        ticking_.store(true);
        ticker_ = std::thread([this] { tick(); });
    }

    // The client dies: no more heartbeats.
    void stop_heartbeat() { beating_.store(false); }

    // Waits for the channel to be free (the program reads it ten times a
    // second), then posts `message`.
    bool send(const char* message)
    {
        for (int i = 0; i < 100; ++i) {
            if (post(process_control_request, message))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    double fraction_done() const { return fraction_.load(); }

    // User and system time of the program so far, in clock ticks.
    long cpu_ticks() const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos)
            return -1;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        return utime + stime;
    }

    // The exit status (128 + signal when killed), or -1 after `seconds`.
    int wait_exit(int seconds)
    {
        for (int i = 0; i < seconds * 20 && pid_ > 0; ++i) {
            int status = 0;
            const pid_t got = ::waitpid(pid_, &status, WNOHANG);
            if (got == pid_) {
                pid_ = 0;
                stop_ticking();
                read_status();   // the last report, made as it ended
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

    void kill_now()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }

private:
    bool post(Channel channel, const char* message)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        char* buf = shm_ + channel * kChannelSize;
        if (__atomic_load_n(buf, __ATOMIC_ACQUIRE) != 0)
            return false;
        std::strncpy(buf + 1, message, kChannelSize - 2);
        __atomic_store_n(buf, 1, __ATOMIC_RELEASE);
        return true;
    }

    void read_status()
    {
        char* buf = shm_ + app_status * kChannelSize;
        if (__atomic_load_n(buf, __ATOMIC_ACQUIRE) == 0)
            return;
        const std::string text(buf + 1, strnlen(buf + 1, kChannelSize - 1));
        __atomic_store_n(buf, 0, __ATOMIC_RELEASE);
        const std::size_t at = text.find("<fraction_done>");
        if (at != std::string::npos)
            fraction_.store(std::atof(text.c_str() + at + 15));
    }

    void tick()
    {
        for (int i = 0; ticking_.load(); ++i) {
            read_status();
            if (i % 10 == 0 && beating_.load())
                post(heartbeat, "<heartbeat/>");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    void stop_ticking()
    {
        ticking_.store(false);
        if (ticker_.joinable())
            ticker_.join();
    }

    std::string slot_;
    char* shm_ = nullptr;
    pid_t pid_ = 0;
    std::mutex mutex_;
    std::atomic<bool> beating_{false};
    std::atomic<bool> ticking_{false};
    std::atomic<double> fraction_{-1};
    std::thread ticker_;
};

}  // namespace zud_test
