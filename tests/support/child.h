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

// A process that claims a line with flock(2), as tio and picocom do, until
// `release_after_ms` has passed, or until it is stopped.
class flock_holder {
public:
    explicit flock_holder(const std::string& device, int release_after_ms = -1);
    ~flock_holder() { stop(); }
    flock_holder(const flock_holder&) = delete;
    flock_holder& operator=(const flock_holder&) = delete;
    // True once the flock is taken.
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
