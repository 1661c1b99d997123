#include "status/status.h"

#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

constexpr int64_t status_number_most = 100000000000;  // 12 digits: a 36-bit cell id fits

}  // namespace

bool status_space(char c) {
    return c == ' ' || c == '\t';
}

namespace {

// The quote that closes a quoted field: the first that blanks and then a comma or the
// line's end follow, so that a quote inside a name ("A"B"C") is part of it.
size_t status_closing_quote(const char* line, size_t length, size_t at) {
    for (; at < length; ++at) {
        if (line[at] != '"') continue;
        size_t after = at + 1;
        while (after < length && status_space(line[after])) ++after;
        if (after == length || line[after] == ',') return at;
    }
    return length;
}

}  // namespace

void status_split(const char* line, size_t length, status_fields& fields) {
    fields.count = 0;
    size_t at = 0;
    while (fields.count < status_fields_most) {
        while (at < length && status_space(line[at])) ++at;
        const bool quoted = at < length && line[at] == '"';
        const size_t start = quoted ? at + 1 : at;
        at = quoted ? status_closing_quote(line, length, start) : start;
        while (!quoted && at < length && line[at] != ',') ++at;
        size_t end = at;
        if (quoted) {
            while (at < length && line[at] != ',') ++at;
        } else {
            while (end > start && status_space(line[end - 1])) --end;
        }
        fields.text[fields.count] = line + start;
        fields.length[fields.count] = end - start;
        fields.quoted[fields.count] = quoted;
        ++fields.count;
        if (at >= length) return;
        ++at;
    }
}

bool status_starts(const char* text, size_t length, const char* start) {
    const size_t size = strlen(start);
    return length >= size && strncasecmp(text, start, size) == 0;
}

// The next line from `at` that starts with `tag` (in either case), split after it.
bool status_next_line(const char* reply, size_t length, const char* tag, size_t& at,
                      status_fields& fields) {
    while (at < length) {
        size_t start = at;
        size_t end = start;
        while (end < length && reply[end] != '\r' && reply[end] != '\n') ++end;
        at = end < length ? end + 1 : end;
        while (start < end && status_space(reply[start])) ++start;
        if (status_starts(reply + start, end - start, tag)) {
            const size_t skip = strlen(tag);
            status_split(reply + start + skip, end - start - skip, fields);
            return true;
        }
    }
    return false;
}

bool status_line(const char* reply, size_t length, const char* tag, status_fields& fields) {
    size_t at = 0;
    return status_next_line(reply, length, tag, at, fields);
}

bool status_is(const status_fields& fields, size_t field, const char* word) {
    return field < fields.count && fields.length[field] == strlen(word) &&
           strncasecmp(fields.text[field], word, fields.length[field]) == 0;
}

// A decimal number in tenths ("-12.5" is -125); unknown for anything else, and for the
// invalid marker -32768.
int64_t status_decimal(const status_fields& fields, size_t field) {
    if (field >= fields.count) return status_unknown;
    const char* text = fields.text[field];
    const size_t length = fields.length[field];
    size_t at = 0;
    const bool negative = at < length && text[at] == '-';
    if (at < length && (text[at] == '-' || text[at] == '+')) ++at;
    int64_t whole = 0;
    int64_t tenths = 0;
    size_t digits = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9' && whole < status_number_most; ++at) {
        whole = whole * 10 + (text[at] - '0');
        ++digits;
    }
    if (at < length && text[at] == '.') {
        ++at;
        if (at < length && text[at] >= '0' && text[at] <= '9') tenths = text[at] - '0';
        while (at < length && text[at] >= '0' && text[at] <= '9') ++at;
    }
    if (digits == 0 || at != length || whole >= status_number_most) return status_unknown;
    const int64_t value = whole * 10 + tenths;
    if (negative && value == 327680) return status_unknown;
    return negative ? -value : value;
}

// A whole number; unknown where it has a fraction.
int64_t status_integer(const status_fields& fields, size_t field) {
    const int64_t tenths = status_decimal(fields, field);
    return tenths == status_unknown || tenths % 10 != 0 ? status_unknown : tenths / 10;
}

// A hexadecimal number, with or without 0x; unknown where four digits or more have
// every bit set (FFFF, FFFFFFFF), or it is 7FFFFFFF or FFFE: the markers of no value.
int64_t status_hex(const status_fields& fields, size_t field) {
    if (field >= fields.count) return status_unknown;
    const char* text = fields.text[field];
    size_t length = fields.length[field];
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text += 2;
        length -= 2;
    }
    if (length == 0 || length > 10) return status_unknown;
    int64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return status_unknown;
        value = value * 16 + digit;
    }
    const int64_t all = (int64_t{1} << (4 * length)) - 1;
    if ((length >= 4 && value == all) || value == 0xfffe || value == 0x7fffffff) {
        return status_unknown;
    }
    return value;
}

namespace {

// Bandwidths in tenths of a MHz: Quectel's LTE codes, NR codes in the order of TS
// 38.101's channel bandwidths, and LTE resource blocks.
constexpr int64_t status_lte_widths[] = {14, 30, 50, 100, 150, 200};
constexpr int64_t status_nr_widths[] = {50,  100, 150, 200, 250,  300,  400, 500,
                                        600, 700, 800, 900, 1000, 2000, 4000};
struct status_blocks {
    int blocks;
    int64_t width;
};
constexpr status_blocks status_lte_blocks[] = {{6, 14},   {15, 30},  {25, 50},
                                               {50, 100}, {75, 150}, {100, 200}};

}  // namespace

int64_t status_value(const status_fields& fields, size_t field, status_as as,
                     const status_scale* scale) {
    switch (as) {
        case status_as::decimal:
            return status_decimal(fields, field);
        case status_as::hex:
            return status_hex(fields, field);
        case status_as::integer:
            return status_integer(fields, field);
        default:
            break;
    }
    const int64_t n = status_integer(fields, field);
    if (n == status_unknown) return n;
    if (as == status_as::lte_width || as == status_as::nr_width) {
        const int64_t* widths = as == status_as::lte_width ? status_lte_widths : status_nr_widths;
        const size_t count = as == status_as::lte_width ? status_count(status_lte_widths)
                                                        : status_count(status_nr_widths);
        return n >= 0 && static_cast<size_t>(n) < count ? widths[n] : status_unknown;
    }
    if (as == status_as::blocks) {
        for (const status_blocks& entry : status_lte_blocks) {
            if (entry.blocks == n) return entry.width;
        }
        return status_unknown;
    }
    if (n < scale->least || n > scale->most) return status_unknown;
    return n * scale->step + scale->offset;
}

bool status_digits(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

status_fields status_field_of(const char* text, size_t length) {
    status_fields number{};
    number.text[0] = text;
    number.length[0] = length;
    number.count = 1;
    return number;
}

int64_t status_band_named(const char* text, size_t length) {
    size_t digits = length;
    while (digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
    return status_integer(status_field_of(text + digits, length - digits), 0);
}

namespace {

// Digits as the network sends them ("01" keeps its zero), padded with zeros in front
// to `least` digits (a test network's MCC 001 written 1); false for anything else.
bool status_code(const char* text, size_t length, size_t least, char (&code)[status_code_size]) {
    if (length == 0 || length >= sizeof code || !status_digits(text, length)) return false;
    const size_t pad = length < least ? least - length : 0;
    for (size_t i = 0; i < pad; ++i) code[i] = '0';
    memcpy(code + pad, text, length);
    code[pad + length] = '\0';
    return true;
}

}  // namespace

void status_code_pair(status_record& record, const char* mcc, size_t mcc_length, const char* mnc,
                      size_t mnc_length) {
    char mcc_code[status_code_size];
    char mnc_code[status_code_size];
    if (!status_code(mcc, mcc_length, 3, mcc_code) || !status_code(mnc, mnc_length, 2, mnc_code)) {
        return;
    }
    memcpy(record.mcc, mcc_code, sizeof mcc_code);
    memcpy(record.mnc, mnc_code, sizeof mnc_code);
}

void status_codes(status_record& record, const status_fields& fields, size_t mcc) {
    if (mcc + 1 >= fields.count) return;
    status_code_pair(record, fields.text[mcc], fields.length[mcc], fields.text[mcc + 1],
                     fields.length[mcc + 1]);
}

// "26202" or "311 480": three digits of MCC, then the MNC.
void status_plmn(status_record& record, const char* text, size_t length) {
    if (length < 5) return;
    const size_t skip = text[3] == ' ' ? 4 : 3;
    status_code_pair(record, text, 3, text + skip, length - skip);
}

// A text, cut where it is too long at a character's start, never inside a UTF-8
// sequence.
void status_text(const char* text, size_t length, char (&into)[status_text_size]) {
    if (length >= sizeof into) {
        length = sizeof into - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xc0) == 0x80) --length;
    }
    memcpy(into, text, length);
    into[length] = '\0';
}

void status_clear_carrier(status_carrier& carrier, bool nr) {
    carrier = {nr,
               status_unknown,
               status_unknown,
               status_unknown,
               status_unknown,
               status_unknown,
               status_unknown,
               status_unknown,
               status_unknown};
}

status_carrier* status_next_carrier(status_record& record, bool nr) {
    if (record.carrier_count == status_carriers_most) {
        record.carriers_left_out =
            record.carriers_left_out == status_unknown ? 1 : record.carriers_left_out + 1;
        return nullptr;
    }
    status_carrier* carrier = &record.carriers[record.carrier_count++];
    status_clear_carrier(*carrier, nr);
    return carrier;
}

void status_technology(status_record& record, const char* technology) {
    const char* now = record.technology != nullptr ? record.technology : "";
    const bool lte_family = strcmp(technology, "lte") == 0 && strcmp(now, "nr5g-nsa") == 0;
    if (!lte_family) record.technology = technology;
}

void status_set(int64_t& into, int64_t value) {
    if (value != status_unknown) into = value;
}

void status_nr_leg(status_record& record, const status_carrier& leg) {
    record.nr = leg;
    record.nr_known = true;
    record.technology = "nr5g-nsa";
}

void status_band_from_channel(status_record& record) {
    const int64_t band = status_lte_band(record.channel);
    if (band != status_unknown) record.band = band;
}

namespace {

// A text without the quotes around it, where it has them.
void status_text_unquoted(const char* text, size_t length, char (&into)[status_text_size]) {
    const bool quoted = length >= 2 && text[0] == '"' && text[length - 1] == '"';
    status_text(quoted ? text + 1 : text, quoted ? length - 2 : length, into);
}

// Lines that are no command's answer: result codes, and what modules say unasked (a
// call, a restart, a connection's end, the SIM's phone book and messages ready).
constexpr const char* status_not_answers[] = {
    "OK",          "ERROR",      "RING",  "RDY",          "NO CARRIER",
    "NO DIALTONE", "NO ANSWER",  "BUSY",  "PB DONE",      "SMS DONE",
    "SMS Ready",   "Call Ready", "START", "POWERED DOWN", "NORMAL POWER DOWN"};
constexpr const char* status_not_answer_starts[] = {"+CME ERROR", "+CMS ERROR", "CONNECT"};
// A tagged line: another command's answer or news (+CMTI:, ^HCSQ:, #..., *PSUTTZ...).
constexpr char status_tag_marks[] = "+^#*!%$";

bool status_not_answer(const char* line, size_t length) {
    for (const char* word : status_not_answers) {
        if (length == strlen(word) && strncasecmp(line, word, length) == 0) return true;
    }
    for (const char* start : status_not_answer_starts) {
        if (status_starts(line, length, start)) return true;
    }
    // The echo of a command: of this one where news came before it, or a late one's.
    return length > 2 && strncasecmp(line, "AT", 2) == 0 && strchr(status_tag_marks, line[2]);
}

// Whether a text line can be the answer a reader looks for.
using status_fits = bool (*)(const char* text, size_t length);

bool status_any_text(const char* /*text*/, size_t /*length*/) {
    return true;
}

// An IMEI has 15 digits (14 without its check digit, 16 as an IMEISV).
bool status_imei_text(const char* text, size_t length) {
    return length >= 14 && length <= 16 && status_digits(text, length);
}

// An IMSI has at most 15 digits: a country code, a network code and more.
bool status_imsi_text(const char* text, size_t length) {
    return length >= 6 && length <= 15 && status_digits(text, length);
}

// The reply's text line: its first that is no result code, no news, no echo, and fits,
// without a leading `tag` and the quotes around it.
void status_text_line(const char* reply, size_t length, const char* tag,
                      char (&into)[status_text_size], status_fits fits = status_any_text) {
    for (size_t at = 0; at < length;) {
        size_t start = at;
        size_t end = start;
        while (end < length && reply[end] != '\r' && reply[end] != '\n') ++end;
        at = end + 1;
        while (start < end && status_space(reply[start])) ++start;
        while (end > start && status_space(reply[end - 1])) --end;
        if (start == end || status_not_answer(reply + start, end - start)) continue;
        if (status_starts(reply + start, end - start, tag)) {
            start += strlen(tag);
            while (start < end && status_space(reply[start])) ++start;
        } else if (strchr(status_tag_marks, reply[start]) != nullptr) {
            continue;
        }
        const size_t quotes = end - start >= 2 && reply[start] == '"' && reply[end - 1] == '"';
        if (!fits(reply + start + quotes, end - start - 2 * quotes)) continue;
        status_text_unquoted(reply + start, end - start, into);
        return;
    }
}

void status_read_manufacturer(status_record& record, const char* reply, size_t length) {
    status_text_line(reply, length, "+CGMI:", record.manufacturer);
}

void status_read_model(status_record& record, const char* reply, size_t length) {
    status_text_line(reply, length, "+CGMM:", record.model);
}

void status_read_revision(status_record& record, const char* reply, size_t length) {
    status_text_line(reply, length, "+CGMR:", record.revision);
}

void status_read_imei(status_record& record, const char* reply, size_t length) {
    status_text_line(reply, length, "+CGSN:", record.imei, status_imei_text);
}

void status_read_imsi(status_record& record, const char* reply, size_t length) {
    status_text_line(reply, length, "+CIMI:", record.imsi, status_imsi_text);
}

struct status_name {
    const char* word;
    const char* name;
};
constexpr status_name status_sim_states[] = {
    {"READY", "ready"},
    {"SIM PIN", "pin"},
    {"SIM PUK", "puk"},
    {"SIM PIN2", "pin2"},
    {"SIM PUK2", "puk2"},
    {"10", "absent"},
    {"SIM not inserted", "absent"},
    {"13", "failure"},
    {"SIM failure", "failure"},
};

void status_read_sim(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "+CPIN:", fields) &&
        !status_line(reply, length, "+CME ERROR:", fields)) {
        return;
    }
    for (const status_name& state : status_sim_states) {
        if (status_is(fields, 0, state.word)) record.sim = state.name;
    }
    if (fields.count > 0 && status_starts(fields.text[0], fields.length[0], "PH-")) {
        record.sim = "locked";
    }
}

// READ BINARY of EF ICCID: BCD with the two digits of every byte swapped, and an F as
// filler at the end.
void status_read_iccid(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "+CRSM:", fields) || fields.count < 3) return;
    const int64_t sw1 = status_integer(fields, 0);
    if (sw1 != 144 && sw1 != 145 && sw1 != 146 && sw1 != 159) return;
    const char* hex = fields.text[2];
    size_t digits = fields.length[2] & ~size_t{1};
    if (digits >= sizeof record.iccid) digits = sizeof record.iccid - 2;
    char iccid[status_text_size] = {};
    for (size_t i = 0; i < digits; i += 2) {
        iccid[i] = hex[i + 1];
        iccid[i + 1] = hex[i];
    }
    while (digits > 0 && (iccid[digits - 1] == 'F' || iccid[digits - 1] == 'f')) --digits;
    // ITU-T E.118: 18 to 22 digits, the check digit included.
    if (digits < 18 || digits > 22 || !status_digits(iccid, digits)) return;
    status_text(iccid, digits, record.iccid);
}

// The access technologies of +COPS, by number.
constexpr const char* status_acts[] = {"gsm",  "gsm",     "umts",    "gsm",     "umts",
                                       "umts", "umts",    "lte",     "gsm",     "lte",
                                       "lte",  "nr5g-sa", "nr5g-sa", "nr5g-nsa"};

void status_read_operator(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "+COPS:", fields) || fields.count < 3) return;
    const int64_t format = status_integer(fields, 1);
    if (format == 0 || format == 1) status_text(fields.text[2], fields.length[2], record.network);
    if (format == 2) status_plmn(record, fields.text[2], fields.length[2]);
    const int64_t act = status_integer(fields, 3);
    if (act >= 0 && static_cast<size_t>(act) < status_count(status_acts)) {
        record.technology = status_acts[act];
    }
}

// The answer to a registration query: <n> (0 to 5) before <stat> (0 to 10), both plain
// numbers, and an area and cell only where n is 2 or more. News of a change has <stat>
// first, and from n=2 on the area second, a quoted hex string ("0005" is no stat).
bool status_registration_answer(const status_fields& fields) {
    if (fields.count < 2 || fields.quoted[0] || fields.quoted[1]) return false;
    const int64_t n = status_integer(fields, 0);
    const int64_t stat = status_integer(fields, 1);
    const bool plain = fields.length[1] <= 1 || fields.text[1][0] != '0';
    return n >= 0 && n <= 5 && stat >= 0 && stat <= 10 && plain && (fields.count == 2 || n >= 2);
}

template <status_domain domain>
void status_read_registration(status_record& record, const char* reply, size_t length) {
    constexpr const char* tags[] = {"+CREG:", "+CGREG:", "+CEREG:", "+C5GREG:"};
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, tags[domain], at, fields)) {
        if (!status_registration_answer(fields)) continue;
        record.registered[domain] = static_cast<int>(status_integer(fields, 1));
        record.registered_tac[domain] = status_hex(fields, 2);
        record.registered_cell[domain] = status_hex(fields, 3);
        return;
    }
}

void status_read_csq(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "+CSQ:", fields)) return;
    const int64_t rssi = status_value(fields, 0, status_as::scaled, &status_csq_rssi);
    if (rssi != status_unknown) record.rssi = rssi;
}

void status_read_cesq(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (status_line(reply, length, "+CESQ:", fields)) {
        status_apply(record, fields, 0, status_cesq_map);
    }
}

constexpr status_command status_standard[] = {
    {"AT+CGMI", status_read_manufacturer},
    {"AT+CGMM", status_read_model},
    {"AT+CGMR", status_read_revision},
    {"AT+CGSN", status_read_imei, true},
    {"AT+CPIN?", status_read_sim},
    {"AT+CIMI", status_read_imsi, true},
    {"AT+CRSM=176,12258,0,0,10", status_read_iccid, true},
    {"AT+COPS?", status_read_operator},
    {"AT+CREG?", status_read_registration<status_creg>},
    {"AT+CGREG?", status_read_registration<status_cgreg>},
    {"AT+CEREG?", status_read_registration<status_cereg>},
    {"AT+C5GREG?", status_read_registration<status_c5greg>},
    {"AT+CSQ", status_read_csq},
    {"AT+CESQ", status_read_cesq},
};
struct status_maker {
    const char* name;  // within AT+CGMI's answer, in either case
    status_profile profile;
};
constexpr status_maker status_makers[] = {
    {"quectel", status_profile::quectel},   {"huawei", status_profile::huawei},
    {"telit", status_profile::telit},       {"cinterion", status_profile::cinterion},
    {"thales", status_profile::cinterion},  {"gemalto", status_profile::cinterion},
    {"siemens", status_profile::cinterion}, {"simcom", status_profile::simcom},
    {"sierra", status_profile::sierra},     {"fibocom", status_profile::intel},
    {"intel", status_profile::intel},
};
struct status_vendor {
    uint32_t vendor;
    status_profile profile;
};
constexpr status_vendor status_vendors[] = {
    {0x2c7c, status_profile::quectel},   {0x05c6, status_profile::quectel},
    {0x12d1, status_profile::huawei},    {0x1bc7, status_profile::telit},
    {0x1e2d, status_profile::cinterion}, {0x1e0e, status_profile::simcom},
    {0x1199, status_profile::sierra},    {0x2cb7, status_profile::intel},
    {0x0e8d, status_profile::intel},     {0x8087, status_profile::intel},
};

// LTE bands by their downlink EARFCNs (TS 36.101, table 5.7.3-1).
struct status_lte_range {
    uint8_t band;
    int32_t first;
    int32_t last;
};
constexpr status_lte_range status_lte_ranges[] = {
    {1, 0, 599},        {2, 600, 1199},     {3, 1200, 1949},    {4, 1950, 2399},
    {5, 2400, 2649},    {6, 2650, 2749},    {7, 2750, 3449},    {8, 3450, 3799},
    {9, 3800, 4149},    {10, 4150, 4749},   {11, 4750, 4949},   {12, 5010, 5179},
    {13, 5180, 5279},   {14, 5280, 5379},   {17, 5730, 5849},   {18, 5850, 5999},
    {19, 6000, 6149},   {20, 6150, 6449},   {21, 6450, 6599},   {22, 6600, 7399},
    {23, 7500, 7699},   {24, 7700, 8039},   {25, 8040, 8689},   {26, 8690, 9039},
    {27, 9040, 9209},   {28, 9210, 9659},   {29, 9660, 9769},   {30, 9770, 9869},
    {31, 9870, 9919},   {32, 9920, 10359},  {33, 36000, 36199}, {34, 36200, 36349},
    {35, 36350, 36949}, {36, 36950, 37549}, {37, 37550, 37749}, {38, 37750, 38249},
    {39, 38250, 38649}, {40, 38650, 39649}, {41, 39650, 41589}, {42, 41590, 43589},
    {43, 43590, 45589}, {44, 45590, 46589}, {45, 46590, 46789}, {46, 46790, 54539},
    {47, 54540, 55239}, {48, 55240, 56739}, {49, 56740, 58239}, {50, 58240, 59089},
    {51, 59090, 59139}, {52, 59140, 60139}, {53, 60140, 60254}, {65, 65536, 66435},
    {66, 66436, 67335}, {67, 67336, 67535}, {68, 67536, 67835}, {69, 67836, 68335},
    {70, 68336, 68585}, {71, 68586, 68935}, {72, 68936, 68985}, {73, 68986, 69035},
    {74, 69036, 69465}, {75, 69466, 70315}, {76, 70316, 70365}, {85, 70366, 70545},
    {87, 70546, 70595}, {88, 70596, 70645},
};

}  // namespace

void status_clear(status_record& record) {
    constexpr int64_t status_record::*numbers[] = {
        &status_record::band,        &status_record::channel,
        &status_record::pci,         &status_record::cell,
        &status_record::tac,         &status_record::bandwidth,
        &status_record::rssi,        &status_record::rsrp,
        &status_record::rsrq,        &status_record::sinr,
        &status_record::rscp,        &status_record::ecio,
        &status_record::temperature, &status_record::carriers_left_out};
    record = {};
    for (int64_t status_record::*number : numbers) record.*number = status_unknown;
    status_clear_carrier(record.nr, true);
    for (int domain = 0; domain < status_domains; ++domain) {
        record.registered[domain] = -1;
        record.registered_tac[domain] = status_unknown;
        record.registered_cell[domain] = status_unknown;
    }
}

status_profile status_profile_of(const char* manufacturer, const char* model, uint32_t module_id) {
    const size_t length = strlen(manufacturer);
    status_profile profile = status_profile::standard;
    for (const status_maker& maker : status_makers) {
        const size_t name = strlen(maker.name);
        for (size_t at = 0; at + name <= length && profile == status_profile::standard; ++at) {
            if (strncasecmp(manufacturer + at, maker.name, name) == 0) profile = maker.profile;
        }
    }
    for (const status_vendor& vendor : status_vendors) {
        if (profile == status_profile::standard && vendor.vendor == module_id >> 16) {
            profile = vendor.profile;
        }
    }
    if (profile != status_profile::intel) return profile;
    // Fibocom's family: the L850-GL and L860-GL are Intel XMM, the FM350 MediaTek (also
    // by its vendor ID, 0e8d), the other FM modules Qualcomm.
    if (status_starts(model, strlen(model), "FM350")) return status_profile::fibocom_mediatek;
    if (status_starts(model, strlen(model), "FM")) return status_profile::fibocom_qualcomm;
    if (model[0] == '\0' && module_id >> 16 == 0x0e8d) return status_profile::fibocom_mediatek;
    return status_profile::intel;
}

size_t status_standard_commands(const status_command*& commands) {
    commands = status_standard;
    return status_count(status_standard);
}

size_t status_profile_commands(status_profile profile, const status_command*& commands) {
    switch (profile) {
        case status_profile::quectel:
            return status_quectel_commands(commands);
        case status_profile::huawei:
            return status_huawei_commands(commands);
        case status_profile::telit:
            return status_telit_commands(commands);
        case status_profile::cinterion:
            return status_cinterion_commands(commands);
        case status_profile::intel:
            return status_intel_commands(commands);
        case status_profile::simcom:
            return status_simcom_commands(commands);
        case status_profile::sierra:
            return status_sierra_commands(commands);
        case status_profile::fibocom_mediatek:
            return status_fibocom_commands(commands, false);
        case status_profile::fibocom_qualcomm:
            return status_fibocom_commands(commands, true);
        case status_profile::standard:
            break;
    }
    commands = nullptr;
    return 0;
}

namespace {

// What 3GPP allows for each field: identities by the serving cell's technology (GSM,
// UMTS, LTE, NR; unknown takes the widest), measurements by their reporting ranges
// (TS 36.133, 38.133, 25.133, 45.008), in the record's units (tenths for decimals).
struct status_limit {
    int64_t least;
    int64_t most;
};
enum status_family { status_gsm, status_umts, status_lte, status_nr, status_any };
struct status_cell_limits {
    status_limit band;
    status_limit channel;
    status_limit pci;
    status_limit cell;
    status_limit tac;
    status_limit rsrq;
};
constexpr int64_t status_bits_28 = (int64_t{1} << 28) - 1;
constexpr int64_t status_bits_36 = (int64_t{1} << 36) - 1;
constexpr status_limit status_any_rsrq = {-430, 200};
constexpr status_cell_limits status_cells[] = {
    {{1, 263}, {0, 1023}, {0, 1007}, {0, 65535}, {0, 65535}, status_any_rsrq},
    {{1, 32}, {0, 16383}, {0, 511}, {0, status_bits_28}, {0, 65535}, status_any_rsrq},
    {{1, 106}, {0, 262143}, {0, 503}, {0, status_bits_28}, {0, 65535}, {-340, 25}},
    {{1, 263}, {0, 3279165}, {0, 1007}, {0, status_bits_36}, {0, (1 << 24) - 1}, {-430, 200}},
    {{1, 263}, {0, 3279165}, {0, 1007}, {0, status_bits_36}, {0, (1 << 24) - 1}, status_any_rsrq},
};
constexpr status_limit status_rsrp_limit = {-1560, -310};
constexpr status_limit status_sinr_limit = {-230, 400};
constexpr status_limit status_rssi_limit = {-1300, 0};
constexpr status_limit status_rscp_limit = {-1210, -250};
constexpr status_limit status_ecio_limit = {-325, 0};
constexpr status_limit status_bandwidth_limit = {14, 4000};
constexpr status_limit status_temperature_limit = {-600, 1500};

void status_limit_to(int64_t& value, status_limit limit) {
    if (value != status_unknown && (value < limit.least || value > limit.most)) {
        value = status_unknown;
    }
}

status_family status_family_of(const char* technology) {
    if (technology == nullptr) return status_any;
    if (strcmp(technology, "gsm") == 0) return status_gsm;
    if (strcmp(technology, "umts") == 0) return status_umts;
    if (strcmp(technology, "nr5g-sa") == 0) return status_nr;
    return status_lte;
}

template <typename Into>
void status_limit_cell(Into& into, status_family family) {
    const status_cell_limits& cell = status_cells[family];
    status_limit_to(into.band, cell.band);
    status_limit_to(into.channel, cell.channel);
    status_limit_to(into.pci, cell.pci);
    status_limit_to(into.rsrp, status_rsrp_limit);
    status_limit_to(into.rsrq, cell.rsrq);
    status_limit_to(into.sinr, status_sinr_limit);
    status_limit_to(into.rssi, status_rssi_limit);
    status_limit_to(into.bandwidth, status_bandwidth_limit);
}

void status_limit_record(status_record& record) {
    const status_family family = status_family_of(record.technology);
    status_limit_cell(record, family);
    status_limit_to(record.cell, status_cells[family].cell);
    status_limit_to(record.tac, status_cells[family].tac);
    status_limit_to(record.rscp, status_rscp_limit);
    status_limit_to(record.ecio, status_ecio_limit);
    status_limit_to(record.temperature, status_temperature_limit);
    if (record.nr_known) status_limit_cell(record.nr, status_nr);
    for (size_t i = 0; i < record.carrier_count; ++i) {
        status_limit_cell(record.carriers[i], record.carriers[i].nr ? status_nr : status_lte);
    }
}

}  // namespace

void status_finish(status_record& record) {
    // By stat: 1, 6 and 9 home; 5, 7 and 10 roaming.
    constexpr const char* registrations[] = {"none",      "home",    "searching", "denied",
                                             "unknown",   "roaming", "home",      "roaming",
                                             "emergency", "home",    "roaming"};
    constexpr status_domain order[] = {status_c5greg, status_cereg, status_cgreg, status_creg};
    int chosen = -1;
    for (const status_domain domain : order) {
        const int stat = record.registered[domain];
        const bool registered = stat >= 0 && (strcmp(registrations[stat], "home") == 0 ||
                                              strcmp(registrations[stat], "roaming") == 0);
        if (registered) {
            chosen = domain;
            break;
        }
        if (chosen < 0 && stat != -1) chosen = domain;
    }
    if (chosen >= 0) {
        const int stat = record.registered[chosen];
        if (stat >= 0) record.registration = registrations[stat];
        if (record.tac == status_unknown) record.tac = record.registered_tac[chosen];
        if (record.cell == status_unknown) record.cell = record.registered_cell[chosen];
    }
    status_limit_record(record);
}

int64_t status_lte_band(int64_t earfcn) {
    for (const status_lte_range& range : status_lte_ranges) {
        if (earfcn >= range.first && earfcn <= range.last) return range.band;
    }
    return status_unknown;
}
