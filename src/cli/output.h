// What the front end prints: texts, each with its line end in one write, and the pieces
// of a JSON document or of plain output as they are composed.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Writes the text and its line end to standard output in one write, retrying
// interrupted and short writes, with no buffer in between: a write that fails leaves
// nothing half printed. False when they could not all be written.
[[nodiscard]] bool output_print(const char* text, const char* end);

// Starts the JSON document: slot, port and module of the last open.
void output_json_head(int slot);

// Ends the document with one more member, "key": text, and writes it; false when it
// could not be written.
bool output_json_end(const char* key, const char* text);

// Writes what is composed (of the document, or of plain output) in one write and starts
// the next piece.
[[nodiscard]] bool output_flush();

// The same once the piece fills half the buffer: for a piece of unbounded length.
[[nodiscard]] bool output_flush_when_full();

// Plain output for a person, composed in the same buffer and written the same way: the
// tool's own words as they are, and what the module or the network said so that it
// shows as it is and can neither move the terminal nor make a line of the tool's own:
// \\ for a backslash, \n, \r and \t, \xhh for any other control character, DEL or a
// byte that is no part of valid UTF-8, \uhhhh for a C1 control, a bidirectional control
// or a line or paragraph separator, and \x5b for a '[' that would start a line.
void output_words(const char* text);
void output_visible(const char* bytes, size_t length, bool line_start = false);

// Named fields, each named once for both outputs. Plain: a "name: value" line for each
// known field, the names of the objects and arrays around it joined by dots and array
// items counted from 1 (nr.rsrp_dbm, carriers.1.band); unknown fields have no line.
// JSON: a member for each, unknown ones null. Between output_fields_begin and
// output_fields_end, the one object they make; the plain names leave its own out.
constexpr int64_t output_no_number = INT64_MIN;
void output_fields_begin(bool json);
void output_fields_end();
// A text, unknown when null or empty.
void output_field_text(const char* name, const char* text);
// A whole number, or one kept in tenths (written as a decimal: -12.5, 6).
void output_field_number(const char* name, int64_t value);
void output_field_tenths(const char* name, int64_t tenths);
// An object or an array that the fields after it go into, until output_field_end; the
// items of an array are objects without a name (null). An object that is unknown.
void output_field_object(const char* name);
void output_field_array(const char* name);
void output_field_end();
void output_field_null(const char* name);
