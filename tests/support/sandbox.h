// A private mount namespace in which the system's fixed paths are the test's own:
// /var (with /var/lock and /var/data/plmnWhitelist), /dev (with the host's ptys and
// null devices) and /proc/tty/driver are fresh tmpfs mounts, so the code under test
// and the real binary run against them unchanged. An ordinary user gets there
// through a user namespace.
#pragma once

#include <string>

// Enters the namespace once per process; later calls only report. False, with the
// reason in `why`, when this machine allows no namespace.
bool sandbox_enter(std::string& why);

// Back to an empty world: no lock files, no record files, no device nodes, no USB
// serial table, /var/lock present and writable.
void sandbox_reset();

void sandbox_write_file(const std::string& path, const std::string& content);
// The file's content; "<missing>" when there is none, "<fifo>" for a FIFO.
std::string sandbox_read_file(const std::string& path);
bool sandbox_exists(const std::string& path);
// Makes the device node `fixed_path` (such as /dev/ttyUSB8) the pty slave `line_path`.
void sandbox_attach_line(const std::string& fixed_path, const std::string& line_path);

// A datagram socket on /dev/log that gathers what the system log is sent.
class sandbox_log {
public:
    sandbox_log();
    ~sandbox_log();
    sandbox_log(const sandbox_log&) = delete;
    sandbox_log& operator=(const sandbox_log&) = delete;
    // All messages that arrived within `wait_ms`, each ending in a newline.
    std::string messages(int wait_ms = 200);
    // Waits until a message contains `needle`.
    bool wait_for(const std::string& needle, int timeout_ms);

private:
    int fd_ = -1;
    std::string seen_;
};

// Skips the current test when the namespace can't be had.
#define SANDBOX_REQUIRED()                                            \
    do {                                                              \
        std::string sandbox_why;                                      \
        if (!sandbox_enter(sandbox_why)) GTEST_SKIP() << sandbox_why; \
        sandbox_reset();                                              \
    } while (0)
