#include "lock/lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "sys/sys_io.h"

namespace {

constexpr char lock_directory[] = "/var/lock";
constexpr size_t lock_path_size = 64;
constexpr size_t lock_content_size = 16;
// Enough for the classic 11-byte text and for the longer "pid program user" some
// programs write.
constexpr size_t lock_read_size = 128;
constexpr sys_ns lock_retry_span = 100 * sys_ns_per_ms;
// The lock under the device path's own name, and the one under its node's name.
constexpr int lock_names_most = 2;

using lock_path = char[lock_path_size];

// The locks this process holds, kept ready for a signal handler.
lock_path lock_held_paths[lock_names_most];
volatile sig_atomic_t lock_held_count = 0;

[[nodiscard]] bool lock_path_for(const char* device_path, lock_path& path) {
    const char* slash = strrchr(device_path, '/');
    const char* name = slash == nullptr ? device_path : slash + 1;
    const int length = snprintf(path, sizeof path, "%s/LCK..%s", lock_directory, name);
    return length > 0 && static_cast<size_t>(length) < sizeof path;
}

// The lock names of a device path: its own, and where the path is a link to a node of
// another name (/dev/ttyUSB8 -> ttyUSB2), the node's, which is what a program that
// opened the node by that name locks. Returns how many; 0 when the path's own name
// doesn't fit.
int lock_names_for(const char* device_path, lock_path (&paths)[lock_names_most]) {
    if (!lock_path_for(device_path, paths[0])) return 0;
    char node[PATH_MAX];
    if (realpath(device_path, node) == nullptr || !lock_path_for(node, paths[1])) return 1;
    return strcmp(paths[0], paths[1]) == 0 ? 1 : 2;
}

// Serialises lock takeovers among processes of this tool. Returns the descriptor that
// holds the guard, -1 when the directory can't be opened (creation then decides alone),
// or -2 when another process holds the guard right now.
int lock_guard_take() {
    const int fd = sys_open(lock_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int taken = sys_try_flock(fd);
    if (taken == 1) return fd;
    sys_close(fd);
    return taken == 0 ? -2 : -1;
}

// Deletes the lock file when the process it names is gone. A file that can't be read
// (a FIFO or a device in its place among them) counts as held.
void lock_clear_stale(const char* path) {
    char text[lock_read_size];
    const ssize_t got = sys_read_file(path, text, sizeof text - 1);
    if (got < 0) return;
    text[got] = '\0';
    // A lock naming this very process was left by a dead one whose pid we now have: a
    // process that still held it would be us, and we never take a port twice.
    const pid_t owner = lock_parse_pid(text);
    if (owner == getpid() || !process_alive(owner)) unlink(path);
}

// Creates the lock file with our pid; a file whose pid can't be written is removed at
// once, so no empty lock is ever left for others to puzzle over.
int lock_create(const char* path) {
    char content[lock_content_size];
    const int length = snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof content) return 0;
    const int fd = sys_open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    const int written = sys_write_all(fd, content, static_cast<size_t>(length), sys_now());
    if (sys_close(fd) && written) return 1;
    unlink(path);
    return 0;
}

// Takes every name of the port or none of them.
int lock_attempt(const lock_path (&paths)[lock_names_most], int count) {
    const int guard = lock_guard_take();
    if (guard == -2) return 0;
    // A signal between creation and recording would leave a file behind.
    sigset_t saved;
    sys_block_signals(saved);
    int taken = 0;
    while (taken < count) {
        lock_clear_stale(paths[taken]);
        if (!lock_create(paths[taken])) break;
        ++taken;
    }
    if (taken == count) {
        memcpy(lock_held_paths, paths, sizeof lock_held_paths);
        lock_held_count = count;
    } else {
        while (taken > 0) unlink(paths[--taken]);
    }
    sys_unblock_signals(saved);
    if (guard >= 0) sys_close(guard);
    return taken == count ? 1 : 0;
}

}  // namespace

int lock_acquire(const char* device_path, int wait_sec) {
    lock_path paths[lock_names_most];
    const int count = lock_names_for(device_path, paths);
    if (count == 0) return 0;
    const int64_t deadline = monotonic_seconds() + wait_sec;
    for (;;) {
        if (lock_attempt(paths, count)) return 1;
        sys_sleep(lock_retry_span);
        // Whole seconds and a strict test: the wait runs through the deadline's second.
        if (monotonic_seconds() > deadline) return 0;
    }
}

void lock_release(const char* device_path) {
    lock_path path;
    if (!lock_path_for(device_path, path)) return;
    sigset_t saved;
    sys_block_signals(saved);
    // The node's lock goes with the path's own, in the reverse order of taking.
    if (lock_held_count > 0 && strcmp(lock_held_paths[0], path) == 0) {
        for (int i = lock_held_count - 1; i > 0; --i) unlink(lock_held_paths[i]);
        lock_held_count = 0;
    }
    unlink(path);
    sys_unblock_signals(saved);
}

void lock_release_on_signal() {
    for (int i = lock_held_count - 1; i >= 0; --i) unlink(lock_held_paths[i]);
}

int process_alive(pid_t pid) {
    if (pid <= 0) return 0;
    if (kill(pid, 0) == 0) return 1;
    // EPERM: the process exists but belongs to another user.
    return errno == ESRCH ? 0 : 1;
}

int64_t monotonic_seconds() {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return -1;
    return static_cast<int64_t>(now.tv_sec);
}

pid_t lock_parse_pid(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value > INT_MAX || value < INT_MIN) return 0;
    return static_cast<pid_t>(value);
}
