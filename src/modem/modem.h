// The process's one modem port. modem_open finds the AT port of a module slot, claims
// it with the device lock file and opens the line at 115200 8N1; modem_command runs
// one AT exchange and shapes the reply (the modem's echo removed, or the time-out
// text for a silent modem); modem_close closes the line and gives the lock back.
#pragma once

constexpr char modem_timeout_text[] = "\r\nTIMEOUT\r\n";

// 1 when the slot's port is open and claimed; 0 when it could not be had within
// `lock_wait_sec` seconds (a lock file of the port, or another program's exclusive mode
// or flock on the line, stayed held), could not be opened, or a port is open already.
// Every failure but the last leaves one line in the system log that says why.
[[nodiscard]] int modem_open(int slot, int lock_wait_sec);

// Sends `text` (carriage return included) and returns the reply, or the time-out text;
// null when no port is open. The reply stays valid until the next exchange.
[[nodiscard]] const char* modem_command(const char* text, int timeout_sec);

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
