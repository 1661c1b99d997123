#include "cli/jobs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli/json.h"
#include "cli/output.h"
#include "message/message.h"
#include "sys/sys_io.h"

namespace {

constexpr int job_index_most = 999;
constexpr size_t job_number_size = 24;
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

// What the module answered to the step that failed, and status 1. A job a signal ended
// says nothing of it: the run ends as the signal would.
int job_failed(const char* key) {
    if (sys_held_signal() != 0) return 1;
    if (!job_json) {
        static_cast<void>(output_print(message_failure(), "\n"));
        return 1;
    }
    static_cast<void>(output_json_end(key, message_failure()));
    return 1;
}

// One message, merged from its parts, as a block of text or a JSON object.
bool job_print_message(const int* members, int count, bool complete) {
    const message_stored& first = message_at(members[0]);
    if (!job_json) {
        char header[160];
        int used = snprintf(header, sizeof header, "[");
        for (int i = 0; i < count && used < static_cast<int>(sizeof header) - 8; ++i) {
            used += snprintf(header + used, sizeof header - static_cast<size_t>(used), "%s%d",
                             i > 0 ? "," : "", message_at(members[i]).index);
        }
        if (!first.decoded) {
            snprintf(header + used, sizeof header - static_cast<size_t>(used), "] %s undecodable",
                     job_status_name(first.status));
            return output_print(header, "\n") && output_write(first.hex, first.hex_length, "\n\n");
        }
        snprintf(header + used, sizeof header - static_cast<size_t>(used), "] %s %s %s%s",
                 job_status_name(first.status),
                 first.message.kind == pdu_kind::deliver ? "from" : "to", first.message.address,
                 complete ? "" : " (incomplete)");
        bool written = output_print(header, first.message.time[0] != '\0' ? " " : "\n");
        if (written && first.message.time[0] != '\0')
            written = output_print(first.message.time, "\n");
        for (int i = 0; i < count && written; ++i) {
            const pdu_message& part = message_at(members[i]).message;
            char text[pdu_text_size + 1];
            memcpy(text, part.text, part.text_length);
            text[part.text_length] = '\0';
            written = output_print(text, i + 1 == count ? "\n\n" : "");
        }
        return written;
    }
    json_raw("{\"indexes\":[");
    for (int i = 0; i < count; ++i) {
        if (i > 0) json_raw(",");
        json_number(message_at(members[i]).index);
    }
    json_raw("],\"status\":");
    json_text(job_status_name(first.status));
    if (!first.decoded) {
        json_raw(",\"pdu\":");
        json_string(first.hex, first.hex_length);
        json_raw("}");
        return output_json_when_full();
    }
    json_raw(first.message.kind == pdu_kind::deliver ? ",\"sender\":" : ",\"recipient\":");
    json_text(first.message.address);
    json_raw(",\"time\":");
    json_text(first.message.time[0] != '\0' ? first.message.time : nullptr);
    json_raw(R"(,"text":")");
    for (int i = 0; i < count; ++i) {
        const pdu_message& part = message_at(members[i]).message;
        json_escaped(part.text, part.text_length);
        if (!output_json_when_full()) return false;
    }
    json_raw(complete ? R"(","complete":true})" : R"(","complete":false})");
    return output_json_when_full();
}

int job_list() {
    if (job_json) json_raw(",\"messages\":[");
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
        if (!whole && written && sys_held_signal() == 0) {
            written = output_print(message_failure(), "\n");
        }
        return written && whole ? 0 : 1;
    }
    json_raw("]");
    if (!written) return 1;
    if (!whole) return job_failed("error");
    json_raw("}\n");
    return output_json() ? 0 : 1;
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
    return output_json() ? 0 : 1;
}

bool job_on_sent(unsigned part, int reference, const char* answer) {
    ++job_sent_count;
    if (!job_json) {
        char text[job_number_size];
        snprintf(text, sizeof text, "%d", reference);
        return output_print(reference >= 0 ? text : answer, "\n");
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
    return output_json_when_full();
}

bool job_on_answer(const char* text, size_t length, bool more) {
    if (!job_json) {
        char line[pdu_text_size + 1];
        memcpy(line, text, length);
        line[length] = '\0';
        return output_print(line, "\n");
    }
    json_raw(job_sent_count++ > 0 ? ",{\"text\":" : "{\"text\":");
    json_string(text, length);
    json_raw(more ? ",\"more\":true}" : ",\"more\":false}");
    return output_json_when_full();
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
                if (!output_json()) return 1;
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
                if (!output_json()) return 1;
            }
            return answered ? 0 : 1;
        }
        case job_kind::commands:
            break;
    }
    return 1;
}
