#include "monitor/monitor.h"

#include <stdio.h>
#include <string.h>

#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

// A status page asks every few seconds: a command gets two of them, and the whole job
// as many as it sends commands, the checks that keep it in step included.
constexpr int monitor_timeout_sec = 2;
constexpr size_t monitor_command_size = 64;
constexpr size_t monitor_failure_size = 64;
constexpr char monitor_line_lost[] = "the module's port went away";

char monitor_failed[monitor_failure_size];
sys_ns monitor_deadline = 0;
bool monitor_identities = true;

// What became of one command.
enum class monitor_answer { given, none, lost };

// The failure to report for an answer that did not come: as the other jobs report a
// silent module, the time-out text's line, whatever part of an answer came before.
void monitor_fail(monitor_answer answer) {
    if (answer == monitor_answer::lost) {
        snprintf(monitor_failed, sizeof monitor_failed, "%s", monitor_line_lost);
        return;
    }
    const char* line = modem_timeout_text + strspn(modem_timeout_text, "\r\n");
    snprintf(monitor_failed, sizeof monitor_failed, "%.*s", static_cast<int>(strcspn(line, "\r\n")),
             line);
}

// Sends one command and reads its answer. An answer too long for the reply buffer is
// read as far as it goes.
monitor_answer monitor_ask(const status_command& command, status_record& record) {
    char text[monitor_command_size];
    snprintf(text, sizeof text, "%s\r", command.text);
    const char* reply = modem_step(text, monitor_timeout_sec);
    if (reply == nullptr) return monitor_answer::lost;
    switch (modem_step_end()) {
        case modem_end::answered:
        case modem_end::too_long:
            command.read(record, reply, strlen(reply));
            return monitor_answer::given;
        case modem_end::lost:
            return monitor_answer::lost;
        case modem_end::silent:
            break;
    }
    return monitor_answer::none;
}

// Asks each command while the module answers, the job's time lasts and no signal has
// come; counts the answers. False when the line went away or a signal came.
bool monitor_ask_all(const status_command* commands, size_t count, status_record& record,
                     size_t& answered) {
    for (size_t i = 0; i < count && sys_now() < monitor_deadline && modem_step_ready(); ++i) {
        if (sys_held_signal() != 0) return false;
        if (commands[i].identifies && !monitor_identities) continue;
        const monitor_answer answer = monitor_ask(commands[i], record);
        if (answer == monitor_answer::lost) {
            monitor_fail(answer);
            return false;
        }
        answered += answer == monitor_answer::given ? 1 : 0;
    }
    return sys_held_signal() == 0;
}

void monitor_allow(size_t commands) {
    monitor_deadline += static_cast<sys_ns>(commands) * monitor_timeout_sec * sys_ns_per_sec;
    modem_steps_until(monitor_deadline);
}

}  // namespace

bool monitor_status(status_record& record, bool identities) {
    monitor_failed[0] = '\0';
    monitor_identities = identities;
    status_clear(record);
    const status_command* standard = nullptr;
    const size_t standard_count = status_standard_commands(standard);
    monitor_deadline = sys_now();
    monitor_allow(standard_count);
    // A run killed a moment ago may have left a command whose answer is still to come.
    // A module that does not answer the check or the first command is not there to ask.
    const monitor_answer first = modem_step_sync(monitor_timeout_sec)
                                     ? monitor_ask(standard[0], record)
                                     : monitor_answer::none;
    if (first != monitor_answer::given) {
        monitor_fail(first);
        return false;
    }
    size_t answered = 0;
    if (!monitor_ask_all(standard + 1, standard_count - 1, record, answered)) return false;
    const status_command* own = nullptr;
    const size_t own_count = status_profile_commands(
        status_profile_of(record.manufacturer, record.model, modem_module_id()), own);
    monitor_allow(own_count);
    if (!monitor_ask_all(own, own_count, record, answered)) return false;
    // One that answered the first and then nothing more has stopped answering: its
    // document would only be unknowns that a page takes for no network.
    if (answered == 0) {
        monitor_fail(monitor_answer::none);
        return false;
    }
    status_finish(record);
    return true;
}

const char* monitor_failure() {
    return monitor_failed;
}
