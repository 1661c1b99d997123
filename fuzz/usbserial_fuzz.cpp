// A line of the kernel's USB serial table: any bytes, any length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    unsigned port = 0;
    uint32_t id = 0;
    if (module_parse_usbserial(line.c_str(), port, id)) {
        // A counted line names a port and a 16-bit vendor and product.
        if (line.find("vendor:") == std::string::npos) abort();
        if (module_type_of(id) > 13) abort();
    }
    return 0;
}
