#include "support/child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

std::string in_child(const std::function<std::string()>& body) {
    int ends[2];
    if (pipe(ends) != 0) return "<pipe failed>";
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const std::string result = body();
        ssize_t ignored = write(ends[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(ends[1]);
    std::string result;
    char bytes[512];
    ssize_t got;
    while ((got = read(ends[0], bytes, sizeof bytes)) > 0) result.append(bytes, size_t(got));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return result;
}

live_process::live_process() {
    pid_ = fork();
    if (pid_ == 0) {
        for (;;) pause();
    }
}

live_process::~live_process() {
    // A failed fork leaves -1, and kill(-1) would reach every process we may signal.
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

bool exclusive_mode_visible() {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    int exclusive = 0;
    const bool visible = ioctl(slave, TIOCGEXCL, &exclusive) == 0;
    close(master);
    close(slave);
    return visible;
}

port_holder::port_holder(const std::string& device, port_claim claim, int release_after_ms) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) _exit(1);
        const int claimed = claim == port_claim::flock ? flock(fd, LOCK_EX) : ioctl(fd, TIOCEXCL);
        if (claimed != 0 || write(ready[1], "x", 1) != 1) _exit(1);
        if (release_after_ms < 0) {
            for (;;) pause();
        }
        usleep(static_cast<useconds_t>(release_after_ms) * 1000);
        _exit(0);
    }
    char byte = 0;
    holding_ = pid_ > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    close(ready[1]);
}

void port_holder::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    holding_ = false;
}

pid_t dead_pid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

std::string pid_text(pid_t pid) {
    char text[16];
    snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}
