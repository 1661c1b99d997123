#include "lock/queue.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
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
// The highest ticket of a live caller the last look saw: a newcomer's comes after it;
// and the highest of any name, to come after where names of other kinds stand in the way.
unsigned long queue_last_ticket = 0;
unsigned long queue_top_ticket = 0;
// Waiters passed over for not taking their turn.
constexpr size_t queue_passed_most = 16;
unsigned long queue_passed[queue_passed_most];
size_t queue_passed_count = 0;
// A newcomer whose ticket a name of another kind has taken tries the next few, then the
// one after every name, then ever farther ones, up to 2^33 past the last caller's.
constexpr int queue_join_near = 8;
constexpr int queue_join_tries = queue_join_near + 1 + 31;

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

// What an entry in the line is.
enum class queue_entry_kind {
    none,    // no caller's: gone, a dead caller's (now removed), or no regular file
    caller,  // a live caller's: it holds the entry's flock and names its pid
    foreign  // held by another program, naming no live process
};

// The entry's owner lives while it holds the entry's flock; a dead owner's entry is
// removed. What can't be looked at counts as a caller: the wait's bound still holds.
queue_entry_kind queue_entry_look(int directory, const char* entry) {
    const int fd =
        openat(directory, entry, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ELOOP ? queue_entry_kind::none
                                                 : queue_entry_kind::caller;
    }
    struct stat info {};
    queue_entry_kind kind = queue_entry_kind::caller;
    if (fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) kind = queue_entry_kind::none;
    const int taken = kind == queue_entry_kind::caller ? sys_try_flock(fd) : -1;
    if (taken == 1) {
        unlinkat(directory, entry, 0);
        kind = queue_entry_kind::none;
    } else if (taken == 0) {
        // A caller writes its pid before anyone can look (both under the guard).
        char content[queue_content_size];
        const ssize_t got = pread(fd, content, sizeof content - 1, 0);
        content[got > 0 ? got : 0] = '\0';
        const long pid = strtol(content, nullptr, 10);
        if (pid <= 0 || pid > INT_MAX ||
            (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
            kind = queue_entry_kind::foreign;
        }
    }
    sys_close(fd);
    return kind;
}

bool queue_was_passed(unsigned long ticket) {
    for (size_t i = 0; i < queue_passed_count; ++i) {
        if (queue_passed[i] == ticket) return true;
    }
    return false;
}

void queue_drain(int fd) {
    char events[queue_events_size];
    while (sys_read(fd, events, sizeof events) > 0) {
    }
}

}  // namespace

lock_queue_look lock_queue_ahead(int directory, const char* name) {
    lock_queue_look look = {0, 0};
    char prefix[queue_prefix_size];
    if (!queue_prefix_for(name, prefix) || lseek(directory, 0, SEEK_SET) != 0) return look;
    queue_last_ticket = queue_place.ticket;
    queue_top_ticket = queue_place.ticket;
    alignas(queue_dirent) char listing[queue_listing_size];
    for (;;) {
        const long got = syscall(SYS_getdents64, directory, listing, sizeof listing);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            const auto* item = reinterpret_cast<const queue_dirent*>(listing + at);
            at += item->length;
            const unsigned long ticket = queue_ticket_of(item->name, prefix);
            if (ticket == 0 || ticket == queue_place.ticket) continue;
            // Only regular files can be entries: thousands of FIFOs or links by these names
            // cost no more than reading their names.
            const bool regular = item->type == DT_REG || item->type == DT_UNKNOWN;
            const queue_entry_kind kind =
                regular ? queue_entry_look(directory, item->name) : queue_entry_kind::foreign;
            // A name that stays stands in the way of a newcomer's ticket.
            if (ticket > queue_top_ticket && (!regular || kind != queue_entry_kind::none)) {
                queue_top_ticket = ticket;
            }
            if (kind != queue_entry_kind::caller) continue;
            if (ticket > queue_last_ticket) queue_last_ticket = ticket;
            const bool before = queue_place.ticket == 0 || ticket < queue_place.ticket;
            if (!before || queue_was_passed(ticket)) continue;
            ++look.ahead;
            if (look.first == 0 || ticket < look.first) look.first = ticket;
        }
    }
    return look;
}

void lock_queue_pass(unsigned long ticket) {
    queue_passed[queue_passed_count % queue_passed_most] = ticket;
    if (queue_passed_count < queue_passed_most) ++queue_passed_count;
}

void lock_queue_join(int directory, const char* name) {
    if (queue_place.entry >= 0) return;
    char prefix[queue_prefix_size];
    if (!queue_prefix_for(name, prefix)) return;
    char content[queue_content_size];
    const int content_length =
        snprintf(content, sizeof content, "%10d\n", static_cast<int>(getpid()));
    if (content_length <= 0) return;
    unsigned long ticket = 0;
    char entry[queue_path_size];
    int fd = -1;
    // A signal between making the entry and recording it would leave it behind.
    sigset_t saved;
    sys_block_signals(saved);
    for (int tries = 0; fd < 0 && tries < queue_join_tries; ++tries) {
        // The next few tickets after the last caller's, then the one after every name
        // that stays, then ever farther ones: any free ticket after the last caller's keeps
        // the order.
        const unsigned long last = queue_last_ticket;
        ticket = tries < queue_join_near    ? last + 1 + static_cast<unsigned long>(tries)
                 : tries == queue_join_near ? queue_top_ticket + 1
                                            : last + (1UL << (tries - queue_join_near + 3));
        if (ticket > queue_ticket_most) continue;
        const int length = snprintf(entry, sizeof entry, "%s%010lu", prefix, ticket);
        const int path_length =
            snprintf(queue_entry_path, sizeof queue_entry_path, "%s/%s", queue_directory, entry);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof entry || path_length <= 0 ||
            static_cast<size_t>(path_length) >= sizeof queue_entry_path) {
            break;
        }
        fd = openat(directory, entry, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
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
    queue_passed_count = 0;
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
