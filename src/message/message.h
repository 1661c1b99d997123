// The module's short messages and USSD, as jobs of several steps under one claim of the
// port: every stored message listed in PDU mode, a text sent in as many parts as it
// needs, messages deleted, a USSD session walked. Each step's answer is its own (see
// modem_step). A job that switches the message format (AT+CMGF) puts back what it
// found on every path: a refused or silent step, a termination signal (noted by the
// front end, which ends the run as the signal would once the job is done), a prompt
// that came late; a message prompt is cancelled (ESC) and an open USSD session ended
// (AT+CUSD=2) the same way. The character set (AT+CSCS) is never changed: requests
// and answers are coded as it says.
#pragma once

#include <stddef.h>

#include "pdu/pdu.h"

constexpr size_t message_stored_most = 255;

enum class message_status { unread, read, unsent, sent };

struct message_stored {
    int index;
    message_status status;
    bool decoded;
    const char* hex;  // the PDU as the module gave it, whole
    size_t hex_length;
    pdu_message message;
};

// Lists every message of the module's current storage (AT+CMGL, whose entries say
// where they are stored). Returns how many were read, or -1 when the module refused a
// step before the listing (message_failure says what it answered). When not every
// stored message could be read, message_list_whole is false and message_failure says
// why; what was read is still there.
[[nodiscard]] int message_list();
[[nodiscard]] bool message_list_whole();
[[nodiscard]] const message_stored& message_at(int position);

// The positions of the stored messages that make up the message led by the one at
// `position`, in part order; 0 when it belongs to a message led by an earlier one.
// `complete`: every part is there.
[[nodiscard]] int message_group(int position, int (&members)[message_stored_most], bool& complete);

// How stored messages make up messages, over the caller's table (pure): for each, the
// position of the first stored part of its message, so that every stored message
// belongs to exactly one. The parts of a long message (the same sender, reference and
// number of parts) are merged only when no part number comes twice (a copy of a part,
// or one sender's reference used for two messages); else each stands alone.
void message_find_groups(const message_stored* table, int count, int* leaders);

// message_group over the caller's table and leaders.
[[nodiscard]] int message_members(const message_stored* table, int count, const int* leaders,
                                  int position, int (&members)[message_stored_most],
                                  bool& complete);

// Called once a part is sent: its message reference, or -1 and the module's answer.
using message_sent = bool (*)(unsigned part, int reference, const char* answer);

// Sends `text` to `number` (pdu_plan has planned it); true when every part was accepted.
// Stops early when `sent` returns false (its output could not be written). Nothing
// reported through `sent` and a failure kept: the module refused a step before any part.
[[nodiscard]] bool message_send(const char* number, const char* text, const pdu_outgoing& plan,
                                message_sent sent);

// Deletes the message at `index`, or every message for -1.
[[nodiscard]] bool message_delete(int index);

// Called with each USSD answer of the network, in UTF-8, and whether it asks for more.
using message_answer = bool (*)(const char* text, size_t length, bool more);

// Sends the USSD request, then each reply while the network asks for more; a session
// still open when no reply is left, or when the network does not answer, is ended.
// True when the network answered every step.
[[nodiscard]] bool message_ussd(const char* code, char* const* replies, int count,
                                message_answer answer);

// The module's answer to the step that failed last, or why a job could not be done
// whole; empty when nothing failed.
[[nodiscard]] const char* message_failure();
