// The module's status as a router's status page shows it, decoded from the replies of
// the standard 3GPP commands and of each maker's own reports (Quectel, Huawei, Telit,
// Cinterion, Intel XMM). Pure code over the caller's record: no I/O, no heap, no state;
// one reader for each kind of reply, given the reply's bytes and nothing past them.
// Every value is in its unit (dBm, dB, MHz, degrees Celsius) or unknown: an invalid
// marker (99, 255, -, -32768, 0xFFFFFFFF) is never a number, nor is a value no
// measurement or identity of its field can take. A text line is taken for a command
// only where it can be that command's answer: no result code, news or echo. Decimal values are kept
// in tenths. What a maker's serving-cell report gives wins over what a standard
// command gave, as the reports come after the standard commands.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int64_t status_unknown = INT64_MIN;
constexpr size_t status_text_size = 64;
constexpr size_t status_code_size = 4;  // MCC, MNC: up to three digits
constexpr size_t status_carriers_most = 16;

// A carrier: the primary's NR leg under EN-DC, or a secondary component carrier.
struct status_carrier {
    bool nr;  // else LTE
    int64_t band;
    int64_t channel;
    int64_t pci;
    int64_t bandwidth;  // tenths of a MHz
    int64_t rsrp;       // tenths of a dBm or dB, as the names of the document say
    int64_t rsrq;
    int64_t rssi;
    int64_t sinr;
};

// The registrations the four standard commands give, for status_finish to weigh.
enum status_domain { status_creg, status_cgreg, status_cereg, status_c5greg, status_domains };

struct status_record {
    char manufacturer[status_text_size];  // empty: unknown
    char model[status_text_size];
    char revision[status_text_size];
    char imei[status_text_size];
    const char* sim;  // "ready", "pin", ... ; null: unknown
    char imsi[status_text_size];
    char iccid[status_text_size];
    char network[status_text_size];  // the operator's name
    char mcc[status_code_size];
    char mnc[status_code_size];
    const char* registration;
    const char* technology;
    int64_t band;
    int64_t channel;
    int64_t pci;
    int64_t cell;
    int64_t tac;
    int64_t bandwidth;  // tenths of a MHz
    int64_t rssi;       // tenths of a dBm or dB
    int64_t rsrp;
    int64_t rsrq;
    int64_t sinr;
    int64_t rscp;
    int64_t ecio;
    bool nr_known;
    status_carrier nr;
    status_carrier carriers[status_carriers_most];
    size_t carrier_count;
    int64_t carriers_left_out;  // past status_carriers_most; unknown when none were
    int64_t temperature;        // tenths of a degree
    // What the registration commands said: their status (-1 for no answer), and the
    // area and cell they name.
    int registered[status_domains];
    int64_t registered_tac[status_domains];
    int64_t registered_cell[status_domains];
};

// Whose own commands a module answers, beside the standard ones.
// Fibocom's 5G modules come in two forms of one report: MediaTek's (FM350) and
// Qualcomm's (FM150 and the other FM modules), whose channels and PCIs are hex.
enum class status_profile {
    standard,
    quectel,
    huawei,
    telit,
    cinterion,
    intel,
    simcom,
    sierra,
    fibocom_mediatek,
    fibocom_qualcomm,
};

// Reads one reply (its final result code included) into the record.
using status_reader = void (*)(status_record& record, const char* reply, size_t length);

struct status_command {
    const char* text;  // as it goes on the line, without its carriage return
    status_reader read;
    bool identifies = false;  // asks for the module's or the SIM's identity
};

// Every field unknown.
void status_clear(status_record& record);

// The profile of a module: its maker's answer to AT+CGMI first (one USB ID can stand for
// modules of two makers), else its USB vendor; within Fibocom's family, its model
// (AT+CGMM) tells the Intel XMM LTE modules from the MediaTek and Qualcomm 5G ones.
[[nodiscard]] status_profile status_profile_of(const char* manufacturer, const char* model,
                                               uint32_t module_id);

// The standard commands every module is asked, then a profile's own, in order; each
// sets `commands` and returns how many.
[[nodiscard]] size_t status_standard_commands(const status_command*& commands);
[[nodiscard]] size_t status_profile_commands(status_profile profile,
                                             const status_command*& commands);

// Once every reply is read: the registration of the first of C5GREG, CEREG, CGREG and
// CREG that is registered (else the first answer's), with its area and cell where no
// serving-cell report gave them; then every value outside what 3GPP allows for its
// field, under the technology it was read for, made unknown.
void status_finish(status_record& record);

// The 3GPP band of an LTE downlink EARFCN (TS 36.101); status_unknown for none. NR
// bands overlap, so an NR channel gives none.
[[nodiscard]] int64_t status_lte_band(int64_t earfcn);
