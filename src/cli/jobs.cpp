#include "cli/jobs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli/json.h"
#include "cli/output.h"
#include "message/message.h"
#include "monitor/monitor.h"
#include "sys/sys_io.h"

namespace {

constexpr int job_index_most = 999;
constexpr size_t job_ussd_code_most = 160;
constexpr const char* job_status_names[] = {"unread", "read", "unsent", "sent"};

bool job_json = false;
int job_sent_count = 0;

bool job_is(const char* text, const char* word) {
    return strcmp(text, word) == 0;
}

const char* job_status_name(message_status status) {
    return job_status_names[static_cast<int>(status)];
}

// A line of what the module or the network said, made visible.
void job_line(const char* text, size_t length) {
    output_visible(text, length);
    output_words("\n");
}

void job_line(const char* text) {
    job_line(text, strlen(text));
}

// What the module answered to the step that failed, and status 1. A job a signal ended
// says nothing of it: the run ends as the signal would.
int job_failed(const char* key, const char* failure = message_failure()) {
    if (sys_held_signal() != 0) return 1;
    if (!job_json) {
        json_clear();
        job_line(failure);
        static_cast<void>(output_flush());
        return 1;
    }
    static_cast<void>(output_json_end(key, failure));
    return 1;
}

// The text of a message, its parts joined so that a character split between two comes
// out whole, each piece written as soon as the buffer fills.
bool job_text(const int* members, int count) {
    pdu_carry carry{pdu_alphabet::gsm7, {}, 0};
    bool line_start = true;
    for (int i = 0; i < count; ++i) {
        char text[pdu_text_size];
        const long length =
            pdu_join(message_at(members[i]).message, carry, i + 1 == count, text, sizeof text);
        const size_t piece = length > 0 ? static_cast<size_t>(length) : 0;
        if (job_json) {
            json_escaped(text, piece);
        } else {
            output_visible(text, piece, line_start);
        }
        line_start = line_start && piece == 0;
        if (!output_flush_when_full()) return false;
    }
    return true;
}

const char* job_address_role(pdu_kind kind) {
    return kind == pdu_kind::deliver ? "from" : kind == pdu_kind::submit ? "to" : "report to";
}

const char* job_delivery_name(const pdu_message& report) {
    constexpr const char* names[] = {"delivered", "pending", "failed"};
    return names[static_cast<int>(pdu_delivery_of(report.report_status))];
}

// What a status report says of the message it is about: "message 42 delivered <time>".
void job_report_words(const pdu_message& report) {
    char words[64];
    snprintf(words, sizeof words, "message %u %s%s%s", report.report_reference,
             job_delivery_name(report), report.report_time[0] != '\0' ? " " : "",
             report.report_time);
    output_words(words);
}

// A message's indexes, "[3,0]", as plain output and JSON both have them.
void job_indexes(const int* members, int count) {
    json_raw("[");
    for (int i = 0; i < count; ++i) {
        if (i > 0) json_raw(",");
        json_number(message_at(members[i]).index);
    }
    json_raw("]");
}

// One message, merged from its parts: a block of a header line, its text on one line
// and an empty line, or a JSON object.
bool job_print_message(const int* members, int count, bool complete) {
    const message_stored& first = message_at(members[0]);
    const pdu_message& message = first.message;
    if (!job_json) {
        job_indexes(members, count);
        output_words(" ");
        output_words(job_status_name(first.status));
        if (!first.decoded) {
            output_words(" undecodable\n");
            output_visible(first.hex, first.hex_length);
            output_words("\n\n");
            return output_flush_when_full();
        }
        output_words(" ");
        output_words(job_address_role(message.kind));
        output_words(" ");
        output_visible(message.address, strlen(message.address));
        if (!complete) output_words(" (incomplete)");
        if (message.time[0] != '\0') output_words(" ");
        output_words(message.time);
        output_words("\n");
        if (message.kind == pdu_kind::status_report) {
            job_report_words(message);
            if (message.text_length > 0) output_words(": ");
        }
        if (!job_text(members, count)) return false;
        output_words("\n\n");
        return output_flush_when_full();
    }
    json_raw("{\"indexes\":");
    job_indexes(members, count);
    json_raw(",\"status\":");
    json_text(job_status_name(first.status));
    if (!first.decoded) {
        json_raw(",\"pdu\":");
        json_string(first.hex, first.hex_length);
        json_raw("}");
        return output_flush_when_full();
    }
    json_raw(message.kind == pdu_kind::deliver ? ",\"sender\":" : ",\"recipient\":");
    json_text(message.address);
    json_raw(",\"time\":");
    json_text(message.time[0] != '\0' ? message.time : nullptr);
    json_raw(R"(,"text":")");
    if (!job_text(members, count)) return false;
    json_raw(complete ? R"(","complete":true)" : R"(","complete":false)");
    if (message.kind == pdu_kind::status_report) {
        json_raw(R"(,"report":{"reference":)");
        json_number(message.report_reference);
        json_raw(",\"delivery\":");
        json_text(job_delivery_name(message));
        json_raw(",\"time\":");
        json_text(message.report_time[0] != '\0' ? message.report_time : nullptr);
        json_raw("}");
    }
    json_raw("}");
    return output_flush_when_full();
}

int job_list() {
    if (job_json) {
        json_raw(",\"messages\":[");
    } else {
        json_clear();
    }
    const int count = message_list();
    if (count < 0) {
        if (job_json) json_raw("]");
        return job_failed("error");
    }
    bool written = true;
    bool any = false;
    for (int position = 0; position < count && written; ++position) {
        int members[message_stored_most];
        bool complete = false;
        const int parts = message_group(position, members, complete);
        if (parts == 0) continue;
        if (job_json && any) json_raw(",");
        any = true;
        written = job_print_message(members, parts, complete);
    }
    // What could not be read is said after what could.
    const bool whole = message_list_whole();
    if (!job_json) {
        if (!whole && sys_held_signal() == 0) job_line(message_failure());
        written = written && output_flush();
        return written && whole ? 0 : 1;
    }
    json_raw("]");
    if (!written) return 1;
    if (!whole) return job_failed("error");
    json_raw("}\n");
    return output_flush() ? 0 : 1;
}

static_assert(status_unknown == output_no_number, "an unknown value writes as none");

// A carrier's fields, or the NR leg's (which has no technology and no RSSI of its own).
void job_carrier_fields(const status_carrier& carrier, bool leg) {
    if (!leg) output_field_text("technology", carrier.nr ? "nr" : "lte");
    output_field_number("band", carrier.band);
    output_field_number("channel", carrier.channel);
    output_field_number("pci", carrier.pci);
    output_field_tenths("bandwidth_mhz", carrier.bandwidth);
    output_field_tenths("rsrp_dbm", carrier.rsrp);
    output_field_tenths("rsrq_db", carrier.rsrq);
    if (!leg) output_field_tenths("rssi_dbm", carrier.rssi);
    output_field_tenths("sinr_db", carrier.sinr);
}

// Every field of the status, named once for both outputs, in the document's order.
void job_status_field_list(const status_record& status) {
    output_field_text("manufacturer", status.manufacturer);
    output_field_text("model", status.model);
    output_field_text("revision", status.revision);
    output_field_text("imei", status.imei);
    output_field_text("sim", status.sim);
    output_field_text("imsi", status.imsi);
    output_field_text("iccid", status.iccid);
    output_field_text("operator", status.network);
    output_field_text("mcc", status.mcc);
    output_field_text("mnc", status.mnc);
    output_field_text("registration", status.registration);
    output_field_text("technology", status.technology);
    output_field_number("band", status.band);
    output_field_number("channel", status.channel);
    output_field_number("pci", status.pci);
    output_field_number("cell", status.cell);
    output_field_number("tac", status.tac);
    output_field_tenths("bandwidth_mhz", status.bandwidth);
    output_field_tenths("rssi_dbm", status.rssi);
    output_field_tenths("rsrp_dbm", status.rsrp);
    output_field_tenths("rsrq_db", status.rsrq);
    output_field_tenths("sinr_db", status.sinr);
    output_field_tenths("rscp_dbm", status.rscp);
    output_field_tenths("ecio_db", status.ecio);
    if (status.nr_known) {
        output_field_object("nr");
        job_carrier_fields(status.nr, true);
        output_field_end();
    } else {
        output_field_null("nr");
    }
    output_field_array("carriers");
    for (size_t i = 0; i < status.carrier_count; ++i) {
        output_field_object(nullptr);
        job_carrier_fields(status.carriers[i], false);
        output_field_end();
    }
    output_field_end();
    output_field_number("carriers_left_out", status.carriers_left_out);
    output_field_tenths("temperature_c", status.temperature);
}

// The status: its fields as lines, or the document's "status" object and how long the
// job took.
int job_status(bool identities) {
    static status_record status;
    const sys_ns start = sys_now();
    if (!monitor_status(status, identities)) return job_failed("error", monitor_failure());
    if (job_json) {
        json_raw(",\"status\":");
    } else {
        json_clear();
    }
    job_status_fields(status, job_json);
    if (job_json) {
        json_raw(",\"ms\":");
        json_number((sys_now() - start) / sys_ns_per_ms);
        json_raw("}\n");
    }
    return output_flush() ? 0 : 1;
}

// Deletes every index given in turn, or all; the first one refused ends the job. The
// document names one index as a number and several as an array, those deleted before
// a refusal too.
int job_delete(const job_request& job) {
    const int count = job.all ? 1 : job.count - 1;
    int done = 0;
    while (
        done < count &&
        message_delete(job.all ? -1 : static_cast<int>(strtol(job.args[1 + done], nullptr, 10)))) {
        ++done;
    }
    if (job_json && (done > 0 || count > 1)) {
        json_raw(count > 1 ? ",\"deleted\":[" : ",\"deleted\":");
        for (int i = 0; i < done; ++i) {
            if (i > 0) json_raw(",");
            if (job.all) {
                json_text("all");
            } else {
                json_number(strtol(job.args[1 + i], nullptr, 10));
            }
        }
        if (count > 1) json_raw("]");
    }
    if (done < count) return job_failed("error");
    if (!job_json) return 0;
    json_raw("}\n");
    return output_flush() ? 0 : 1;
}

bool job_on_sent(unsigned part, int reference, const char* answer) {
    ++job_sent_count;
    if (!job_json) {
        json_clear();
        if (reference >= 0) {
            json_number(reference);
            output_words("\n");
        } else {
            job_line(answer);
        }
        return output_flush();
    }
    json_raw(part > 1 ? ",{\"" : "{\"");
    if (reference >= 0) {
        json_raw("reference\":");
        json_number(reference);
    } else {
        json_raw("error\":");
        json_text(answer);
    }
    json_raw("}");
    return output_flush_when_full();
}

bool job_on_answer(const char* text, size_t length, bool more) {
    if (!job_json) {
        json_clear();
        job_line(text, length);
        return output_flush();
    }
    json_raw(job_sent_count++ > 0 ? ",{\"text\":" : "{\"text\":");
    json_string(text, length);
    json_raw(more ? ",\"more\":true}" : ",\"more\":false}");
    return output_flush_when_full();
}

// An index of the storage, in decimal digits alone.
bool job_index_valid(const char* text) {
    return text[0] != '\0' && strspn(text, "0123456789") == strlen(text) &&
           strtol(text, nullptr, 10) <= job_index_most && strlen(text) <= 3;
}

// True when the text holds a control character other than those `allowed`: C0, DEL, or
// a C1 character in UTF-8.
bool job_has_control(const char* text, const char* allowed) {
    for (const auto* at = reinterpret_cast<const unsigned char*>(text); *at != '\0'; ++at) {
        if ((*at < 0x20 || *at == 0x7f) && strchr(allowed, *at) == nullptr) return true;
        if (*at == 0xc2 && at[1] >= 0x80 && at[1] <= 0x9f) return true;
    }
    return false;
}

}  // namespace

void job_status_fields(const status_record& status, bool json) {
    output_fields_begin(json);
    job_status_field_list(status);
    output_fields_end();
}

bool job_parse(int argc, char** argv, int first, job_request& job) {
    job = {};
    job.kind = job_kind::commands;
    if (first >= argc) return true;
    job.args = argv + first + 1;
    job.count = argc - first - 1;
    const char* name = argv[first];
    if (job_is(name, "ussd")) {
        job.kind = job_kind::ussd;
        if (job.count < 1) return false;
        for (int i = 0; i < job.count; ++i) {
            const size_t length = strlen(job.args[i]);
            if (length == 0 || length > job_ussd_code_most || strchr(job.args[i], '"') != nullptr ||
                job_has_control(job.args[i], "")) {
                return false;
            }
        }
        return true;
    }
    if (job_is(name, "status")) {
        // A page open to anyone shows no one the module's and the SIM's identities.
        job.kind = job_kind::status;
        job.identities = job.count == 0;
        return job.count == 0 || (job.count == 1 && strcmp(job.args[0], "--no-identifiers") == 0);
    }
    if (!job_is(name, "sms")) return true;
    if (job.count < 1) return false;
    const char* what = job.args[0];
    if (job_is(what, "list")) {
        job.kind = job_kind::sms_list;
        return job.count == 1;
    }
    if (job_is(what, "send")) {
        job.kind = job_kind::sms_send;
        return job.count == 3 && !job_has_control(job.args[2], "\t\n\r") &&
               pdu_plan(job.args[1], job.args[2], job.plan);
    }
    if (job_is(what, "delete")) {
        job.kind = job_kind::sms_delete;
        job.all = job.count == 2 && job_is(job.args[1], "all");
        for (int i = 1; i < job.count && !job.all; ++i) {
            if (!job_index_valid(job.args[i])) return false;
        }
        return job.count >= 2;
    }
    return false;
}

int job_run(const job_request& job, int slot, bool json) {
    job_json = json;
    job_sent_count = 0;
    if (json) {
        json_clear();
        output_json_head(slot);
    }
    switch (job.kind) {
        case job_kind::sms_list:
            return job_list();
        case job_kind::sms_send: {
            if (json) json_raw(",\"sent\":[");
            const bool all = message_send(job.args[1], job.args[2], job.plan, job_on_sent);
            // A step refused before any part: the module's answer.
            if (!all && job_sent_count == 0 && message_failure()[0] != '\0') {
                if (json) json_raw("]");
                return job_failed("error");
            }
            if (json) {
                json_raw("]}\n");
                if (!output_flush()) return 1;
            }
            return all ? 0 : 1;
        }
        case job_kind::sms_delete:
            return job_delete(job);
        case job_kind::ussd: {
            if (json) json_raw(",\"ussd\":[");
            const bool answered =
                message_ussd(job.args[0], job.args + 1, job.count - 1, job_on_answer);
            if (!answered && message_failure()[0] != '\0') {
                if (json) json_raw("]");
                return job_failed("error");
            }
            if (json) {
                json_raw("]}\n");
                if (!output_flush()) return 1;
            }
            return answered ? 0 : 1;
        }
        case job_kind::status:
            return job_status(job.identities);
        case job_kind::commands:
            break;
    }
    return 1;
}
