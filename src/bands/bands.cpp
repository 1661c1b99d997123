#include "bands/bands.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr int bands_word_bits = 64;
// The highest LTE band a code of 100 + n can carry before it reads as NR's 50...
constexpr int bands_lte_code_most = 399;
constexpr int bands_lte_code_base = 100;

bool bands_digit(char c) {
    return c >= '0' && c <= '9';
}

int bands_hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool bands_blank(char c) {
    return c == ' ' || c == '\t' || c == '"';
}

// The text without the blanks and quotes around it.
void bands_trim(const char*& text, size_t& length) {
    while (length > 0 && bands_blank(text[0])) ++text, --length;
    while (length > 0 && bands_blank(text[length - 1])) --length;
}

// A decimal band number of 1 to bands_most digits without a leading zero; 0 for none.
int bands_number(const char* text, size_t length) {
    if (length == 0 || length > 3 || text[0] == '0') return 0;
    int band = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!bands_digit(text[i])) return 0;
        band = band * 10 + (text[i] - '0');
    }
    return band;
}

// Appends text; false where it does not fit with its NUL.
bool bands_append(char* out, size_t size, size_t& used, const char* text) {
    const size_t length = strlen(text);
    if (used + length + 1 > size) return false;
    memcpy(out + used, text, length + 1);
    used += length;
    return true;
}

}  // namespace

void bands_clear(bands_set& set) {
    set = {};
}

void bands_add(bands_set& set, int band) {
    if (band < 1 || band > bands_most) return;
    set.bits[band / bands_word_bits] |= uint64_t{1} << (band % bands_word_bits);
}

bool bands_has(const bands_set& set, int band) {
    if (band < 1 || band > bands_most) return false;
    return (set.bits[band / bands_word_bits] >> (band % bands_word_bits) & 1) != 0;
}

bool bands_empty(const bands_set& set) {
    return bands_next(set, 0) == 0;
}

bool bands_equal(const bands_set& a, const bands_set& b) {
    return memcmp(a.bits, b.bits, sizeof a.bits) == 0;
}

size_t bands_count(const bands_set& set) {
    size_t count = 0;
    for (int band = bands_next(set, 0); band != 0; band = bands_next(set, band)) ++count;
    return count;
}

int bands_next(const bands_set& set, int after) {
    for (int band = after + 1; band <= bands_most; ++band) {
        if (bands_has(set, band)) return band;
    }
    return 0;
}

bool bands_parse_list(const char* text, bands_set& set) {
    bands_clear(set);
    for (;;) {
        const size_t length = strcspn(text, ",");
        const int band = bands_number(text, length);
        if (band == 0) return false;
        bands_add(set, band);
        if (text[length] == '\0') return true;
        text += length + 1;
    }
}

bool bands_read_mask(const char* text, size_t length, bands_set& set) {
    bands_clear(set);
    bands_trim(text, length);
    if (length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
        length -= 2;
    }
    if (length == 0) return false;
    // The last digit holds bits 0 to 3: bands 1 to 4.
    for (size_t i = 0; i < length; ++i) {
        const int digit = bands_hex_digit(text[length - 1 - i]);
        if (digit < 0) return false;
        for (int bit = 0; bit < 4; ++bit) {
            if ((digit >> bit & 1) != 0) bands_add(set, static_cast<int>(i) * 4 + bit + 1);
        }
    }
    return true;
}

bool bands_write_mask(const bands_set& set, bool prefixed, int highest_band, char* out,
                      size_t size) {
    int highest = 0;
    for (int band = bands_next(set, 0); band != 0; band = bands_next(set, band)) highest = band;
    if (highest == 0 || highest > highest_band) return false;
    const char* digits = prefixed ? "0123456789abcdef" : "0123456789ABCDEF";
    const int digit_count = (highest - 1) / 4 + 1;
    const auto count = static_cast<size_t>(digit_count);
    const size_t prefix = prefixed ? 2 : 0;
    if (prefix + count + 1 > size) return false;
    if (prefixed) memcpy(out, "0x", 2);
    for (size_t i = 0; i < count; ++i) {
        int digit = 0;
        for (int bit = 0; bit < 4; ++bit) {
            if (bands_has(set, static_cast<int>(i) * 4 + bit + 1)) digit |= 1 << bit;
        }
        out[prefix + count - 1 - i] = digits[digit];
    }
    out[prefix + count] = '\0';
    return true;
}

bool bands_read_list(const char* text, size_t length, bands_set& set) {
    bands_clear(set);
    bands_trim(text, length);
    if (length >= 2 && text[0] == '(' && text[length - 1] == ')') {
        ++text;
        length -= 2;
    }
    size_t at = 0;
    while (at <= length) {
        size_t end = at;
        while (end < length && text[end] != ':' && text[end] != ',') ++end;
        const char* item = text + at;
        size_t item_length = end - at;
        bands_trim(item, item_length);
        if (item_length > 0 &&
            (item[0] == 'B' || item[0] == 'b' || item[0] == 'n' || item[0] == 'N')) {
            ++item;
            --item_length;
        }
        const int band = bands_number(item, item_length);
        if (band == 0) return false;
        bands_add(set, band);
        at = end + 1;
    }
    return true;
}

bool bands_write_list(const bands_set& set, char* out, size_t size) {
    if (size == 0 || bands_empty(set)) return false;
    size_t used = 0;
    out[0] = '\0';
    for (int band = bands_next(set, 0); band != 0; band = bands_next(set, band)) {
        char item[16];
        snprintf(item, sizeof item, used == 0 ? "%d" : ":%d", band);
        if (!bands_append(out, size, used, item)) return false;
    }
    return true;
}

bands_code bands_read_code(const char* text, size_t length, int& band) {
    band = 0;
    bands_trim(text, length);
    if (length == 0) return bands_code::none;
    for (size_t i = 0; i < length; ++i) {
        if (!bands_digit(text[i])) return bands_code::none;
    }
    if (length >= 3 && text[0] == '5' && text[1] == '0') {
        // "5078", "505", "5005": the digits after 50, leading zeros and all.
        size_t start = 2;
        while (start + 1 < length && text[start] == '0') ++start;
        band = bands_number(text + start, length - start);
        return band != 0 ? bands_code::nr : bands_code::none;
    }
    band = bands_number(text, length);
    if (band == 0) return bands_code::none;
    if (band < bands_lte_code_base) return bands_code::umts;
    if (band > bands_lte_code_base && band <= bands_lte_code_base + bands_lte_code_most) {
        band -= bands_lte_code_base;
        return bands_code::lte;
    }
    band = 0;
    return bands_code::none;
}

bool bands_write_codes(const bands_set& set, bands_code kind, char* out, size_t size) {
    if (size == 0 || bands_empty(set) || kind == bands_code::none) return false;
    size_t used = 0;
    out[0] = '\0';
    for (int band = bands_next(set, 0); band != 0; band = bands_next(set, band)) {
        char code[16];
        if (kind == bands_code::lte) {
            if (band > bands_lte_code_most) return false;
            snprintf(code, sizeof code, ",%d", bands_lte_code_base + band);
        } else if (kind == bands_code::nr) {
            snprintf(code, sizeof code, ",50%d", band);
        } else {
            if (band >= bands_lte_code_base) return false;
            snprintf(code, sizeof code, ",%d", band);
        }
        if (!bands_append(out, size, used, code)) return false;
    }
    return true;
}
