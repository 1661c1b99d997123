// What the front end prints: texts, each with its line end in one write, and the JSON
// document's pieces as they are composed.
#pragma once

#include <stddef.h>

// Writes the text and its line end to standard output in one write, retrying
// interrupted and short writes, with no buffer in between: a write that fails leaves
// nothing half printed. False when they could not all be written.
[[nodiscard]] bool output_print(const char* text, const char* end);

// output_print for `length` bytes that need not end in a NUL.
[[nodiscard]] bool output_write(const char* bytes, size_t length, const char* end);

// Starts the JSON document: slot, port and module of the last open.
void output_json_head(int slot);

// Ends the document with one more member, "key": text, and writes it; false when it
// could not be written.
bool output_json_end(const char* key, const char* text);

// Writes what is composed of the document in one write and starts the next piece.
[[nodiscard]] bool output_json();

// The same once the piece fills half the buffer: for a piece of unbounded length.
[[nodiscard]] bool output_json_when_full();
