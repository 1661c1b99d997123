// UUCP-style device lock files: whoever holds /var/lock/LCK..<device name> owns the
// port, and the file names the owner's pid as "%10d\n", so a lock left by a dead
// process is recognised and cleared. Where the device path is a link to a node of
// another name, the lock under the node's name counts too, and both are taken and
// released together. Among processes of this tool the stale check, the deletion and
// the exclusive creation run under an flock on the lock directory, so two of them can
// never both take a lock over from the same dead owner.
#pragma once

#include <stdint.h>
#include <sys/types.h>

// Takes the lock of `device_path`, retrying every 100 ms until the monotonic second
// `wait_sec` seconds from now has passed (at least one attempt). 1 when held, else 0,
// and one line in the system log that says what kept it at the last attempt: a live
// process's lock file (its pid and name), a lock file that can't be read, or a lock
// directory that is missing or can't be written.
[[nodiscard]] int lock_acquire(const char* device_path, int wait_sec);

// Why the last lock_acquire that failed gave up, as its log line says it after
// "BUSY <device>: "; empty when none failed.
[[nodiscard]] const char* lock_refusal_reason();

// Removes the lock file of `device_path`, whoever wrote it, and the node's lock taken
// with it.
void lock_release(const char* device_path);

// Removes the locks this process holds, if any; async-signal-safe (unlinks of paths
// prepared when the locks were taken).
void lock_release_on_signal();

// 1 when a process with this id exists (or exists but isn't ours to signal), else 0.
// Ids of 0 and below count as no process.
[[nodiscard]] int process_alive(pid_t pid);

// Whole seconds of CLOCK_MONOTONIC; -1 when the clock can't be read.
[[nodiscard]] int64_t monotonic_seconds();

// The owner pid a lock file's text names, read as "%d" reads it (leading blanks, a
// sign, text after the number); 0 when there is no number or it is out of pid range.
[[nodiscard]] pid_t lock_parse_pid(const char* text);
