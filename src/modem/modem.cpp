#include "modem/modem.h"

#include <stdint.h>
#include <string.h>
#include <syslog.h>

#include "lock/lock.h"
#include "modem/serial.h"
#include "module/module.h"
#include "sys/sys_io.h"

namespace {

struct modem_port_record {
    int fd;            // -1 when no port is open
    const char* path;  // device path of the open port, null when none
};

modem_port_record modem_port = {-1, nullptr};

constexpr unsigned modem_baud = 115200;
constexpr unsigned modem_data_bits = 8;
constexpr char modem_parity[] = "N";
constexpr unsigned modem_stop_bits = 1;
// After a silent exchange a lone carriage return ends whatever the modem may still be
// holding as a half-typed command line; what it answers to that is not wanted.
constexpr char modem_wake_text[] = "\r";
constexpr int modem_wake_timeout_sec = 1;
constexpr sys_ns modem_retry_span = 100 * sys_ns_per_ms;
// A text-mode message (AT+CMGS, AT+CMGW) ends in Ctrl-Z to send it or ESC to cancel.
constexpr char modem_message_ends[] = "\x1a\x1b";

// The echo of a message text: modems echo the body as it is typed, some with its Ctrl-Z
// (or ESC), some with the carriage return after it, some with neither, and answer
// (+CMGS) seconds later. A carriage return that starts the answer's "\r\n" stays.
modem_echo modem_strip_message_echo(char* reply, const char* text, size_t body) {
    const size_t reply_length = strlen(reply);
    if (reply_length < body || memcmp(reply, text, body) != 0) return modem_echo::none;
    size_t echo = body;
    if (reply[echo] == text[body]) ++echo;
    if (text[body + 1] == '\r' && reply[echo] == '\r' && reply[echo + 1] != '\n') ++echo;
    if (echo == 0) return modem_echo::none;
    if (reply[echo] == '\0') return modem_echo::only;
    memmove(reply, reply + echo, reply_length - echo + 1);
    return modem_echo::removed;
}

static_assert(sizeof modem_timeout_text <= serial_reply_size);

}  // namespace

int modem_open(int slot, int lock_wait_sec) {
    if (modem_port.fd >= 0) return 0;
    const char* path = module_port_path(slot);
    // One wait covers every kind of holder: lock files, and claims on the line itself.
    const int64_t deadline = monotonic_seconds() + lock_wait_sec;
    for (;;) {
        // Whatever is left of the wait; below 0 that is a single attempt.
        if (!lock_acquire(path, static_cast<int>(deadline - monotonic_seconds()))) return 0;
        const int fd =
            serial_open(path, modem_baud, modem_data_bits, modem_parity, modem_stop_bits);
        if (fd >= 0) {
            modem_port = {fd, path};
            return 1;
        }
        lock_release(path);
        if (fd != serial_line_exclusive && fd != serial_line_flocked) return 0;
        sys_sleep(modem_retry_span);
        if (monotonic_seconds() > deadline) {
            syslog(LOG_ERR, "BUSY %s: %s held by another program", path,
                   fd == serial_line_exclusive ? "exclusive mode (TIOCEXCL)" : "flock(2)");
            return 0;
        }
    }
}

const char* modem_command(const char* text, int timeout_sec) {
    if (modem_port.fd < 0) return nullptr;
    char* reply = serial_exchange(modem_port.fd, text, timeout_sec);
    const modem_echo echo = modem_strip_echo(reply, text);
    if (echo == modem_echo::only) {
        reply = serial_exchange(modem_port.fd, "", timeout_sec);
    } else if (echo == modem_echo::none && serial_line_lost() &&
               strncmp(reply, text, strlen(reply)) == 0) {
        // The module left the bus in mid-echo: only part of our own command came back,
        // and nothing answered it.
        reply[0] = '\0';
    }
    if (reply[0] != '\0') return reply;
    reply = serial_exchange(modem_port.fd, modem_wake_text, modem_wake_timeout_sec);
    memcpy(reply, modem_timeout_text, sizeof modem_timeout_text);
    return reply;
}

void modem_close() {
    if (modem_port.fd >= 0) {
        sys_close(modem_port.fd);
        modem_port.fd = -1;
    }
    if (modem_port.path != nullptr) {
        lock_release(modem_port.path);
        modem_port.path = nullptr;
    }
}

void modem_release_on_signal() {
    lock_release_on_signal();
}

modem_echo modem_strip_echo(char* reply, const char* text) {
    const char* message_end = strpbrk(text, modem_message_ends);
    if (message_end != nullptr) {
        return modem_strip_message_echo(reply, text, static_cast<size_t>(message_end - text));
    }
    const size_t reply_length = strlen(reply);
    const size_t text_length = strlen(text);
    if (reply_length < text_length || memcmp(reply, text, text_length) != 0) {
        return modem_echo::none;
    }
    // The empty command's echo is its lone carriage return; a carriage return with a line
    // feed after it starts the answer of a modem that doesn't echo.
    if (text[0] == '\r' && text_length == 1 && reply[1] == '\n') return modem_echo::none;
    if (reply_length == text_length) return modem_echo::only;
    memmove(reply, reply + text_length, reply_length - text_length + 1);
    return modem_echo::removed;
}
