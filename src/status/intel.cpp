// Intel XMM modules' reports (Fibocom L850-GL, L860-GL): AT+XCESQ? (+CESQ's values and
// the RSSNR) and AT+XMCI=1 (the cells, type 4 the LTE serving cell, its values quoted
// hex), by Intel's XMM7x60 AT command manual and what modules send.
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

void status_read_xcesq(status_record& record, const char* reply, size_t length) {
    constexpr status_map<status_record> rssnr[] = {
        {&status_record::sinr, &status_xcesq_rssnr, 7, status_as::scaled}};
    status_fields fields{};
    if (!status_line(reply, length, "+XCESQ:", fields)) return;
    status_apply(record, fields, 1, status_cesq_map);
    status_apply(record, fields, 0, rssnr);
}

// Intel's cells, one line each: type 4 is the LTE serving cell, its values quoted hex.
void status_read_xmci(status_record& record, const char* reply, size_t length) {
    constexpr status_map<status_record> map[] = {
        {&status_record::tac, nullptr, 3, status_as::hex},
        {&status_record::cell, nullptr, 4, status_as::hex},
        {&status_record::pci, nullptr, 5, status_as::hex},
        {&status_record::channel, nullptr, 6, status_as::hex},
        {&status_record::rsrp, &status_cesq_rsrp, 9, status_as::scaled},
        {&status_record::rsrq, &status_cesq_rsrq, 10, status_as::scaled},
        {&status_record::sinr, &status_xcesq_rssnr, 11, status_as::scaled},
    };
    status_fields fields{};
    size_t at = 0;
    while (status_next_line(reply, length, "+XMCI:", at, fields)) {
        if (status_integer(fields, 0) != 4) continue;
        record.technology = "lte";
        status_codes(record, fields, 1);
        status_apply(record, fields, 0, map);
        status_band_from_channel(record);
        return;
    }
}

constexpr status_command status_intel[] = {
    {"AT+XCESQ?", status_read_xcesq},
    {"AT+XMCI=1", status_read_xmci},
};

}  // namespace

size_t status_intel_commands(const status_command*& commands) {
    commands = status_intel;
    return status_count(status_intel);
}
