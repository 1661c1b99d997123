// The module's short messages and USSD, as jobs of several exchanges under one claim of
// the port: every stored message read in PDU mode, a text sent in as many parts as it
// needs, messages deleted, a USSD session walked. A job that switches the message format
// (AT+CMGF) puts back what it found, also when it fails half way; the character set
// (AT+CSCS) is never changed: requests and answers are coded as it says.
#pragma once

#include <stddef.h>

#include "pdu/pdu.h"

constexpr size_t message_stored_most = 255;
constexpr size_t message_hex_size = 2 * pdu_octets_most + 1;

enum class message_status { unread, read, unsent, sent };

struct message_stored {
    int index;
    message_status status;
    bool decoded;
    char hex[message_hex_size];  // the PDU as the module gave it
    pdu_message message;
};

// Reads every message of the module's current storage; how many, or -1 when the module
// refused a step (message_failure says what it answered).
[[nodiscard]] int message_list();
[[nodiscard]] const message_stored& message_at(int position);

// The positions of the stored messages that make up the message whose first stored
// part is at `position`, in part order; 0 when that part belongs to a message met
// earlier. `complete`: every part is there, once.
[[nodiscard]] int message_group(int position, int (&members)[message_stored_most], bool& complete);

// Called once a part is sent: its message reference, or -1 and the module's answer.
using message_sent = bool (*)(unsigned part, int reference, const char* answer);

// Sends `text` to `number` (pdu_plan has planned it); true when every part was accepted.
// Stops early when `sent` returns false (its output could not be written).
[[nodiscard]] bool message_send(const char* number, const char* text, const pdu_outgoing& plan,
                                message_sent sent);

// Deletes the message at `index`, or every message for -1.
[[nodiscard]] bool message_delete(int index);

// Called with each USSD answer of the network, in UTF-8, and whether it asks for more.
using message_answer = bool (*)(const char* text, size_t length, bool more);

// Sends the USSD request, then each reply while the network asks for more; a session
// still open when no reply is left is ended. True when the network answered every step.
[[nodiscard]] bool message_ussd(const char* code, char* const* replies, int count,
                                message_answer answer);

// The module's answer to the step that failed last.
[[nodiscard]] const char* message_failure();
