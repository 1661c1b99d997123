// The process's one modem port. modem_open finds the AT port of a module slot, claims
// it with the device lock file and opens the line at 115200 8N1; modem_command runs
// one AT exchange and shapes the reply (the modem's echo removed, or the time-out
// text for a silent modem); modem_close closes the line and gives the lock back.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sys/sys_io.h"

constexpr char modem_timeout_text[] = "\r\nTIMEOUT\r\n";

// 1 when the slot's port is open and claimed; 0 when it could not be had within
// `lock_wait_sec` seconds (a lock file of the port, or another program's exclusive mode
// or flock on the line, stayed held), could not be opened, or a port is open already.
// Every failure but the last leaves one line in the system log that says why.
[[nodiscard]] int modem_open(int slot, int lock_wait_sec);

// What the last modem_open chose and met, for a report: the AT port's path (null before
// any open), the slot's module ID as its record holds it, and why the port could not be
// had, as the log line that says so gives it (empty when it was had).
[[nodiscard]] const char* modem_port_path();
[[nodiscard]] uint32_t modem_module_id();
[[nodiscard]] const char* modem_busy_reason();

// Sends `text` (carriage return included) and returns the reply, or the time-out text;
// null when no port is open. The reply stays valid until the next exchange. The reply
// ends by silence; with `end_at_final` also as soon as a final result code has come
// whole (modem_find_final), and what came after it starts the next exchange's reply.
[[nodiscard]] const char* modem_command(const char* text, int timeout_sec,
                                        bool end_at_final = false);

// True when the last exchange's reply was the time-out text.
[[nodiscard]] bool modem_timed_out();

// Which final result codes can end a command's reply: a query or setting ends with OK,
// ERROR, +CME ERROR or +CMS ERROR; a message's command (AT+CMGS, AT+CMGW) also with
// its prompt; only a call's (ATD, ATA, ATO, AT+CGDATA) with NO CARRIER, BUSY, NO
// ANSWER, NO DIALTONE or CONNECT, which a module also sends unasked when a call or a
// data connection ends. `any` takes them all, as the plain command form does.
enum class modem_finals { answer, prompt, any };
[[nodiscard]] modem_finals modem_finals_of(const char* text);

// Says where, in a reply whose echo is gone, an answer that a step waits for has come
// whole: the length up to its end, or 0 while it has not.
using modem_awaited = size_t (*)(const char* reply, size_t length);

// How the last step ended: with its answer (its final result code, or the awaited
// answer), by its time-out, because the line went away, or with an answer too long for
// the reply buffer.
enum class modem_end { answered, silent, lost, too_long };

// One step of a job. What is waiting on the line is dropped first, so that a late or
// stray answer is never taken for this command's; then `text` (carriage return
// included) goes out and the reply ends at the first final result code the command can
// give (modem_finals_of) after its echo, wherever the echo stands: what came before it
// (news, a late answer) is no part of the reply. Or it ends
// with `awaited` once that answer has come, or when `timeout_sec` has passed since
// the write (there is no silence rule). The empty text writes nothing and drops
// nothing: a wait for what an earlier command set going, which asked the module
// nothing, so its end says nothing of the module either. A step after one that got no
// answer first checks that the module is done with that one (AT+CMEE?, whose answer
// nothing else a job sends can give; waiting as long as that step did, 5 s at most),
// so its late answer can't be taken for this.
// Returns the reply without its echo; null when no port is open.
[[nodiscard]] const char* modem_step(const char* text, int timeout_sec,
                                     modem_awaited awaited = nullptr);

// modem_step for an answer of any length: each line of it goes to `line` as it comes,
// with `cut` set for a line longer than the reply buffer (its start), and the step
// ends at the final result code, or when `timeout_sec` has passed since the write.
// Returns the final result code's line, with its line end, as the reply (the time-out
// text when none came); null when no port is open.
using modem_line = void (*)(const char* line, size_t length, bool cut);
[[nodiscard]] const char* modem_step_lines(const char* text, int timeout_sec, modem_line line);

[[nodiscard]] modem_end modem_step_end();

// Checks now that the line is in step, as after a step without its answer, waiting up
// to `timeout_sec` for the check's answer: before a job's first step, as a run killed a
// moment ago may have left a command whose answer is still to come. False when the
// module said nothing to it.
[[nodiscard]] bool modem_step_sync(int timeout_sec);

// Checks now, where the last step went unanswered, that the module is done with it, as
// the next step would first; false once the module has stopped answering, so that a job
// sends nothing more to it.
[[nodiscard]] bool modem_step_ready();

// Every later step, and the check before it, ends by `deadline` (sys_now's clock)
// whatever its own time-out; 0 lifts the bound. A job that promises an end in time sets
// it once.
void modem_steps_until(sys_ns deadline);

// Cancels the input of a message that a prompt may have opened, late or not (ESC), and
// drops what the module says to it; the next step first checks that it is done.
void modem_cancel_input();

// False once a step and the check after it both went unanswered: the module has stopped
// answering, and a job had better end.
[[nodiscard]] bool modem_answering();

// Closes the port and removes its lock; harmless when nothing is open.
void modem_close();

// For a signal handler: removes the lock of the open port (async-signal-safe).
void modem_release_on_signal();

// What echo handling found in a reply to `text`; the reply is edited in place. The echo
// of a command is the whole text; that of a message text (ending in Ctrl-Z or ESC) may
// lack the Ctrl-Z, the carriage return after it, or both, as modems differ. The empty
// command's lone carriage return is no echo where a line feed follows it: that starts
// the answer.
enum class modem_echo {
    only,     // the reply is the echo alone: the answer is still to come
    removed,  // the echo was cut off the front
    none,     // no echo to remove; the reply is unchanged
};
modem_echo modem_strip_echo(char* reply, const char* text);

// Where a final result code stands in a reply: its line, and where the line's end ends.
struct modem_final {
    size_t start;
    size_t length;
    size_t end;
};

// Finds the first final result code in a reply whose echo is gone: a line that is
// exactly OK, ERROR, NO CARRIER, NO DIALTONE, NO ANSWER or BUSY, or begins with
// +CME ERROR:, +CMS ERROR: or CONNECT, once its line end has come; or the prompt "> "
// after a line end, with nothing after it; of these, those that `finals` takes.
// `whole`: no more bytes will come, so a carriage return at the very end is a line end.
[[nodiscard]] bool modem_find_final(const char* reply, size_t length, bool whole,
                                    modem_final& found, modem_finals finals = modem_finals::any);
