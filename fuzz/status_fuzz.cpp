// The status decoder on any replies: each from a byte that picks a command of any
// profile and a byte of length, read in turn into one record, in a buffer exactly as
// long as the reply so the sanitizers see a read past its end. The document it makes
// is always valid JSON, with every field of the status.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/jobs.h"
#include "cli/json.h"
#include "status/status.h"

namespace {

std::vector<status_command> every_command() {
    std::vector<status_command> every;
    const status_command* commands = nullptr;
    const size_t standard = status_standard_commands(commands);
    every.insert(every.end(), commands, commands + standard);
    for (int profile = 1; profile <= static_cast<int>(status_profile::fibocom_qualcomm);
         ++profile) {
        const size_t count =
            status_profile_commands(static_cast<status_profile>(profile), commands);
        every.insert(every.end(), commands, commands + count);
    }
    return every;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<status_command> commands = every_command();
    static status_record record;
    status_clear(record);
    for (size_t at = 0; at + 2 <= size;) {
        const status_command& command = commands[data[at] % commands.size()];
        const size_t length = data[at + 1] < size - at - 2 ? data[at + 1] : size - at - 2;
        char* reply = static_cast<char*>(malloc(length == 0 ? 1 : length));
        memcpy(reply, data + at + 2, length);
        command.read(record, reply, length);
        free(reply);
        at += 2 + length;
    }
    status_finish(record);
    json_clear();
    job_status_fields(record, true);
    if (!json_fits()) abort();
    const nlohmann::json document =
        nlohmann::json::parse(json_bytes(), json_bytes() + json_length(), nullptr, false);
    if (document.is_discarded() || !document.is_object() || document.size() != 28) abort();
    return 0;
}
