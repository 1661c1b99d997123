#include "monitor/monitor.h"

#include <stdio.h>
#include <string.h>

#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

// A status page asks every few seconds: a command gets two of them.
constexpr int monitor_timeout_sec = 2;
constexpr size_t monitor_command_size = 64;
constexpr size_t monitor_failure_size = 64;

char monitor_failed[monitor_failure_size];

// Sends one command and reads its answer; false when none came.
bool monitor_ask(const status_command& command, status_record& record) {
    char text[monitor_command_size];
    snprintf(text, sizeof text, "%s\r", command.text);
    const char* reply = modem_step(text, monitor_timeout_sec);
    if (reply == nullptr) return false;
    if (modem_step_end() != modem_end::answered) {
        // As the other jobs report it: the reply's first line, the time-out text's.
        const char* line = reply + strspn(reply, "\r\n");
        snprintf(monitor_failed, sizeof monitor_failed, "%.*s",
                 static_cast<int>(strcspn(line, "\r\n")), line);
        return false;
    }
    command.read(record, reply, strlen(reply));
    return true;
}

// Asks each command while the module answers and no signal has come.
bool monitor_ask_all(const status_command* commands, size_t count, status_record& record,
                     size_t first) {
    for (size_t i = first; i < count && modem_answering(); ++i) {
        if (sys_held_signal() != 0) return false;
        static_cast<void>(monitor_ask(commands[i], record));
    }
    return sys_held_signal() == 0;
}

}  // namespace

bool monitor_status(status_record& record) {
    monitor_failed[0] = '\0';
    status_clear(record);
    const status_command* standard = nullptr;
    const size_t standard_count = status_standard_commands(standard);
    // A module that does not answer the first command is not there to ask.
    if (!monitor_ask(standard[0], record)) return false;
    monitor_failed[0] = '\0';
    if (!monitor_ask_all(standard, standard_count, record, 1)) return false;
    const status_command* own = nullptr;
    const size_t own_count =
        status_profile_commands(status_profile_of(record.manufacturer, modem_module_id()), own);
    if (!monitor_ask_all(own, own_count, record, 0)) return false;
    status_finish(record);
    return true;
}

const char* monitor_failure() {
    return monitor_failed;
}
