#include "cli/cli.h"

#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/output.h"
#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

constexpr char cli_usage_text[] = "./mdmio <AT command> <Timeout_Sec>";
// `-s <slot>` picks the module; without it, the first. `-f` ends each reply at its final
// result code.
constexpr char cli_slot_option[] = "-s";
constexpr char cli_final_option[] = "-f";
// `-j` prints one JSON document instead of the replies as they are.
constexpr char cli_json_option[] = "-j";
constexpr char cli_slot_names[][2] = {"0", "1"};
constexpr int cli_default_slot = 0;
constexpr int cli_lock_wait_sec = 5;
// The command and its carriage return must fit whole: a command cut short would sit in
// the modem's command line and spoil the next command of whichever program sends one.
constexpr size_t cli_command_size = 512;
constexpr int cli_termination_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The name the tool was started by, as the C library's own default log tag takes it:
// what follows the last slash.
const char* cli_program_name(const char* invoked) {
    const char* slash = strrchr(invoked, '/');
    return slash != nullptr ? slash + 1 : invoked;
}

// The command as it goes on the line, with its carriage return; false when it would not
// fit whole.
bool cli_compose(char (&command)[cli_command_size], const char* argument) {
    const int length = snprintf(command, sizeof command, "%s\r", argument);
    return length >= 0 && static_cast<size_t>(length) < sizeof command;
}

// Pairs of command and time-out from argv[first] on: at least one, none left half, and
// every command able to go out whole.
bool cli_pairs_valid(int argc, char** argv, int first) {
    const int count = argc - first;
    if (count < 2 || count % 2 != 0) return false;
    char command[cli_command_size];
    for (int i = first; i < argc; i += 2) {
        if (!cli_compose(command, argv[i])) return false;
    }
    return true;
}

// The slot a `-s` argument names; -1 for anything but a slot's own number.
int cli_parse_slot(const char* text) {
    for (size_t slot = 0; slot < sys_count(cli_slot_names); ++slot) {
        if (strcmp(text, cli_slot_names[slot]) == 0) return static_cast<int>(slot);
    }
    return -1;
}

int cli_usage() {
    static_cast<void>(output_print(cli_usage_text, ""));
    return 1;
}

// The termination signals this run catches (those not ignored at start).
int cli_caught_signals[sys_count(cli_termination_signals)];
size_t cli_caught_count = 0;

// Dies of the signal, as if it had not been caught: the caller sees the usual status.
void cli_die_of(int signal_number) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
}

// Gives the port back, then dies of the same signal. During a job the signal is only
// noted: the job puts the module's settings back first, then ends as the signal would.
void cli_on_termination(int signal_number) {
    if (sys_note_signal(signal_number)) return;
    modem_release_on_signal();
    cli_die_of(signal_number);
}

// A signal ignored at start (nohup, `trap '' HUP`) stays ignored, as the caller asked.
void cli_catch_termination() {
    struct sigaction action {};
    action.sa_handler = cli_on_termination;
    sigemptyset(&action.sa_mask);
    for (int signal_number : cli_termination_signals) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : cli_termination_signals) {
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        if (sigaction(signal_number, &action, nullptr) == 0) {
            cli_caught_signals[cli_caught_count++] = signal_number;
        }
    }
}

// One exchange as an object: the reply as printed, its non-empty lines but the final
// result code, that code's line, whether it timed out, and how long it took.
void cli_json_exchange(const char* command, const char* reply, sys_ns took) {
    const size_t length = strlen(reply);
    const bool timed_out = modem_timed_out();
    modem_final final{};
    const bool has_final = !timed_out && modem_find_final(reply, length, true, final);
    json_raw("{\"command\":");
    json_text(command);
    json_raw(",\"reply\":");
    json_string(reply, length);
    json_raw(",\"lines\":[");
    const char* separator = "";
    for (size_t start = 0; start < length && !timed_out;) {
        const size_t line = strcspn(reply + start, "\r\n");
        if (line > 0 && !(has_final && start == final.start)) {
            json_raw(separator);
            json_string(reply + start, line);
            separator = ",";
        }
        start += line + 1;
    }
    json_raw("],\"final\":");
    if (has_final) {
        json_string(reply + final.start, final.length);
    } else {
        json_raw("null");
    }
    json_raw(timed_out ? R"(,"timeout":true,"ms":)" : R"(,"timeout":false,"ms":)");
    json_number(took / sys_ns_per_ms);
    json_raw("}");
}

}  // namespace

int cli_parse_timeout(const char* text) {
    // strtol itself saturates at the long range; the rest is the narrowing to int.
    const long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int cli_run(int argc, char** argv) {
    // 0. Started with a standard descriptor closed, the line would take its number, and
    //    replies printed to standard output would go into the modem as commands.
    if (!sys_fill_standard_descriptors()) return 1;

    // 1. An optional slot, then pairs of command and time-out, every command able to go
    //    out whole; else nothing is touched.
    int slot = cli_default_slot;
    bool end_at_final = false;
    bool json = false;
    int first = 1;
    for (; first < argc; ++first) {
        if (strcmp(argv[first], cli_final_option) == 0) {
            end_at_final = true;
        } else if (strcmp(argv[first], cli_json_option) == 0) {
            json = true;
        } else if (strcmp(argv[first], cli_slot_option) == 0) {
            slot = first + 1 < argc ? cli_parse_slot(argv[first + 1]) : -1;
            if (slot < 0) return cli_usage();
            ++first;
        } else {
            break;
        }
    }
    job_request job{};
    if (!job_parse(argc, argv, first, job)) return cli_usage();
    if (job.kind == job_kind::commands && !cli_pairs_valid(argc, argv, first)) return cli_usage();

    // 2. A closed pipe must show as a failed write, not kill us while we hold the port;
    //    a termination signal must not leave the lock behind. Log lines carry the
    //    program's name whatever the C library: glibc tags them so by itself, musl with
    //    nothing. No connection is made until a line is logged.
    signal(SIGPIPE, SIG_IGN);
    cli_catch_termination();
    openlog(cli_program_name(argv[0]), 0, LOG_USER);

    // 3. Identify the module, claim its port and open the line, once for every pair.
    if (!modem_open(slot, cli_lock_wait_sec)) {
        if (!json) {
            static_cast<void>(output_print("BUSY", "\n"));
            return 1;
        }
        json_clear();
        output_json_head(slot);
        static_cast<void>(output_json_end("busy", modem_busy_reason()));
        return 1;
    }

    // 4. A job's exchanges, or the commands' exchanges in order, whatever the earlier
    //    replies were, each reply printed byte for byte with one newline as soon as it
    //    is gathered. A reply that can't be written out ends the run: nobody would read
    //    the rest. As JSON, the document's head goes out with the first exchange and its
    //    end with the last.
    if (job.kind != job_kind::commands) {
        sys_hold_signals(cli_caught_signals, cli_caught_count);
        const int status = job_run(job, slot, json);
        sys_release_signals();
        modem_close();
        if (sys_held_signal() != 0) cli_die_of(sys_held_signal());
        return status;
    }
    bool printed = true;
    for (int i = first; i < argc && printed; i += 2) {
        char command[cli_command_size];
        if (!cli_compose(command, argv[i])) break;  // never: every one was tried above
        const sys_ns start = sys_now();
        const char* reply = modem_command(command, cli_parse_timeout(argv[i + 1]), end_at_final);
        if (reply == nullptr) reply = "";
        if (!json) {
            printed = output_print(reply, "\n");
            continue;
        }
        json_clear();
        if (i == first) {
            output_json_head(slot);
            json_raw(",\"exchanges\":[");
        } else {
            json_raw(",");
        }
        cli_json_exchange(argv[i], reply, sys_now() - start);
        if (i + 2 >= argc) json_raw("]}\n");
        printed = output_flush();
    }

    // 5. Give the port back before the status is known to anyone.
    modem_close();
    return printed ? 0 : 1;
}
