// The command line: `mdmio <AT command> <Timeout_Sec>`. One run claims the port of the
// module in slot 0, sends the command with a carriage return, prints the reply and a
// newline, and gives the port back. Exit status 1 for the usage text, "BUSY", and a
// reply that could not be written out; 0 for every exchange done, time-outs included.
#pragma once

// The whole run; returns the exit status.
int cli_run(int argc, char** argv);

// The time-out argument: base 10, leading blanks and a sign accepted, stopping at the
// first non-digit, 0 without digits; values past the int range become its nearest end.
[[nodiscard]] int cli_parse_timeout(const char* text);
