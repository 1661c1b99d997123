// Echo removal on whatever the modem sends back, the final result code found in it and
// the reply written as a JSON string. The first byte gives the length of the command;
// the rest is the reply, in a buffer exactly as large as the real one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/json.h"
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

// The bytes a JSON string gives back when every \u00XX escape is taken as the byte XX.
std::string bytes_of(const std::string& text) {
    std::string bytes;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
        } else if (text[++i] == 'u') {
            bytes += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
            i += 4;
        } else {
            bytes += text[i] == 'r'   ? '\r'
                     : text[i] == 'n' ? '\n'
                     : text[i] == 't' ? '\t'
                                      : text[i];
        }
    }
    return bytes;
}

// The reply as a JSON parser must read it: valid UTF-8 as it is, every other byte as
// the character of its number.
std::string as_read(const std::string& reply) {
    std::string text;
    for (size_t i = 0; i < reply.size();) {
        const auto* at = reinterpret_cast<const unsigned char*>(reply.data() + i);
        const size_t valid = json_utf8_length(at, reply.size() - i);
        if (valid > 0) {
            text.append(reply, i, valid);
            i += valid;
        } else {
            text += static_cast<char>(0xc0 | (*at >> 6));
            text += static_cast<char>(0x80 | (*at & 0x3f));
            ++i;
        }
    }
    return text;
}

void check_json(const std::string& reply) {
    json_clear();
    json_string(reply.data(), reply.size());
    if (!json_fits()) abort();
    const std::string text(json_bytes(), json_length());
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_string()) abort();
    if (parsed.get<std::string>() != as_read(reply) || bytes_of(text) != reply) abort();
}

void check_final(const std::string& reply, bool whole) {
    modem_final found{};
    if (!modem_find_final(reply.data(), reply.size(), whole, found)) return;
    if (found.length == 0 || found.start + found.length > found.end || found.end > reply.size())
        abort();
    if (reply.find_first_of("\r\n", found.start) < found.start + found.length) abort();
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
    check_final(reply, true);
    check_final(reply, false);
    check_json(reply);
    return 0;
}
