// The system calls every layer shares, wrapped once.
// Waits run against a CLOCK_MONOTONIC deadline, so a signal that interrupts a call
// (EINTR) neither cuts the wait short nor stretches it: the call is resumed with
// the time that is left. Short reads and writes are the caller's business only
// where noted; sys_write_all continues them itself.
#pragma once

#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>
#include <sys/uio.h>

// The number of elements of an array. The sources use the C library's headers alone, so
// that the static build compiles against a C library the C++ library was not made for.
template <typename T, size_t count>
constexpr size_t sys_count([[maybe_unused]] const T (&array)[count]) {
    return count;
}

// Nanoseconds of CLOCK_MONOTONIC.
using sys_ns = int64_t;

constexpr sys_ns sys_ns_per_ms = 1000000;
constexpr sys_ns sys_ns_per_sec = 1000 * sys_ns_per_ms;
// A deadline that never comes.
constexpr sys_ns sys_never = INT64_MAX;

// Current CLOCK_MONOTONIC time; -1 when the clock can't be read.
[[nodiscard]] sys_ns sys_now();

// Waits until fd reports one of `events` (or a hang-up or error), or until the deadline.
// A deadline already past makes it a single zero-time poll.
// Returns 1 when fd is ready, 0 when the deadline came first, -1 on failure.
[[nodiscard]] int sys_wait(int fd, short events, sys_ns deadline);

// open(2) retried on EINTR.
[[nodiscard]] int sys_open(const char* path, int flags, mode_t mode = 0);

// Opens a regular file for reading, never blocking and never opening anything else: a
// FIFO, a device, a socket or a directory in its place fails with errno EINVAL, as a
// file that can't be read. -1 with errno ENOENT when there is nothing at the path.
[[nodiscard]] int sys_open_regular(const char* path);

// read(2) retried on EINTR.
[[nodiscard]] ssize_t sys_read(int fd, void* buffer, size_t size);

// Reads a small file whole, at most `size` bytes, opened as sys_open_regular opens it.
// Returns how many bytes; -1 with errno when it can't be opened (ENOENT: nothing is
// there) or a read failed (a part read before the failure is no reliable text, so
// none is returned).
[[nodiscard]] ssize_t sys_read_file(const char* path, void* buffer, size_t size);

// Writes all `size` bytes. On a non-blocking descriptor that can't take more (EAGAIN)
// it waits for room until the deadline. Returns 1 when everything went out; 0 with
// errno set when a write failed or the deadline came first (errno EAGAIN).
[[nodiscard]] int sys_write_all(int fd, const void* data, size_t size, sys_ns deadline);

// sys_write_all for several pieces that go out in one write (writev) as far as the
// descriptor takes them: a reader never sees a piece without the ones before it, and a
// write that fails at once has written nothing. Consumes `pieces` as it goes.
[[nodiscard]] int sys_write_pieces(int fd, iovec* pieces, int count, sys_ns deadline);

// Sleeps for `span`, resuming after signals until the whole span has passed.
void sys_sleep(sys_ns span);

// Takes an exclusive flock(2) on fd without waiting, retried on EINTR. 1 when it is
// ours, 0 when another open file holds it (EWOULDBLOCK), -1 when it can't be had.
[[nodiscard]] int sys_try_flock(int fd);

// sys_try_flock, tried again every millisecond while another holds it, for at most
// `span`: for a guard that is held a moment only.
[[nodiscard]] int sys_flock_within(int fd, sys_ns span);

// Opens /dev/null read-only on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes one of those numbers: a closed standard output must never
// make a device the place replies are printed to. A write to such a stand-in fails
// (EBADF). False when one is closed and /dev/null can't be opened.
[[nodiscard]] bool sys_fill_standard_descriptors();

// close(2) whose EINTR is not retried: on Linux the descriptor is gone either way.
// Returns 1 on success, 0 on failure.
int sys_close(int fd);

// Termination signals held while a job runs, so that it can put the module's settings
// back before dying of one: sys_hold_signals blocks them, and they get in only while a
// wait (sys_wait, sys_sleep) waits; once one has come, every wait returns at once
// (sys_wait with -1 and EINTR) until sys_release_signals unblocks them again.
// sys_held_signal tells which came (0 for none), also after the release.
void sys_hold_signals(const int* signals, size_t count);
void sys_release_signals();
[[nodiscard]] int sys_held_signal();

// For a signal handler: true, with the signal kept for sys_held_signal, while signals
// are held; false when they are not and the handler must act at once. Async-signal-safe.
bool sys_note_signal(int signal_number);

// Holds off every signal until sys_unblock_signals, for the few steps whose files a
// signal must not leave half made; `saved` keeps the mask to go back to.
void sys_block_signals(sigset_t& saved);
void sys_unblock_signals(const sigset_t& saved);
