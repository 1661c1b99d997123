// Cinterion's (Thales, Gemalto) report: AT^SMONI, the serving cell in its 2G, 3G and
// 4G forms, by the PLS8 and ELS61 AT manuals.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

void status_read_smoni(status_record& record, const char* reply, size_t length) {
    constexpr status_map<status_record> lte[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::band, nullptr, 2, status_as::integer},
        {&status_record::bandwidth, nullptr, 3, status_as::decimal},
        {&status_record::tac, nullptr, 8, status_as::hex},
        {&status_record::cell, nullptr, 9, status_as::hex},
        {&status_record::pci, nullptr, 10, status_as::integer},
        {&status_record::rsrp, nullptr, 12, status_as::decimal},
        {&status_record::rsrq, nullptr, 13, status_as::decimal},
    };
    constexpr status_map<status_record> umts[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::pci, nullptr, 2, status_as::integer},
        {&status_record::ecio, nullptr, 3, status_as::decimal},
        {&status_record::rscp, nullptr, 4, status_as::decimal},
        {&status_record::tac, nullptr, 7, status_as::hex},
        {&status_record::cell, nullptr, 8, status_as::hex},
    };
    constexpr status_map<status_record> gsm[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::rssi, nullptr, 2, status_as::decimal},
        {&status_record::tac, nullptr, 5, status_as::hex},
        {&status_record::cell, nullptr, 6, status_as::hex},
    };
    status_fields fields{};
    // While it searches, a cell is no cell yet.
    if (!status_line(reply, length, "^SMONI:", fields) || status_is(fields, 1, "SEARCH")) return;
    if (status_is(fields, 0, "4G")) {
        record.technology = "lte";
        status_codes(record, fields, 6);
        status_apply(record, fields, 0, lte);
    } else if (status_is(fields, 0, "3G")) {
        record.technology = "umts";
        status_codes(record, fields, 5);
        status_apply(record, fields, 0, umts);
    } else if (status_is(fields, 0, "2G")) {
        record.technology = "gsm";
        status_codes(record, fields, 3);
        status_apply(record, fields, 0, gsm);
    }
}

constexpr status_command status_cinterion[] = {{"AT^SMONI", status_read_smoni}};

}  // namespace

size_t status_cinterion_commands(const status_command*& commands) {
    commands = status_cinterion;
    return status_count(status_cinterion);
}
