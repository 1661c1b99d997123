// Runs the built mdmio binary as a user would, through qemu-user for the AArch64 build on
// another machine, natively on an AArch64 kernel, and collects what it printed, its exit
// status and how long it took. MDMIO_TEST_BINARY, when set, names another build of the
// tool to run instead, of the same architecture: the static one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct tool_result {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when it died of a signal
    int signal = 0;   // the signal it died of
    double seconds = 0;
};

// Starts the tool with standard output closed.
constexpr int tool_stdout_closed = -2;

struct tool_options {
    int stdout_fd = -1;      // a descriptor to use as standard output instead of a pipe
    int ignored_signal = 0;  // a signal the tool starts with ignored, as under nohup
    // Called with the child's pid once it runs, while the test waits for it.
    std::function<void(pid_t)> while_running;
};

// True when this test and the tool run under qemu-user: the build names an emulator and
// this machine has it. On the device's own kernel the same build runs natively.
bool tool_emulated();

// The command that runs `binary` of this build with `args`: through the emulator where
// the tests run under one.
std::vector<std::string> emulated_command(const std::string& binary,
                                          const std::vector<std::string>& args);

// Polls until `done` holds, as while the tool runs; false when the time ran out.
bool eventually(const std::function<bool()>& done, int timeout_ms);

tool_result run_tool(const std::vector<std::string>& args, const tool_options& options = {});

// Runs any command so, with `environment` ("NAME=value") added to the test's own.
tool_result run_command(const std::vector<std::string>& command,
                        const std::vector<std::string>& environment = {},
                        const tool_options& options = {});
