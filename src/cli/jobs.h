// The jobs beside plain commands, each under one claim of the port:
//     sms list | sms send <number> <text> | sms delete <index>...|all | ussd <code> [<reply>]...
//     | status [--no-identifiers]
// printed as a readable text or, with -j, as the JSON document.
#pragma once

#include "pdu/pdu.h"
#include "status/status.h"

enum class job_kind { commands, sms_list, sms_send, sms_delete, ussd, status };

struct job_request {
    job_kind kind;
    char** args;  // what follows the job's name
    int count;
    pdu_outgoing plan;  // sms send
    bool all;           // sms delete all
    bool identities;    // status: the IMEI, IMSI and ICCID asked for and shown
};

// What the arguments from `first` on ask for: job_kind::commands when they are not a
// job. False for a job that can't be done as asked, and for one whose arguments hold a
// control character (a text to send may hold line breaks and tabs): the usage text,
// nothing touched, so no argument can put a command of its own on the line.
[[nodiscard]] bool job_parse(int argc, char** argv, int first, job_request& job);

// Runs the job on the open port; returns the exit status.
[[nodiscard]] int job_run(const job_request& job, int slot, bool json);

// Composes the status's fields, each named once, as plain lines or as the JSON object
// of the document's "status", into the output buffer.
void job_status_fields(const status_record& status, bool json);
