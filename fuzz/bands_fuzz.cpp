// The band encodings on any bytes: every reader takes them without a read past their
// end, and a set made of them, written in each encoding, reads back as the same set.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bands/bands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> text(data, data + size);  // exactly as long: no NUL after it
    const char* bytes = text.data();
    bands_set set{};
    static_cast<void>(bands_read_mask(bytes, size, set));
    static_cast<void>(bands_read_list(bytes, size, set));
    int band = 0;
    static_cast<void>(bands_read_code(bytes, size, band));
    // A set from the bytes: each pair a band number.
    bands_set made{};
    for (size_t at = 0; at + 1 < size; at += 2) {
        bands_add(made, (data[at] << 8 | data[at + 1]) % bands_most + 1);
    }
    if (bands_empty(made)) return 0;
    char out[4096];
    bands_set back{};
    if (bands_write_mask(made, true, bands_most, out, sizeof out) &&
        (!bands_read_mask(out, strlen(out), back) || !bands_equal(back, made))) {
        abort();
    }
    if (bands_write_list(made, out, sizeof out) &&
        (!bands_read_list(out, strlen(out), back) || !bands_equal(back, made))) {
        abort();
    }
    if (bands_write_codes(made, bands_code::nr, out, sizeof out)) {
        bands_set codes{};
        for (const char* at = out; *at == ','; at += 1 + strcspn(at + 1, ",")) {
            if (bands_read_code(at + 1, strcspn(at + 1, ","), band) != bands_code::nr) abort();
            bands_add(codes, band);
        }
        if (!bands_equal(codes, made)) abort();
    }
    return 0;
}
