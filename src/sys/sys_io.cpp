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
        // ppoll takes a timespec, so a wait of years neither overflows nor becomes "forever".
        const timespec left = sys_timespec_of(deadline - now);
        const int ready = ppoll(&entry, 1, &left, nullptr);
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
    timespec left = sys_timespec_of(span);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
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
