// Echo removal on whatever the modem sends back. The first byte gives the length of
// the command; the rest is the reply, in a buffer exactly as large as the real one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modem/modem.h"
#include "modem/serial.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t text_length = data[0] < size - 1 ? data[0] : size - 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), text_length);
    static char reply[serial_reply_size];
    const size_t reply_length = std::min(size - 1 - text_length, serial_reply_size - 1);
    memcpy(reply, data + 1 + text_length, reply_length);
    reply[reply_length] = '\0';
    const std::string before = reply;

    switch (modem_strip_echo(reply, text.c_str())) {
        case modem_echo::only:
            if (before != text.c_str()) abort();
            break;
        case modem_echo::removed:
            if (before.compare(0, strlen(text.c_str()), text.c_str()) != 0) abort();
            if (before.substr(strlen(text.c_str())) != reply) abort();
            break;
        case modem_echo::none:
            if (before != reply) abort();
            break;
    }
    return 0;
}
