// A simulated cellular modem module for trying mdmio without hardware: it opens a
// pseudo-terminal, prints the path of its slave side (the modem's serial line) and
// answers AT commands there like a Quectel EC25 until it is stopped. Given a tty
// instead (`mdmio-simmodem /dev/ttyGS3`, the device side of a USB gadget's serial
// function), it answers on that line. Echo is on by default; ATE0 and ATE1 switch it.
// Answers are framed "\r\n...\r\n". AT+FLOOD answers with text until exactly 64 KiB,
// echo included, have gone out: a modem that never stops, for the benchmark.
// Text-mode SMS as 3GPP TS 27.005 has it: AT+CMGF=1, then AT+CMGS="<number>" answers
// the prompt "\r\n> ", the text follows (echoed as it comes when echo is on), Ctrl-Z
// sends it and "+CMGS: <mr>" follows a second later, ESC cancels it. A USSD request
// (AT+CUSD=1,...) is answered OK at once and "+CUSD:" two seconds later; *101# opens a
// menu in UCS-2 whose answer "1" gives the balance.
// PDU mode (AT+CMGF=0, the default) as 27.005 has it: a few stored messages (GSM 7-bit
// with extension characters, UCS-2 Cyrillic with an emoji, a long message in Chinese
// stored out of order, an alphanumeric sender) counted by AT+CPMS?, listed by
// AT+CMGL=4 and read one by one with AT+CMGR, removed
// with AT+CMGD; AT+CMGS=<length>, the prompt, the PDU and Ctrl-Z send one, reported
// decoded on stderr. AT+CSCS sets the character set USSD requests come in.
// With --unplug <UDC file> (the configfs file that binds its USB gadget), it leaves the
// USB bus as a module does: after answering OK to a restart (AT+CFUN=1,1), or at once
// without a word on a power-down (AT+QPOWD=0); it comes back two seconds later.
// With --answer-ms N it takes N ms over each answer, as a real module does.
// It answers a status as a Quectel EC25 on LTE, or with --profile as another module
// (simmodem_profiles.h), and AT+SIMPROFILE=<name> switches to another; --drift makes its
// signal wander from call to call, --operator gives the network's name. Options come
// before the tty, in any order.
// With --tag it answers every command with "+TAG: <command>", so that a caller can tell
// its own answer from another's, and reports on stderr each command that came while
// the previous caller may still have been listening (within 200 ms of its answer):
// two callers held the line at once.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "pdu/pdu.h"
#include "simmodem_profiles.h"

namespace {

// What every module answers, beside its profile's status answers.
constexpr sim_answer sim_answers[] = {
    {"AT", "\r\nOK\r\n"},
    {"ATI", "\r\nQuectel\r\nEC25\r\nRevision: EC25EFAR06A06M4G\r\n\r\nOK\r\n"},
    {"AT+CFUN=1,1", "\r\nOK\r\n"},
    {"AT+CFUN=0", "\r\nOK\r\n"},
    {"AT+CFUN=1", "\r\nOK\r\n"},
    // What a status page of raw commands asks every few seconds.
    {"AT+QNWINFO", "\r\n+QNWINFO: \"FDD LTE\",\"26202\",\"LTE BAND 3\",1300\r\n\r\nOK\r\n"},
    {"AT+QSPN", "\r\n+QSPN: \"Vodafone.de\",\"Vodafone\",\"\",0,\"26202\"\r\n\r\nOK\r\n"},
    {"AT+QCCID", "\r\n+QCCID: 89490200001234567890\r\n\r\nOK\r\n"},
    {"AT+CGPADDR=1", "\r\n+CGPADDR: 1,\"10.64.12.34\"\r\n\r\nOK\r\n"},
};

constexpr size_t sim_line_size = 1024;
// A caller listens until this much silence has followed the answer.
constexpr long sim_quiet_ms = 200;
constexpr size_t sim_flood_size = 65536;  // 64 KiB
constexpr char sim_ctrl_z = '\x1a';
constexpr char sim_escape = '\x1b';
constexpr long sim_send_delay_ms = 1000;
constexpr long sim_ussd_delay_ms = 2000;
constexpr char sim_ussd_answer[] = "\r\n+CUSD: 0,\"Your balance is 12.34 EUR\",15\r\n";
constexpr long sim_answer_crossing_ms = 100;  // for the last answer to reach the host
constexpr long sim_away_ms = 2000;

// The stored messages, by index: status and PDU.
struct sim_message {
    int status;
    const char* pdu;
};
constexpr sim_message sim_stored[] = {
    {0,
     "07919451020000F1040B915155214365F70000622190010000402550797A5C06D53665D08617DEF8401B947893026"
     "D7A63D0E645066D8065D0866206"},
    {1,
     "07919451020000F1040781551532F40008622190010000491C041F04400438043204350442002C0020043C0438044"
     "00020D83DDC4B"},
    {0, "07919451020000F1440D91683108108300F00008622190010010230F060804123402024E16754C548C5E73"},
    {1, "07919451020000F1040ED0D637396C7EBBCB0000621013329595000FD9775D0E1ABFC9651D28269BD100"},
    {0, "07919451020000F1440D91683108108300F00008622190010000230D060804123402014F60597DFF0C"},
};
// "Меню: 1 Баланс" and "Баланс: 12,34 €", in UCS-2.
constexpr char sim_ussd_menu[] =
    "\r\n+CUSD: 1,\"041C0435043D044E003A00200031002004110430043B0430043D0441\",72\r\n";
constexpr char sim_ussd_balance[] =
    "\r\n+CUSD: 0,\"04110430043B0430043D0441003A002000310032002C00330034002020AC\",72\r\n";
volatile sig_atomic_t sim_stopping = 0;

// What the modem is in the middle of: typing a message, an answer it still owes.
struct sim_state {
    bool echo = true;
    bool text_mode = false;  // AT+CMGF=1
    bool ucs2 = false;       // AT+CSCS="UCS2"
    bool stored[sizeof sim_stored / sizeof *sim_stored] = {true, true, true, true, true};
    char reply[4 * sim_line_size] = {};
    bool typing = false;  // between the CMGS prompt and Ctrl-Z or ESC
    char number[sim_line_size] = {};
    char message[sim_line_size] = {};
    size_t message_length = 0;
    int message_reference = 0;
    char owed[512] = {};  // an answer that comes later
    long owed_at_ms = -1;
    // The status answers of the module it plays, how far its signal has drifted, and the
    // network's name it gives.
    const sim_profile* profile = &sim_profiles[0];
    bool drift = false;
    unsigned drifted = 0;
    const char* network = nullptr;
    char expanded[4 * sim_line_size] = {};
};

void sim_stop(int /*signal*/) {
    sim_stopping = 1;
}

bool sim_send_bytes(int fd, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t put = write(fd, bytes + done, length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

bool sim_send(int fd, const char* text) {
    return sim_send_bytes(fd, text, strlen(text));
}

long sim_now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

void sim_owe(sim_state& state, const char* answer, long delay_ms) {
    snprintf(state.owed, sizeof state.owed, "%s", answer);
    state.owed_at_ms = sim_now_ms() + delay_ms;
}

// The index after a command's name ("AT+CMGR=3").
bool sim_index_after(const char* line, const char* name, int& index) {
    const size_t length = strlen(name);
    if (strncmp(line, name, length) != 0) return false;
    char* end = nullptr;
    index = static_cast<int>(strtol(line + length, &end, 10));
    return end != line + length && *end == '\0';
}

// The length +CMGR and +CMGL give: the PDU's octets without the service centre's address.
size_t sim_tpdu_length(const char* pdu) {
    const char sca_length[] = {pdu[0], pdu[1], '\0'};
    return strlen(pdu) / 2 - 1 - strtoul(sca_length, nullptr, 16);
}

// PDU mode's storage commands; null for a command it doesn't know.
const char* sim_pdu_command(const char* line, sim_state& state) {
    constexpr int capacity = 50;
    int used = 0;
    for (bool here : state.stored) used += here;
    if (strcmp(line, "AT+CPMS?") == 0) {
        snprintf(state.reply, sizeof state.reply,
                 "\r\n+CPMS: \"SM\",%d,%d,\"SM\",%d,%d,\"SM\",%d,%d\r\n\r\nOK\r\n", used, capacity,
                 used, capacity, used, capacity);
        return state.reply;
    }
    if (strcmp(line, "AT+CMGL=4") == 0) {
        size_t used_bytes = 0;
        for (size_t i = 0; i < sizeof state.stored; ++i) {
            if (!state.stored[i]) continue;
            const sim_message& message = sim_stored[i];
            used_bytes += static_cast<size_t>(
                snprintf(state.reply + used_bytes, sizeof state.reply - used_bytes,
                         "\r\n+CMGL: %zu,%d,,%zu\r\n%s", i, message.status,
                         sim_tpdu_length(message.pdu), message.pdu));
        }
        snprintf(state.reply + used_bytes, sizeof state.reply - used_bytes, "\r\n\r\nOK\r\n");
        return state.reply;
    }
    int index = -1;
    if (sim_index_after(line, "AT+CMGR=", index)) {
        if (index < 0 || index >= static_cast<int>(sizeof state.stored) || !state.stored[index]) {
            return "\r\n+CMS ERROR: 321\r\n";
        }
        const sim_message& message = sim_stored[index];
        snprintf(state.reply, sizeof state.reply, "\r\n+CMGR: %d,,%zu\r\n%s\r\n\r\nOK\r\n",
                 message.status, sim_tpdu_length(message.pdu), message.pdu);
        return state.reply;
    }
    if (strcmp(line, "AT+CMGD=1,4") == 0) {
        for (bool& here : state.stored) here = false;
        return "\r\nOK\r\n";
    }
    if (sim_index_after(line, "AT+CMGD=", index)) {
        if (index >= 0 && index < static_cast<int>(sizeof state.stored))
            state.stored[index] = false;
        return "\r\nOK\r\n";
    }
    return nullptr;
}

// How far a signal value has drifted: a slow wave up to 6 either way, each value of a
// reply a little behind the one before it.
int sim_drift(unsigned step, unsigned value) {
    constexpr int period = 40;
    const int at = static_cast<int>((step + 9 * value) % period);
    return (at < period / 2 ? at : period - at) * 12 / (period / 2) - 6;
}

// A profile's reply with its values filled in: {N} a signal value, which with --drift
// wanders from status to status (each AT+CGMI moves it on); {op:NAME} the network's
// name, or the one --operator gave.
const char* sim_expand(const char* reply, sim_state& state) {
    size_t used = 0;
    unsigned value = 0;
    for (const char* at = reply; *at != '\0' && used + 64 < sizeof state.expanded; ++at) {
        const char* close = *at == '{' ? strchr(at, '}') : nullptr;
        if (close == nullptr) {
            state.expanded[used++] = *at;
            continue;
        }
        const int length = static_cast<int>(close - at - 1);
        if (strncmp(at + 1, "op:", 3) == 0) {
            used +=
                static_cast<size_t>(snprintf(state.expanded + used, sizeof state.expanded - used,
                                             "%s", state.network != nullptr ? state.network : ""));
            if (state.network == nullptr) {
                used += static_cast<size_t>(snprintf(state.expanded + used,
                                                     sizeof state.expanded - used, "%.*s",
                                                     length - 3, at + 4));
            }
        } else {
            const int step = state.drift ? sim_drift(state.drifted, value++) : 0;
            const double base = strtod(at + 1, nullptr);
            const bool whole = memchr(at + 1, '.', static_cast<size_t>(length)) == nullptr;
            used += static_cast<size_t>(
                whole ? snprintf(state.expanded + used, sizeof state.expanded - used, "%d",
                                 static_cast<int>(base) + step)
                      : snprintf(state.expanded + used, sizeof state.expanded - used, "%.1f",
                                 base + step));
        }
        at = close;
    }
    state.expanded[used] = '\0';
    return state.expanded;
}

// The reply to one command line; null for a line that wants none.
const char* sim_reply(const char* line, sim_state& state) {
    if (line[0] == '\0') return nullptr;
    const bool echo_on = strcasecmp(line, "ATE1") == 0;
    if (echo_on || strcasecmp(line, "ATE0") == 0) {
        state.echo = echo_on;
        return "\r\nOK\r\n";
    }
    // A test's switch to another module's answers, where it can't start the simulated
    // modem anew (a gadget's line in the full-system lane).
    constexpr char switch_profile[] = "AT+SIMPROFILE=";
    if (strncmp(line, switch_profile, strlen(switch_profile)) == 0) {
        for (const sim_profile& profile : sim_profiles) {
            if (strcasecmp(profile.name, line + strlen(switch_profile)) == 0) {
                state.profile = &profile;
                return "\r\nOK\r\n";
            }
        }
        return "\r\nERROR\r\n";
    }
    const bool text_mode = strcmp(line, "AT+CMGF=1") == 0;
    if (text_mode || strcmp(line, "AT+CMGF=0") == 0) {
        state.text_mode = text_mode;
        return "\r\nOK\r\n";
    }
    if (strcmp(line, "AT+CMGF?") == 0)
        return state.text_mode ? "\r\n+CMGF: 1\r\n\r\nOK\r\n" : "\r\n+CMGF: 0\r\n\r\nOK\r\n";
    if (strcmp(line, "AT+CSCS?") == 0)
        return state.ucs2 ? "\r\n+CSCS: \"UCS2\"\r\n\r\nOK\r\n"
                          : "\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n";
    if (strncmp(line, "AT+CSCS=", 8) == 0) {
        state.ucs2 = strcmp(line + 8, "\"UCS2\"") == 0;
        return "\r\nOK\r\n";
    }
    const char* storage_reply = sim_pdu_command(line, state);
    if (storage_reply != nullptr) return storage_reply;
    if (strcmp(line, "AT+CUSD=2") == 0) return "\r\nOK\r\n";
    if (strcmp(line, "AT+CUSD=1,\"*101#\",15") == 0 ||
        strcmp(line, "AT+CUSD=1,\"002A0031003000310023\",15") == 0) {
        sim_owe(state, sim_ussd_menu, sim_ussd_delay_ms);
        return "\r\nOK\r\n";
    }
    if (strcmp(line, "AT+CUSD=1,\"1\",15") == 0 || strcmp(line, "AT+CUSD=1,\"0031\",15") == 0) {
        sim_owe(state, sim_ussd_balance, sim_ussd_delay_ms);
        return "\r\nOK\r\n";
    }
    if (strncmp(line, "AT+CMGS=", 8) == 0) {
        snprintf(state.number, sizeof state.number, "%s", line + 8);
        state.typing = true;
        state.message_length = 0;
        return "\r\n> ";
    }
    if (strncmp(line, "AT+CGDCONT=", 11) == 0) return "\r\nOK\r\n";
    if (strncmp(line, "AT+CUSD=1,", 10) == 0) {
        sim_owe(state, sim_ussd_answer, sim_ussd_delay_ms);
        return "\r\nOK\r\n";
    }
    if (strcasecmp(line, "AT+CGMI") == 0) ++state.drifted;
    for (size_t i = 0; i < state.profile->count; ++i) {
        const sim_answer& answer = state.profile->answers[i];
        if (strcasecmp(line, answer.command) == 0) return sim_expand(answer.reply, state);
    }
    for (const sim_answer& answer : sim_common) {
        if (strcasecmp(line, answer.command) == 0) return answer.reply;
    }
    for (const sim_answer& answer : sim_answers) {
        if (strcasecmp(line, answer.command) == 0) return answer.reply;
    }
    return "\r\nERROR\r\n";
}

// Sends `size` bytes of "+FLOOD: xxx..." lines.
void sim_flood(int fd, size_t size) {
    static constexpr char line[] =
        "+FLOOD: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";
    constexpr size_t line_length = sizeof line - 1;
    while (size > 0) {
        const size_t piece = size < line_length ? size : line_length;
        if (!sim_send_bytes(fd, line, piece)) return;
        size -= piece;
    }
}

// A message sent in PDU mode, decoded as a phone would show it.
void sim_report_pdu(const sim_state& state) {
    uint8_t bytes[pdu_octets_most];
    const long octets = pdu_from_hex(state.message, state.message_length, bytes, sizeof bytes);
    pdu_message message{};
    if (octets < 0 || !pdu_decode(bytes, static_cast<size_t>(octets), message)) {
        fprintf(stderr, "simmodem: undecodable PDU %s\n", state.message);
        return;
    }
    fprintf(stderr, "simmodem: message to %s (part %u of %u): %.*s\n", message.address,
            message.part, message.parts, static_cast<int>(message.text_length), message.text);
}

// One character of a message being typed: Ctrl-Z sends it, ESC drops it.
void sim_type(int fd, char c, sim_state& state) {
    if (c == sim_ctrl_z) {
        state.typing = false;
        state.message[state.message_length] = '\0';
        if (state.text_mode) {
            fprintf(stderr, "simmodem: message to %s: %s\n", state.number, state.message);
        } else {
            sim_report_pdu(state);
        }
        char answer[64];
        snprintf(answer, sizeof answer, "\r\n+CMGS: %d\r\n\r\nOK\r\n", ++state.message_reference);
        sim_owe(state, answer, sim_send_delay_ms);
    } else if (c == sim_escape) {
        state.typing = false;
        sim_send(fd, "\r\nOK\r\n");
    } else if (state.message_length + 1 < sizeof state.message) {
        state.message[state.message_length++] = c;
    }
}

void sim_sleep_ms(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool sim_write_file(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY);
    const bool done = fd >= 0 && sim_send(fd, text);
    if (fd >= 0) close(fd);
    return done;
}

bool sim_raw(int fd) {
    termios raw{};
    if (tcgetattr(fd, &raw) != 0) return false;
    cfmakeraw(&raw);
    return tcsetattr(fd, TCSANOW, &raw) == 0;
}

// A tty given to serve, in raw mode: a gadget's tty echoes unless it is.
int sim_open_tty(const char* path) {
    const int fd = open(path, O_RDWR | O_NOCTTY);
    if (fd < 0 || !sim_raw(fd)) {
        perror(path);
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// The gadget leaves the bus (its UDC file emptied) and comes back (the UDC named
// again). The gadget side's tty is hung up with it, so it is opened afresh; what the
// host sent meanwhile is lost with the module. Returns the new descriptor.
int sim_leave_bus(int fd, const char* tty, const char* udc_file, const char* udc) {
    if (!sim_write_file(udc_file, "\n")) perror(udc_file);
    sim_sleep_ms(sim_away_ms);
    close(fd);
    if (!sim_write_file(udc_file, udc)) perror(udc_file);
    return sim_open_tty(tty);
}

// Tag mode: answers `line` with itself, and reports a caller that came too soon.
void sim_tag(int fd, const char* line) {
    static char previous[sim_line_size] = {};
    static long answered_ms = -1;
    const long gap_ms = sim_now_ms() - answered_ms;
    if (answered_ms >= 0 && gap_ms < sim_quiet_ms) {
        fprintf(stderr, "simmodem: overlap: %s came %ld ms after the answer to %s\n", line, gap_ms,
                previous);
    }
    char answer[sim_line_size + 32];
    snprintf(answer, sizeof answer, "\r\n+TAG: %s\r\n\r\nOK\r\n", line);
    sim_send(fd, answer);
    answered_ms = sim_now_ms();
    snprintf(previous, sizeof previous, "%s", line);
}

}  // namespace

int main(int argc, char** argv) {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    sim_state state;
    bool tag = false;
    long answer_ms = 0;
    const char* udc_file = nullptr;
    char udc[64] = {};
    // Options first, in any order; then the tty to serve, if any.
    for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        const bool valued = argc > 2;
        if (strcmp(argv[1], "--tag") == 0) {
            tag = true;
        } else if (strcmp(argv[1], "--drift") == 0) {
            state.drift = true;
        } else if (valued && strcmp(argv[1], "--answer-ms") == 0) {
            answer_ms = strtol(argv[2], nullptr, 10);
            --argc, ++argv;
        } else if (valued && strcmp(argv[1], "--operator") == 0) {
            state.network = argv[2];
            --argc, ++argv;
        } else if (valued && strcmp(argv[1], "--profile") == 0) {
            state.profile = nullptr;
            for (const sim_profile& profile : sim_profiles) {
                if (strcmp(profile.name, argv[2]) == 0) state.profile = &profile;
            }
            if (state.profile == nullptr) {
                fprintf(stderr, "simmodem: no profile %s\n", argv[2]);
                return 1;
            }
            --argc, ++argv;
        } else if (valued && strcmp(argv[1], "--unplug") == 0) {
            udc_file = argv[2];
            const int fd = open(udc_file, O_RDONLY);
            const ssize_t got = fd >= 0 ? read(fd, udc, sizeof udc - 1) : -1;
            if (fd >= 0) close(fd);
            if (got <= 1) {
                fprintf(stderr, "simmodem: %s names no UDC\n", udc_file);
                return 1;
            }
            --argc, ++argv;
        } else {
            fprintf(stderr, "simmodem: unknown option %s\n", argv[1]);
            return 1;
        }
    }
    const char* tty = argc > 1 ? argv[1] : nullptr;
    if (tty != nullptr) {
        // Our end of the line is the tty itself.
        master = slave = sim_open_tty(tty);
        snprintf(name, sizeof name, "%s", tty);
        if (master < 0) return 1;
    } else if (openpty(&master, &slave, name, nullptr, nullptr) != 0 || !sim_raw(slave)) {
        perror("simmodem: pty");
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = sim_stop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    printf("%s\n", name);
    fflush(stdout);

    char line[sim_line_size];
    size_t length = 0;
    while (!sim_stopping) {
        // An answer owed falls due between reads.
        long wait_ms = 200;
        if (state.owed_at_ms >= 0) {
            const long left = state.owed_at_ms - sim_now_ms();
            wait_ms = left < 0 ? 0 : (left < wait_ms ? left : wait_ms);
        }
        pollfd entry{master, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(wait_ms));
        if (state.owed_at_ms >= 0 && sim_now_ms() >= state.owed_at_ms) {
            state.owed_at_ms = -1;
            sim_send(master, state.owed);
        }
        if (ready <= 0) continue;
        char bytes[256];
        const ssize_t got = read(master, bytes, sizeof bytes);
        if (got <= 0) continue;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = bytes[i];
            if (state.echo) sim_send_bytes(master, &c, 1);
            if (state.typing) {
                sim_type(master, c, state);
                continue;
            }
            if (c == '\n') continue;
            if (c != '\r') {
                if (length + 1 < sizeof line) line[length++] = static_cast<char>(toupper(c));
                continue;
            }
            line[length] = '\0';
            const size_t echoed = state.echo ? length + 1 : 0;
            length = 0;
            if (tag && line[0] != '\0') {
                sim_tag(master, line);
                continue;
            }
            if (strcmp(line, "AT+FLOOD") == 0) {
                sim_flood(master, sim_flood_size - echoed);
                continue;
            }
            const bool restart = strcmp(line, "AT+CFUN=1,1") == 0;
            if (tty != nullptr && udc_file != nullptr &&
                (restart || strcmp(line, "AT+QPOWD=0") == 0)) {
                if (restart) sim_send(master, "\r\nOK\r\n");
                sim_sleep_ms(restart ? sim_answer_crossing_ms : 0);
                master = slave = sim_leave_bus(master, tty, udc_file, udc);
                if (master < 0) return 1;
                break;
            }
            const char* reply = sim_reply(line, state);
            if (reply != nullptr) {
                sim_sleep_ms(answer_ms);
                sim_send(master, reply);
            }
        }
    }
    if (slave != master) close(slave);
    close(master);
    return 0;
}
