// A virtual X server for the tests that need a real window, and a way to wait for a child.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace game {

using Clock = std::chrono::steady_clock;

inline bool xvfbAvailable() {
    return ::access("/usr/bin/Xvfb", X_OK) == 0;
}

// A virtual X server on a display number of its own choosing, ended with the test.
struct VirtualDisplay {
    pid_t pid = -1;
    std::string name; // ":N"

    bool start() {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                    "1024x768x24", "-nolisten", "tcp", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) return false;
        name = ":" + number;
        return true;
    }
    ~VirtualDisplay() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Waits up to `limit` for the child to end; its wait status, or -1 if it is still running.
inline int waitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

} // namespace game
