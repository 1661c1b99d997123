// Huawei's reports: AT^HCSQ? (the signal by system mode, in index scales),
// AT^SYSINFOEX (the system mode) and AT^MONSC (the LTE serving cell, its PCI in hex),
// by the ME909s AT manual.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

constexpr status_scale status_huawei_rssi = {0, 96, 10, -1210};
constexpr status_scale status_huawei_sinr = {0, 251, 2, -202};
constexpr status_scale status_huawei_ecio = {0, 65, 5, -325};

constexpr status_map<status_record> status_hcsq_lte[] = {
    {&status_record::rssi, &status_huawei_rssi, 1, status_as::scaled},
    {&status_record::rsrp, &status_cesq_rsrp, 2, status_as::scaled},
    {&status_record::sinr, &status_huawei_sinr, 3, status_as::scaled},
    {&status_record::rsrq, &status_cesq_rsrq, 4, status_as::scaled},
};
constexpr status_map<status_record> status_hcsq_wcdma[] = {
    {&status_record::rssi, &status_huawei_rssi, 1, status_as::scaled},
    {&status_record::rscp, &status_cesq_rscp, 2, status_as::scaled},
    {&status_record::ecio, &status_huawei_ecio, 3, status_as::scaled},
};

void status_read_hcsq(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "^HCSQ:", fields)) return;
    if (status_is(fields, 0, "LTE")) status_apply(record, fields, 0, status_hcsq_lte);
    if (status_is(fields, 0, "WCDMA")) status_apply(record, fields, 0, status_hcsq_wcdma);
    if (status_is(fields, 0, "GSM")) status_apply(record, fields, 0, status_hcsq_wcdma);
}

void status_read_sysinfoex(status_record& record, const char* reply, size_t length) {
    status_fields fields{};
    if (!status_line(reply, length, "^SYSINFOEX:", fields)) return;
    const int64_t mode = status_integer(fields, 5);
    if (mode == 1) record.technology = "gsm";
    if (mode == 3) record.technology = "umts";
    if (mode == 6) record.technology = "lte";
    if (mode == 11) record.technology = "nr5g-sa";
}

void status_read_monsc(status_record& record, const char* reply, size_t length) {
    constexpr status_map<status_record> map[] = {
        {&status_record::channel, nullptr, 3, status_as::integer},
        {&status_record::cell, nullptr, 4, status_as::hex},
        {&status_record::pci, nullptr, 5, status_as::hex},
        {&status_record::tac, nullptr, 6, status_as::hex},
        {&status_record::rsrp, nullptr, 7, status_as::decimal},
        {&status_record::rsrq, nullptr, 8, status_as::decimal},
        {&status_record::rssi, nullptr, 9, status_as::decimal},
    };
    status_fields fields{};
    if (!status_line(reply, length, "^MONSC:", fields) || !status_is(fields, 0, "LTE")) return;
    status_codes(record, fields, 1);
    status_apply(record, fields, 0, map);
    status_band_from_channel(record);
}

constexpr status_command status_huawei[] = {
    {"AT^HCSQ?", status_read_hcsq},
    {"AT^SYSINFOEX", status_read_sysinfoex},
    {"AT^MONSC", status_read_monsc},
};

}  // namespace

size_t status_huawei_commands(const status_command*& commands) {
    commands = status_huawei;
    return status_count(status_huawei);
}
