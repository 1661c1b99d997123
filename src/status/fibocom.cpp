// Fibocom's 5G modules' reports: AT+GTCCINFO? (the serving cells, LTE and NR, by index
// scales), AT+GTCAINFO? (the component carriers, and the primary's RSRP) and
// AT+GTSENRDTEMP=1 (the SoC's temperature, in thousandths of a degree), by the FM350
// AT Commands User Manual (V2.10) and captures of FM350 (MediaTek) and FM150 (Qualcomm)
// modules: the Qualcomm form writes GTCCINFO's channels and PCIs in hex, and the NR
// SINR is whole dB, as printed, where the manual's scale contradicts every capture.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

constexpr int fibocom_rat_wcdma = 2;
constexpr int fibocom_rat_lte = 4;
constexpr int fibocom_rat_nr = 9;
// Index scales, each index at the lower edge of its range as +CESQ's.
constexpr status_scale fibocom_lte_rsrp = {0, 97, 10, -1410};
constexpr status_scale fibocom_nr_rsrp = {0, 126, 10, -1570};
constexpr status_scale fibocom_lte_rsrq = {0, 34, 5, -200};
constexpr status_scale fibocom_nr_rsrq = {0, 126, 5, -435};
constexpr status_scale fibocom_nr_sinr = {-23, 40, 10, 0};

// A hex identity; unknown where it is empty or all F after its leading zeros (FFFF,
// 00FFFFFFF).
int64_t fibocom_hex(const status_fields& fields, size_t at) {
    if (at >= fields.count) return status_unknown;
    const char* text = fields.text[at];
    size_t length = fields.length[at];
    while (length > 0 && text[0] == '0') ++text, --length;
    if (length == 0) return fields.length[at] > 0 ? 0 : status_unknown;
    bool all_f = true;
    for (size_t i = 0; i < length; ++i) all_f = all_f && (text[i] == 'F' || text[i] == 'f');
    return all_f ? status_unknown : status_hex(status_field_of(text, length), 0);
}

// A band code: LTE band n is 100+n, NR band n "50" and n's digits ("5078"; a one-digit
// band "50<d>" or "500<d>": the leading 50 goes either way). `nr` says whose.
int64_t fibocom_band(const status_fields& fields, size_t at, bool& nr) {
    nr = false;
    if (at >= fields.count || fields.length[at] < 3) return status_unknown;
    const char* text = fields.text[at];
    if (text[0] == '5' && text[1] == '0') {
        nr = true;
        return status_integer(status_field_of(text + 2, fields.length[at] - 2), 0);
    }
    const int64_t code = status_integer(fields, at);
    return code > 100 && code < 200 ? code - 100 : status_unknown;
}

// The bandwidth: MHz times 5, 6 for 1.4 MHz; 0 and 255 are none.
int64_t fibocom_width(const status_fields& fields, size_t at) {
    const int64_t code = status_integer(fields, at);
    if (code == 6) return 14;
    if (code <= 0 || code == 255 || code == status_unknown) return status_unknown;
    return code * 2;
}

// A serving line's cell: `1,<RAT>,<MCC>,<MNC>,<TAC>,<cell id>,<ARFCN>,<PCI>,<band>,<bw>,
// <SINR>,<level>,<RSRP>,<RSRQ>`.
struct fibocom_cell {
    status_carrier signal;
    int64_t tac;
    int64_t cell;
};

void fibocom_read_cell(const status_fields& fields, bool nr, bool hex, fibocom_cell& into) {
    status_clear_carrier(into.signal, nr);
    into.tac = fibocom_hex(fields, 4);
    into.cell = fibocom_hex(fields, 5);
    into.signal.channel = hex ? status_hex(fields, 6) : status_integer(fields, 6);
    into.signal.pci = hex ? status_hex(fields, 7) : status_integer(fields, 7);
    bool nr_code = false;
    into.signal.band = fibocom_band(fields, 8, nr_code);
    into.signal.bandwidth = fibocom_width(fields, 9);
    into.signal.sinr =
        status_value(fields, 10, status_as::scaled, nr ? &fibocom_nr_sinr : &status_xcesq_rssnr);
    into.signal.rsrp =
        status_value(fields, 12, status_as::scaled, nr ? &fibocom_nr_rsrp : &fibocom_lte_rsrp);
    into.signal.rsrq =
        status_value(fields, 13, status_as::scaled, nr ? &fibocom_nr_rsrq : &fibocom_lte_rsrq);
}

// The serving cell's values into the record.
void fibocom_serve(status_record& record, const fibocom_cell& cell) {
    status_set(record.tac, cell.tac);
    status_set(record.cell, cell.cell);
    status_set(record.channel, cell.signal.channel);
    status_set(record.pci, cell.signal.pci);
    status_set(record.band, cell.signal.band);
    status_set(record.bandwidth, cell.signal.bandwidth);
    status_set(record.sinr, cell.signal.sinr);
    status_set(record.rsrp, cell.signal.rsrp);
    status_set(record.rsrq, cell.signal.rsrq);
}

// Where the network's codes come from: AT+COPS? in format 2 keeps the MNC's digits,
// this report does not.
void fibocom_codes(status_record& record, const status_fields& fields) {
    if (record.mcc[0] == '\0') status_codes(record, fields, 2);
}

// The lines after the tag, one cell each; section lines ("LTE service cell:") and
// neighbours (field 1 is 2) are passed over.
template <bool hex>
void fibocom_read_ccinfo(status_record& record, const char* reply, size_t length) {
    constexpr char tag[] = "+GTCCINFO:";
    size_t from = 0;
    while (from + strlen(tag) <= length && strncasecmp(reply + from, tag, strlen(tag)) != 0) ++from;
    if (from + strlen(tag) > length) return;
    fibocom_cell lte{};
    fibocom_cell nr{};
    bool lte_seen = false;
    bool nr_seen = false;
    status_fields fields{};
    for (size_t at = from + strlen(tag); at < length;) {
        size_t end = at;
        while (end < length && reply[end] != '\r' && reply[end] != '\n') ++end;
        status_split(reply + at, end - at, fields);
        at = end + 1;
        if (status_integer(fields, 0) != 1 || fields.count < 6) continue;
        const int64_t rat = status_integer(fields, 1);
        if (rat == fibocom_rat_wcdma) {
            record.technology = "umts";
            fibocom_codes(record, fields);
            status_set(record.tac, fibocom_hex(fields, 4));
            status_set(record.cell, fibocom_hex(fields, 5));
            status_set(record.channel, status_integer(fields, 6));
            status_set(record.pci, status_integer(fields, 7));
        } else if (rat == fibocom_rat_lte && !lte_seen) {
            lte_seen = true;
            fibocom_codes(record, fields);
            fibocom_read_cell(fields, false, hex, lte);
        } else if (rat == fibocom_rat_nr && !nr_seen) {
            nr_seen = true;
            fibocom_codes(record, fields);
            fibocom_read_cell(fields, true, hex, nr);
        }
    }
    // An LTE and an NR serving cell are EN-DC; NR's own line is in use only so, whatever
    // AT+COPS?'s AcT says.
    if (lte_seen) {
        record.technology = nr_seen ? "nr5g-nsa" : "lte";
        fibocom_serve(record, lte);
        if (record.band == status_unknown) status_band_from_channel(record);
        if (nr_seen) {
            record.nr = nr.signal;
            record.nr_known = true;
        }
    } else if (nr_seen) {
        record.technology = "nr5g-sa";
        fibocom_serve(record, nr);
    }
}

// The primary carrier's RSRP, the last field of a PCC line: dBm where negative (the
// finer value), else an index; whose it is, the band code says.
void fibocom_primary(status_record& record, const status_fields& fields) {
    bool nr = false;
    const int64_t band = fibocom_band(fields, 0, nr);
    if (band == status_unknown || fields.count < 2) return;
    const size_t last = fields.count - 1;
    int64_t rsrp = status_decimal(fields, last);
    if (rsrp >= 0) {  // never the unknown marker, which is below any number
        rsrp = status_value(fields, last, status_as::scaled,
                            nr ? &fibocom_nr_rsrp : &fibocom_lte_rsrp);
    }
    if (rsrp == status_unknown) return;
    if (nr && record.nr_known) {
        record.nr.rsrp = rsrp;
    } else if (nr == (record.technology != nullptr && strcmp(record.technology, "nr5g-sa") == 0)) {
        record.rsrp = rsrp;
    }
}

// A secondary carrier: `<state>,<UL CA>,<band>,<PCI>,<ARFCN>,<DL bw>,...`, state 1
// (configured) or 2 (active). Its RSRP field repeats the primary's: not read.
void fibocom_secondary(status_record& record, const status_fields& fields) {
    const int64_t state = status_integer(fields, 0);
    if (state != 1 && state != 2) return;
    bool nr = false;
    const int64_t band = fibocom_band(fields, 2, nr);
    if (band == status_unknown) return;
    status_carrier* carrier = status_next_carrier(record, nr);
    if (carrier == nullptr) return;
    carrier->band = band;
    carrier->pci = status_integer(fields, 3);
    carrier->channel = status_integer(fields, 4);
    carrier->bandwidth = fibocom_width(fields, 5);
}

// "PCC:" and "SCC<n>:" (or "SCC <n>:") lines, read from their start.
void fibocom_read_cainfo(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    for (size_t at = 0; at < length;) {
        size_t start = at;
        size_t end = at;
        while (end < length && reply[end] != '\r' && reply[end] != '\n') ++end;
        at = end + 1;
        while (start < end && status_space(reply[start])) ++start;
        const char* colon = static_cast<const char*>(memchr(reply + start, ':', end - start));
        if (colon == nullptr) continue;
        const size_t after = static_cast<size_t>(colon - reply) + 1;
        status_split(reply + after, end - after, fields);
        if (status_starts(reply + start, end - start, "PCC")) {
            fibocom_primary(record, fields);
        } else if (status_starts(reply + start, end - start, "SCC")) {
            fibocom_secondary(record, fields);
        }
    }
}

// Thousandths of a degree, rounded to a tenth; 0 is no sensor.
void fibocom_read_temperature(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, "+GTSENRDTEMP:", at, fields)) {
        const int64_t milli = status_integer(fields, 1);
        if (milli == status_unknown || milli == 0) continue;
        const int64_t tenths = (milli + (milli < 0 ? -50 : 50)) / 100;
        if (record.temperature == status_unknown || tenths > record.temperature) {
            record.temperature = tenths;
        }
    }
}

constexpr status_command status_fibocom_mediatek[] = {
    {"AT+GTCCINFO?", fibocom_read_ccinfo<false>},
    {"AT+GTCAINFO?", fibocom_read_cainfo},
    {"AT+GTSENRDTEMP=1", fibocom_read_temperature},
};
constexpr status_command status_fibocom_qualcomm[] = {
    {"AT+GTCCINFO?", fibocom_read_ccinfo<true>},
    {"AT+GTCAINFO?", fibocom_read_cainfo},
    {"AT+GTSENRDTEMP=1", fibocom_read_temperature},
};

}  // namespace

size_t status_fibocom_commands(const status_command*& commands, bool qualcomm) {
    commands = qualcomm ? status_fibocom_qualcomm : status_fibocom_mediatek;
    return qualcomm ? status_count(status_fibocom_qualcomm) : status_count(status_fibocom_mediatek);
}
