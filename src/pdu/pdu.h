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
constexpr size_t pdu_units_most = 192;   // septets of GSM 7-bit in the largest TPDU, or octets
constexpr size_t pdu_parts_most = 255;

enum class pdu_kind { deliver, submit, status_report };
enum class pdu_alphabet { gsm7, data8, ucs2 };

// One message as stored in the module.
struct pdu_message {
    pdu_kind kind;
    // The sender of a delivered message, the recipient of a sent one or of the message a
    // status report is about.
    char address[pdu_address_size];
    // The service centre's time, ISO 8601, without its zone where the zone is no zone;
    // empty where the time stamp is no time.
    char time[pdu_time_size];
    char text[pdu_text_size];  // this part's text in UTF-8 (8-bit data: its bytes as they are)
    size_t text_length;
    // The user data after its header, as it came: septets of GSM 7-bit, else octets. The
    // parts of a long message are joined on these (pdu_join), so that a character split
    // between two parts comes out whole.
    pdu_alphabet alphabet;
    uint8_t units[pdu_units_most];
    size_t unit_count;
    // Concatenation: the reference, the number of parts and this part's number; a single
    // message has parts 1.
    unsigned reference;
    unsigned parts;
    unsigned part;
    // A status report: the reference of the message it is about, its status (TP-ST) and
    // when it was delivered or given up.
    unsigned report_reference;
    unsigned report_status;
    char report_time[pdu_time_size];
};

// What a status report's status means for the message it is about.
enum class pdu_delivery { delivered, pending, failed };
[[nodiscard]] pdu_delivery pdu_delivery_of(unsigned report_status);

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

// What a part's user data ends with that only the next part completes: an escape, a
// high surrogate, the first bytes of a UTF-8 character in 8-bit data.
struct pdu_carry {
    pdu_alphabet alphabet;
    uint8_t units[4];
    size_t count;
};

// A part's text in UTF-8, joined to the part before: what `carry` holds of that comes
// first, and what this part ends with that the next completes stays in `carry`, unless
// `last`. Returns the UTF-8 length, or -1 when the room runs out.
[[nodiscard]] long pdu_join(const pdu_message& part, pdu_carry& carry, bool last, char* text,
                            size_t room);

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

// The character sets of the module's side (AT+CSCS, 3GPP TS 27.007).
enum class pdu_charset { ira, gsm, ucs2, hex, latin1, utf8, other };

// The set AT+CSCS? names, without its quotes ("UCS2"); other for a name not known here.
[[nodiscard]] pdu_charset pdu_charset_named(const char* name, size_t length);

// A USSD answer's text in UTF-8, by its data coding scheme, which is cell broadcast's
// (TS 23.038, section 5; -1 for none: GSM 7-bit), and the character set the module
// gives it in: UCS-2 and 8-bit data as hex; GSM 7-bit as text in the character set
// (never taken for anything else, digits included), or as hex where the set is UCS2 or
// HEX. A language indication before the text goes. Returns the UTF-8 length, or -1.
[[nodiscard]] long pdu_ussd_text(const char* given, size_t length, int dcs, pdu_charset charset,
                                 char* text, size_t room);

// A USSD request (UTF-8) as the character set wants it between the quotes of AT+CUSD:
// UCS-2 or GSM 7-bit as hex, UTF-8 and Latin-1 as they are, and for GSM and IRA the
// characters that are the same in ASCII; `dcs` the coding scheme it asks the network
// for: GSM 7-bit (15) where every character has a septet, else UCS-2 (72). Returns the
// coded length, or -1 when a character can't be written in the set or the room runs out.
[[nodiscard]] long pdu_ussd_request(const char* request, pdu_charset charset, char* coded,
                                    size_t room, int& dcs);
