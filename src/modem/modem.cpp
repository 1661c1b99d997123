#include "modem/modem.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
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
// How the steps of a job went: the last one's end, whether the next must first check that
// the module is done with an unanswered one, and how many in a row went unanswered.
modem_end modem_last_end = modem_end::answered;
int modem_last_timeout_sec = 0;
bool modem_unsettled = false;
int modem_silent_steps = 0;
// What the step under way waits for instead of a final result code, and which final
// result codes its command can give.
modem_awaited modem_awaiting = nullptr;
modem_finals modem_accepting = modem_finals::any;
// While a job's step is under way its echo is looked for wherever it stands.
bool modem_stepping = false;
// When every step and check must have ended (0: no bound).
sys_ns modem_bound = 0;

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
constexpr const char* modem_final_codes[] = {"OK", "ERROR"};
constexpr const char* modem_final_starts[] = {"+CME ERROR:", "+CMS ERROR:"};
// Codes that end a call or a data connection: a module sends them unasked too.
constexpr const char* modem_call_codes[] = {"NO CARRIER", "NO DIALTONE", "NO ANSWER", "BUSY"};
constexpr char modem_call_start[] = "CONNECT";
// Commands whose reply may end with a call's codes, and those that may end with the
// prompt for a message's text.
constexpr const char* modem_call_commands[] = {"ATD", "ATA", "ATO"};
constexpr char modem_data_command[] = "+CGDATA";
constexpr const char* modem_prompt_commands[] = {"+CMGS", "+CMGW"};
// The text-mode prompt for a message's text (AT+CMGS, AT+CMGW), after a line end.
constexpr char modem_prompt[] = "> ";
constexpr char modem_line_ends[] = "\r\n";
// The check after an unanswered step: a lone carriage return ends any half-typed line,
// then a query whose tagged answer none of the jobs' own commands can give.
constexpr char modem_check_text[] = "\rAT+CMEE?\r";
constexpr char modem_check_tag[] = "+CMEE:";
// The check waits as long as the step it follows did, up to this.
constexpr int modem_check_timeout_most_sec = 5;
// ESC ends a message's input without sending it; a module not taking one says nothing.
constexpr char modem_cancel_text[] = "\x1b";
constexpr int modem_cancel_timeout_sec = 1;
// A module silent for this many steps in a row, the check included, has stopped answering.
constexpr int modem_silent_most = 2;

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
bool modem_line_is(const char* line, size_t length, const char* code) {
    return length == strlen(code) && memcmp(line, code, length) == 0;
}

bool modem_line_starts(const char* line, size_t length, const char* start) {
    const size_t start_length = strlen(start);
    return length >= start_length && memcmp(line, start, start_length) == 0;
}

bool modem_final_line(const char* line, size_t length, modem_finals finals) {
    bool found = false;
    for (const char* code : modem_final_codes) found = found || modem_line_is(line, length, code);
    for (const char* start : modem_final_starts) {
        found = found || modem_line_starts(line, length, start);
    }
    if (finals != modem_finals::any) return found;
    for (const char* code : modem_call_codes) found = found || modem_line_is(line, length, code);
    return found || modem_line_starts(line, length, modem_call_start);
}

bool modem_line_end(char c) {
    return c == '\r' || c == '\n';
}

// Where the echo of a step's command ends in its reply: at a line's start, after
// whatever came first (news, a late answer); 0 where it has not come, with `pending`
// set where the reply ends in what may be its start. A message's text and the empty
// command have their echo only at the very start.
size_t modem_echo_anchor(const char* reply, size_t length, const char* text, bool& pending) {
    pending = false;
    if (text[0] == '\0' || strpbrk(text, modem_message_ends) != nullptr) {
        size_t echo = 0;
        return modem_echo_span(reply, length, text, echo) ? echo : 0;
    }
    // A check's leading carriage return comes back as a line end of its own.
    while (text[0] == '\r') ++text;
    const size_t text_length = strlen(text);
    for (size_t at = 0; at < length; ++at) {
        if (at > 0 && !modem_line_end(reply[at - 1])) continue;
        const size_t left = length - at;
        if (memcmp(reply + at, text, left < text_length ? left : text_length) != 0) continue;
        if (left >= text_length) return at + text_length;
        pending = true;
        return 0;
    }
    return 0;
}

// The serial line's question, with -f and in a job's steps: the reply's length once the
// answer has come whole after the echo (a final result code, or what the step awaits),
// else 0. A reply that is so far only a piece of the echo is not whole.
size_t modem_reply_end(const char* sent, const char* reply, size_t length) {
    const size_t sent_length = strlen(sent);
    if (length < sent_length && memcmp(reply, sent, length) == 0) return 0;
    size_t echo = 0;
    if (modem_stepping) {
        bool pending = false;
        echo = modem_echo_anchor(reply, length, sent, pending);
        if (pending) return 0;
    } else if (!modem_echo_span(reply, length, sent, echo)) {
        echo = 0;
    }
    if (modem_awaiting != nullptr) {
        const size_t end = modem_awaiting(reply + echo, length - echo);
        return end > 0 ? echo + end : 0;
    }
    modem_final found{};
    if (!modem_find_final(reply + echo, length - echo, false, found, modem_accepting)) return 0;
    return echo + found.end;
}

// A step's reply from its echo on: what came before is no part of it.
void modem_step_strip(char* reply, const char* text) {
    const size_t length = strlen(reply);
    bool pending = false;
    const size_t echo = modem_echo_anchor(reply, length, text, pending);
    memmove(reply, reply + echo, length - echo + 1);
}

// The check's answer: its tagged line, then a final result code.
size_t modem_check_answered(const char* reply, size_t length) {
    const size_t tag = strlen(modem_check_tag);
    for (size_t from = 0; from + tag <= length; ++from) {
        if (memcmp(reply + from, modem_check_tag, tag) != 0) continue;
        modem_final found{};
        return modem_find_final(reply + from, length - from, false, found, modem_finals::answer)
                   ? from + found.end
                   : 0;
    }
    return 0;
}

// A step's wait: its own time-out from now, within the job's bound where one is set.
sys_ns modem_step_deadline(int timeout_sec) {
    if (modem_bound == 0) return 0;
    const sys_ns own = sys_now() + static_cast<sys_ns>(timeout_sec) * sys_ns_per_sec;
    return own < modem_bound ? own : modem_bound;
}

serial_gather modem_step_gather(bool fresh, sys_ns deadline) {
    serial_gather how;
    how.complete = modem_reply_end;
    how.by_silence = false;
    how.deadline = deadline;
    how.fresh = fresh;
    return how;
}

// After a step without its answer the module may still be busy with it: it is done once
// it answers the check, which comes after. Whatever came before is dropped with it. A
// module that says nothing at all to the check has stopped answering; one that says
// something else (it doesn't know AT+CMEE?) has had the check's time to finish.
void modem_settle() {
    modem_awaiting = modem_check_answered;
    int timeout_sec = modem_last_timeout_sec;
    if (timeout_sec < 1) timeout_sec = 1;
    if (timeout_sec > modem_check_timeout_most_sec) timeout_sec = modem_check_timeout_most_sec;
    modem_stepping = true;
    const char* reply = serial_exchange(modem_port.fd, modem_check_text, timeout_sec,
                                        modem_step_gather(true, modem_step_deadline(timeout_sec)));
    modem_stepping = false;
    modem_awaiting = nullptr;
    if (serial_reply_end() == serial_end::complete || reply[0] != '\0') {
        modem_silent_steps = 0;
        modem_unsettled = false;
    } else {
        ++modem_silent_steps;
    }
}

// Before a step's command: settled with an unanswered one first, while the module answers.
void modem_step_begin(const char* text, int timeout_sec) {
    modem_timed_out_last = false;
    if (text[0] == '\0') return;
    if (modem_unsettled && modem_answering()) modem_settle();
    modem_last_timeout_sec = timeout_sec;
    modem_accepting = modem_finals_of(text);
}

// Records how a step ended; the reply of one that got nothing is the time-out text. A
// wait without a command asked the module nothing: what it did not bring leaves the
// module as it was.
void modem_step_finish(char* reply, bool command) {
    const serial_end end = serial_reply_end();
    modem_last_end = end == serial_end::complete ? modem_end::answered
                     : end == serial_end::lost   ? modem_end::lost
                     : end == serial_end::full   ? modem_end::too_long
                                                 : modem_end::silent;
    if (command) {
        modem_unsettled = modem_last_end != modem_end::answered;
        if (modem_last_end == modem_end::silent) ++modem_silent_steps;
        if (modem_last_end == modem_end::answered) modem_silent_steps = 0;
    }
    if (modem_last_end == modem_end::silent && reply[0] == '\0') {
        memcpy(reply, modem_timeout_text, sizeof modem_timeout_text);
        modem_timed_out_last = true;
    }
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
    serial_gather how;
    how.complete = end_at_final ? modem_reply_end : nullptr;
    // With -f a reply is the command's own: a late answer or a stray result code waiting
    // on the line is dropped, not taken for it. The empty command's reply is what comes.
    how.fresh = end_at_final && strcmp(text, modem_wake_text) != 0;
    char* reply = serial_exchange(modem_port.fd, text, timeout_sec, how);
    const modem_echo echo = modem_strip_echo(reply, text);
    if (echo == modem_echo::only) {
        how.fresh = false;
        reply = serial_exchange(modem_port.fd, "", timeout_sec, how);
    } else if (echo == modem_echo::none && serial_reply_end() == serial_end::lost &&
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

const char* modem_step(const char* text, int timeout_sec, modem_awaited awaited) {
    if (modem_port.fd < 0) return nullptr;
    modem_step_begin(text, timeout_sec);
    modem_awaiting = awaited;
    modem_stepping = true;
    char* reply =
        serial_exchange(modem_port.fd, text, timeout_sec,
                        modem_step_gather(text[0] != '\0', modem_step_deadline(timeout_sec)));
    modem_stepping = false;
    modem_awaiting = nullptr;
    // The echo alone is no answer.
    modem_step_strip(reply, text);
    modem_step_finish(reply, text[0] != '\0');
    return reply;
}

const char* modem_step_lines(const char* text, int timeout_sec, modem_line line) {
    if (modem_port.fd < 0) return nullptr;
    modem_step_begin(text, timeout_sec);
    sys_ns deadline = sys_now() + static_cast<sys_ns>(timeout_sec) * sys_ns_per_sec;
    if (modem_bound != 0 && modem_bound < deadline) deadline = modem_bound;
    modem_stepping = true;
    char* reply = serial_exchange(modem_port.fd, text, timeout_sec,
                                  modem_step_gather(text[0] != '\0', deadline));
    modem_stepping = false;
    modem_step_strip(reply, text);
    bool in_cut = false;  // in the rest of a line too long for the buffer
    for (;;) {
        const size_t length = strlen(reply);
        size_t at = 0;
        for (size_t end; (end = at + strcspn(reply + at, modem_line_ends)) < length; at = end + 1) {
            const size_t line_length = end - at;
            if (!in_cut && line_length > 0 &&
                modem_final_line(reply + at, line_length, modem_accepting)) {
                memmove(reply, reply + at, line_length);
                memcpy(reply + line_length, "\r\n", sizeof "\r\n");
                modem_step_finish(reply, text[0] != '\0');
                return reply;
            }
            if (!in_cut && line_length > 0) line(reply + at, line_length, false);
            in_cut = false;
        }
        if (serial_reply_end() != serial_end::full) break;
        // A full buffer: its whole lines are read, the rest waits for more.
        if (at == 0) {
            if (!in_cut) line(reply, length, true);
            in_cut = true;
            at = length;
        }
        serial_put_back(reply + at, length - at);
        reply = serial_exchange(modem_port.fd, "", timeout_sec, modem_step_gather(false, deadline));
    }
    reply[0] = '\0';
    modem_step_finish(reply, text[0] != '\0');
    return reply;
}

void modem_cancel_input() {
    if (modem_port.fd < 0) return;
    modem_accepting = modem_finals::answer;
    char* reply =
        serial_exchange(modem_port.fd, modem_cancel_text, modem_cancel_timeout_sec,
                        modem_step_gather(true, modem_step_deadline(modem_cancel_timeout_sec)));
    modem_unsettled = serial_reply_end() != serial_end::complete;
    reply[0] = '\0';
}

modem_end modem_step_end() {
    return modem_last_end;
}

bool modem_step_sync(int timeout_sec) {
    if (modem_port.fd < 0) return false;
    modem_unsettled = true;
    modem_last_timeout_sec = timeout_sec;
    modem_settle();
    return !modem_unsettled;
}

bool modem_step_ready() {
    if (modem_port.fd < 0) return false;
    if (modem_unsettled && modem_answering()) modem_settle();
    return modem_answering();
}

void modem_steps_until(sys_ns deadline) {
    modem_bound = deadline;
}

modem_finals modem_finals_of(const char* text) {
    while (text[0] == '\r') ++text;
    for (const char* call : modem_call_commands) {
        if (strncasecmp(text, call, strlen(call)) == 0) return modem_finals::any;
    }
    if (strcasestr(text, modem_data_command) != nullptr) return modem_finals::any;
    for (const char* command : modem_prompt_commands) {
        if (strcasestr(text, command) != nullptr) return modem_finals::prompt;
    }
    return modem_finals::answer;
}

bool modem_answering() {
    return modem_silent_steps < modem_silent_most;
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

bool modem_find_final(const char* reply, size_t length, bool whole, modem_final& found,
                      modem_finals finals) {
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && !modem_line_end(reply[end])) ++end;
        const size_t line_length = end - start;
        if (end == length) {
            // No line end yet: only the prompt ends a reply so, once a line end came first.
            const bool prompt = finals != modem_finals::answer && start > 0 &&
                                line_length == strlen(modem_prompt) &&
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
        if (line_length > 0 && modem_final_line(reply + start, line_length, finals)) {
            found = {start, line_length, after};
            return true;
        }
        start = after;
    }
    return false;
}
