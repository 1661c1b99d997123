#include "sys/sys_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

namespace {

timespec sys_timespec_of(sys_ns span) {
    if (span < 0) span = 0;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(span / sys_ns_per_sec);
    ts.tv_nsec = static_cast<long>(span % sys_ns_per_sec);
    return ts;
}

// While a job holds the termination signals: the mask to go back to, the one its waits
// let them in with, and the signal that came.
sigset_t sys_saved_mask;
sigset_t sys_wait_mask;
volatile sig_atomic_t sys_holding = 0;
volatile sig_atomic_t sys_caught = 0;

// ppoll with the held signals let in for as long as it waits.
int sys_ppoll(pollfd* entries, nfds_t count, const timespec* left) {
    return ppoll(entries, count, left, sys_holding ? &sys_wait_mask : nullptr);
}

// A held signal has come: waits end at once.
bool sys_stopping() {
    return sys_holding && sys_caught != 0;
}

}  // namespace

sys_ns sys_now() {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return -1;
    return static_cast<sys_ns>(ts.tv_sec) * sys_ns_per_sec + ts.tv_nsec;
}

int sys_wait(int fd, short events, sys_ns deadline) {
    pollfd entry{};
    entry.fd = fd;
    entry.events = events;
    for (;;) {
        const sys_ns now = sys_now();
        if (now < 0) return -1;
        if (sys_stopping()) {
            errno = EINTR;
            return -1;
        }
        // ppoll takes a timespec, so a wait of years neither overflows nor becomes "forever".
        const timespec left = sys_timespec_of(deadline - now);
        const int ready = sys_ppoll(&entry, 1, &left);
        if (ready > 0) return (entry.revents & POLLNVAL) ? -1 : 1;
        if (ready == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

int sys_open(const char* path, int flags, mode_t mode) {
    for (;;) {
        const int fd = open(path, flags, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

int sys_open_regular(const char* path) {
    // Looked at before it is opened: opening a FIFO or a device has effects of its own.
    struct stat info {};
    if (stat(path, &info) != 0) return -1;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = sys_open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    // And again once open, in case something else took its place in between.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        sys_close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

ssize_t sys_read(int fd, void* buffer, size_t size) {
    for (;;) {
        const ssize_t got = read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

ssize_t sys_read_file(const char* path, void* buffer, size_t size) {
    const int fd = sys_open_regular(path);
    if (fd < 0) return -1;
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    ssize_t got = 1;
    while (done < size && (got = sys_read(fd, bytes + done, size - done)) > 0) {
        done += static_cast<size_t>(got);
    }
    const int failure = errno;
    sys_close(fd);
    errno = failure;
    return got < 0 ? -1 : static_cast<ssize_t>(done);
}

int sys_write_all(int fd, const void* data, size_t size, sys_ns deadline) {
    iovec piece{const_cast<void*>(data), size};
    return sys_write_pieces(fd, &piece, 1, deadline);
}

int sys_write_pieces(int fd, iovec* pieces, int count, sys_ns deadline) {
    for (;;) {
        // What is written already is behind us.
        while (count > 0 && pieces->iov_len == 0) {
            ++pieces;
            --count;
        }
        if (count == 0) return 1;
        const ssize_t put = writev(fd, pieces, count);
        if (put > 0) {
            auto done = static_cast<size_t>(put);
            for (; count > 0 && done >= pieces->iov_len; ++pieces, --count) {
                done -= pieces->iov_len;
            }
            if (count > 0) {
                pieces->iov_base = static_cast<char*>(pieces->iov_base) + done;
                pieces->iov_len -= done;
            }
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return 0;
        // The line can't take more yet: wait for room, but not past the deadline.
        const int room = sys_wait(fd, POLLOUT, deadline);
        if (room == 0) {
            errno = EAGAIN;
            return 0;
        }
        if (room < 0) return 0;
    }
}

void sys_sleep(sys_ns span) {
    const sys_ns deadline = sys_now() + span;
    for (sys_ns now = sys_now(); now >= 0 && now < deadline && !sys_stopping(); now = sys_now()) {
        const timespec left = sys_timespec_of(deadline - now);
        if (sys_ppoll(nullptr, 0, &left) == 0) return;
    }
}

int sys_try_flock(int fd) {
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 1;
        if (errno != EINTR) return errno == EWOULDBLOCK ? 0 : -1;
    }
}

int sys_flock_within(int fd, sys_ns span) {
    const sys_ns deadline = sys_now() + span;
    for (;;) {
        const int taken = sys_try_flock(fd);
        if (taken != 0 || sys_now() >= deadline) return taken;
        sys_sleep(sys_ns_per_ms);
    }
}

bool sys_fill_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number: this one, as those below it are open.
        const int stand_in = sys_open("/dev/null", O_RDONLY | O_NOCTTY);
        if (stand_in != fd) {
            if (stand_in >= 0) sys_close(stand_in);
            return false;
        }
    }
    return true;
}

int sys_close(int fd) {
    return close(fd) == 0 ? 1 : 0;
}

void sys_block_signals(sigset_t& saved) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved);
}

void sys_unblock_signals(const sigset_t& saved) {
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

void sys_hold_signals(const int* signals, size_t count) {
    sigset_t held;
    sigemptyset(&held);
    for (size_t i = 0; i < count; ++i) sigaddset(&held, signals[i]);
    sigprocmask(SIG_BLOCK, &held, &sys_saved_mask);
    sys_wait_mask = sys_saved_mask;
    for (size_t i = 0; i < count; ++i) sigdelset(&sys_wait_mask, signals[i]);
    sys_holding = 1;
}

void sys_release_signals() {
    if (!sys_holding) return;
    sys_holding = 0;
    sigprocmask(SIG_SETMASK, &sys_saved_mask, nullptr);
}

int sys_held_signal() {
    return sys_caught;
}

bool sys_note_signal(int signal_number) {
    if (!sys_holding) return false;
    if (sys_caught == 0) sys_caught = signal_number;
    return true;
}
