#include "pdu/pdu.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace {

// The GSM 7-bit default alphabet, by septet.
constexpr uint16_t pdu_gsm7[128] = {
    0x0040, 0x00a3, 0x0024, 0x00a5, 0x00e8, 0x00e9, 0x00f9, 0x00ec, 0x00f2, 0x00c7, 0x000a, 0x00d8,
    0x00f8, 0x000d, 0x00c5, 0x00e5, 0x0394, 0x005f, 0x03a6, 0x0393, 0x039b, 0x03a9, 0x03a0, 0x03a8,
    0x03a3, 0x0398, 0x039e, 0x00a0, 0x00c6, 0x00e6, 0x00df, 0x00c9, 0x0020, 0x0021, 0x0022, 0x0023,
    0x00a4, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002a, 0x002b, 0x002c, 0x002d, 0x002e, 0x002f,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003a, 0x003b,
    0x003c, 0x003d, 0x003e, 0x003f, 0x00a1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004a, 0x004b, 0x004c, 0x004d, 0x004e, 0x004f, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005a, 0x00c4, 0x00d6, 0x00d1, 0x00dc, 0x00a7,
    0x00bf, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006a, 0x006b,
    0x006c, 0x006d, 0x006e, 0x006f, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007a, 0x00e4, 0x00f6, 0x00f1, 0x00fc, 0x00e0,
};
constexpr uint8_t pdu_escape = 0x1b;

// The extension table: the septet after an escape, and what it stands for.
struct pdu_extension {
    uint8_t septet;
    uint16_t code;
};
constexpr pdu_extension pdu_gsm7_extension[] = {
    {0x0a, 0x000c}, {0x14, 0x005e}, {0x28, 0x007b}, {0x29, 0x007d}, {0x2f, 0x005c},
    {0x3c, 0x005b}, {0x3d, 0x007e}, {0x3e, 0x005d}, {0x40, 0x007c}, {0x65, 0x20ac},
};

constexpr uint8_t pdu_type_international = 0x91;
constexpr uint8_t pdu_type_national = 0x81;
constexpr unsigned pdu_ton_international = 1;
constexpr unsigned pdu_ton_alphanumeric = 5;
constexpr uint16_t pdu_replacement = 0xfffd;
constexpr size_t pdu_septets_single = 160;
constexpr size_t pdu_septets_part = 153;  // 7 septets go to the concatenation header
constexpr size_t pdu_units_single = 70;
constexpr size_t pdu_units_part = 67;
constexpr size_t pdu_number_digits_most = 20;

// A reader over the PDU's bytes that fails once, for good, when they run out.
struct pdu_reader {
    const uint8_t* bytes;
    size_t length;
    size_t at;
    bool ok;
};

// The next `count` bytes; null, and the reader failed, when fewer are left.
const uint8_t* pdu_take(pdu_reader& reader, size_t count) {
    if (!reader.ok || count > reader.length - reader.at) {
        reader.ok = false;
        return nullptr;
    }
    const uint8_t* start = reader.bytes + reader.at;
    reader.at += count;
    return start;
}

uint8_t pdu_byte(pdu_reader& reader) {
    const uint8_t* byte = pdu_take(reader, 1);
    return byte != nullptr ? *byte : 0;
}

// The septet packed at `bit`, whose high bits may lie in the next octet.
uint8_t pdu_septet_at(const uint8_t* packed, size_t bit) {
    unsigned value = static_cast<unsigned>(packed[bit / 8]) >> (bit % 8);
    if (bit % 8 > 1) value |= static_cast<unsigned>(packed[bit / 8 + 1]) << (8 - bit % 8);
    return static_cast<uint8_t>(value & 0x7f);
}

bool pdu_put_utf8(uint32_t code, char* text, size_t room, size_t& used) {
    char bytes[4];
    size_t count;
    if (code < 0x80) {
        bytes[0] = static_cast<char>(code);
        count = 1;
    } else if (code < 0x800) {
        bytes[0] = static_cast<char>(0xc0 | (code >> 6));
        bytes[1] = static_cast<char>(0x80 | (code & 0x3f));
        count = 2;
    } else if (code < 0x10000) {
        bytes[0] = static_cast<char>(0xe0 | (code >> 12));
        bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        bytes[2] = static_cast<char>(0x80 | (code & 0x3f));
        count = 3;
    } else {
        bytes[0] = static_cast<char>(0xf0 | (code >> 18));
        bytes[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        bytes[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        bytes[3] = static_cast<char>(0x80 | (code & 0x3f));
        count = 4;
    }
    if (count > room - used) return false;
    memcpy(text + used, bytes, count);
    used += count;
    return true;
}

// One septet of GSM 7-bit text in UTF-8. An escape waits for the septet after it, which
// stands for a character of the extension table, or where it has none for its own.
bool pdu_put_septet(uint8_t septet, bool& escaped, char* text, size_t room, size_t& used) {
    uint32_t code = pdu_gsm7[septet & 0x7f];
    if (escaped) {
        escaped = false;
        for (const pdu_extension& entry : pdu_gsm7_extension) {
            if (entry.septet == septet) code = entry.code;
        }
    } else if (septet == pdu_escape) {
        escaped = true;
        return true;
    }
    return pdu_put_utf8(code, text, room, used);
}

// Reads one UTF-8 character; 0 bytes consumed for invalid UTF-8.
size_t pdu_read_utf8(const unsigned char* text, size_t length, uint32_t& code) {
    const unsigned char lead = text[0];
    size_t size;
    uint32_t least;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        size = 2, code = lead & 0x1fu, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        size = 3, code = lead & 0x0fu, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        size = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (length < size) return 0;
    for (size_t i = 1; i < size; ++i) {
        if ((text[i] & 0xc0) != 0x80) return 0;
        code = (code << 6) | (text[i] & 0x3fu);
    }
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return size;
}

// The septet(s) a code point takes in GSM 7-bit: 1, 2 (an escape pair), or 0 when it
// has none.
size_t pdu_gsm7_of(uint32_t code, uint8_t (&septets)[2]) {
    for (uint8_t septet = 0; septet < 128; ++septet) {
        if (pdu_gsm7[septet] == code && septet != pdu_escape) {
            septets[0] = septet;
            return 1;
        }
    }
    for (const pdu_extension& entry : pdu_gsm7_extension) {
        if (entry.code == code) {
            septets[0] = pdu_escape;
            septets[1] = entry.septet;
            return 2;
        }
    }
    return 0;
}

// The semi-octet digits of an address as text.
constexpr char pdu_digits[] = "0123456789*#abc";

bool pdu_read_address(pdu_reader& reader, char (&address)[pdu_address_size]) {
    const uint8_t length = pdu_byte(reader);  // semi-octets, or for alphanumeric the packed nibbles
    const uint8_t type = pdu_byte(reader);
    const size_t octets = (length + 1u) / 2;
    const uint8_t* bytes = pdu_take(reader, octets);
    if (bytes == nullptr) return false;
    const unsigned ton = (type >> 4) & 0x7u;
    if (ton == pdu_ton_alphanumeric) {
        const long used =
            pdu_gsm7_to_utf8(bytes, octets, length * 4u / 7u, 0, address, sizeof address - 1);
        if (used < 0) return false;
        address[used] = '\0';
        return true;
    }
    size_t used = 0;
    if (ton == pdu_ton_international && length > 0) address[used++] = '+';
    for (size_t digit = 0; digit < length; ++digit) {
        const unsigned nibble =
            (static_cast<unsigned>(bytes[digit / 2]) >> (digit % 2 ? 4 : 0)) & 0xfu;
        if (nibble == 0xf || used + 1 >= sizeof address) return false;
        address[used++] = pdu_digits[nibble];
    }
    address[used] = '\0';
    return true;
}

unsigned pdu_bcd(uint8_t octet) {
    return (octet & 0xfu) * 10 + (octet >> 4);
}

bool pdu_bcd_valid(uint8_t octet) {
    return (octet & 0xfu) <= 9 && (octet >> 4) <= 9;
}

// A time stamp: swapped BCD, the zone in quarter hours with its sign. One that is no
// time (all zero, day 0, a digit past 9) is unknown: empty; a zone that is none (FF)
// leaves the time without a zone. Only bytes that are missing fail.
bool pdu_read_time(pdu_reader& reader, char (&time)[pdu_time_size]) {
    time[0] = '\0';
    const uint8_t* stamp = pdu_take(reader, 7);
    if (stamp == nullptr) return false;
    for (int i = 0; i < 6; ++i) {
        if (!pdu_bcd_valid(stamp[i])) return true;
    }
    const unsigned month = pdu_bcd(stamp[1]);
    const unsigned day = pdu_bcd(stamp[2]);
    if (month < 1 || month > 12 || day < 1 || day > 31 || pdu_bcd(stamp[3]) > 23 ||
        pdu_bcd(stamp[4]) > 59 || pdu_bcd(stamp[5]) > 59) {
        return true;
    }
    const int written =
        snprintf(time, sizeof time, "%04u-%02u-%02uT%02u:%02u:%02u",
                 pdu_bcd(stamp[0]) < 70 ? 2000 + pdu_bcd(stamp[0]) : 1900 + pdu_bcd(stamp[0]),
                 month, day, pdu_bcd(stamp[3]), pdu_bcd(stamp[4]), pdu_bcd(stamp[5]));
    const uint8_t zone = stamp[6];
    const unsigned quarters = (zone & 0x7u) * 10 + (zone >> 4);
    if (written > 0 && (zone >> 4) <= 9 && quarters <= 14 * 4) {
        snprintf(time + written, sizeof time - static_cast<size_t>(written), "%c%02u:%02u",
                 (zone & 0x8u) ? '-' : '+', quarters / 4, quarters % 4 * 15);
    }
    return true;
}

pdu_alphabet pdu_alphabet_of(uint8_t dcs) {
    if ((dcs & 0xc0) == 0x00 || (dcs & 0xc0) == 0x40) {
        const unsigned bits = (dcs >> 2) & 0x3u;
        return bits == 1   ? pdu_alphabet::data8
               : bits == 2 ? pdu_alphabet::ucs2
                           : pdu_alphabet::gsm7;
    }
    if ((dcs & 0xf0) == 0xf0) return (dcs & 0x04) ? pdu_alphabet::data8 : pdu_alphabet::gsm7;
    if ((dcs & 0xf0) == 0xe0) return pdu_alphabet::ucs2;
    return pdu_alphabet::gsm7;
}

// The user data header's concatenation element, where there is one.
bool pdu_read_header(const uint8_t* header, size_t length, pdu_message& message) {
    size_t at = 0;
    while (at + 2 <= length) {
        const uint8_t element = header[at];
        const uint8_t size = header[at + 1];
        at += 2;
        if (size > length - at) return false;
        const uint8_t* data = header + at;
        // A concatenation element whose part is 0 or past the total is ignored, not the
        // message (TS 23.040, 9.2.3.24.1): it is a message of its own.
        const bool wide = element == 0x08 && size == 4;
        if ((element == 0x00 && size == 3) || wide) {
            const uint8_t parts = data[wide ? 2 : 1];
            const uint8_t part = data[wide ? 3 : 2];
            if (part >= 1 && part <= parts) {
                message.reference = wide ? static_cast<unsigned>(data[0] << 8 | data[1]) : data[0];
                message.parts = parts;
                message.part = part;
            }
        }
        at += size;
    }
    return at == length;
}

bool pdu_read_text(pdu_reader& reader, uint8_t dcs, bool header, pdu_message& message) {
    const uint8_t count = pdu_byte(reader);  // septets for 7-bit, else octets
    message.alphabet = pdu_alphabet_of(dcs);
    const bool gsm7 = message.alphabet == pdu_alphabet::gsm7;
    const size_t octets = gsm7 ? (count * 7u + 7) / 8 : count;
    const uint8_t* data = pdu_take(reader, octets);
    if (data == nullptr) return false;
    size_t header_octets = 0;
    if (header) {
        header_octets = octets > 0 ? data[0] + 1u : 1u;
        if (header_octets > octets || !pdu_read_header(data + 1, header_octets - 1, message)) {
            return false;
        }
    }
    if (gsm7) {
        // The text starts on the septet after the header and its fill bits.
        const size_t header_septets = (header_octets * 8 + 6) / 7;
        if (header_septets > count || count - header_septets > pdu_units_most) return false;
        message.unit_count = count - header_septets;
        for (size_t i = 0; i < message.unit_count; ++i) {
            message.units[i] = pdu_septet_at(data, (header_septets + i) * 7);
        }
    } else {
        if (octets - header_octets > pdu_units_most) return false;
        message.unit_count = octets - header_octets;
        memcpy(message.units, data + header_octets, message.unit_count);
    }
    pdu_carry carry{message.alphabet, {}, 0};
    const long used = pdu_join(message, carry, true, message.text, sizeof message.text);
    if (used < 0) return false;
    message.text_length = static_cast<size_t>(used);
    return true;
}

// How many units at the end only the next part completes: an escape waiting for its
// septet, a lone byte or a high surrogate of UCS-2, the start of a UTF-8 character.
size_t pdu_unfinished(pdu_alphabet alphabet, const uint8_t* units, size_t count) {
    if (alphabet == pdu_alphabet::gsm7) {
        bool escaped = false;
        for (size_t i = 0; i < count; ++i) escaped = !escaped && units[i] == pdu_escape;
        return escaped ? 1 : 0;
    }
    if (alphabet == pdu_alphabet::ucs2) {
        if (count % 2 != 0) return 1;
        return count >= 2 && units[count - 2] >= 0xd8 && units[count - 2] <= 0xdb ? 2 : 0;
    }
    // 8-bit data that holds UTF-8: a lead byte and fewer continuation bytes than it needs.
    for (size_t back = 1; back <= 3 && back <= count; ++back) {
        const uint8_t byte = units[count - back];
        if ((byte & 0xc0) == 0x80) continue;
        const size_t size = byte >= 0xf0 && byte <= 0xf4   ? 4
                            : byte >= 0xe0 && byte <= 0xef ? 3
                            : byte >= 0xc2 && byte <= 0xdf ? 2
                                                           : 0;
        return size > back ? back : 0;
    }
    return 0;
}

// Units of one alphabet in UTF-8, after `used` bytes of `text`.
bool pdu_units_to_utf8(pdu_alphabet alphabet, const uint8_t* units, size_t count, char* text,
                       size_t room, size_t& used) {
    if (alphabet == pdu_alphabet::gsm7) {
        bool escaped = false;
        for (size_t i = 0; i < count; ++i) {
            if (!pdu_put_septet(units[i], escaped, text, room, used)) return false;
        }
        return true;
    }
    if (alphabet == pdu_alphabet::ucs2) {
        const long put = pdu_ucs2_to_utf8(units, count, text + used, room - used);
        if (put < 0) return false;
        used += static_cast<size_t>(put);
        return true;
    }
    if (count > room - used) return false;
    memcpy(text + used, units, count);
    used += count;
    return true;
}

uint8_t pdu_hex_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    return 0xff;
}

}  // namespace

long pdu_from_hex(const char* hex, size_t length, uint8_t* bytes, size_t room) {
    if (length % 2 != 0 || length / 2 > room) return -1;
    for (size_t i = 0; i < length; i += 2) {
        const uint8_t high = pdu_hex_value(hex[i]);
        const uint8_t low = pdu_hex_value(hex[i + 1]);
        if (high > 0xf || low > 0xf) return -1;
        bytes[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    return static_cast<long>(length / 2);
}

long pdu_gsm7_to_utf8(const uint8_t* packed, size_t octets, size_t septets, size_t skip, char* text,
                      size_t room) {
    if (skip + septets * 7 > octets * 8) return -1;
    size_t used = 0;
    bool escaped = false;
    for (size_t i = 0; i < septets; ++i) {
        if (!pdu_put_septet(pdu_septet_at(packed, skip + i * 7), escaped, text, room, used)) {
            return -1;
        }
    }
    return static_cast<long>(used);
}

long pdu_ucs2_to_utf8(const uint8_t* bytes, size_t octets, char* text, size_t room) {
    size_t used = 0;
    for (size_t i = 0; i + 1 < octets; i += 2) {
        auto code = static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
        if (code >= 0xd800 && code <= 0xdbff && i + 3 < octets) {
            const auto low = static_cast<uint32_t>(bytes[i + 2] << 8 | bytes[i + 3]);
            if (low >= 0xdc00 && low <= 0xdfff) {
                code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                i += 2;
            }
        }
        if (code >= 0xd800 && code <= 0xdfff) code = pdu_replacement;
        if (!pdu_put_utf8(code, text, room, used)) return -1;
    }
    return static_cast<long>(used);
}

bool pdu_decode(const uint8_t* pdu, size_t length, pdu_message& message) {
    message = {};
    message.parts = 1;
    message.part = 1;
    message.alphabet = pdu_alphabet::gsm7;
    pdu_reader reader{pdu, length, 0, true};
    pdu_take(reader, pdu_byte(reader));  // the service centre's address
    const uint8_t first = pdu_byte(reader);
    const unsigned type = first & 0x3u;
    const bool header = (first & 0x40) != 0;
    if (type == 0) {
        message.kind = pdu_kind::deliver;
        if (!pdu_read_address(reader, message.address)) return false;
        pdu_byte(reader);  // protocol identifier
        const uint8_t dcs = pdu_byte(reader);
        if (!reader.ok || !pdu_read_time(reader, message.time)) return false;
        return pdu_read_text(reader, dcs, header, message) && reader.ok;
    }
    if (type == 1) {
        message.kind = pdu_kind::submit;
        pdu_byte(reader);  // message reference
        if (!pdu_read_address(reader, message.address)) return false;
        pdu_byte(reader);
        const uint8_t dcs = pdu_byte(reader);
        const unsigned validity = (first >> 3) & 0x3u;
        pdu_take(reader, validity == 2 ? 1 : validity == 0 ? 0 : 7);
        return reader.ok && pdu_read_text(reader, dcs, header, message) && reader.ok;
    }
    if (type == 2) {
        // A status report: the message it is about, when the service centre took it and
        // delivered it or gave up, and its status; then, where the parameter indicator
        // says so, a text of its own. An indicator that does not read is no text.
        message.kind = pdu_kind::status_report;
        message.report_reference = pdu_byte(reader);
        if (!pdu_read_address(reader, message.address) || !pdu_read_time(reader, message.time) ||
            !pdu_read_time(reader, message.report_time)) {
            return false;
        }
        message.report_status = pdu_byte(reader);
        if (!reader.ok) return false;
        pdu_reader rest = reader;
        const uint8_t indicator = pdu_byte(rest);
        if (!rest.ok || (indicator & 0x04) == 0) return true;
        if (indicator & 0x01) pdu_byte(rest);
        const uint8_t dcs = (indicator & 0x02) ? pdu_byte(rest) : 0;
        pdu_message text = message;
        if (rest.ok && pdu_read_text(rest, dcs, header, text) && rest.ok) message = text;
        return true;
    }
    return false;
}

pdu_delivery pdu_delivery_of(unsigned report_status) {
    // TS 23.040, 9.2.3.15: done; a temporary error the centre still tries to get past;
    // an error it does not try again.
    return report_status < 0x20   ? pdu_delivery::delivered
           : report_status < 0x40 ? pdu_delivery::pending
                                  : pdu_delivery::failed;
}

long pdu_join(const pdu_message& part, pdu_carry& carry, bool last, char* text, size_t room) {
    size_t used = 0;
    // What a part of another alphabet left goes out as it is.
    if (carry.count > 0 && carry.alphabet != part.alphabet &&
        !pdu_units_to_utf8(carry.alphabet, carry.units, carry.count, text, room, used)) {
        return -1;
    }
    if (carry.alphabet != part.alphabet) carry.count = 0;
    uint8_t units[sizeof carry.units + pdu_units_most];
    memcpy(units, carry.units, carry.count);
    memcpy(units + carry.count, part.units, part.unit_count);
    const size_t count = carry.count + part.unit_count;
    const size_t keep = last ? 0 : pdu_unfinished(part.alphabet, units, count);
    carry.alphabet = part.alphabet;
    carry.count = keep;
    memcpy(carry.units, units + count - keep, keep);
    if (!pdu_units_to_utf8(part.alphabet, units, count - keep, text, room, used)) return -1;
    return static_cast<long>(used);
}

bool pdu_plan(const char* number, const char* text, pdu_outgoing& plan) {
    const char* digits = number[0] == '+' ? number + 1 : number;
    const size_t count = strlen(digits);
    if (count == 0 || count > pdu_number_digits_most || strspn(digits, "0123456789") != count) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t length = strlen(text);
    if (length == 0) return false;
    size_t septets = 0;
    size_t units = 0;
    bool gsm7 = true;
    for (size_t at = 0; at < length;) {
        uint32_t code = 0;
        const size_t size = pdu_read_utf8(bytes + at, length - at, code);
        if (size == 0) return false;
        at += size;
        uint8_t septet[2];
        const size_t taken = pdu_gsm7_of(code, septet);
        if (taken == 0) gsm7 = false;
        septets += taken;
        units += code >= 0x10000 ? 2 : 1;
    }
    plan.ucs2 = !gsm7;
    plan.units = gsm7 ? septets : units;
    const size_t single = gsm7 ? pdu_septets_single : pdu_units_single;
    const size_t part = gsm7 ? pdu_septets_part : pdu_units_part;
    // Parts are cut where the next character would not fit whole: count them so.
    unsigned parts = 1;
    if (plan.units > single) {
        parts = 0;
        size_t filled = part;
        for (size_t at = 0; at < length;) {
            uint32_t code = 0;
            at += pdu_read_utf8(bytes + at, length - at, code);
            uint8_t septet[2];
            const size_t size = gsm7 ? pdu_gsm7_of(code, septet) : (code >= 0x10000 ? 2u : 1u);
            if (filled + size > part) {
                ++parts;
                filled = 0;
            }
            filled += size;
        }
    }
    plan.parts = parts;
    return parts <= pdu_parts_most;
}

namespace {

constexpr char pdu_hex_digits[] = "0123456789ABCDEF";
constexpr uint8_t pdu_concat_header[] = {0x05, 0x00, 0x03};
constexpr size_t pdu_header_octets = 6;
constexpr size_t pdu_header_septets = 7;
constexpr size_t pdu_tpdu_most = 176;

void pdu_pack(uint8_t* data, size_t bit, uint8_t septet) {
    data[bit / 8] = static_cast<uint8_t>(data[bit / 8] | septet << (bit % 8));
    if (bit % 8 > 1)
        data[bit / 8 + 1] = static_cast<uint8_t>(data[bit / 8 + 1] | septet >> (8 - bit % 8));
}

}  // namespace

size_t pdu_submit_hex(const char* number, const char* text, const pdu_outgoing& plan, unsigned part,
                      unsigned reference, char* hex, size_t room, unsigned& tpdu_octets) {
    if (part < 1 || part > plan.parts) return 0;
    uint8_t tpdu[pdu_tpdu_most] = {};
    size_t at = 0;
    const bool split = plan.parts > 1;
    tpdu[at++] = static_cast<uint8_t>(split ? 0x41 : 0x01);  // SMS-SUBMIT, header or not
    tpdu[at++] = 0x00;                                       // the module numbers it
    const bool international = number[0] == '+';
    const char* digits = international ? number + 1 : number;
    const size_t count = strlen(digits);
    tpdu[at++] = static_cast<uint8_t>(count);
    tpdu[at++] = international ? pdu_type_international : pdu_type_national;
    for (size_t i = 0; i < count; i += 2) {
        const auto low = static_cast<unsigned>(digits[i] - '0');
        const unsigned high = i + 1 < count ? static_cast<unsigned>(digits[i + 1] - '0') : 0xfu;
        tpdu[at++] = static_cast<uint8_t>(high << 4 | low);
    }
    tpdu[at++] = 0x00;  // protocol identifier
    tpdu[at++] = static_cast<uint8_t>(plan.ucs2 ? 0x08 : 0x00);
    const size_t length_at = at++;
    uint8_t* data = tpdu + at;
    size_t header = 0;
    if (split) {
        memcpy(data, pdu_concat_header, sizeof pdu_concat_header);
        data[3] = static_cast<uint8_t>(reference);
        data[4] = static_cast<uint8_t>(plan.parts);
        data[5] = static_cast<uint8_t>(part);
        header = pdu_header_octets;
    }
    // This part's characters, cut as pdu_plan counted them.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t length = strlen(text);
    const size_t most = split ? (plan.ucs2 ? pdu_units_part : pdu_septets_part)
                              : (plan.ucs2 ? pdu_units_single : pdu_septets_single);
    unsigned current = 1;
    size_t filled = 0;
    size_t units = 0;  // septets or octets of text in this part
    const size_t room_left = sizeof tpdu - at;
    for (size_t i = 0; i < length;) {
        uint32_t code = 0;
        i += pdu_read_utf8(bytes + i, length - i, code);
        uint8_t septets[2];
        const size_t size = plan.ucs2 ? (code >= 0x10000 ? 2u : 1u) : pdu_gsm7_of(code, septets);
        if (filled + size > most) {
            ++current;
            filled = 0;
        }
        filled += size;
        if (current != part) continue;
        if (plan.ucs2) {
            uint16_t pair[2] = {static_cast<uint16_t>(code), 0};
            if (code >= 0x10000) {
                pair[0] = static_cast<uint16_t>(0xd800 + ((code - 0x10000) >> 10));
                pair[1] = static_cast<uint16_t>(0xdc00 + ((code - 0x10000) & 0x3ff));
            }
            for (size_t k = 0; k < size; ++k) {
                if (header + units + 2 > room_left) return 0;
                data[header + units++] = static_cast<uint8_t>(pair[k] >> 8);
                data[header + units++] = static_cast<uint8_t>(pair[k] & 0xff);
            }
        } else {
            const size_t first_bit = split ? pdu_header_septets * 7 : 0;
            for (size_t k = 0; k < size; ++k) {
                if ((first_bit + (units + 1) * 7 + 7) / 8 > room_left) return 0;
                pdu_pack(data, first_bit + units++ * 7, septets[k]);
            }
        }
    }
    size_t octets;
    if (plan.ucs2) {
        tpdu[length_at] = static_cast<uint8_t>(header + units);
        octets = header + units;
    } else {
        const size_t septets = (split ? pdu_header_septets : 0) + units;
        tpdu[length_at] = static_cast<uint8_t>(septets);
        octets = (septets * 7 + 7) / 8;
    }
    at += octets;
    if (2 + at * 2 + 1 > room) return 0;
    size_t written = 0;
    hex[written++] = '0';
    hex[written++] = '0';  // the service centre the module has
    for (size_t i = 0; i < at; ++i) {
        hex[written++] = pdu_hex_digits[tpdu[i] >> 4];
        hex[written++] = pdu_hex_digits[tpdu[i] & 0xf];
    }
    hex[written] = '\0';
    tpdu_octets = static_cast<unsigned>(at);
    return written;
}

namespace {

struct pdu_charset_name {
    const char* name;
    pdu_charset charset;
};
constexpr pdu_charset_name pdu_charset_names[] = {
    {"IRA", pdu_charset::ira},   {"GSM", pdu_charset::gsm},       {"UCS2", pdu_charset::ucs2},
    {"HEX", pdu_charset::hex},   {"8859-1", pdu_charset::latin1}, {"UTF-8", pdu_charset::utf8},
    {"UTF8", pdu_charset::utf8},
};
// Coding schemes of cell broadcast (TS 23.038, 5) with a language before the text: three
// GSM 7-bit characters ("en" and a carriage return), or two packed into two octets
// before UCS-2.
constexpr int pdu_dcs_gsm7_language = 0x10;
constexpr int pdu_dcs_ucs2_language = 0x11;
constexpr size_t pdu_ucs2_language_octets = 2;
// What a request asks the network for: GSM 7-bit or UCS-2, no language given.
constexpr int pdu_dcs_request_gsm7 = 0x0f;
constexpr int pdu_dcs_request_ucs2 = 0x48;

// The alphabet of a cell broadcast coding scheme; GSM 7-bit where it is reserved.
pdu_alphabet pdu_cbs_alphabet(int dcs) {
    if (dcs == pdu_dcs_ucs2_language) return pdu_alphabet::ucs2;
    const auto bits = static_cast<unsigned>(dcs);
    const unsigned group = bits >> 4;
    if (dcs < 0 || dcs > 0xff || group <= 3) return pdu_alphabet::gsm7;
    const unsigned coding = (bits >> 2) & 0x3u;
    if (group <= 7 || group == 9) {
        return coding == 1   ? pdu_alphabet::data8
               : coding == 2 ? pdu_alphabet::ucs2
                             : pdu_alphabet::gsm7;
    }
    if (group == 0xe) return pdu_alphabet::data8;
    if (group == 0xf) return (bits & 0x4u) ? pdu_alphabet::data8 : pdu_alphabet::gsm7;
    return pdu_alphabet::gsm7;
}

// Latin-1 bytes in UTF-8.
long pdu_latin1_to_utf8(const char* given, size_t length, char* text, size_t room) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!pdu_put_utf8(static_cast<unsigned char>(given[i]), text, room, used)) return -1;
    }
    return static_cast<long>(used);
}

}  // namespace

pdu_charset pdu_charset_named(const char* name, size_t length) {
    for (const pdu_charset_name& entry : pdu_charset_names) {
        if (strlen(entry.name) == length && strncasecmp(entry.name, name, length) == 0) {
            return entry.charset;
        }
    }
    return pdu_charset::other;
}

long pdu_ussd_text(const char* given, size_t length, int dcs, pdu_charset charset, char* text,
                   size_t room) {
    const pdu_alphabet alphabet = pdu_cbs_alphabet(dcs);
    uint8_t bytes[pdu_text_size] = {};
    const long octets = pdu_from_hex(given, length, bytes, sizeof bytes);
    const auto count = static_cast<size_t>(octets);
    if (octets >= 0 && (alphabet == pdu_alphabet::ucs2 ||
                        (alphabet == pdu_alphabet::gsm7 && charset == pdu_charset::ucs2))) {
        const size_t skip = dcs == pdu_dcs_ucs2_language && count >= pdu_ucs2_language_octets
                                ? pdu_ucs2_language_octets
                                : 0;
        return pdu_ucs2_to_utf8(bytes + skip, count - skip, text, room);
    }
    if (octets >= 0 && alphabet == pdu_alphabet::data8) {
        size_t used = 0;
        return pdu_units_to_utf8(alphabet, bytes, count, text, room, used) ? static_cast<long>(used)
                                                                           : -1;
    }
    // Under HEX, each character is its septet in two hex digits.
    bool septets = octets >= 0 && alphabet == pdu_alphabet::gsm7 && charset == pdu_charset::hex;
    for (size_t i = 0; septets && i < count; ++i) septets = bytes[i] < 0x80;
    if (septets) {
        size_t used = 0;
        return pdu_units_to_utf8(alphabet, bytes, count, text, room, used) ? static_cast<long>(used)
                                                                           : -1;
    }
    // Else it is text in the module's character set, as it reads.
    if (dcs == pdu_dcs_gsm7_language && length >= 3 && given[2] == '\r' && isalpha(given[0]) &&
        isalpha(given[1])) {
        given += 3;
        length -= 3;
    }
    if (charset == pdu_charset::latin1) return pdu_latin1_to_utf8(given, length, text, room);
    if (length > room) return -1;
    memcpy(text, given, length);
    return static_cast<long>(length);
}

long pdu_ussd_request(const char* request, pdu_charset charset, char* coded, size_t room,
                      int& dcs) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(request);
    const size_t length = strlen(request);
    size_t used = 0;
    dcs = pdu_dcs_request_gsm7;
    for (size_t at = 0; at < length;) {
        uint32_t code = 0;
        const size_t size = pdu_read_utf8(bytes + at, length - at, code);
        if (size == 0 || code < 0x20 || code == 0x7f) return -1;
        uint8_t septet[2];
        if (pdu_gsm7_of(code, septet) == 0) dcs = pdu_dcs_request_ucs2;
        char piece[16];
        int put = 0;
        if (charset == pdu_charset::ucs2) {
            if (code >= 0x10000) {
                put = snprintf(piece, sizeof piece, "%04X%04X", 0xd800 + ((code - 0x10000) >> 10),
                               0xdc00 + ((code - 0x10000) & 0x3ff));
            } else {
                put = snprintf(piece, sizeof piece, "%04X", code);
            }
        } else if (charset == pdu_charset::hex) {
            uint8_t septets[2];
            const size_t taken = pdu_gsm7_of(code, septets);
            if (taken == 0) return -1;
            put = taken == 1 ? snprintf(piece, sizeof piece, "%02X", septets[0])
                             : snprintf(piece, sizeof piece, "%02X%02X", septets[0], septets[1]);
        } else if (charset == pdu_charset::utf8) {
            memcpy(piece, bytes + at, size);
            put = static_cast<int>(size);
        } else {
            // A text set: one byte a character, and only where it stands for that character.
            const bool ascii =
                code < 0x7f && (charset != pdu_charset::gsm || pdu_gsm7[code] == code);
            const bool latin1 = charset == pdu_charset::latin1 && code >= 0xa0 && code <= 0xff;
            if (!ascii && !latin1) return -1;
            piece[0] = static_cast<char>(code);
            put = 1;
        }
        if (put <= 0 || static_cast<size_t>(put) >= room - used) return -1;
        memcpy(coded + used, piece, static_cast<size_t>(put));
        used += static_cast<size_t>(put);
        at += size;
    }
    coded[used] = '\0';
    return static_cast<long>(used);
}
