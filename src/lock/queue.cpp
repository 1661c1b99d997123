#include "lock/queue.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char queue_directory[] = "/var/lock";
constexpr char queue_prefix[] = ".mdmio-queue..";
constexpr size_t queue_path_size = 96;
constexpr size_t queue_prefix_size = 64;
constexpr size_t queue_listing_size = 2048;
constexpr size_t queue_content_size = 16;
constexpr size_t queue_events_size = 1024;
// Ten digits, so that names sort as their tickets do for a person listing them.
constexpr unsigned long queue_ticket_most = 9999999999UL;

// This process's place in line: its entry (held open with its flock), its ticket, the
// entry's path for a signal handler, and the watch on the directory.
struct queue_record {
    int entry;
    unsigned long ticket;
    int watch;
};
queue_record queue_place = {-1, 0, -1};
char queue_entry_path[queue_path_size];
volatile sig_atomic_t queue_joined = 0;
// The highest ticket the last look saw, live or not: a newcomer's comes after it.
unsigned long queue_last_ticket = 0;

// The directory entry as getdents64 gives it; only its length and name are read.
struct queue_dirent {
    uint64_t inode;  // cppcheck-suppress unusedStructMember
    int64_t offset;  // cppcheck-suppress unusedStructMember
    unsigned short length;
    unsigned char type;  // cppcheck-suppress unusedStructMember
    char name[1];
};

// ".mdmio-queue..<name>." for the port's entries; false when it does not fit.
bool queue_prefix_for(const char* name, char (&prefix)[queue_prefix_size]) {
    const int length = snprintf(prefix, sizeof prefix, "%s%s.", queue_prefix, name);
    return length > 0 && static_cast<size_t>(length) < sizeof prefix;
}

// The ticket an entry's name carries after the prefix; 0 for a name that is no entry.
unsigned long queue_ticket_of(const char* entry, const char* prefix) {
    const size_t prefix_length = strlen(prefix);
    if (strncmp(entry, prefix, prefix_length) != 0) return 0;
    const char* digits = entry + prefix_length;
    if (strspn(digits, "0123456789") != strlen(digits) || digits[0] == '\0') return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long ticket = strtoul(digits, &end, 10);
    return errno == 0 && ticket <= queue_ticket_most ? ticket : 0;
}

// True while the entry's owner lives: it holds the entry's flock. A dead owner's entry
// is removed; anything but a regular file is no entry. What can't be looked at counts
// as alive: the wait's bound still holds.
bool queue_entry_alive(int directory, const char* entry) {
    const int fd =
        openat(directory, entry, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno != ENOENT && errno != ELOOP;
    struct stat info {};
    int taken = -1;
    if (fstat(fd, &info) == 0) taken = S_ISREG(info.st_mode) ? sys_try_flock(fd) : 2;
    if (taken == 1) unlinkat(directory, entry, 0);
    sys_close(fd);
    return taken == 0 || taken == -1;
}

void queue_drain(int fd) {
    char events[queue_events_size];
    while (sys_read(fd, events, sizeof events) > 0) {
    }
}

}  // namespace

int lock_queue_ahead(int directory, const char* name) {
    char prefix[queue_prefix_size];
    if (!queue_prefix_for(name, prefix) || lseek(directory, 0, SEEK_SET) != 0) return 0;
    int ahead = 0;
    queue_last_ticket = queue_place.ticket;
    alignas(queue_dirent) char listing[queue_listing_size];
    for (;;) {
        const long got = syscall(SYS_getdents64, directory, listing, sizeof listing);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            const auto* item = reinterpret_cast<const queue_dirent*>(listing + at);
            at += item->length;
            const unsigned long ticket = queue_ticket_of(item->name, prefix);
            if (ticket > queue_last_ticket) queue_last_ticket = ticket;
            if (ticket == 0 || ticket == queue_place.ticket) continue;
            const bool before = queue_place.ticket == 0 || ticket < queue_place.ticket;
            if (queue_entry_alive(directory, item->name) && before) ++ahead;
        }
    }
    return ahead;
}

void lock_queue_join(int directory, const char* name) {
    if (queue_place.entry >= 0) return;
    char prefix[queue_prefix_size];
    if (!queue_prefix_for(name, prefix) || queue_last_ticket >= queue_ticket_most) return;
    const unsigned long ticket = queue_last_ticket + 1;
    char entry[queue_path_size];
    char content[queue_content_size];
    const int length = snprintf(entry, sizeof entry, "%s%010lu", prefix, ticket);
    const int path_length =
        snprintf(queue_entry_path, sizeof queue_entry_path, "%s/%s", queue_directory, entry);
    const int content_length =
        snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof entry || path_length <= 0 ||
        static_cast<size_t>(path_length) >= sizeof queue_entry_path || content_length <= 0) {
        return;
    }
    // A signal between making the entry and recording it would leave it behind.
    sigset_t saved;
    sys_block_signals(saved);
    const int fd =
        openat(directory, entry, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        // The flock is what says we live; the pid is for a person reading the directory.
        if (sys_try_flock(fd) == 1 &&
            sys_write_all(fd, content, static_cast<size_t>(content_length), sys_now())) {
            queue_place = {fd, ticket, queue_place.watch};
            queue_joined = 1;
        } else {
            unlinkat(directory, entry, 0);
            sys_close(fd);
        }
    }
    sys_unblock_signals(saved);
    // Watched from now on: any removal after this look wakes us.
    if (queue_place.watch < 0) {
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch >= 0 &&
            inotify_add_watch(watch, queue_directory, IN_DELETE | IN_MOVED_FROM) < 0) {
            sys_close(watch);
        } else {
            queue_place.watch = watch;
        }
    }
}

void lock_queue_leave() {
    sigset_t saved;
    sys_block_signals(saved);
    if (queue_joined) {
        unlink(queue_entry_path);
        queue_joined = 0;
    }
    if (queue_place.entry >= 0) sys_close(queue_place.entry);
    sys_unblock_signals(saved);
    if (queue_place.watch >= 0) sys_close(queue_place.watch);
    queue_place = {-1, 0, -1};
}

void lock_queue_wait(sys_ns span) {
    if (queue_place.watch >= 0) {
        const int ready = sys_wait(queue_place.watch, POLLIN, sys_now() + span);
        if (ready > 0) queue_drain(queue_place.watch);
        if (ready >= 0) return;
    }
    sys_sleep(span);
}

void lock_queue_leave_on_signal() {
    if (queue_joined) unlink(queue_entry_path);
}
