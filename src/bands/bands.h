// Sets of 3GPP band numbers (LTE B20 is 20, NR n78 is 78) and the encodings the makers'
// band commands use for them: hex masks of any width with bit n-1 for band n (Quectel's
// LTE with 0x and lower-case digits, Huawei's without 0x in upper case), colon lists
// (Quectel's 5G), and one code per band (Fibocom and Intel: 100+n for LTE, "50" and the
// band's digits for NR, the number itself for UMTS). Every mask and code is derived from
// the set, never taken from a table, and every set built reads back as the same set.
// Pure code over the caller's buffers: no I/O, no heap, no state.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Band numbers run from 1 to this.
constexpr int bands_most = 999;

struct bands_set {
    uint64_t bits[(bands_most + 64) / 64];  // bit n for band n
};

void bands_clear(bands_set& set);
void bands_add(bands_set& set, int band);  // 1 to bands_most; others are ignored
[[nodiscard]] bool bands_has(const bands_set& set, int band);
[[nodiscard]] bool bands_empty(const bands_set& set);
[[nodiscard]] bool bands_equal(const bands_set& a, const bands_set& b);
[[nodiscard]] size_t bands_count(const bands_set& set);
// The lowest band above `after` (0 for the first), or 0 where there is none: the bands
// ascending, each once.
[[nodiscard]] int bands_next(const bands_set& set, int after);

// A command line's list: decimal band numbers from 1 to bands_most, without sign, leading
// zero or blank, separated by single commas ("1,3,20"); a band given twice counts once.
// False for anything else, the empty list included.
[[nodiscard]] bool bands_parse_list(const char* text, bands_set& set);

// A hex mask as a module writes it (0x or not, either case, leading zeros, blanks or
// quotes around), bit n-1 for band n, whatever its width. False where it holds anything
// else or no digit.
[[nodiscard]] bool bands_read_mask(const char* text, size_t length, bands_set& set);
// The mask of a set, without leading zeros: with "0x" and lower-case digits
// (`prefixed`), else upper-case digits alone. False where a band lies above
// `highest_band` (the highest the command's mask can carry), the set is empty, or the
// text does not fit `size` with its NUL.
[[nodiscard]] bool bands_write_mask(const bands_set& set, bool prefixed, int highest_band,
                                    char* out, size_t size);

// A list as Quectel's 5G commands write it: band numbers separated by colons (or
// commas), each perhaps after a B or an n, in parentheses or not, blanks around. False
// for anything else.
[[nodiscard]] bool bands_read_list(const char* text, size_t length, bands_set& set);
// The set as a colon list ("1:3:20"); false where it is empty or does not fit.
[[nodiscard]] bool bands_write_list(const bands_set& set, char* out, size_t size);

// What a Fibocom or Intel band code stands for: three or more digits starting with 50
// are NR (the band the digits after it: 5078 and 505 and 5005), 101 to 499 LTE (code -
// 100), 1 to 99 UMTS.
enum class bands_code { none, umts, lte, nr };
[[nodiscard]] bands_code bands_read_code(const char* text, size_t length, int& band);
// The codes of a set, each after a comma (",101,103,120" or ",501,5078"), ascending;
// false where a band can't be coded (LTE above 399), the set is empty, or they don't fit.
[[nodiscard]] bool bands_write_codes(const bands_set& set, bands_code kind, char* out, size_t size);
