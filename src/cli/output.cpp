#include "cli/output.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/json.h"
#include "modem/modem.h"
#include "sys/sys_io.h"

namespace {

constexpr size_t output_module_text_size = 16;

}  // namespace

bool output_print(const char* text, const char* end) {
    return output_write(text, strlen(text), end);
}

bool output_write(const char* bytes, size_t length, const char* end) {
    iovec pieces[] = {{const_cast<char*>(bytes), length}, {const_cast<char*>(end), strlen(end)}};
    return sys_write_pieces(STDOUT_FILENO, pieces, static_cast<int>(sys_count(pieces)), sys_never);
}

void output_json_head(int slot) {
    char module[output_module_text_size];
    snprintf(module, sizeof module, "%08x", static_cast<unsigned>(modem_module_id()));
    json_raw("{\"slot\":");
    json_number(slot);
    json_raw(",\"port\":");
    json_text(modem_port_path());
    json_raw(",\"module\":");
    json_text(module);
}

bool output_json_end(const char* key, const char* text) {
    json_raw(",\"");
    json_raw(key);
    json_raw("\":");
    json_text(text);
    json_raw("}\n");
    return output_json();
}

bool output_json() {
    const bool written =
        json_fits() && sys_write_all(STDOUT_FILENO, json_bytes(), json_length(), sys_never);
    json_clear();
    return written;
}

bool output_json_when_full() {
    return json_length() < json_buffer_size / 2 || output_json();
}
