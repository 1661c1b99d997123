#include "support/tool_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace {

std::vector<std::string> tool_emulator() {
    std::vector<std::string> words;
    std::istringstream emulator(MDMIO_EMULATOR);
    for (std::string word; emulator >> word;) words.push_back(word);
    return words;
}

std::vector<std::string> tool_command(const std::vector<std::string>& args) {
    const char* other_build = getenv("MDMIO_TEST_BINARY");
    return emulated_command(
        other_build != nullptr && *other_build != '\0' ? other_build : MDMIO_BINARY, args);
}

void tool_drain(int fd, std::string& into) {
    char bytes[4096];
    const ssize_t got = read(fd, bytes, sizeof bytes);
    if (got > 0) into.append(bytes, static_cast<size_t>(got));
}

}  // namespace

std::vector<std::string> emulated_command(const std::string& binary,
                                          const std::vector<std::string>& args) {
    std::vector<std::string> command;
    if (tool_emulated()) command = tool_emulator();
    command.push_back(binary);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

bool tool_emulated() {
    const std::vector<std::string> emulator = tool_emulator();
    return !emulator.empty() && access(emulator[0].c_str(), X_OK) == 0;
}

bool eventually(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

tool_result run_tool(const std::vector<std::string>& args, const tool_options& options) {
    return run_command(tool_command(args), {}, options);
}

tool_result run_command(const std::vector<std::string>& command,
                        const std::vector<std::string>& environment, const tool_options& options) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (options.stdout_fd == tool_stdout_closed) {
            close(STDOUT_FILENO);
        } else {
            dup2(options.stdout_fd >= 0 ? options.stdout_fd : out[1], STDOUT_FILENO);
        }
        if (options.ignored_signal != 0) signal(options.ignored_signal, SIG_IGN);
        dup2(err[1], STDERR_FILENO);
        for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (options.while_running) options.while_running(child);

    tool_result result;
    pollfd ends[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_ends = 2;
    while (open_ends > 0 && poll(ends, 2, 60000) > 0) {
        for (pollfd& end : ends) {
            if (end.fd < 0 || end.revents == 0) continue;
            std::string& into = end.fd == out[0] ? result.out : result.err;
            const size_t before = into.size();
            tool_drain(end.fd, into);
            if (into.size() == before) {
                close(end.fd);
                end.fd = -1;
                --open_ends;
            }
        }
    }
    for (pollfd& end : ends) {
        if (end.fd >= 0) close(end.fd);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}
