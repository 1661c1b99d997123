// The decoder's shared readers, for the makers' files of this room and nothing else:
// the fields of a reply's line, numbers in each of their spellings and scales, the
// tables that map a report's fields into the record, texts and network codes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "status/status.h"

constexpr size_t status_fields_most = 32;

template <typename T, size_t count>
constexpr size_t status_count([[maybe_unused]] const T (&array)[count]) {
    return count;
}

// The fields of one line after its tag: split at commas outside quotes, each without
// its quotes and the blanks around it.
struct status_fields {
    const char* text[status_fields_most];
    size_t length[status_fields_most];
    bool quoted[status_fields_most];
    size_t count;
};

[[nodiscard]] bool status_space(char c);
void status_split(const char* line, size_t length, status_fields& fields);
// Whether `text` starts with `start`, in either case.
[[nodiscard]] bool status_starts(const char* text, size_t length, const char* start);
// The next line from `at` that starts with `tag` (in either case), split after it.
[[nodiscard]] bool status_next_line(const char* reply, size_t length, const char* tag, size_t& at,
                                    status_fields& fields);
[[nodiscard]] bool status_line(const char* reply, size_t length, const char* tag,
                               status_fields& fields);
[[nodiscard]] bool status_is(const status_fields& fields, size_t field, const char* word);
[[nodiscard]] bool status_digits(const char* text, size_t length);

// A decimal number in tenths ("-12.5" is -125); unknown for anything else, and for the
// invalid marker -32768.
[[nodiscard]] int64_t status_decimal(const status_fields& fields, size_t field);
// A whole number; unknown where it has a fraction.
[[nodiscard]] int64_t status_integer(const status_fields& fields, size_t field);
// A hexadecimal number, with or without 0x; unknown where four digits or more have
// every bit set (FFFF, FFFFFFFF), or it is 7FFFFFFF or FFFE: the markers of no value.
[[nodiscard]] int64_t status_hex(const status_fields& fields, size_t field);
// One number of a text, as a field of its own.
[[nodiscard]] status_fields status_field_of(const char* text, size_t length);
// The number at the end of a text ("LTE BAND 3", "EUTRAN-BAND3", "B3", "n78").
[[nodiscard]] int64_t status_band_named(const char* text, size_t length);

// A scale of a standard or maker's report: n from `least` to `most` is worth
// n * step + offset tenths; anything else (99, 255) is unknown.
struct status_scale {
    int least;
    int most;
    int step;
    int offset;
};
constexpr status_scale status_csq_rssi = {0, 31, 20, -1130};
constexpr status_scale status_cesq_rxlev = {0, 63, 10, -1110};
constexpr status_scale status_cesq_rscp = {0, 96, 10, -1210};
constexpr status_scale status_cesq_ecno = {0, 49, 5, -245};
constexpr status_scale status_cesq_rsrq = {0, 34, 5, -200};
constexpr status_scale status_cesq_rsrp = {0, 97, 10, -1410};
constexpr status_scale status_xcesq_rssnr = {-100, 100, 5, 0};

// How a field is read: a number as it stands, a bandwidth by its code (Quectel's LTE
// codes, NR codes in the order of TS 38.101's channel bandwidths, LTE resource blocks),
// or by a scale.
enum class status_as : uint8_t { decimal, integer, hex, lte_width, nr_width, blocks, scaled };

// One field of a report: where it stands, where it goes and how it is read.
template <typename Into>
struct status_map {
    int64_t Into::*target;
    const status_scale* scale;
    uint8_t field;
    status_as as;
};

[[nodiscard]] int64_t status_value(const status_fields& fields, size_t field, status_as as,
                                   const status_scale* scale);

// Reads each mapped field from `base` on; a value that is unknown leaves what an
// earlier reply gave.
template <typename Into, size_t count>
void status_apply(Into& into, const status_fields& fields, size_t base,
                  const status_map<Into> (&maps)[count]) {
    for (const status_map<Into>& map : maps) {
        const int64_t value = status_value(fields, base + map.field, map.as, map.scale);
        if (value != status_unknown) into.*map.target = value;
    }
}

// The six values of +CESQ, from `base` on: +XCESQ has its <n> before them.
constexpr status_map<status_record> status_cesq_map[] = {
    {&status_record::rssi, &status_cesq_rxlev, 0, status_as::scaled},
    {&status_record::rscp, &status_cesq_rscp, 2, status_as::scaled},
    {&status_record::ecio, &status_cesq_ecno, 3, status_as::scaled},
    {&status_record::rsrq, &status_cesq_rsrq, 4, status_as::scaled},
    {&status_record::rsrp, &status_cesq_rsrp, 5, status_as::scaled},
};

// The network's codes as it sends them ("01" keeps its zero), an MCC of fewer than
// three digits padded to three and an MNC of one to two: from one text each, from two
// fields from `mcc` on, or from "26202" or "311 480".
void status_code_pair(status_record& record, const char* mcc, size_t mcc_length, const char* mnc,
                      size_t mnc_length);
void status_codes(status_record& record, const status_fields& fields, size_t mcc);
void status_plmn(status_record& record, const char* text, size_t length);

// A text, cut where it is too long at a character's start, never inside a UTF-8
// sequence.
void status_text(const char* text, size_t length, char (&into)[status_text_size]);

void status_clear_carrier(status_carrier& carrier, bool nr);
// The serving cell's technology, kept where it is the same family (an LTE report under
// EN-DC).
void status_technology(status_record& record, const char* technology);
// A value where it is known; an unknown one leaves what an earlier reply gave.
void status_set(int64_t& into, int64_t value);
// The NR leg of an EN-DC cell.
void status_nr_leg(status_record& record, const status_carrier& leg);
// An LTE serving cell whose report gives the EARFCN but no band.
void status_band_from_channel(status_record& record);
// The carrier that comes next; null past the most kept, which are counted.
[[nodiscard]] status_carrier* status_next_carrier(status_record& record, bool nr);

// Each maker's commands, in order, with their readers; each sets `commands` and returns
// how many.
size_t status_quectel_commands(const status_command*& commands);
size_t status_huawei_commands(const status_command*& commands);
size_t status_telit_commands(const status_command*& commands);
size_t status_cinterion_commands(const status_command*& commands);
size_t status_intel_commands(const status_command*& commands);
size_t status_simcom_commands(const status_command*& commands);
size_t status_sierra_commands(const status_command*& commands);
// `qualcomm`: the form whose channels and PCIs are hex.
size_t status_fibocom_commands(const status_command*& commands, bool qualcomm);
