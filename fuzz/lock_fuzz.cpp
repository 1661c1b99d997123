// The content of a lock file, as any program may have written it.
#include <cstdint>
#include <string>

#include "lock/lock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)lock_parse_pid(text.c_str());
    return 0;
}
