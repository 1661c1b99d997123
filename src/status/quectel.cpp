// Quectel's reports: AT+QENG="servingcell" (the serving cell: LTE, WCDMA, GSM, NR
// standalone, and EN-DC as an LTE line and an NR line), AT+QCAINFO (the component
// carriers) and AT+QTEMP (the sensors). Read by the EC2x/EG2x, RG50xQ/RM5xxQ and
// RG520N/RM5x0N AT manuals and by what modules of the field send where those differ.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

// Quectel's serving cell, each form's fields counted from its technology's name.
constexpr status_map<status_record> status_qeng_lte[] = {
    {&status_record::cell, nullptr, 4, status_as::hex},
    {&status_record::pci, nullptr, 5, status_as::integer},
    {&status_record::channel, nullptr, 6, status_as::integer},
    {&status_record::band, nullptr, 7, status_as::integer},
    {&status_record::bandwidth, nullptr, 9, status_as::lte_width},
    {&status_record::tac, nullptr, 10, status_as::hex},
    {&status_record::rsrp, nullptr, 11, status_as::decimal},
    {&status_record::rsrq, nullptr, 12, status_as::decimal},
    {&status_record::rssi, nullptr, 13, status_as::decimal},
    {&status_record::sinr, nullptr, 14, status_as::decimal},
};
constexpr status_map<status_record> status_qeng_wcdma[] = {
    {&status_record::tac, nullptr, 3, status_as::hex},
    {&status_record::cell, nullptr, 4, status_as::hex},
    {&status_record::channel, nullptr, 5, status_as::integer},
    {&status_record::pci, nullptr, 6, status_as::integer},
    {&status_record::rscp, nullptr, 8, status_as::decimal},
    {&status_record::ecio, nullptr, 9, status_as::decimal},
};
constexpr status_map<status_record> status_qeng_gsm[] = {
    {&status_record::tac, nullptr, 3, status_as::hex},
    {&status_record::cell, nullptr, 4, status_as::hex},
    {&status_record::channel, nullptr, 6, status_as::integer},
    {&status_record::rssi, nullptr, 8, status_as::decimal},
};
constexpr status_map<status_record> status_qeng_sa[] = {
    {&status_record::cell, nullptr, 4, status_as::hex},
    {&status_record::pci, nullptr, 5, status_as::integer},
    {&status_record::tac, nullptr, 6, status_as::hex},
    {&status_record::channel, nullptr, 7, status_as::integer},
    {&status_record::band, nullptr, 8, status_as::integer},
    {&status_record::bandwidth, nullptr, 9, status_as::nr_width},
    {&status_record::rsrp, nullptr, 10, status_as::decimal},
    {&status_record::rsrq, nullptr, 11, status_as::decimal},
};
// The NR leg under EN-DC: SINR before RSRQ.
constexpr status_map<status_carrier> status_qeng_nsa[] = {
    {&status_carrier::pci, nullptr, 3, status_as::integer},
    {&status_carrier::rsrp, nullptr, 4, status_as::decimal},
    {&status_carrier::rsrq, nullptr, 6, status_as::decimal},
    {&status_carrier::channel, nullptr, 7, status_as::integer},
    {&status_carrier::band, nullptr, 8, status_as::integer},
    {&status_carrier::bandwidth, nullptr, 9, status_as::nr_width},
};

// An NR SINR: dB on later firmware, tenths of a dB on early RM500Q firmware; a value
// beyond any SINR in dB (-23 to 40) can only be tenths.
int64_t status_qeng_nr_sinr(const status_fields& fields, size_t field) {
    const int64_t sinr = status_decimal(fields, field);
    return sinr != status_unknown && (sinr < -230 || sinr > 400) ? sinr / 10 : sinr;
}

// One serving cell line, its technology's name at `type`: the whole report on one line,
// or under EN-DC its LTE line and its NR line.
void status_qeng_cell(status_record& record, const status_fields& fields, size_t type) {
    if (status_is(fields, type, "LTE")) {
        record.technology = record.nr_known ? "nr5g-nsa" : "lte";
        status_codes(record, fields, type + 2);
        status_apply(record, fields, type, status_qeng_lte);
    } else if (status_is(fields, type, "WCDMA")) {
        record.technology = "umts";
        status_codes(record, fields, type + 1);
        status_apply(record, fields, type, status_qeng_wcdma);
    } else if (status_is(fields, type, "GSM")) {
        record.technology = "gsm";
        status_codes(record, fields, type + 1);
        status_apply(record, fields, type, status_qeng_gsm);
    } else if (status_is(fields, type, "NR5G-SA")) {
        record.technology = "nr5g-sa";
        status_codes(record, fields, type + 2);
        status_apply(record, fields, type, status_qeng_sa);
        const int64_t sinr = status_qeng_nr_sinr(fields, type + 12);
        if (sinr != status_unknown) record.sinr = sinr;
    } else if (status_is(fields, type, "NR5G-NSA")) {
        status_carrier leg{};
        status_clear_carrier(leg, true);
        status_apply(leg, fields, type, status_qeng_nsa);
        leg.sinr = status_qeng_nr_sinr(fields, type + 5);
        if (leg.pci == status_unknown && leg.channel == status_unknown) return;
        status_nr_leg(record, leg);
    }
}

void status_read_qeng(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, "+QENG:", at, fields)) {
        status_qeng_cell(record, fields, status_is(fields, 0, "servingcell") ? 2 : 0);
    }
}

constexpr status_map<status_carrier> status_scc_lte[] = {
    {&status_carrier::channel, nullptr, 1, status_as::integer},
    {&status_carrier::bandwidth, nullptr, 2, status_as::blocks},
    {&status_carrier::pci, nullptr, 5, status_as::integer},
    {&status_carrier::rsrp, nullptr, 6, status_as::decimal},
    {&status_carrier::rsrq, nullptr, 7, status_as::decimal},
    {&status_carrier::rssi, nullptr, 8, status_as::decimal},
    {&status_carrier::sinr, nullptr, 9, status_as::decimal},
};
// An NR carrier's fields after its PCI are uplink settings on most firmware: no signal.
constexpr status_map<status_carrier> status_scc_nr[] = {
    {&status_carrier::channel, nullptr, 1, status_as::integer},
    {&status_carrier::bandwidth, nullptr, 2, status_as::nr_width},
};

// The next entry from `at`: from its tag to its line's end or to the next tag, as some
// firmware (RM551E, once another program set AT+QCAINFO=1) writes entries without a
// line break between them.
bool status_next_entry(const char* reply, size_t length, const char* tag, size_t& at,
                       status_fields& fields) {
    const size_t size = strlen(tag);
    const auto tag_at = [&](size_t where) {
        return where + size <= length && strncasecmp(reply + where, tag, size) == 0;
    };
    for (; at < length; ++at) {
        if (!tag_at(at)) continue;
        const size_t start = at + size;
        size_t end = start;
        while (end < length && reply[end] != '\r' && reply[end] != '\n' && !tag_at(end)) ++end;
        at = end;
        status_split(reply + start, end - start, fields);
        return true;
    }
    return false;
}

void status_read_qcainfo(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    size_t at = 0;
    while (status_next_entry(reply, length, "+QCAINFO:", at, fields)) {
        if (!status_is(fields, 0, "SCC") || fields.count < 5) continue;
        const bool nr = status_starts(fields.text[3], fields.length[3], "NR5G");
        status_carrier* carrier = status_next_carrier(record, nr);
        if (carrier == nullptr) continue;
        carrier->band = status_band_named(fields.text[3], fields.length[3]);
        if (nr) {
            status_apply(*carrier, fields, 0, status_scc_nr);
            // Some firmware leaves the state out when nothing follows the PCI.
            carrier->pci = status_integer(fields, fields.count == 5 ? 4 : 5);
        } else {
            status_apply(*carrier, fields, 0, status_scc_lte);
        }
    }
}

// The highest sensor: numbers on one line, or one "sensor","value" line each; 255 and
// -273 stand for no sensor.
void status_read_qtemp(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, "+QTEMP:", at, fields)) {
        const bool named = fields.count == 2 && status_decimal(fields, 0) == status_unknown;
        for (size_t field = named ? 1 : 0; field < fields.count; ++field) {
            const int64_t value = status_decimal(fields, field);
            if (value == status_unknown || value == 2550 || value == -2730) continue;
            if (record.temperature == status_unknown || value > record.temperature) {
                record.temperature = value;
            }
        }
    }
}

constexpr status_command status_quectel[] = {
    {"AT+QENG=\"servingcell\"", status_read_qeng},
    {"AT+QCAINFO", status_read_qcainfo},
    {"AT+QTEMP", status_read_qtemp},
};

}  // namespace

size_t status_quectel_commands(const status_command*& commands) {
    commands = status_quectel;
    return status_count(status_quectel);
}
