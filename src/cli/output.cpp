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
    return output_write(text, strlen(text), end);
}

bool output_write(const char* bytes, size_t length, const char* end) {
    iovec pieces[] = {{const_cast<char*>(bytes), length}, {const_cast<char*>(end), strlen(end)}};
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
