// Runs a piece of a test in a forked child: a fresh process, as each run of the tool
// is, whose process-wide state (caches, held locks) starts from nothing.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// Runs `body` in a child and returns the text it returned. Fails the test when the
// child dies.
std::string in_child(const std::function<std::string()>& body);

// A child that sleeps until killed: a live process whose pid a test can use.
class live_process {
public:
    live_process();
    ~live_process();
    live_process(const live_process&) = delete;
    live_process& operator=(const live_process&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

// How another program claims a line without a lock file: an flock(2) on it, as tio and
// picocom do, or the tty's exclusive mode (TIOCEXCL), as modem managers, GNU screen and
// gpsd do.
enum class port_claim { flock, exclusive };

// True when a tty can be asked whether it is in exclusive mode (TIOCGEXCL); qemu-user
// 7.2 answers ENOSYS, so what runs under it can't see that claim.
bool exclusive_mode_visible();

// A process that claims a line until `release_after_ms` has passed, or until stopped.
class port_holder {
public:
    port_holder(const std::string& device, port_claim claim, int release_after_ms = -1);
    ~port_holder() { stop(); }
    port_holder(const port_holder&) = delete;
    port_holder& operator=(const port_holder&) = delete;
    // True once the claim is made.
    bool holding() const { return holding_; }
    void stop();

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

// The pid of a process that has come and gone.
pid_t dead_pid();

// A lock file's text for `pid`, as the tool (and every HDB-style program) writes it.
std::string pid_text(pid_t pid);
