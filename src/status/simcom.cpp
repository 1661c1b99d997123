// SIMCom's reports: AT+CPSI? (the serving cell: GSM, WCDMA, LTE, NR standalone, and
// under EN-DC a second line for the NR leg) and AT+CPMUTEMP (the temperature), by the
// SIM7500/SIM7600 AT manual (V3.00), the SIM8200 AT manual (V1.00.01) and what modules
// of the field send: LTE's RSRQ, RSRP and RSSI come in tenths there, told by the RSRP's
// value, and NR's signal likewise.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

// An RSRP below these can't be in whole dBm: the line's values are tenths.
constexpr int64_t simcom_lte_tenths_below = -1400;
constexpr int64_t simcom_nr_tenths_below = -1560;
// An NR SNR beyond this is in tenths even on a line of whole values.
constexpr int64_t simcom_snr_most = 400;

// A value of a line that is in tenths of its unit, in the record's tenths.
int64_t simcom_tenths(int64_t value, bool tenths) {
    return value == status_unknown || !tenths ? value : value / 10;
}

// A magnitude printed without its sign (an Ec/Io, an RSCP or an RxLev is never above 0).
int64_t simcom_negative(int64_t value) {
    return value <= 0 ? value : -value;  // the unknown marker is below any number
}

// "460-01": the network's codes.
void simcom_codes(status_record& record, const status_fields& fields, size_t at) {
    if (at >= fields.count) return;
    const char* text = fields.text[at];
    const char* dash = static_cast<const char*>(memchr(text, '-', fields.length[at]));
    if (dash == nullptr) return;
    const auto mcc = static_cast<size_t>(dash - text);
    status_code_pair(record, text, mcc, dash + 1, fields.length[at] - mcc - 1);
}

// The area (hex, 0x before it) and the cell (decimal on every form) from `at` on.
void simcom_area_and_cell(status_record& record, const status_fields& fields, size_t at) {
    const int64_t area = status_hex(fields, at);
    const int64_t cell = status_integer(fields, at + 1);
    if (area != status_unknown) record.tac = area;
    if (cell != status_unknown) record.cell = cell;
}

void simcom_gsm(status_record& record, const status_fields& fields) {
    record.technology = "gsm";
    simcom_codes(record, fields, 2);
    simcom_area_and_cell(record, fields, 3);
    // "27 EGSM 900": the ARFCN before the band's name.
    if (fields.count > 5) {
        const size_t digits = strspn(fields.text[5], "0123456789");
        status_set(
            record.channel,
            status_integer(status_field_of(fields.text[5],
                                           digits < fields.length[5] ? digits : fields.length[5]),
                           0));
    }
    status_set(record.rssi, simcom_negative(status_decimal(fields, 6)));
}

void simcom_wcdma(status_record& record, const status_fields& fields) {
    record.technology = "umts";
    simcom_codes(record, fields, 2);
    simcom_area_and_cell(record, fields, 3);
    status_set(record.pci, status_integer(fields, 6));
    status_set(record.channel, status_integer(fields, 7));
    status_set(record.ecio, simcom_negative(status_decimal(fields, 9)));
    status_set(record.rscp, simcom_negative(status_decimal(fields, 10)));
}

void simcom_lte(status_record& record, const status_fields& fields) {
    constexpr status_map<status_record> map[] = {
        {&status_record::pci, nullptr, 5, status_as::integer},
        {&status_record::channel, nullptr, 7, status_as::integer},
        {&status_record::bandwidth, nullptr, 8, status_as::lte_width},
        {&status_record::sinr, nullptr, 13, status_as::decimal},
    };
    record.technology = "lte";
    simcom_codes(record, fields, 2);
    simcom_area_and_cell(record, fields, 3);
    status_apply(record, fields, 0, map);
    if (fields.count > 6)
        status_set(record.band, status_band_named(fields.text[6], fields.length[6]));
    const int64_t rsrp = status_decimal(fields, 11);
    const bool tenths = rsrp != status_unknown && rsrp < simcom_lte_tenths_below;
    status_set(record.rsrq, simcom_tenths(status_decimal(fields, 10), tenths));
    status_set(record.rsrp, simcom_tenths(rsrp, tenths));
    status_set(record.rssi, simcom_tenths(status_decimal(fields, 12), tenths));
}

// NR's RSRP, RSRQ and SNR: tenths where the RSRP can't be whole, and the SNR also where
// it lies beyond any whole SNR.
template <typename Into>
void simcom_nr_signal(Into& into, int64_t rsrp, int64_t rsrq, int64_t snr) {
    const bool tenths = rsrp != status_unknown && rsrp < simcom_nr_tenths_below;
    status_set(into.rsrp, simcom_tenths(rsrp, tenths));
    status_set(into.rsrq, simcom_tenths(rsrq, tenths));
    const bool snr_tenths = tenths || snr > simcom_snr_most;
    status_set(into.sinr, simcom_tenths(snr, snr_tenths));
}

// Standalone: NR5G_SA with its band, or the older NR5G form without one.
void simcom_sa(status_record& record, const status_fields& fields, bool banded) {
    record.technology = "nr5g-sa";
    simcom_codes(record, fields, 2);
    simcom_area_and_cell(record, fields, 3);
    status_set(record.pci, status_integer(fields, 5));
    const size_t channel = banded ? 7 : 6;
    if (banded) status_set(record.band, status_band_named(fields.text[6], fields.length[6]));
    status_set(record.channel, status_integer(fields, channel));
    simcom_nr_signal(record, status_decimal(fields, channel + 1),
                     status_decimal(fields, channel + 2), status_decimal(fields, channel + 3));
}

// The NR leg under EN-DC, read by its shape: a band's label where one comes; of the
// numbers, the PCI, the NR-ARFCN, two signal values (the lower the RSRP: no cell has its
// RSRP above its RSRQ), then the SNR.
void simcom_leg(status_record& record, const status_fields& fields) {
    int64_t numbers[5] = {};
    size_t count = 0;
    status_carrier leg{};
    status_clear_carrier(leg, true);
    for (size_t i = 1; i < fields.count && count < 5; ++i) {
        if (status_starts(fields.text[i], fields.length[i], "NR5G_BAND")) {
            leg.band = status_band_named(fields.text[i], fields.length[i]);
            continue;
        }
        numbers[count++] = status_decimal(fields, i);
    }
    if (count < 2 || numbers[0] == status_unknown || numbers[0] % 10 != 0) return;
    leg.pci = numbers[0] / 10;
    if (numbers[1] != status_unknown && numbers[1] % 10 == 0) leg.channel = numbers[1] / 10;
    if (count >= 4 && numbers[2] != status_unknown && numbers[3] != status_unknown) {
        const bool rsrp_first = numbers[2] < numbers[3];
        simcom_nr_signal(leg, rsrp_first ? numbers[2] : numbers[3],
                         rsrp_first ? numbers[3] : numbers[2],
                         count == 5 ? numbers[4] : status_unknown);
    }
    status_nr_leg(record, leg);
}

void simcom_read_cpsi(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, "+CPSI:", at, fields)) {
        if (fields.count < 2) continue;
        // "LTE-LIMITED": camped on a cell without being registered; the cell is read.
        size_t mode = fields.length[0];
        const char limited[] = "-LIMITED";
        if (mode > strlen(limited) &&
            strncasecmp(fields.text[0] + mode - strlen(limited), limited, strlen(limited)) == 0) {
            mode -= strlen(limited);
        }
        const auto is = [&](const char* word) {
            return mode == strlen(word) && strncasecmp(fields.text[0], word, mode) == 0;
        };
        // The older NR5G form has an operation mode after it; the EN-DC leg a number.
        const bool numbered = status_decimal(fields, 1) != status_unknown;
        if (is("GSM")) {
            simcom_gsm(record, fields);
        } else if (is("WCDMA")) {
            simcom_wcdma(record, fields);
        } else if (is("LTE")) {
            simcom_lte(record, fields);
        } else if (is("NR5G_SA")) {
            simcom_sa(record, fields, true);
        } else if (is("NR5G_NSA") || (is("NR5G") && numbered)) {
            simcom_leg(record, fields);
        } else if (is("NR5G")) {
            simcom_sa(record, fields, false);
        }
    }
}

void simcom_read_cpmutemp(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (status_line(reply, length, "+CPMUTEMP:", fields)) {
        status_set(record.temperature, status_decimal(fields, 0));
    }
}

constexpr status_command status_simcom[] = {
    {"AT+CPSI?", simcom_read_cpsi},
    {"AT+CPMUTEMP", simcom_read_cpmutemp},
};

}  // namespace

size_t status_simcom_commands(const status_command*& commands) {
    commands = status_simcom;
    return status_count(status_simcom);
}
