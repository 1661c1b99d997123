// The raw serial line to the modem: open a tty in raw mode at a speed and character
// format unless another program holds it (exclusive mode or flock), holding an flock on
// it as tio and picocom do; write one text and gather the reply. A reply ends by a
// two-speed silence rule: the caller's time-out for the first byte and after a chunk of
// 1 or 2 bytes, 200 ms once a chunk of more than 2 bytes has come. Knows nothing of
// slots, locks or AT syntax. Failures of open, line setup and write go to the system log.
#pragma once

#include <stddef.h>
#include <termios.h>

#include "sys/sys_io.h"

// The reply buffer: one per thread, cleared by every exchange.
constexpr size_t serial_reply_size = 8192;
// Gathering stops once this many bytes have come, stored or dropped.
constexpr size_t serial_reply_cutoff = 65535;

// serial_open's answers when another process holds the line: in exclusive mode, or with
// an flock.
constexpr int serial_line_exclusive = -2;
constexpr int serial_line_flocked = -3;

// Opens `path` non-blocking and without becoming its controlling terminal, takes an
// exclusive flock on it, and sets raw mode: `baud` from the speed table (others give
// 9600), 7 or 8 data bits, parity by the first character of `parity` ('O', 'E', else
// none), 1 or 2 stop bits. Returns the descriptor; -1 when the device can't be opened
// (logged); with the line untouched and nothing logged, serial_line_exclusive when
// another process holds it in exclusive mode (TIOCEXCL; the open itself fails with
// EBUSY for all but root), serial_line_flocked when one holds an flock on it.
[[nodiscard]] int serial_open(const char* path, unsigned baud, unsigned data_bits,
                              const char* parity, unsigned stop_bits);

// The raw-mode settings serial_open applies: replaces c_iflag, c_oflag, c_lflag and
// c_cflag of `line` and leaves everything else (c_cc, the line discipline) as it is.
void serial_line_settings(termios& line, unsigned baud, unsigned data_bits, const char* parity,
                          unsigned stop_bits);

// Asked after every read that adds to the reply whether the reply is whole, with the
// text that was written and the bytes gathered so far, a NUL among them where one came:
// the length of the whole reply,
// or 0 while it is not. The caller knows what ends a reply; this layer only when.
using serial_complete = size_t (*)(const char* sent, const char* reply, size_t length);

// How a reply ends besides the line going away. By default as the silence rule says.
struct serial_gather {
    // Ends the reply as soon as it says the reply is whole; bytes gathered past that end
    // are kept and start the next exchange's reply, as bytes waiting on the line would.
    serial_complete complete = nullptr;
    // False: no silence rule; only `complete` or the time-out, counted from the write
    // (or `deadline`, where given), ends the reply, and a reply that fills the buffer
    // ends there with the rest left on the line (serial_reply_full).
    bool by_silence = true;
    sys_ns deadline = 0;
    // True: what is waiting on the line before the write, and what the last reply left
    // over, is dropped, so that the reply is only what comes after the text.
    bool fresh = false;
};

// Writes `text` whole (nothing for the empty text), then gathers the reply into the
// reply buffer and returns it as a terminated text of at most serial_reply_size - 1
// bytes. Bytes already waiting on the line start the reply. A negative time-out
// gathers nothing; 0 makes the waits zero-time polls.
char* serial_exchange(int fd, const char* text, int timeout_sec, const serial_gather& how = {});

// How the last reply ended: by silence or its time-out, as `complete` said, by filling
// the buffer (without the silence rule), because the line went away (end of file, or a
// read error such as the EIO of a device that left the USB bus, or a wait that failed),
// or at the cutoff.
enum class serial_end { silence, complete, full, lost, cutoff };
[[nodiscard]] serial_end serial_reply_end();

// Hands bytes back to start the next exchange's reply, as if they were still waiting
// on the line: the part of a reply its reader could not use yet.
void serial_put_back(const char* bytes, size_t length);

// The last line this layer logged (open, line setup or write failure), as logged;
// empty when none.
[[nodiscard]] const char* serial_last_failure();
