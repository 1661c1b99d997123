#include "message/message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

constexpr size_t message_command_size = 512;
constexpr size_t message_failure_size = 128;
constexpr int message_step_timeout_sec = 5;
constexpr int message_prompt_timeout_sec = 10;
// The network's answer to a message sent or a USSD request can take tens of seconds.
constexpr int message_network_timeout_sec = 60;
constexpr int message_ussd_timeout_sec = 30;
constexpr char message_ctrl_z[] = "\x1a";
constexpr int message_mode_pdu = 0;

message_stored message_table[message_stored_most];
int message_count = 0;
char message_failed[message_failure_size];

// The reply as text without its line ends, for a failure report.
void message_fail(const char* reply) {
    size_t used = 0;
    for (const char* at = reply; *at != '\0' && used + 1 < sizeof message_failed; ++at) {
        if (*at == '\r' || *at == '\n') {
            if (used > 0 && message_failed[used - 1] != ' ') message_failed[used++] = ' ';
            continue;
        }
        message_failed[used++] = *at;
    }
    while (used > 0 && message_failed[used - 1] == ' ') --used;
    message_failed[used] = '\0';
}

// One step: the command with its carriage return, the reply ended at its final result
// code. Null, with the failure kept, when the reply is not `want` ("OK", or "> ").
const char* message_step(const char* command, int timeout_sec, const char* want = "OK") {
    char text[message_command_size];
    const int length = snprintf(text, sizeof text, "%s\r", command);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text) return nullptr;
    const char* reply = modem_command(text, timeout_sec, true);
    if (reply == nullptr) return nullptr;
    modem_final final{};
    const bool done = modem_find_final(reply, strlen(reply), true, final) &&
                      final.length == strlen(want) &&
                      memcmp(reply + final.start, want, final.length) == 0;
    if (!done) {
        message_fail(reply);
        return nullptr;
    }
    return reply;
}

// The number after `tag` in a reply ("+CMGF: 1"); -1 when there is none.
long message_number_after(const char* reply, const char* tag) {
    const char* at = strstr(reply, tag);
    if (at == nullptr) return -1;
    char* end = nullptr;
    const long value = strtol(at + strlen(tag), &end, 10);
    return end == at + strlen(tag) ? -1 : value;
}

// Switches to PDU mode; the mode found, to put back, or -1 when it can't be had.
int message_enter_pdu_mode() {
    const char* reply = message_step("AT+CMGF?", message_step_timeout_sec);
    const long found = reply != nullptr ? message_number_after(reply, "+CMGF: ") : -1;
    if (found < 0) return -1;
    if (found != message_mode_pdu &&
        message_step("AT+CMGF=0", message_step_timeout_sec) == nullptr) {
        return -1;
    }
    return static_cast<int>(found);
}

void message_leave_pdu_mode(int found) {
    if (found <= message_mode_pdu) return;
    char command[32];
    snprintf(command, sizeof command, "AT+CMGF=%d", found);
    static_cast<void>(message_step(command, message_step_timeout_sec));
}

// One stored message as +CMGR gives it: "+CMGR: <stat>,[<alpha>],<length>" and the PDU
// on the next line. False for an empty slot.
bool message_read(int index, message_stored& stored) {
    char command[32];
    snprintf(command, sizeof command, "AT+CMGR=%d", index);
    const char* reply = message_step(command, message_step_timeout_sec);
    const char* header = reply != nullptr ? strstr(reply, "+CMGR: ") : nullptr;
    if (header == nullptr) return false;
    const long status = strtol(header + 7, nullptr, 10);
    const char* line = strchr(header, '\n');
    if (line == nullptr) return false;
    ++line;
    const size_t length = strcspn(line, "\r\n");
    stored.index = index;
    stored.status = status == 0   ? message_status::unread
                    : status == 2 ? message_status::unsent
                    : status == 3 ? message_status::sent
                                  : message_status::read;
    const size_t kept = length < sizeof stored.hex - 1 ? length : sizeof stored.hex - 1;
    memcpy(stored.hex, line, kept);
    stored.hex[kept] = '\0';
    uint8_t pdu[pdu_octets_most];
    const long octets = pdu_from_hex(line, length, pdu, sizeof pdu);
    stored.decoded = octets > 0 && pdu_decode(pdu, static_cast<size_t>(octets), stored.message);
    return true;
}

bool message_same_message(const pdu_message& a, const pdu_message& b) {
    return a.parts > 1 && a.reference == b.reference && a.parts == b.parts &&
           strcmp(a.address, b.address) == 0;
}

// "*100#" as the module's character set wants it: as it is, or as UCS-2 hex.
bool message_in_charset(const char* text, bool ucs2, char* coded, size_t room) {
    if (!ucs2) return snprintf(coded, room, "%s", text) < static_cast<int>(room);
    size_t used = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (used + 5 > room) return false;
        used += static_cast<size_t>(
            snprintf(coded + used, room - used, "%04X", static_cast<unsigned char>(*at)));
    }
    coded[used] = '\0';
    return true;
}

// The network's answer in a reply: +CUSD: <m>[,"<text>"[,<dcs>]]; false when none came.
bool message_ussd_answer(const char* reply, bool ucs2, message_answer answer, bool& more,
                         bool& written) {
    const char* at = strstr(reply, "+CUSD: ");
    if (at == nullptr) return false;
    char* end = nullptr;
    const long mode = strtol(at + 7, &end, 10);
    more = mode == 1;
    const char* open = strchr(end, '"');
    const char* line_end = end + strcspn(end, "\r\n");
    const char* close = open != nullptr && open < line_end ? strrchr(open + 1, '"') : nullptr;
    if (close != nullptr && close > line_end) close = nullptr;
    char text[pdu_text_size];
    long length = 0;
    if (close != nullptr) {
        const char* comma = strchr(close, ',');
        const int dcs = comma != nullptr && comma < line_end
                            ? static_cast<int>(strtol(comma + 1, nullptr, 10))
                            : -1;
        length = pdu_ussd_text(open + 1, static_cast<size_t>(close - open - 1), dcs, ucs2, text,
                               sizeof text);
        if (length < 0) length = 0;
    }
    written = answer(text, static_cast<size_t>(length), more);
    return mode <= 1;
}

}  // namespace

int message_list() {
    message_count = 0;
    message_failed[0] = '\0';
    const int mode = message_enter_pdu_mode();
    if (mode < 0) return -1;
    // How many the storage holds, and how many it can: "+CPMS: "SM",3,50,...".
    const char* reply = message_step("AT+CPMS?", message_step_timeout_sec);
    const char* numbers = reply != nullptr ? strstr(reply, "\",") : nullptr;
    long used = 0;
    long total = 0;
    if (numbers != nullptr) {
        char* end = nullptr;
        used = strtol(numbers + 2, &end, 10);
        total = *end == ',' ? strtol(end + 1, nullptr, 10) : 0;
    }
    if (numbers == nullptr || used < 0 || total < 0) {
        message_leave_pdu_mode(mode);
        return -1;
    }
    if (total > static_cast<long>(message_stored_most)) total = message_stored_most;
    // Modules number their storage from 0 or from 1: every index up to the capacity,
    // until all the messages it holds are found.
    for (int index = 0; index <= total && message_count < used &&
                        message_count < static_cast<int>(message_stored_most);
         ++index) {
        if (message_read(index, message_table[message_count])) ++message_count;
    }
    message_leave_pdu_mode(mode);
    return message_count;
}

const message_stored& message_at(int position) {
    return message_table[position];
}

int message_group(int position, int (&members)[message_stored_most], bool& complete) {
    const message_stored& first = message_table[position];
    complete = true;
    if (!first.decoded || first.message.parts <= 1) {
        members[0] = position;
        return 1;
    }
    for (int earlier = 0; earlier < position; ++earlier) {
        const message_stored& other = message_table[earlier];
        if (other.decoded && message_same_message(other.message, first.message)) return 0;
    }
    int count = 0;
    for (unsigned part = 1; part <= first.message.parts; ++part) {
        int found = 0;
        for (int at = position; at < message_count; ++at) {
            const message_stored& other = message_table[at];
            if (other.decoded && other.message.part == part &&
                message_same_message(other.message, first.message)) {
                if (found++ == 0) members[count++] = at;
            }
        }
        if (found != 1) complete = false;
    }
    return count;
}

bool message_send(const char* number, const char* text, const pdu_outgoing& plan,
                  message_sent sent) {
    message_failed[0] = '\0';
    const int mode = message_enter_pdu_mode();
    if (mode < 0) return false;
    // One reference for all the parts, so that the phone joins them; another for the
    // next message, as far as 8 bits allow.
    const auto reference = static_cast<unsigned>((sys_now() / sys_ns_per_ms) ^ getpid()) & 0xffu;
    bool all = true;
    for (unsigned part = 1; part <= plan.parts; ++part) {
        char hex[message_hex_size];
        unsigned octets = 0;
        if (pdu_submit_hex(number, text, plan, part, reference, hex, sizeof hex, octets) == 0) {
            all = false;
            break;
        }
        char command[32];
        snprintf(command, sizeof command, "AT+CMGS=%u", octets);
        int mr = -1;
        if (message_step(command, message_prompt_timeout_sec, "> ") != nullptr) {
            // The PDU and Ctrl-Z go out as one text: the module answers +CMGS: <mr>.
            char body[message_hex_size + 2];
            snprintf(body, sizeof body, "%s%s", hex, message_ctrl_z);
            const char* reply = message_step(body, message_network_timeout_sec);
            if (reply != nullptr) mr = static_cast<int>(message_number_after(reply, "+CMGS: "));
        }
        if (mr < 0) all = false;
        if (!sent(part, mr, message_failed)) {
            all = false;
            break;
        }
    }
    message_leave_pdu_mode(mode);
    return all;
}

bool message_delete(int index) {
    message_failed[0] = '\0';
    char command[32];
    if (index < 0) {
        snprintf(command, sizeof command, "AT+CMGD=1,4");
    } else {
        snprintf(command, sizeof command, "AT+CMGD=%d", index);
    }
    return message_step(command, message_step_timeout_sec) != nullptr;
}

bool message_ussd(const char* code, char* const* replies, int count, message_answer answer) {
    message_failed[0] = '\0';
    const char* charset = message_step("AT+CSCS?", message_step_timeout_sec);
    const bool ucs2 = charset != nullptr && strstr(charset, "\"UCS2\"") != nullptr;
    const char* next = code;
    for (int step = 0;; ++step) {
        char coded[message_command_size / 2];
        char command[message_command_size];
        if (!message_in_charset(next, ucs2, coded, sizeof coded) ||
            snprintf(command, sizeof command, "AT+CUSD=1,\"%s\",15", coded) >=
                static_cast<int>(sizeof command)) {
            return false;
        }
        const char* reply = message_step(command, message_step_timeout_sec);
        if (reply == nullptr) return false;
        bool more = false;
        bool written = true;
        // The answer may have come with the OK; else it is waited for.
        if (strstr(reply, "+CUSD: ") == nullptr) {
            reply = modem_command("", message_ussd_timeout_sec);
        }
        if (reply == nullptr || !message_ussd_answer(reply, ucs2, answer, more, written)) {
            message_fail(reply != nullptr ? reply : "");
            return false;
        }
        if (!written) return false;
        if (!more) return true;
        if (step >= count) {
            // Nothing left to answer with: the session is ended, not left open.
            static_cast<void>(message_step("AT+CUSD=2", message_step_timeout_sec));
            return true;
        }
        next = replies[step];
    }
}

const char* message_failure() {
    return message_failed;
}
