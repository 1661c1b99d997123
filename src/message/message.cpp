#include "message/message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

// A USSD request of 160 bytes as UCS-2 hex (four digits a byte at most), and its frame.
constexpr size_t message_command_size = 2048;
constexpr size_t message_failure_size = 192;
constexpr int message_step_timeout_sec = 5;
constexpr int message_prompt_timeout_sec = 10;
// The network's answer to a message sent or a USSD request can take tens of seconds.
constexpr int message_network_timeout_sec = 60;
constexpr int message_ussd_timeout_sec = 30;
// The whole listing, however many messages it holds.
constexpr int message_listing_timeout_sec = 60;
constexpr int message_mode_pdu = 0;
constexpr char message_ctrl_z[] = "\x1a";
constexpr char message_list_tag[] = "+CMGL:";
// Stat 4: every message, whatever its status. Each entry says where it is stored.
constexpr char message_listing[] = "AT+CMGL=4\r";
constexpr char message_ussd_tag[] = "+CUSD:";
// Every PDU as hex, however long: room for all of them at their longest, and for one
// more as long as a reply can be.
constexpr size_t message_hex_pool_size = message_stored_most * 2 * pdu_octets_most + 8192;

message_stored message_table[message_stored_most];
int message_count = 0;
char message_hex_pool[message_hex_pool_size];
size_t message_hex_used = 0;
// The listing: its entry whose PDU is the next line, and the entries that could not be
// kept (no room, or a line longer than the reply buffer).
bool message_entry_open = false;
message_stored message_entry;
int message_lost = 0;
bool message_whole = true;
// Each stored message's group: the position of the message that leads it.
int message_leader[message_stored_most];
// The message format found, and whether a switch away from it was sent (it may take
// effect even when its answer never comes).
long message_found_mode = -1;
bool message_mode_sent = false;
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

// True while the job may go on: no termination signal came and the module answers.
bool message_go_on() {
    return sys_held_signal() == 0 && modem_answering();
}

// Before a step that puts something back: a signal that came is let in again, so that
// the waits work and a second one ends the run at once.
void message_wind_down() {
    if (sys_held_signal() != 0) sys_release_signals();
}

// True when the last step, of command `text`, was answered with `want` as its final
// result code.
bool message_final_is(const char* reply, const char* want, const char* text) {
    modem_final final{};
    return modem_step_end() == modem_end::answered &&
           modem_find_final(reply, strlen(reply), true, final, modem_finals_of(text)) &&
           final.length == strlen(want) && memcmp(reply + final.start, want, final.length) == 0;
}

// One step: the command with its carriage return. Null, with the failure kept, when its
// final result code is not `want` ("OK", or the prompt "> ").
const char* message_step(const char* command, int timeout_sec, const char* want = "OK") {
    char text[message_command_size];
    const int length = snprintf(text, sizeof text, "%s\r", command);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text) return nullptr;
    const char* reply = modem_step(text, timeout_sec);
    if (reply == nullptr) return nullptr;
    if (!message_final_is(reply, want, text)) {
        message_fail(reply);
        return nullptr;
    }
    return reply;
}

// A step that puts something back: its failure does not hide the one that came before.
void message_restore(const char* command) {
    message_wind_down();
    char kept[message_failure_size];
    memcpy(kept, message_failed, sizeof kept);
    static_cast<void>(message_step(command, message_step_timeout_sec));
    memcpy(message_failed, kept, sizeof kept);
}

// The number after `tag` in a reply ("+CMGF: 1"); -1 when there is none.
long message_number_after(const char* reply, const char* tag) {
    const char* at = strstr(reply, tag);
    if (at == nullptr) return -1;
    char* end = nullptr;
    const long value = strtol(at + strlen(tag), &end, 10);
    return end == at + strlen(tag) ? -1 : value;
}

// Switches to PDU mode; false when it can't be had.
bool message_enter_pdu_mode() {
    message_found_mode = -1;
    message_mode_sent = false;
    const char* reply = message_step("AT+CMGF?", message_step_timeout_sec);
    if (reply == nullptr) return false;
    message_found_mode = message_number_after(reply, "+CMGF: ");
    if (message_found_mode < 0) {
        message_fail(reply);
        return false;
    }
    if (message_found_mode == message_mode_pdu) return true;
    message_mode_sent = true;
    return message_go_on() && message_step("AT+CMGF=0", message_step_timeout_sec) != nullptr;
}

void message_leave_pdu_mode() {
    if (!message_mode_sent) return;
    char command[32];
    snprintf(command, sizeof command, "AT+CMGF=%ld", message_found_mode);
    message_restore(command);
}

// A listing's entry header, "+CMGL: <index>,<stat>,[<alpha>],<length>": its PDU is the
// next line. An index listed already is not listed twice.
void message_open_entry(const char* line) {
    message_entry_open = false;
    char* end = nullptr;
    const long index = strtol(line + strlen(message_list_tag), &end, 10);
    if (end == line + strlen(message_list_tag) || *end != ',' || index < 0 || index > 99999) return;
    const long status = strtol(end + 1, nullptr, 10);
    for (int i = 0; i < message_count; ++i) {
        if (message_table[i].index == index) return;
    }
    message_entry = {};
    message_entry.index = static_cast<int>(index);
    message_entry.status = status == 0   ? message_status::unread
                           : status == 2 ? message_status::unsent
                           : status == 3 ? message_status::sent
                                         : message_status::read;
    message_entry_open = true;
}

// An entry's PDU, kept as the module gave it and decoded where it can be.
void message_close_entry(const char* line, size_t length, bool cut) {
    message_entry_open = false;
    if (cut || message_count >= static_cast<int>(message_stored_most) ||
        length > sizeof message_hex_pool - message_hex_used) {
        ++message_lost;
        return;
    }
    message_stored& stored = message_table[message_count++];
    stored = message_entry;
    char* hex = message_hex_pool + message_hex_used;
    memcpy(hex, line, length);
    message_hex_used += length;
    stored.hex = hex;
    stored.hex_length = length;
    uint8_t pdu[pdu_octets_most];
    const long octets = pdu_from_hex(line, length, pdu, sizeof pdu);
    stored.decoded = octets > 0 && pdu_decode(pdu, static_cast<size_t>(octets), stored.message);
}

// Each line of the listing. A header that no PDU follows is an empty slot, no message;
// lines between entries are the module's own news (+CMTI) and no part of it.
void message_on_line(const char* line, size_t length, bool cut) {
    const size_t tag = strlen(message_list_tag);
    if (!cut && length >= tag && memcmp(line, message_list_tag, tag) == 0) {
        message_open_entry(line);
    } else if (message_entry_open) {
        message_close_entry(line, length, cut);
    }
}

bool message_same_message(const pdu_message& a, const pdu_message& b) {
    return a.parts > 1 && a.kind == b.kind && a.reference == b.reference && a.parts == b.parts &&
           strcmp(a.address, b.address) == 0;
}

// "+CPMS: "SM",3,50,...": how many messages the storage that is read holds; -1 for none.
long message_stored_count(const char* reply) {
    const char* numbers = strstr(reply, "\",");
    if (numbers == nullptr) return -1;
    char* end = nullptr;
    const long used = strtol(numbers + 2, &end, 10);
    return end == numbers + 2 ? -1 : used;
}

// Why the listing is not whole, when it is not: how many of the stored messages were
// read, how many were too long to keep, and what ended a listing early. A report too
// long for its room is cut; it says what it must in its first words.
void message_judge_listing(long stored, bool listed, const char* final) {
    message_whole = listed && message_lost == 0 && message_count >= stored;
    if (message_whole) return;
    char ending[message_failure_size] = "";
    if (!listed) {
        message_fail(final);
        memcpy(ending, message_failed, sizeof ending);
    }
    char lost[32] = "";
    if (message_lost > 0) snprintf(lost, sizeof lost, "; %d too long to keep", message_lost);
    const int length =
        snprintf(message_failed, sizeof message_failed, "%d of %ld stored messages read%s%s%s",
                 message_count, stored, lost, listed ? "" : "; the listing ended with ", ending);
    if (length < 0) message_failed[0] = '\0';
}

// The network's answer in a reply: "+CUSD: <m>[,"<text>"[,<dcs>]]" on a line of its own.
struct message_cusd {
    long mode;
    const char* text;  // null for none
    size_t text_length;
    int dcs;  // -1 for none
};

size_t message_skip_spaces(const char* reply, size_t length, size_t at) {
    while (at < length && reply[at] == ' ') ++at;
    return at;
}

bool message_digit(char c) {
    return c >= '0' && c <= '9';
}

// Where the answer ends, once it has come whole; 0 while it has not. Its text ends at the
// first quote that a coding scheme or the line's end follows: a text may hold line
// breaks and quotes of its own.
size_t message_cusd_find(const char* reply, size_t length, message_cusd& found) {
    const size_t tag = strlen(message_ussd_tag);
    for (size_t start = 0; start + tag <= length; ++start) {
        const bool line_start = start == 0 || reply[start - 1] == '\r' || reply[start - 1] == '\n';
        if (!line_start || memcmp(reply + start, message_ussd_tag, tag) != 0) continue;
        size_t at = message_skip_spaces(reply, length, start + tag);
        if (at >= length || !message_digit(reply[at])) continue;
        found = {0, nullptr, 0, -1};
        for (; at < length && message_digit(reply[at]); ++at) {
            found.mode = found.mode * 10 + (reply[at] - '0');
        }
        at = message_skip_spaces(reply, length, at);
        if (at < length && reply[at] == ',') at = message_skip_spaces(reply, length, at + 1);
        if (at < length && reply[at] == '"') {
            size_t close = at + 1;
            for (;; ++close) {
                if (close >= length) return 0;
                if (reply[close] != '"') continue;
                size_t next = message_skip_spaces(reply, length, close + 1);
                if (next < length && reply[next] == ',') {
                    next = message_skip_spaces(reply, length, next + 1);
                    if (next < length && message_digit(reply[next])) break;
                }
                if (next >= length) return 0;
                if (reply[next] == '\r' || reply[next] == '\n') break;
            }
            found.text = reply + at + 1;
            found.text_length = close - at - 1;
            at = message_skip_spaces(reply, length, close + 1);
            if (at < length && reply[at] == ',') {
                at = message_skip_spaces(reply, length, at + 1);
                found.dcs = 0;
                for (; at < length && message_digit(reply[at]) && found.dcs < 1000; ++at) {
                    found.dcs = found.dcs * 10 + (reply[at] - '0');
                }
            }
        }
        while (at < length && reply[at] != '\r' && reply[at] != '\n') ++at;
        if (at >= length) return 0;
        return at + (reply[at] == '\r' && at + 1 < length && reply[at + 1] == '\n' ? 2 : 1);
    }
    return 0;
}

size_t message_cusd_awaited(const char* reply, size_t length) {
    message_cusd found{};
    return message_cusd_find(reply, length, found);
}

// The character set AT+CSCS? names ("+CSCS: "UCS2""), and its name for a report.
constexpr size_t message_charset_name_size = 16;
char message_charset_name[message_charset_name_size];

pdu_charset message_charset_of(const char* reply) {
    const char* tag = strstr(reply, "+CSCS:");
    const char* open = tag != nullptr ? strchr(tag, '"') : nullptr;
    const char* close = open != nullptr ? strchr(open + 1, '"') : nullptr;
    if (close == nullptr) return pdu_charset::other;
    const auto length = static_cast<size_t>(close - open - 1);
    snprintf(message_charset_name, sizeof message_charset_name, "%.*s", static_cast<int>(length),
             open + 1);
    return pdu_charset_named(open + 1, length);
}

// The session the network keeps open for more (+CUSD: 1) is ended, not left open.
void message_end_ussd_session() {
    message_restore("AT+CUSD=2");
}

}  // namespace

int message_list() {
    message_count = 0;
    message_hex_used = 0;
    message_lost = 0;
    message_entry_open = false;
    message_whole = false;
    message_failed[0] = '\0';
    if (!message_enter_pdu_mode()) {
        message_leave_pdu_mode();
        return -1;
    }
    const char* reply =
        message_go_on() ? message_step("AT+CPMS?", message_step_timeout_sec) : nullptr;
    const long stored = reply != nullptr ? message_stored_count(reply) : -1;
    if (stored < 0) {
        if (reply != nullptr) message_fail(reply);
        message_leave_pdu_mode();
        return -1;
    }
    const char* final = "";
    if (message_go_on()) {
        final = modem_step_lines(message_listing, message_listing_timeout_sec, message_on_line);
    }
    const bool listed = final != nullptr && message_final_is(final, "OK", message_listing);
    message_judge_listing(stored, listed, final != nullptr ? final : "");
    message_find_groups(message_table, message_count, message_leader);
    message_leave_pdu_mode();
    return message_count;
}

bool message_list_whole() {
    return message_whole;
}

const message_stored& message_at(int position) {
    return message_table[position];
}

int message_group(int position, int (&members)[message_stored_most], bool& complete) {
    return message_members(message_table, message_count, message_leader, position, members,
                           complete);
}

void message_find_groups(const message_stored* table, int count, int* leaders) {
    bool alone[message_stored_most] = {};
    for (int p = 0; p < count; ++p) leaders[p] = p;
    for (int p = 0; p < count; ++p) {
        const message_stored& first = table[p];
        if (!first.decoded || first.message.parts <= 1 || leaders[p] != p || alone[p]) continue;
        bool seen[pdu_parts_most + 1] = {};
        bool sound = true;
        for (int q = p; q < count; ++q) {
            if (!table[q].decoded || !message_same_message(table[q].message, first.message))
                continue;
            sound = sound && !seen[table[q].message.part];
            seen[table[q].message.part] = true;
        }
        for (int q = p + 1; q < count; ++q) {
            if (!table[q].decoded || !message_same_message(table[q].message, first.message))
                continue;
            if (sound) {
                leaders[q] = p;
            } else {
                alone[q] = true;
            }
        }
    }
}

int message_members(const message_stored* table, int count, const int* leaders, int position,
                    int (&members)[message_stored_most], bool& complete) {
    if (leaders[position] != position) return 0;
    const message_stored& first = table[position];
    int found = 0;
    const unsigned parts = first.decoded ? first.message.parts : 1;
    for (unsigned part = 1; part <= parts; ++part) {
        for (int at = position; at < count; ++at) {
            if (leaders[at] == position && (parts == 1 || table[at].message.part == part)) {
                members[found++] = at;
            }
        }
    }
    complete = found == static_cast<int>(parts);
    return found;
}

bool message_send(const char* number, const char* text, const pdu_outgoing& plan,
                  message_sent sent) {
    message_failed[0] = '\0';
    if (!message_enter_pdu_mode()) {
        message_leave_pdu_mode();
        return false;
    }
    // One reference for all the parts, so that the phone joins them; another for the
    // next message, as far as 8 bits allow.
    const auto reference = static_cast<unsigned>((sys_now() / sys_ns_per_ms) ^ getpid()) & 0xffu;
    bool all = true;
    for (unsigned part = 1; part <= plan.parts && message_go_on(); ++part) {
        char hex[2 * pdu_octets_most + 1];
        unsigned octets = 0;
        if (pdu_submit_hex(number, text, plan, part, reference, hex, sizeof hex, octets) == 0) {
            all = false;
            break;
        }
        char command[32];
        snprintf(command, sizeof command, "AT+CMGS=%u", octets);
        int mr = -1;
        const bool prompted = message_step(command, message_prompt_timeout_sec, "> ") != nullptr;
        if (prompted && message_go_on()) {
            // The PDU and Ctrl-Z go out as one text: the module answers +CMGS: <mr>.
            char body[sizeof hex + 1];
            snprintf(body, sizeof body, "%s%s", hex, message_ctrl_z);
            const char* reply = message_step(body, message_network_timeout_sec);
            if (reply != nullptr) mr = static_cast<int>(message_number_after(reply, "+CMGS: "));
        } else if (prompted || modem_step_end() != modem_end::answered) {
            // A prompt not answered, or one that may still come, would take the next
            // command for a PDU.
            message_wind_down();
            modem_cancel_input();
        }
        if (mr < 0) all = false;
        // A part cut short by a signal has no result to tell.
        if (sys_held_signal() != 0) break;
        if (!sent(part, mr, message_failed)) {
            all = false;
            break;
        }
    }
    if (sys_held_signal() != 0) all = false;
    message_leave_pdu_mode();
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
    const char* named = message_step("AT+CSCS?", message_step_timeout_sec);
    if (named == nullptr) return false;
    snprintf(message_charset_name, sizeof message_charset_name, "?");
    const pdu_charset charset = message_charset_of(named);
    const char* next = code;
    bool open = false;  // the network keeps the session open for more
    for (int step = 0;; ++step) {
        char coded[message_command_size / 2];
        char command[message_command_size];
        int dcs = 0;
        if (pdu_ussd_request(next, charset, coded, sizeof coded, dcs) < 0) {
            snprintf(message_failed, sizeof message_failed,
                     "%s can't be sent in the module's character set %s", next,
                     message_charset_name);
            break;
        }
        snprintf(command, sizeof command, "AT+CUSD=1,\"%s\",%d", coded, dcs);
        const char* reply =
            message_go_on() ? message_step(command, message_step_timeout_sec) : nullptr;
        if (reply == nullptr) break;
        // The answer may have come with the OK; else it is waited for. Lines that come
        // meanwhile (+CMTI, RING) are the module's own news and no answer. A session
        // the network did not answer is ended.
        message_cusd cusd{};
        if (message_cusd_find(reply, strlen(reply), cusd) == 0) {
            reply = modem_step("", message_ussd_timeout_sec, message_cusd_awaited);
            if (modem_step_end() != modem_end::answered) {
                message_fail(reply);
                message_end_ussd_session();
                return false;
            }
            static_cast<void>(message_cusd_find(reply, strlen(reply), cusd));
        }
        char text[pdu_text_size];
        long length = 0;
        if (cusd.text != nullptr) {
            length =
                pdu_ussd_text(cusd.text, cusd.text_length, cusd.dcs, charset, text, sizeof text);
            if (length < 0) length = 0;
        }
        // 0: the answer; 1: the answer, and the network asks for more; 2: the network
        // ended the session, with its last word where it has one; the rest are refusals.
        const bool said = cusd.mode <= 1 || (cusd.mode == 2 && cusd.text != nullptr);
        open = cusd.mode == 1;
        if (!said) {
            message_fail(reply);
            break;
        }
        if (!answer(text, static_cast<size_t>(length), open)) break;
        if (!open) return true;
        if (step >= count) {
            // Nothing left to answer with: the session is ended, not left open.
            message_end_ussd_session();
            return sys_held_signal() == 0;
        }
        next = replies[step];
    }
    if (open) message_end_ussd_session();
    return false;
}

const char* message_failure() {
    return message_failed;
}
