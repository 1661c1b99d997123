// Echo removal on whatever the modem sends back. The first byte gives the length of
// the command; the rest is the reply, in a buffer exactly as large as the real one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modem/modem.h"
#include "modem/serial.h"

namespace {

// Whether `echo` is a form the modem's echo of `command` may take: the whole command,
// or for a message text (ending in Ctrl-Z or ESC) the body alone, with its ending, with
// the carriage return after the ending, or with both.
bool is_echo_form(const std::string& echo, const std::string& command) {
    if (echo == command) return true;
    const size_t body = command.find_first_of("\x1a\x1b");
    if (body == std::string::npos) return false;
    const std::string after = command.compare(body + 1, 1, "\r") == 0 ? "\r" : "";
    for (const std::string& ending : {std::string(), command.substr(body, 1)}) {
        for (const std::string& tail : {std::string(), after}) {
            const std::string form = command.substr(0, body) + ending + tail;
            if (!form.empty() && echo == form) return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t text_length = data[0] < size - 1 ? data[0] : size - 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), text_length);
    const std::string command = text.c_str();
    static char reply[serial_reply_size];
    const size_t reply_length = std::min(size - 1 - text_length, serial_reply_size - 1);
    memcpy(reply, data + 1 + text_length, reply_length);
    reply[reply_length] = '\0';
    const std::string before = reply;

    switch (modem_strip_echo(reply, command.c_str())) {
        case modem_echo::only:
            if (before != reply || !is_echo_form(before, command)) abort();
            break;
        case modem_echo::removed: {
            const size_t cut = before.size() - strlen(reply);
            if (before.substr(cut) != reply || !is_echo_form(before.substr(0, cut), command))
                abort();
            break;
        }
        case modem_echo::none:
            if (before != reply) abort();
            break;
    }
    return 0;
}
