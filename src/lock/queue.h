// The waiting line of a port among this tool's processes, so that callers get the port
// in the order they started waiting. Each waiter keeps an entry in the lock directory,
// /var/lock/.mdmio-queue..<device name>.<ticket>, holding its pid and an flock for as
// long as it lives: an entry whose flock can be had was left by a dead process (SIGKILL,
// the OOM killer, a power cut) and is cleared by whoever looks next. Entries are looked
// at and made only under the lock directory's guard. A change in the directory (a lock
// file or an entry removed) wakes the waiters at once (inotify), a timed look covers the
// rest. One line a process at a time.
#pragma once

#include "sys/sys_io.h"

// The live waiters of the port `name` (a device name, "ttyUSB8") that stand before this
// process (all of them while it has no entry), but those it has passed over, and the
// ticket of the first of them (0 for none). Clears the entries of dead waiters; names
// in the line that are no caller's entry are passed over: those that are not regular
// files without being opened, and files that another program holds without naming a
// live process.
// `directory` is the lock directory, open and guarded.
struct lock_queue_look {
    int ahead;
    unsigned long first;
};
[[nodiscard]] lock_queue_look lock_queue_ahead(int directory, const char* name);

// From now on the waiter of this ticket no longer counts as ahead: its turn came and it
// did not take it (stopped, as by SIGSTOP or a Ctrl-Z).
void lock_queue_pass(unsigned long ticket);

// Puts this process at the end of the port's line, after the highest ticket of a caller
// that the look just made (lock_queue_ahead, under the same hold of the guard) saw,
// and from then on watches the directory. Without an entry (none could be made) it
// waits all the same, taking the port only when no one is in line.
void lock_queue_join(int directory, const char* name);

// Leaves the line: the entry and the watch go.
void lock_queue_leave();

// Waits until something in the lock directory is removed, or `span` has passed.
void lock_queue_wait(sys_ns span);

// Removes the entry, if any; async-signal-safe.
void lock_queue_leave_on_signal();
