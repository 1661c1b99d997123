#include "modem/modem.h"

#include <stdint.h>
#include <stdio.h>
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
// The port the last open chose, and why it could not be had.
const char* modem_chosen_path = nullptr;
const char* modem_refusal = "";
char modem_claim_refusal[64];
bool modem_timed_out_last = false;

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
constexpr const char* modem_final_codes[] = {"OK",          "ERROR",     "NO CARRIER",
                                             "NO DIALTONE", "NO ANSWER", "BUSY"};
constexpr const char* modem_final_starts[] = {"+CME ERROR:", "+CMS ERROR:", "CONNECT"};
// The text-mode prompt for a message's text (AT+CMGS, AT+CMGW), after a line end.
constexpr char modem_prompt[] = "> ";
constexpr char modem_line_ends[] = "\r\n";

// The echo of a message text: modems echo the body as it is typed, some with its Ctrl-Z
// (or ESC), some with the carriage return after it, some with neither, and answer
// (+CMGS) seconds later. A carriage return that starts the answer's "\r\n" stays.
bool modem_message_echo(const char* reply, size_t reply_length, const char* text, size_t body,
                        size_t& echo) {
    if (reply_length < body || memcmp(reply, text, body) != 0) return false;
    echo = body;
    // What follows the echoed body: its ending, then a carriage return that is no line's.
    const char* rest = reply + body;
    size_t left = reply_length - body;
    if (left > 0 && rest[0] == text[body]) {
        ++echo, ++rest, --left;
    }
    if (text[body + 1] == '\r' && left > 0 && rest[0] == '\r' && (left == 1 || rest[1] != '\n')) {
        ++echo;
    }
    return echo > 0;
}

// True when `reply` starts with the echo of `text`, and how long that echo is.
bool modem_echo_span(const char* reply, size_t reply_length, const char* text, size_t& echo) {
    const char* message_end = strpbrk(text, modem_message_ends);
    if (message_end != nullptr) {
        return modem_message_echo(reply, reply_length, text,
                                  static_cast<size_t>(message_end - text), echo);
    }
    const size_t text_length = strlen(text);
    if (reply_length < text_length || memcmp(reply, text, text_length) != 0) return false;
    // The empty command's echo is its lone carriage return; a carriage return with a line
    // feed after it starts the answer of a modem that doesn't echo.
    if (text[0] == '\r' && text_length == 1 && reply_length > 1 && reply[1] == '\n') return false;
    echo = text_length;
    return true;
}

// Whether one line (the text between line ends) is a final result code: it ends what
// the modem says to a command (V.250, 27.007, 27.005). Lines that only look like one
// (+COPS: 0,0,"OK",7; OK MOBILE; ERRORS: 0) are not.
bool modem_final_line(const char* line, size_t length) {
    bool found = false;
    for (const char* code : modem_final_codes) {
        found = found || (length == strlen(code) && memcmp(line, code, length) == 0);
    }
    for (const char* start : modem_final_starts) {
        const size_t start_length = strlen(start);
        found = found || (length >= start_length && memcmp(line, start, start_length) == 0);
    }
    return found;
}

// The serial line's question, with -f: the reply's length once a final result code has
// come whole after the echo, else 0. A reply that is so far only a piece of the echo is
// not whole.
size_t modem_reply_end(const char* sent, const char* reply, size_t length) {
    const size_t sent_length = strlen(sent);
    if (length < sent_length && memcmp(reply, sent, length) == 0) return 0;
    size_t echo = 0;
    if (!modem_echo_span(reply, length, sent, echo)) echo = 0;
    modem_final found{};
    if (!modem_find_final(reply + echo, length - echo, false, found)) return 0;
    return echo + found.end;
}

static_assert(sizeof modem_timeout_text <= serial_reply_size);

}  // namespace

int modem_open(int slot, int lock_wait_sec) {
    if (modem_port.fd >= 0) return 0;
    const char* path = module_port_path(slot);
    modem_chosen_path = path;
    modem_refusal = "";
    // One wait covers every kind of holder: lock files, and claims on the line itself.
    const int64_t deadline = monotonic_seconds() + lock_wait_sec;
    for (;;) {
        // Whatever is left of the wait; below 0 that is a single attempt.
        if (!lock_acquire(path, static_cast<int>(deadline - monotonic_seconds()))) {
            modem_refusal = lock_refusal_reason();
            return 0;
        }
        const int fd =
            serial_open(path, modem_baud, modem_data_bits, modem_parity, modem_stop_bits);
        if (fd >= 0) {
            modem_port = {fd, path};
            return 1;
        }
        lock_release(path);
        if (fd != serial_line_exclusive && fd != serial_line_flocked) {
            modem_refusal = serial_last_failure();
            return 0;
        }
        sys_sleep(modem_retry_span);
        if (monotonic_seconds() > deadline) {
            snprintf(modem_claim_refusal, sizeof modem_claim_refusal, "%s held by another program",
                     fd == serial_line_exclusive ? "exclusive mode (TIOCEXCL)" : "flock(2)");
            modem_refusal = modem_claim_refusal;
            syslog(LOG_ERR, "BUSY %s: %s", path, modem_refusal);
            return 0;
        }
    }
}

const char* modem_command(const char* text, int timeout_sec, bool end_at_final) {
    modem_timed_out_last = false;
    if (modem_port.fd < 0) return nullptr;
    const serial_complete complete = end_at_final ? modem_reply_end : nullptr;
    char* reply = serial_exchange(modem_port.fd, text, timeout_sec, complete);
    const modem_echo echo = modem_strip_echo(reply, text);
    if (echo == modem_echo::only) {
        reply = serial_exchange(modem_port.fd, "", timeout_sec, complete);
    } else if (echo == modem_echo::none && serial_line_lost() &&
               strncmp(reply, text, strlen(reply)) == 0) {
        // The module left the bus in mid-echo: only part of our own command came back,
        // and nothing answered it.
        reply[0] = '\0';
    }
    if (reply[0] != '\0') return reply;
    reply = serial_exchange(modem_port.fd, modem_wake_text, modem_wake_timeout_sec);
    memcpy(reply, modem_timeout_text, sizeof modem_timeout_text);
    modem_timed_out_last = true;
    return reply;
}

bool modem_timed_out() {
    return modem_timed_out_last;
}

const char* modem_port_path() {
    return modem_chosen_path;
}

uint32_t modem_module_id() {
    return module_detected_id();
}

const char* modem_busy_reason() {
    return modem_refusal;
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
    const size_t reply_length = strlen(reply);
    size_t echo = 0;
    if (!modem_echo_span(reply, reply_length, text, echo)) return modem_echo::none;
    if (echo == reply_length) return modem_echo::only;
    memmove(reply, reply + echo, reply_length - echo + 1);
    return modem_echo::removed;
}

bool modem_find_final(const char* reply, size_t length, bool whole, modem_final& found) {
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && strchr(modem_line_ends, reply[end]) == nullptr) ++end;
        const size_t line_length = end - start;
        if (end == length) {
            // No line end yet: only the prompt ends a reply so, once a line end came first.
            const bool prompt = start > 0 && line_length == strlen(modem_prompt) &&
                                memcmp(reply + start, modem_prompt, line_length) == 0;
            if (prompt) found = {start, line_length, length};
            return prompt;
        }
        // A carriage return ends a line once what follows it shows whether a line feed
        // belongs to it; at the very end only a reply that is whole can say.
        size_t after = end + 1;
        if (reply[end] == '\r') {
            if (after == length && !whole) return false;
            if (after < length && reply[after] == '\n') ++after;
        }
        if (line_length > 0 && modem_final_line(reply + start, line_length)) {
            found = {start, line_length, after};
            return true;
        }
        start = after;
    }
    return false;
}
