#include "cli/output.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/json.h"
#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

constexpr size_t output_module_text_size = 16;
constexpr size_t output_escape_size = 8;
constexpr size_t output_number_size = 32;

// The objects and arrays the next field goes into: the outermost first. An array's item
// has no name, only its number.
struct output_frame {
    const char* name;
    int items;
    bool array;
    bool any;  // a member went out already
};
constexpr int output_depth_most = 4;
output_frame output_frames[output_depth_most];
int output_depth = 0;
bool output_as_json = false;

// The code point of a valid UTF-8 sequence of `size` bytes.
uint32_t output_code_point(const unsigned char* bytes, size_t size) {
    constexpr unsigned char leads[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    uint32_t code = bytes[0] & leads[size];
    for (size_t i = 1; i < size; ++i) code = code << 6 | (bytes[i] & 0x3fu);
    return code;
}

// Characters that are valid but act on the terminal or on how a line reads: C1 controls,
// bidirectional controls (an override makes a text read backwards), line and paragraph
// separators.
bool output_hidden(uint32_t code) {
    return (code >= 0x80 && code <= 0x9f) || code == 0x061c || code == 0x200e || code == 0x200f ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069) ||
           code == 0x2028 || code == 0x2029;
}

}  // namespace

bool output_print(const char* text, const char* end) {
    iovec pieces[] = {{const_cast<char*>(text), strlen(text)},
                      {const_cast<char*>(end), strlen(end)}};
    return sys_write_pieces(STDOUT_FILENO, pieces, static_cast<int>(sys_count(pieces)), sys_never);
}

void output_json_head(int slot) {
    char module[output_module_text_size];
    snprintf(module, sizeof module, "%08x", static_cast<unsigned>(modem_module_id()));
    json_raw("{\"slot\":");
    json_number(slot);
    json_raw(",\"port\":");
    json_text(modem_port_path());
    json_raw(",\"module\":");
    json_text(module);
}

bool output_json_end(const char* key, const char* text) {
    json_raw(",\"");
    json_raw(key);
    json_raw("\":");
    json_text(text);
    json_raw("}\n");
    return output_flush();
}

bool output_flush() {
    const bool written =
        json_fits() && sys_write_all(STDOUT_FILENO, json_bytes(), json_length(), sys_never);
    json_clear();
    return written;
}

bool output_flush_when_full() {
    return json_length() < json_buffer_size / 2 || output_flush();
}

void output_words(const char* text) {
    json_raw(text);
}

void output_visible(const char* bytes, size_t length, bool line_start) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length;) {
        const size_t valid = json_utf8_length(text + i, length - i);
        char escape[output_escape_size];
        const unsigned char byte = text[i];
        if (valid > 1) {
            const uint32_t code = output_code_point(text + i, valid);
            if (output_hidden(code)) {
                snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
                json_raw(escape);
            } else {
                json_raw_bytes(bytes + i, valid);
            }
            i += valid;
            continue;
        }
        const char* named = byte == '\\'   ? "\\\\"
                            : byte == '\n' ? "\\n"
                            : byte == '\r' ? "\\r"
                            : byte == '\t' ? "\\t"
                                           : nullptr;
        if (named != nullptr) {
            json_raw(named);
        } else if (valid == 0 || byte < 0x20 || byte == 0x7f ||
                   (byte == '[' && i == 0 && line_start)) {
            snprintf(escape, sizeof escape, "\\x%02x", byte);
            json_raw(escape);
        } else {
            json_raw_bytes(bytes + i, 1);
        }
        ++i;
    }
}

namespace {

// A member's start in JSON: a comma where one is due, then its name, unless it is an
// array's item.
void output_json_member(const output_frame& around, const char* name) {
    if (around.any) json_raw(",");
    if (!around.array) {
        json_text(name);
        json_raw(":");
    }
}

// Opens a field: in JSON its name after a comma where one is due, in plain output its
// whole name from the outermost object in.
void output_field_name(const char* name) {
    output_frame& around = output_frames[output_depth - 1];
    if (output_as_json) {
        output_json_member(around, name);
    } else {
        for (int depth = 1; depth < output_depth; ++depth) {
            const output_frame& frame = output_frames[depth];
            if (frame.name != nullptr) {
                json_raw(frame.name);
            } else {
                json_number(output_frames[depth - 1].items);
            }
            json_raw(".");
        }
        json_raw(name);
        json_raw(": ");
    }
    around.any = true;
}

void output_open(const char* name, bool array) {
    if (output_depth >= output_depth_most) return;
    output_frame& around = output_frames[output_depth - 1];
    if (around.array) ++around.items;
    if (output_as_json) {
        output_json_member(around, name);
        json_raw(array ? "[" : "{");
    }
    around.any = true;
    output_frames[output_depth++] = {name, 0, array, false};
}

// A number of tenths as a decimal, without trailing zeros.
void output_decimal(int64_t tenths) {
    char digits[output_number_size];
    const uint64_t size =
        tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
    if (size % 10 == 0) {
        snprintf(digits, sizeof digits, "%s%llu", tenths < 0 ? "-" : "",
                 static_cast<unsigned long long>(size / 10));
    } else {
        snprintf(digits, sizeof digits, "%s%llu.%llu", tenths < 0 ? "-" : "",
                 static_cast<unsigned long long>(size / 10),
                 static_cast<unsigned long long>(size % 10));
    }
    json_raw(digits);
}

void output_field_value(const char* name, int64_t value, bool tenths) {
    if (value == output_no_number) {
        if (output_as_json) output_field_null(name);
        return;
    }
    output_field_name(name);
    if (tenths) {
        output_decimal(value);
    } else {
        json_number(value);
    }
    if (!output_as_json) json_raw("\n");
}

}  // namespace

void output_fields_begin(bool json) {
    output_as_json = json;
    output_depth = 1;
    output_frames[0] = {nullptr, 0, false, false};
    if (json) json_raw("{");
}

void output_fields_end() {
    if (output_as_json) json_raw("}");
    output_depth = 0;
}

void output_field_text(const char* name, const char* text) {
    if (text == nullptr || text[0] == '\0') {
        if (output_as_json) output_field_null(name);
        return;
    }
    output_field_name(name);
    if (output_as_json) {
        json_text(text);
    } else {
        output_visible(text, strlen(text));
        json_raw("\n");
    }
}

void output_field_number(const char* name, int64_t value) {
    output_field_value(name, value, false);
}

void output_field_tenths(const char* name, int64_t tenths) {
    output_field_value(name, tenths, true);
}

void output_field_object(const char* name) {
    output_open(name, false);
}

void output_field_array(const char* name) {
    output_open(name, true);
}

void output_field_end() {
    if (output_depth <= 1) return;
    if (output_as_json) json_raw(output_frames[output_depth - 1].array ? "]" : "}");
    --output_depth;
}

void output_field_null(const char* name) {
    if (!output_as_json) return;
    output_field_name(name);
    json_raw("null");
}
