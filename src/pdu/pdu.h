// The SMS and USSD codec: short messages as 3GPP TS 23.040 lays out their PDUs, texts
// in the alphabets of TS 23.038 (the GSM 7-bit default alphabet with its extension
// table, 8-bit data, UCS-2 with surrogate pairs), turned into UTF-8 and back. Pure
// functions over the caller's buffers: no I/O, no heap, no state. Every field is read
// against the bytes that are left; what is short or impossible fails the whole PDU.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t pdu_octets_most = 180;  // SCA (12) and the largest TPDU (164)
constexpr size_t pdu_address_size = 48;  // 20 digits and a '+', or 11 GSM characters
constexpr size_t pdu_time_size = 32;     // 2026-12-09T10:00:00+01:00
constexpr size_t pdu_text_size = 640;    // 160 characters of up to 4 UTF-8 bytes
constexpr size_t pdu_parts_most = 255;

enum class pdu_kind { deliver, submit, status_report };

// One message as stored in the module.
struct pdu_message {
    pdu_kind kind;
    char address[pdu_address_size];  // sender of a delivered message, recipient of a sent one
    char time[pdu_time_size];        // the service centre's time, ISO 8601; empty for none
    char text[pdu_text_size];        // UTF-8 (8-bit data: its bytes as they are)
    size_t text_length;
    // Concatenation: the reference, the number of parts and this part's number; a single
    // message has parts 1.
    unsigned reference;
    unsigned parts;
    unsigned part;
};

// Bytes of a hex text (either case); -1 when it is not whole pairs of hex digits or does
// not fit.
[[nodiscard]] long pdu_from_hex(const char* hex, size_t length, uint8_t* bytes, size_t room);

// Decodes a PDU as +CMGR and +CMGL give it (with the service centre's address in
// front). False when it is malformed or cut short.
[[nodiscard]] bool pdu_decode(const uint8_t* pdu, size_t length, pdu_message& message);

// Unpacks `septets` GSM 7-bit characters from `packed`, after `skip` bits, into UTF-8.
// Returns the UTF-8 length, or -1 when the bytes or the room run out.
[[nodiscard]] long pdu_gsm7_to_utf8(const uint8_t* packed, size_t octets, size_t septets,
                                    size_t skip, char* text, size_t room);

// Big-endian UCS-2 (surrogate pairs joined) into UTF-8; -1 when the room runs out.
[[nodiscard]] long pdu_ucs2_to_utf8(const uint8_t* bytes, size_t octets, char* text, size_t room);

// A message to send, split into parts. `text` is UTF-8; false when it is not, when the
// number is no number, or when it needs more than 255 parts.
struct pdu_outgoing {
    bool ucs2;     // else GSM 7-bit
    size_t units;  // septets or UCS-2 code units
    unsigned parts;
};
[[nodiscard]] bool pdu_plan(const char* number, const char* text, pdu_outgoing& plan);

// The SMS-SUBMIT PDU of part `part` (1-based) of `plan`, as hex with the empty service
// centre address ("00") in front, for AT+CMGS; `tpdu_octets` is the length AT+CMGS
// takes. Returns the hex length, or 0 when it can't be made.
[[nodiscard]] size_t pdu_submit_hex(const char* number, const char* text, const pdu_outgoing& plan,
                                    unsigned part, unsigned reference, char* hex, size_t room,
                                    unsigned& tpdu_octets);

// A USSD answer's text in UTF-8, by its data coding scheme: UCS-2 given as hex, GSM
// 7-bit given as text or as packed hex, 8-bit as it is. `ucs2_charset`: the module's
// character set is UCS2, so a 7-bit answer comes as hex of UCS-2 too. Returns the UTF-8
// length, or -1.
[[nodiscard]] long pdu_ussd_text(const char* given, size_t length, int dcs, bool ucs2_charset,
                                 char* text, size_t room);
