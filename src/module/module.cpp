#include "module/module.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/sys_io.h"

namespace {

struct module_id_type {
    uint32_t id;
    unsigned type;
};

constexpr module_id_type module_ids[] = {
    {0x1e2d0053, 1},  {0x1ed20054, 2},  {0x1e2d0060, 3},  {0x1e2d0061, 3},
    {0x1e2d0069, 4},  {0x1e2d006f, 4},  {0x12d115c1, 5},  {0x1bc70036, 6},
    {0x80870716, 6},  {0x2c7c0125, 7},  {0x2c7c0296, 8},  {0x05c69003, 9},
    {0x1e2d0065, 10}, {0x2c7c0512, 11}, {0x2c7c0620, 12}, {0x2c7c0800, 13},
};

struct module_slot {
    const char* probe_device;
    unsigned first_port;  // usbserial port numbers of the slot, both ends included
    unsigned last_port;
    const char* acm_port;     // AT port of type 6 modules
    const char* serial_port;  // AT port of every other type
};

// Slot 0, then the row that serves every other slot.
constexpr module_slot module_slots[] = {
    {"/dev/ttyACM11", 5, 11, "/dev/ttyACM11", "/dev/ttyUSB8"},
    {"/dev/ttyACM19", 13, 19, "/dev/ttyACM19", "/dev/ttyUSB16"},
};

constexpr char module_shared_probe[] = "/dev/ttyACM0";
constexpr char module_usbserial_table[] = "/proc/tty/driver/usbserial";
constexpr char module_record_directory[] = "/var/data/plmnWhitelist";
constexpr char module_record_format[] = "%s/module_%d_id";
// One temporary name a slot, hidden from `module_*` globs.
constexpr char module_temporary_format[] = "%s/.module_%d_id.tmp";
constexpr uint32_t module_id_of_probe = 0x1bc70036;
constexpr uint32_t module_id_of_shared_probe = 0x1ed20054;
constexpr unsigned module_type_acm = 6;
constexpr unsigned module_type_cached_from = 2;
constexpr size_t module_record_path_size = 64;
constexpr size_t module_record_text_size = 16;
constexpr size_t module_line_size = 256;
constexpr size_t module_table_piece_size = 128;
constexpr size_t module_table_block_size = 512;
constexpr size_t module_record_digits = 8;
constexpr sys_ns module_record_guard_span = 100 * sys_ns_per_ms;

unsigned module_cache = 0;
uint32_t module_last_id = 0;
thread_local char module_line[module_line_size];

const module_slot& module_slot_of(int slot) {
    return module_slots[slot == 0 ? 0 : 1];
}

// Reads an unsigned number as scanf's %u and %x read it (blanks, an optional 0x for
// base 16), refusing a sign and anything past `most`. Advances `text` past it.
bool module_take_number(const char*& text, int base, unsigned long most, unsigned long& value) {
    while (isspace(static_cast<unsigned char>(*text))) ++text;
    if (*text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    value = strtoul(text, &end, base);
    if (end == text || errno == ERANGE || value > most) return false;
    text = end;
    return true;
}

// A literal of the format; a blank in it matches any run of blanks, none included.
bool module_take_literal(const char*& text, const char* literal) {
    for (; *literal != '\0'; ++literal) {
        if (*literal == ' ') {
            while (isspace(static_cast<unsigned char>(*text))) ++text;
        } else if (*text++ != *literal) {
            return false;
        }
    }
    return true;
}

// The ID a line (or piece) of the USB serial table gives the slot; 0 when it gives none.
uint32_t module_table_line_id(const char* line, const module_slot& slot) {
    unsigned port = 0;
    uint32_t id = 0;
    const bool counts =
        module_parse_usbserial(line, port, id) && port >= slot.first_port && port <= slot.last_port;
    return counts ? id : 0;
}

// Reads the table a block at a time and parses it line by line; a line longer than a
// piece arrives in pieces, each read like a line. A read that fails ends the scan with
// what was found before it.
uint32_t module_scan_usbserial(const module_slot& slot) {
    const int fd = sys_open_regular(module_usbserial_table);
    if (fd < 0) return 0;
    uint32_t found = 0;
    char block[module_table_block_size];
    char piece[module_table_piece_size];
    size_t used = 0;
    ssize_t got = 0;
    while (found == 0 && (got = sys_read(fd, block, sizeof block)) > 0) {
        for (ssize_t i = 0; i < got && found == 0; ++i) {
            piece[used++] = block[i];
            if (block[i] == '\n' || used == sizeof piece - 1) {
                piece[used] = '\0';
                used = 0;
                found = module_table_line_id(piece, slot);
            }
        }
    }
    // The last line, when the table doesn't end with a line feed.
    if (found == 0 && got == 0 && used > 0) {
        piece[used] = '\0';
        found = module_table_line_id(piece, slot);
    }
    sys_close(fd);
    return found;
}

// What reading a file's first line found.
enum class module_file { absent, unreadable, read };

// Reads the file's first line, as fgets reads it (up to and with the first line feed,
// at most 255 characters), into the line buffer and cuts it at its first line end after
// other text. A file that fails to read at any point is unreadable: part of a line is
// no line.
module_file module_read_first_line(const char* path) {
    const ssize_t got = sys_read_file(path, module_line, sizeof module_line - 1);
    module_line[got < 0 ? 0 : got] = '\0';
    if (got < 0) return errno == ENOENT ? module_file::absent : module_file::unreadable;
    char* feed = static_cast<char*>(memchr(module_line, '\n', static_cast<size_t>(got)));
    if (feed != nullptr) feed[1] = '\0';
    // Line ends at the very start stay; the first one after other text ends the line.
    char* text = module_line + strspn(module_line, "\r\n");
    text[strcspn(text, "\r\n")] = '\0';
    return module_file::read;
}

// 1 when the record file holds exactly `text` already.
int module_record_holds(const char* path, const char* text, size_t length) {
    char held[module_record_text_size + 1];
    const ssize_t got = sys_read_file(path, held, sizeof held);
    return got == static_cast<ssize_t>(length) && memcmp(held, text, length) == 0;
}

// Writes the text to a new temporary file and renames it over the record.
void module_replace_record(const char* path, const char* temporary, const char* text,
                           size_t length) {
    // Created exclusively: a planted link is never followed.
    const int fd = sys_open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    bool done =
        fchmod(fd, 0644) == 0 && sys_write_all(fd, text, length, sys_now()) && fsync(fd) == 0;
    done = sys_close(fd) && done;
    if (!done || rename(temporary, path) != 0) unlink(temporary);
}

// Replaces the record file in one rename, so a power cut leaves the old ID or the new
// one, never an empty file. Left alone when it already says the same: this runs every
// few seconds on flash. Writers take turns under an flock of the record directory, so
// the slot's one temporary name found there by the holder was left by a writer that was
// killed or lost its power in mid-write: it goes, by the next run that writes the
// record or finds it current. Another run of this tool (the other slot's) holds the
// flock for one write and its fsync, so that is waited for; a holder that keeps it
// longer is not, and the record is then left as it is.
void module_write_record(const char* path, const char* temporary, uint32_t id) {
    char text[module_record_text_size];
    const int length = snprintf(text, sizeof text, "%08x\n", static_cast<unsigned>(id));
    if (length <= 0) return;
    const bool current = module_record_holds(path, text, static_cast<size_t>(length));
    if (current && !file_exists(temporary)) return;

    const int guard = sys_open(module_record_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (guard < 0) return;
    if (sys_flock_within(guard, module_record_guard_span) == 1) {
        // A signal while the temporary file exists would leave it behind.
        sigset_t saved;
        sys_block_signals(saved);
        unlink(temporary);
        if (!current) module_replace_record(path, temporary, text, static_cast<size_t>(length));
        sys_unblock_signals(saved);
    }
    sys_close(guard);
}

}  // namespace

const char* module_port_path(int slot) {
    const module_slot& row = module_slot_of(slot);
    return module_type(slot) == module_type_acm ? row.acm_port : row.serial_port;
}

unsigned module_type(int slot) {
    if (slot < 0) return 0;
    if (module_cache < module_type_cached_from) return module_detect(slot);
    return module_cache;
}

unsigned module_detect(int slot) {
    const module_slot& row = module_slot_of(slot);
    uint32_t id = 0;
    if (file_exists(row.probe_device)) {
        id = module_id_of_probe;
    } else if (file_exists(module_shared_probe)) {
        id = module_id_of_shared_probe;
    } else {
        id = module_scan_usbserial(row);
    }

    char record[module_record_path_size];
    char temporary[module_record_path_size];
    const int length =
        snprintf(record, sizeof record, module_record_format, module_record_directory, slot);
    const int temporary_length = snprintf(temporary, sizeof temporary, module_temporary_format,
                                          module_record_directory, slot);
    bool record_writable = length > 0 && static_cast<size_t>(length) < sizeof record &&
                           temporary_length > 0 &&
                           static_cast<size_t>(temporary_length) < sizeof temporary;
    if (id == 0 && record_writable) {
        const module_file found = module_read_first_line(record);
        if (found == module_file::read) id = module_parse_record(module_line);
        // A record this run can't read may hold the only copy of the ID: it stays as
        // it is, and this run goes on without an ID.
        if (found == module_file::unreadable) record_writable = false;
    }
    module_cache = module_type_of(id);
    module_last_id = id;
    if (record_writable) module_write_record(record, temporary, id);
    return module_cache;
}

uint32_t module_detected_id() {
    return module_last_id;
}

int file_exists(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 ? 1 : 0;
}

const char* read_first_line(const char* path) {
    module_read_first_line(path);
    return module_line;
}

unsigned module_type_of(uint32_t id) {
    for (const module_id_type& entry : module_ids) {
        if (entry.id == id) return entry.type;
    }
    return 0;
}

int module_parse_usbserial(const char* line, unsigned& port, uint32_t& id) {
    constexpr unsigned long usb_id_most = 0xffff;
    const char* text = line;
    unsigned long number = 0;
    unsigned long vendor = 0;
    unsigned long product = 0;
    if (!module_take_number(text, 10, 0xffffffffUL, number)) return 0;
    if (!module_take_literal(text, ":")) return 0;
    // A driver built as a loadable module (the usual case) is named before its
    // description: `N: module:option name:"GSM modem (1-port)" ...`.
    const char* after_module = text;
    if (module_take_literal(after_module, " module:") && *after_module != '\0' &&
        !isspace(static_cast<unsigned char>(*after_module))) {
        while (*after_module != '\0' && !isspace(static_cast<unsigned char>(*after_module))) {
            ++after_module;
        }
        text = after_module;
    }
    if (!module_take_literal(text, " name:\"")) return 0;
    // The driver name: one character at least, up to the closing quote.
    const char* name_end = strchr(text, '"');
    if (name_end == nullptr || name_end == text) return 0;
    text = name_end;
    if (!module_take_literal(text, "\" vendor:") ||
        !module_take_number(text, 16, usb_id_most, vendor) ||
        !module_take_literal(text, " product:") ||
        !module_take_number(text, 16, usb_id_most, product)) {
        return 0;
    }
    port = static_cast<unsigned>(number);
    id = static_cast<uint32_t>((vendor << 16) + product);
    return 1;
}

uint32_t module_parse_record(const char* line) {
    while (isspace(static_cast<unsigned char>(*line))) ++line;
    // The field is 8 characters wide, a sign or 0x included.
    char field[module_record_digits + 1] = {};
    for (size_t i = 0; i < module_record_digits && line[i] != '\0'; ++i) field[i] = line[i];
    if (field[0] == '-') return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = strtoul(field, &end, 16);
    if (end == field || errno == ERANGE || value > 0xffffffffUL) return 0;
    return static_cast<uint32_t>(value);
}
