#include "cli/json.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr size_t json_number_size = 24;

char json_buffer[json_buffer_size];
size_t json_used = 0;
bool json_overflow = false;

void json_put(const char* bytes, size_t length) {
    if (length > sizeof json_buffer - json_used) {
        json_overflow = true;
        return;
    }
    memcpy(json_buffer + json_used, bytes, length);
    json_used += length;
}

// A byte as \u00XX: a control character, or a byte that is no part of valid UTF-8.
void json_put_escape(unsigned char byte) {
    constexpr char digits[] = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', digits[byte >> 4], digits[byte & 0xf]};
    json_put(escape, sizeof escape);
}

bool json_continuation(unsigned char byte) {
    return (byte & 0xc0) == 0x80;
}

}  // namespace

void json_clear() {
    json_used = 0;
    json_overflow = false;
}

void json_raw(const char* text) {
    json_put(text, strlen(text));
}

void json_raw_bytes(const char* bytes, size_t length) {
    json_put(bytes, length);
}

size_t json_utf8_length(const unsigned char* bytes, size_t length) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) return 1;
    // The second byte's range excludes overlong forms, surrogates and code points past
    // U+10FFFF; the rest are plain continuation bytes.
    size_t size = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        size = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        size = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        size = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (length < size || bytes[1] < low || bytes[1] > high) return 0;
    for (size_t i = 2; i < size; ++i) {
        if (!json_continuation(bytes[i])) return 0;
    }
    return size;
}

void json_string(const char* bytes, size_t length) {
    json_put("\"", 1);
    json_escaped(bytes, length);
    json_put("\"", 1);
}

void json_escaped(const char* bytes, size_t length) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        const unsigned char byte = text[i];
        const size_t valid = json_utf8_length(text + i, length - i);
        if (valid > 1) {
            json_put(bytes + i, valid);
            i += valid;
            continue;
        }
        ++i;
        if (byte == '"' || byte == '\\') {
            const char escape[] = {'\\', static_cast<char>(byte)};
            json_put(escape, sizeof escape);
        } else if (byte == '\r') {
            json_put("\\r", 2);
        } else if (byte == '\n') {
            json_put("\\n", 2);
        } else if (byte == '\t') {
            json_put("\\t", 2);
        } else if (byte < 0x20 || valid == 0) {
            json_put_escape(byte);
        } else {
            json_put(bytes + i - 1, 1);
        }
    }
}

void json_text(const char* text) {
    if (text == nullptr) {
        json_raw("null");
    } else {
        json_string(text, strlen(text));
    }
}

void json_number(long long value) {
    char digits[json_number_size];
    const int length = snprintf(digits, sizeof digits, "%lld", value);
    if (length > 0) json_put(digits, static_cast<size_t>(length));
}

bool json_fits() {
    return !json_overflow;
}

const char* json_bytes() {
    return json_buffer;
}

size_t json_length() {
    return json_used;
}
