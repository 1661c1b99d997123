#include "lock/lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "lock/queue.h"
#include "sys/sys_io.h"

namespace {

constexpr char lock_directory[] = "/var/lock";
constexpr char lock_file_prefix[] = "LCK..";
constexpr size_t lock_path_size = 64;
constexpr size_t lock_content_size = 16;
// Enough for the classic 11-byte text and for the longer "pid program user" some
// programs write.
constexpr size_t lock_read_size = 128;
constexpr sys_ns lock_retry_span = 100 * sys_ns_per_ms;
// The guard is held only for a takeover's few calls: one that meets it held tries again
// a moment later rather than after a whole retry span, so that runs on another port
// (the other slot's) never wait for each other.
constexpr sys_ns lock_guard_span = 10 * sys_ns_per_ms;
// The lock under the device path's own name, and the one under its node's name.
constexpr int lock_names_most = 2;
constexpr size_t lock_comm_path_size = 32;
constexpr size_t lock_comm_size = 32;  // the kernel keeps 15 characters of a name
constexpr size_t lock_reason_size = 192;

using lock_path = char[lock_path_size];

// The locks this process holds, kept ready for a signal handler.
lock_path lock_held_paths[lock_names_most];
volatile sig_atomic_t lock_held_count = 0;

// Why the last attempt did not take the lock, for the one line logged when the wait
// runs out: "Who holds my port?" is what a user asks first.
enum class lock_refusal_kind { held, unreadable, directory };
struct lock_refusal_record {
    lock_refusal_kind kind;
    const char* path;  // the lock file in the way, or the lock directory
    pid_t owner;       // the live owner the lock file names; 0 when it names none
    int error;         // errno of the read or the creation that failed
};
lock_refusal_record lock_refusal = {lock_refusal_kind::held, nullptr, 0, 0};
// Waiters of this tool that stood before this process at its last look.
int lock_waiters_ahead = 0;
// A waiter whose turn has come takes the port within milliseconds of its release; one
// that has let it stay free this long is not taking its turn.
constexpr sys_ns lock_turn_span = 1000 * sys_ns_per_ms;
// The first waiter ahead while the port is free, and since when; since when the guard
// has been held by another whenever this process tried.
unsigned long lock_watched_ticket = 0;
sys_ns lock_free_since = 0;
sys_ns lock_guard_held_since = 0;
// True for a turn taken without the guard.
bool lock_unguarded = false;
char lock_reason[lock_reason_size];

// The device's name, as basename gives it: what its lock file is named after.
const char* lock_device_name(const char* device_path) {
    const char* slash = strrchr(device_path, '/');
    return slash == nullptr ? device_path : slash + 1;
}

[[nodiscard]] bool lock_path_for(const char* device_path, lock_path& path) {
    const char* name = lock_device_name(device_path);
    const int length =
        snprintf(path, sizeof path, "%s/%s%s", lock_directory, lock_file_prefix, name);
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
// or -2 when another process held the guard through a few tries.
int lock_guard_take() {
    const int fd = sys_open(lock_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int taken = sys_flock_within(fd, lock_guard_span);
    if (taken == 1) return fd;
    sys_close(fd);
    return taken == 0 ? -2 : -1;
}

// Deletes the lock file when the process it names is gone. A file that can't be read
// (a FIFO or a device in its place among them) counts as held.
void lock_clear_stale(const char* path) {
    char text[lock_read_size];
    const ssize_t got = sys_read_file(path, text, sizeof text - 1);
    if (got < 0) {
        if (errno != ENOENT) lock_refusal = {lock_refusal_kind::unreadable, path, 0, errno};
        return;
    }
    text[got] = '\0';
    // A lock naming this very process was left by a dead one whose pid we now have: a
    // process that still held it would be us, and we never take a port twice.
    const pid_t owner = lock_parse_pid(text);
    // Without the guard two processes could take over the same lock: it waits for it.
    if ((owner == getpid() || !process_alive(owner)) && !lock_unguarded) {
        unlink(path);
        return;
    }
    lock_refusal = {lock_refusal_kind::held, path, owner, 0};
}

// Creates the lock file with our pid; a file whose pid can't be written is removed at
// once, so no empty lock is ever left for others to puzzle over.
int lock_create(const char* path) {
    char content[lock_content_size];
    const int length = snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof content) return 0;
    const int fd = sys_open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        // EEXIST: a holder the stale check saw, or one that came since.
        if (errno != EEXIST) {
            lock_refusal = {lock_refusal_kind::directory, lock_directory, 0, errno};
        }
        return 0;
    }
    const int written = sys_write_all(fd, content, static_cast<size_t>(length), sys_now());
    if (sys_close(fd) && written) return 1;
    lock_refusal = {lock_refusal_kind::directory, lock_directory, 0, errno};
    unlink(path);
    return 0;
}

// Takes every name of the port or none of them; under the guard where there is one.
int lock_attempt(const lock_path (&paths)[lock_names_most], int count) {
    // A signal between creation and recording would leave a file behind.
    sigset_t saved;
    sys_block_signals(saved);
    int taken = 0;
    while (taken < count) {
        lock_refusal = {lock_refusal_kind::held, paths[taken], 0, 0};
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
    return taken == count ? 1 : 0;
}

// True when no lock file of a live process stands at any of the port's names; stale ones
// are cleared.
bool lock_port_free(const lock_path (&paths)[lock_names_most], int count) {
    for (int i = 0; i < count; ++i) {
        lock_clear_stale(paths[i]);
        if (access(paths[i], F_OK) == 0 || errno != ENOENT) return false;
    }
    return true;
}

// The look at the port's line, without a waiter before this process that lets the port
// stay free through a whole turn: one woken by the release takes it within milliseconds,
// so one that doesn't has stopped (SIGSTOP, a Ctrl-Z) and is passed over, the first of
// them first, so that the rest keep their order.
lock_queue_look lock_look_at_line(int guard, const char* name,
                                  const lock_path (&paths)[lock_names_most], int count) {
    lock_queue_look look = lock_queue_ahead(guard, name);
    if (look.ahead == 0 || !lock_port_free(paths, count)) {
        lock_watched_ticket = 0;
        return look;
    }
    const sys_ns now = sys_now();
    if (look.first != lock_watched_ticket) {
        lock_watched_ticket = look.first;
        lock_free_since = now;
    } else if (now - lock_free_since > lock_turn_span) {
        lock_queue_pass(look.first);
        lock_watched_ticket = 0;
        look = lock_queue_ahead(guard, name);
    }
    return look;
}

// One turn: under the guard, a look at the port's line and, when no one stands before
// this process, an attempt at the lock; a waiter that may wait on and has no place yet
// takes one at the end of the line.
int lock_turn(const lock_path (&paths)[lock_names_most], int count, const char* name,
              bool may_wait) {
    int guard = lock_guard_take();
    const sys_ns now = sys_now();
    if (guard != -2) lock_guard_held_since = 0;
    if (guard == -2 && lock_guard_held_since == 0) lock_guard_held_since = now;
    if (guard == -2 && now - lock_guard_held_since <= lock_turn_span) return 0;
    // A guard held through a whole turn is held by a process stopped while it held it
    // (SIGSTOP, a Ctrl-Z): the line goes on without it, creation deciding alone, and no
    // one's lock is taken over meanwhile.
    lock_unguarded = guard == -2;
    if (lock_unguarded) guard = sys_open(lock_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    lock_waiters_ahead = guard >= 0 ? lock_look_at_line(guard, name, paths, count).ahead : 0;
    const int taken = lock_waiters_ahead == 0 ? lock_attempt(paths, count) : 0;
    if (!taken && may_wait && guard >= 0) lock_queue_join(guard, name);
    if (guard >= 0) sys_close(guard);
    lock_unguarded = false;
    return taken;
}

// The name of a running process as the kernel keeps it; empty when it can't be read.
void lock_process_name(pid_t pid, char (&name)[lock_comm_size]) {
    name[0] = '\0';
    char path[lock_comm_path_size];
    const int length = snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return;
    const ssize_t got = sys_read_file(path, name, sizeof name - 1);
    name[got < 0 ? 0 : got] = '\0';
    name[strcspn(name, "\n")] = '\0';
}

// What kept the port at the end of the wait, in words, and the one line logged for it.
void lock_log_refusal(const char* device_path) {
    const lock_refusal_record& why = lock_refusal;
    char* const text = lock_reason;
    const size_t room = sizeof lock_reason;
    if (why.path == nullptr) {
        snprintf(text, room, "its lock could not be taken");
    } else if (why.kind == lock_refusal_kind::directory) {
        snprintf(text, room, "lock directory %s: %s", why.path, strerror(why.error));
    } else if (why.kind == lock_refusal_kind::unreadable) {
        // EINVAL: a FIFO, a device or a directory in its place, which is never opened.
        snprintf(text, room, "lock file %s can't be read: %s", why.path,
                 why.error == EINVAL ? "not a regular file" : strerror(why.error));
    } else if (why.owner <= 0) {
        snprintf(text, room, "lock file %s is held", why.path);
    } else {
        char name[lock_comm_size];
        lock_process_name(why.owner, name);
        const int owner = static_cast<int>(why.owner);
        if (name[0] == '\0') {
            snprintf(text, room, "lock file %s of pid %d", why.path, owner);
        } else {
            snprintf(text, room, "lock file %s of pid %d (%s)", why.path, owner, name);
        }
    }
    if (lock_waiters_ahead > 0) {
        const size_t used = strlen(text);
        snprintf(text + used, room - used, "; %d caller%s still ahead", lock_waiters_ahead,
                 lock_waiters_ahead == 1 ? "" : "s");
    }
    syslog(LOG_ERR, "BUSY %s: %s", device_path, lock_reason);
}

}  // namespace

int lock_acquire(const char* device_path, int wait_sec) {
    lock_reason[0] = '\0';
    lock_path paths[lock_names_most];
    const int count = lock_names_for(device_path, paths);
    if (count == 0) return 0;
    const int64_t deadline = monotonic_seconds() + wait_sec;
    lock_refusal = {lock_refusal_kind::held, nullptr, 0, 0};
    const char* name = lock_device_name(device_path);
    // Whole seconds and a strict test: the wait runs through the deadline's second.
    for (int turn = 0;; ++turn) {
        const bool may_wait = monotonic_seconds() <= deadline;
        if (lock_turn(paths, count, name, may_wait)) break;
        if (!may_wait) {
            lock_queue_leave();
            lock_log_refusal(device_path);
            return 0;
        }
        // The first turn only joined the line and began to watch: a release in between
        // is seen by looking once more at once.
        if (turn > 0) lock_queue_wait(lock_retry_span);
    }
    lock_queue_leave();
    return 1;
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
    lock_queue_leave_on_signal();
    for (int i = lock_held_count - 1; i >= 0; --i) unlink(lock_held_paths[i]);
}

const char* lock_refusal_reason() {
    return lock_reason;
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
