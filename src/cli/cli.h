// The command line:
//     mdmio [-s <slot>] [-f] [-j] <AT command> <Timeout_Sec> [<AT command> <Timeout_Sec>]...
// One run claims the port of the module in the slot (0, the default, or 1) once, sends
// each command with a carriage return in turn, prints each reply and a newline as it
// comes, and gives the port back, so that no other program's command lands between
// them. With -f each reply ends at its final result code rather than by silence; with
// -j the replies go out as one JSON document, an exchange's object per write. Exit status 1 for
// the usage text, "BUSY", and a reply that could not be written out (nothing more is sent then); 0
// for every exchange done, time-outs included.
#pragma once

// The whole run; returns the exit status.
int cli_run(int argc, char** argv);

// The time-out argument: base 10, leading blanks and a sign accepted, stopping at the
// first non-digit, 0 without digits; values past the int range become its nearest end.
[[nodiscard]] int cli_parse_timeout(const char* text);
