// The ID record file: its first line as read from disk, then the ID in it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/module.h"
#include "sys/sys_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int file = memfd_create("record", 0);
    if (file < 0 || ftruncate(file, 0) != 0 || lseek(file, 0, SEEK_SET) != 0) abort();
    if (!sys_write_all(file, data, size, 0)) abort();
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", file);
    const char* line = read_first_line(path);
    if (strlen(line) > 255) abort();
    (void)module_parse_record(line);
    return 0;
}
