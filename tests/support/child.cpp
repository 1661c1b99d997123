#include "support/child.h"

#include <gtest/gtest.h>
#include <signal.h>
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
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
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
