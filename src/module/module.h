// Which modem module sits in a slot, and where its AT port is. The module ID,
// (USB vendor << 16) + product, comes from the first source that has one: the slot's
// probe device node, /dev/ttyACM0, the kernel's USB serial table, then the slot's ID
// record file, which every detection rewrites. The ID maps to a module type; types of
// 2 and above are kept for the rest of the process, 0 and 1 are detected afresh.
#pragma once

#include <stdint.h>

// The AT port's device node for the slot's module type (never null).
[[nodiscard]] const char* module_port_path(int slot);

// The slot's module type, 0 to 13 (0: unknown); a negative slot gives 0.
[[nodiscard]] unsigned module_type(int slot);

// Detects the slot's module ID, records it in /var/data/plmnWhitelist/module_<slot>_id
// and returns its type. A record file that exists but can't be read is left as it is.
unsigned module_detect(int slot);

// The module ID the last detection found, as the record holds it; 0 for none.
[[nodiscard]] uint32_t module_detected_id();

// 1 when stat(2) succeeds for the path, else 0.
[[nodiscard]] int file_exists(const char* path);

// The file's first line (at most 255 characters) without its line end; empty when the
// file can't be read or is no regular file (never opened then, so a FIFO can't hang
// it). Points into a per-thread buffer valid until the next call.
[[nodiscard]] const char* read_first_line(const char* path);

// The module type an ID maps to; 0 for IDs not in the table.
[[nodiscard]] unsigned module_type_of(uint32_t id);

// One line (or 128-byte piece) of the USB serial table, as the kernel writes it:
// `N: name:"driver" vendor:VVVV product:PPPP ...`, with ` module:<driver>` before
// ` name:` where the driver is a loadable module. 1 with the port number and the
// module ID when all three are there and in range, else 0.
[[nodiscard]] int module_parse_usbserial(const char* line, unsigned& port, uint32_t& id);

// The ID in a record file's first line, read as "%08x" reads it; 0 when there is none.
[[nodiscard]] uint32_t module_parse_record(const char* line);
