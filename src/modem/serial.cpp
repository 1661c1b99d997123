#include "modem/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <termios.h>

#include "sys/sys_io.h"

namespace {

struct serial_speed {
    unsigned rate;
    speed_t constant;
};

constexpr serial_speed serial_speeds[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Once real text flows, this much silence ends the reply.
constexpr sys_ns serial_quiet_span = 200 * sys_ns_per_ms;
// A chunk of more than this many bytes is real text; a smaller one (a lone line end)
// keeps the caller's long wait.
constexpr ssize_t serial_fragment_max = 2;
// Sink for bytes that no longer fit the reply buffer, so the line is still drained.
constexpr size_t serial_scratch_size = 128;

constexpr size_t serial_failure_size = 256;

thread_local char serial_reply[serial_reply_size];
thread_local char serial_failure[serial_failure_size];
thread_local serial_end serial_ended = serial_end::silence;
// Bytes gathered past the end of a complete reply, for the next exchange.
thread_local char serial_carry[serial_reply_size];
thread_local size_t serial_carry_length = 0;

speed_t serial_speed_for(unsigned baud) {
    for (const serial_speed& entry : serial_speeds) {
        if (entry.rate == baud) return entry.constant;
    }
    return B9600;
}

// An ioctl request in the type this C library's ioctl takes it: unsigned long for glibc,
// int for musl. The kernel reads 32 bits either way.
template <typename Request>
Request serial_request([[maybe_unused]] int (*call)(int, Request, ...), unsigned long request) {
    return static_cast<Request>(request);
}

// True when another program holds the tty in exclusive mode (TIOCEXCL), which keeps
// out everyone but root. A tty that can't say (qemu-user has no TIOCGEXCL) counts as
// free, as it always did.
bool serial_exclusive(int fd) {
    int exclusive = 0;
    for (;;) {
        if (ioctl(fd, serial_request(ioctl, TIOCGEXCL), &exclusive) == 0) return exclusive != 0;
        if (errno != EINTR) return false;
    }
}

// Logs a failed call, "<call>(<path>) error: <cause>" or "<call> error: <cause>", and
// keeps the line for the caller to report.
void serial_log(const char* call, const char* path) {
    const char* cause = strerror(errno);
    if (path != nullptr) {
        snprintf(serial_failure, sizeof serial_failure, "%s(%s) error: %s", call, path, cause);
    } else {
        snprintf(serial_failure, sizeof serial_failure, "%s error: %s", call, cause);
    }
    syslog(LOG_ERR, "%s", serial_failure);
}

// Drops what is waiting on the line, as far as a reply's cutoff: a late answer or a
// stray result code that must not be taken for the answer to what is written next.
void serial_drop_waiting(int fd) {
    serial_carry_length = 0;
    char sink[serial_scratch_size];
    size_t dropped = 0;
    ssize_t got = 0;
    while (dropped <= serial_reply_cutoff && (got = sys_read(fd, sink, sizeof sink)) > 0) {
        dropped += static_cast<size_t>(got);
    }
}

sys_ns serial_span_of(int seconds) {
    return static_cast<sys_ns>(seconds) * sys_ns_per_sec;
}

}  // namespace

void serial_line_settings(termios& line, unsigned baud, unsigned data_bits, const char* parity,
                          unsigned stop_bits) {
    line.c_iflag = IGNBRK | IGNPAR;
    line.c_oflag = 0;
    line.c_lflag = 0;
    // Assigned, not merged: hardware flow control and every other control bit go off.
    // The speed travels in c_cflag alone, as the Linux tty layer reads it.
    tcflag_t cflag = serial_speed_for(baud) | CREAD | HUPCL | CLOCAL;
    cflag |= data_bits == 7 ? CS7 : CS8;
    if (stop_bits == 2) cflag |= CSTOPB;
    if (parity[0] == 'O') cflag |= PARENB | PARODD;
    if (parity[0] == 'E') cflag |= PARENB;
    line.c_cflag = cflag;
}

int serial_open(const char* path, unsigned baud, unsigned data_bits, const char* parity,
                unsigned stop_bits) {
    // Non-blocking so that neither a missing carrier nor a full line can hang us.
    const int fd = sys_open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_SYNC);
    if (fd < 0) {
        // EBUSY: the tty is in exclusive mode and we are not root; it is held, not broken.
        if (errno == EBUSY) return serial_line_exclusive;
        serial_log("open", path);
        return -1;
    }
    // Modem managers, GNU screen and gpsd claim a line with exclusive mode, tio and
    // picocom with flock, instead of a lock file; their line is left exactly as they
    // have it. A line that doesn't support flock is used as it is.
    int held = 0;
    if (serial_exclusive(fd)) held = serial_line_exclusive;
    if (held == 0 && sys_try_flock(fd) == 0) held = serial_line_flocked;
    if (held != 0) {
        sys_close(fd);
        return held;
    }
    // Start from the line's own settings: c_cc and the line discipline stay as they are.
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        // Applying settings built on nothing would be worse than leaving the line alone.
        serial_log("tcsetattr", path);
        return fd;
    }
    serial_line_settings(line, baud, data_bits, parity, stop_bits);
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        serial_log("tcsetattr", path);
    }
    return fd;
}

char* serial_exchange(int fd, const char* text, int timeout_sec, const serial_gather& how) {
    const sys_ns long_wait = serial_span_of(timeout_sec);
    const size_t length = strlen(text);
    if (how.fresh) serial_drop_waiting(fd);
    // The whole command or the modem sees a cut one; the line gets the caller's time-out
    // to take it.
    if (length > 0 && !sys_write_all(fd, text, length, sys_now() + long_wait)) {
        serial_log("write", nullptr);
    }

    memset(serial_reply, 0, sizeof serial_reply);
    serial_ended = serial_end::silence;
    if (timeout_sec < 0) return serial_reply;

    char scratch[serial_scratch_size];
    // What the last complete reply left over comes first, as a first chunk would.
    size_t received = serial_carry_length;
    memcpy(serial_reply, serial_carry, received);
    serial_carry_length = 0;
    bool grew = received > 0;
    const sys_ns whole = how.deadline != 0 ? how.deadline : sys_now() + long_wait;
    sys_ns deadline = !how.by_silence                  ? whole
                      : received > serial_fragment_max ? sys_now() + serial_quiet_span
                                                       : sys_now() + long_wait;
    for (;;) {
        if (how.complete != nullptr && grew) {
            // Every byte stored, a NUL among them: what follows one may end the reply.
            const size_t stored = received < serial_reply_size ? received : serial_reply_size - 1;
            const size_t end = how.complete(text, serial_reply, stored);
            if (end > 0 && end <= stored) {
                serial_put_back(serial_reply + end, stored - end);
                memset(serial_reply + end, 0, stored - end);
                serial_ended = serial_end::complete;
                break;
            }
        }
        // Without the silence rule nothing is dropped: the rest waits for the reader.
        if (!how.by_silence && received >= serial_reply_size - 1) {
            serial_ended = serial_end::full;
            break;
        }
        const int ready = sys_wait(fd, POLLIN, deadline);
        // A wait that failed can't tell silence from an answer: the line is as good as
        // gone. One cut short by a signal a job holds is the job's to end.
        if (ready < 0 && errno != EINTR) serial_ended = serial_end::lost;
        if (ready <= 0) break;
        ssize_t got;
        grew = received < serial_reply_size - 1;
        if (grew) {
            got = sys_read(fd, serial_reply + received, serial_reply_size - 1 - received);
        } else {
            got = sys_read(fd, scratch, sizeof scratch);
        }
        // Readiness without data: keep waiting, against the same deadline.
        if (got < 0 && errno == EAGAIN) {
            grew = false;
            continue;
        }
        // End of file, hang-up (EIO) or any other failure ends the reply.
        if (got <= 0) {
            serial_ended = serial_end::lost;
            break;
        }
        received += static_cast<size_t>(got);
        if (received > serial_reply_cutoff) {
            serial_ended = serial_end::cutoff;
            break;
        }
        if (how.by_silence) {
            deadline = sys_now() + (got > serial_fragment_max ? serial_quiet_span : long_wait);
        }
    }
    return serial_reply;
}

serial_end serial_reply_end() {
    return serial_ended;
}

void serial_put_back(const char* bytes, size_t length) {
    // The reply it starts stays a terminated text.
    if (length > serial_reply_size - 1) length = serial_reply_size - 1;
    memmove(serial_carry, bytes, length);
    serial_carry_length = length;
}

const char* serial_last_failure() {
    return serial_failure;
}
