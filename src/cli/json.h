// One JSON document (RFC 8259) at a time, composed in a fixed buffer and handed out
// whole, so that each piece of output goes out in one write. Strings keep valid UTF-8
// as it is; a byte that is not part of valid UTF-8 becomes the character of the same
// number (\u0080 to \u00ff) and a control character \r, \n, \t or \u00XX, so that the
// text stays valid and nothing is lost: every \u00XX escape stands for the byte XX.
#pragma once

#include <stddef.h>

// Room for an exchange whose reply and command escape at 6 bytes each, twice over
// (the reply and its lines), and the document's frame.
constexpr size_t json_buffer_size = size_t{112} * 1024;

// Starts a new piece of text.
void json_clear();

// Appends structure (braces, keys, numbers) as it is.
void json_raw(const char* text);
void json_raw_bytes(const char* bytes, size_t length);

// Appends `length` bytes as a JSON string, quotes included.
void json_string(const char* bytes, size_t length);

// Appends `length` bytes escaped as within a string, without quotes: a string written
// piece by piece. Each piece must end where a character ends.
void json_escaped(const char* bytes, size_t length);

// Appends a JSON string, or null for a null text.
void json_text(const char* text);

// Appends a whole number.
void json_number(long long value);

// The piece composed so far; false when something did not fit (never for the pieces
// this tool composes, whose sizes are bounded).
[[nodiscard]] bool json_fits();
[[nodiscard]] const char* json_bytes();
[[nodiscard]] size_t json_length();

// How many bytes of valid UTF-8 start at `bytes` (2 to 4, or 1 for ASCII); 0 when the
// first byte starts no valid sequence within `length`.
[[nodiscard]] size_t json_utf8_length(const unsigned char* bytes, size_t length);
