// Telit's report: AT#RFSTS, the serving cell in its GSM, UMTS or LTE form, by the
// LE910 family's AT manuals (the LM960's example among them).
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

// Where Telit's report has the IMSI, which tells its form: quoted beside the quoted
// network name after it, or its digits.
bool status_rfsts_imsi_at(const status_fields& fields, size_t field) {
    if (field + 1 >= fields.count) return false;
    return (fields.quoted[field] && fields.quoted[field + 1]) ||
           (fields.length[field] >= 6 && fields.length[field] <= 15 &&
            status_digits(fields.text[field], fields.length[field]));
}

// Telit's report in its GSM, UMTS or LTE form, told apart by where the IMSI stands
// (the 11th, 16th or 13th field), never by what another command said.
void status_read_rfsts(status_record& record, const char* reply, size_t length) {
    constexpr status_map<status_record> gsm[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::rssi, nullptr, 2, status_as::decimal},
        {&status_record::tac, nullptr, 3, status_as::hex},
    };
    constexpr status_map<status_record> umts[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::pci, nullptr, 2, status_as::integer},
        {&status_record::ecio, nullptr, 3, status_as::decimal},
        {&status_record::rscp, nullptr, 4, status_as::decimal},
        {&status_record::rssi, nullptr, 5, status_as::decimal},
        {&status_record::tac, nullptr, 6, status_as::hex},
    };
    constexpr status_map<status_record> lte[] = {
        {&status_record::channel, nullptr, 1, status_as::integer},
        {&status_record::rsrp, nullptr, 2, status_as::decimal},
        {&status_record::rssi, nullptr, 3, status_as::decimal},
        {&status_record::rsrq, nullptr, 4, status_as::decimal},
        {&status_record::tac, nullptr, 5, status_as::hex},
        {&status_record::cell, nullptr, 11, status_as::hex},
        {&status_record::band, nullptr, 15, status_as::integer},
        {&status_record::sinr, nullptr, 18, status_as::decimal},
    };
    constexpr size_t gsm_imsi = 10;
    constexpr size_t umts_imsi = 15;
    constexpr size_t lte_imsi = 12;
    status_fields fields{};
    if (!status_line(reply, length, "#RFSTS:", fields) || fields.count < 2) return;
    if (status_rfsts_imsi_at(fields, lte_imsi)) {
        status_technology(record, "lte");
        status_apply(record, fields, 0, lte);
    } else if (status_rfsts_imsi_at(fields, umts_imsi)) {
        status_technology(record, "umts");
        status_apply(record, fields, 0, umts);
    } else if (status_rfsts_imsi_at(fields, gsm_imsi)) {
        status_technology(record, "gsm");
        status_apply(record, fields, 0, gsm);
    } else {
        return;
    }
    status_plmn(record, fields.text[0], fields.length[0]);
}

constexpr status_command status_telit[] = {{"AT#RFSTS", status_read_rfsts}};

}  // namespace

size_t status_telit_commands(const status_command*& commands) {
    commands = status_telit;
    return status_count(status_telit);
}
