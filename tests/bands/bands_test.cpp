// Band sets against the makers' encodings: every mask and code from the set's own band
// numbers (B20 is 0x80000, not the 0x800000 of a widely copied table; B66 and B71 lie
// past 64 bits), and every set written reads back as itself.
#include "bands/bands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bands_set set_of(const std::vector<int>& bands) {
    bands_set set{};
    for (int band : bands) bands_add(set, band);
    return set;
}

std::vector<int> bands_of(const bands_set& set) {
    std::vector<int> bands;
    for (int band = bands_next(set, 0); band != 0; band = bands_next(set, band)) {
        bands.push_back(band);
    }
    return bands;
}

TEST(Bands, ListsFromTheCommandLineAreNumbersAndSingleCommasAlone) {
    const struct {
        const char* text;
        std::vector<int> bands;  // empty: refused
    } cases[] = {
        {"1,3,20", {1, 3, 20}},
        {"20,3,3,1", {1, 3, 20}},
        {"999", {999}},
        {"", {}},
        {"1,,3", {}},
        {"1,3,", {}},
        {"0", {}},
        {"01", {}},
        {"1000", {}},
        {"+3", {}},
        {"0x4", {}},
        {"1, 3", {}},
        {"B3", {}},
        {"3\n", {}},
    };
    for (const auto& c : cases) {
        bands_set set{};
        EXPECT_EQ(bands_parse_list(c.text, set), !c.bands.empty()) << c.text;
        if (!c.bands.empty()) {
            EXPECT_EQ(bands_of(set), c.bands) << c.text;
        }
    }
}

// Masks both ways: Quectel's with 0x in lower case, Huawei's bare in upper case.
TEST(Bands, MasksCarryBitNMinusOneForBandNAtAnyWidth) {
    const struct {
        std::vector<int> bands;
        const char* quectel;
        const char* huawei;  // null: past its 63 bits
    } cases[] = {
        {{1}, "0x1", "1"},
        {{20}, "0x80000", "80000"},
        {{24}, "0x800000", "800000"},
        {{3, 8, 20}, "0x80084", "80084"},
        {{1, 3, 7, 8, 20, 28}, "0x80800c5", "80800C5"},
        {{1, 31}, "0x40000001", "40000001"},
        {{66}, "0x20000000000000000", nullptr},
        {{2, 4, 66, 71}, "0x42000000000000000a", nullptr},
        {{128}, "0x80000000000000000000000000000000", nullptr},
    };
    for (const auto& c : cases) {
        char text[64];
        ASSERT_TRUE(bands_write_mask(set_of(c.bands), true, 128, text, sizeof text));
        EXPECT_STREQ(text, c.quectel);
        bands_set read{};
        ASSERT_TRUE(bands_read_mask(text, strlen(text), read));
        EXPECT_EQ(bands_of(read), c.bands) << text;
        EXPECT_EQ(bands_write_mask(set_of(c.bands), false, 63, text, sizeof text),
                  c.huawei != nullptr);
        if (c.huawei != nullptr) {
            EXPECT_STREQ(text, c.huawei);
        }
    }
    char text[64];
    EXPECT_FALSE(bands_write_mask(set_of({129}), true, 128, text, sizeof text));
    EXPECT_FALSE(bands_write_mask(set_of({}), true, 128, text, sizeof text));
    EXPECT_FALSE(bands_write_mask(set_of({66}), true, 128, text, 8)) << "too small a buffer";
}

TEST(Bands, MasksAreReadAsModulesWriteThem) {
    const struct {
        const char* text;
        std::vector<int> bands;
        bool read;
    } cases[] = {
        {"0x1e00b0e18df",
         {1, 2, 3, 4, 5, 7, 8, 12, 13, 18, 19, 20, 25, 26, 28, 38, 39, 40, 41},
         true},
        {" \"0X0000080084\" ", {3, 8, 20}, true},
        {"7FFFFFFFFFFFFFFF", {}, true},
        {"0x", {}, false},
        {"0xG1", {}, false},
        {"", {}, false},
    };
    for (const auto& c : cases) {
        bands_set set{};
        EXPECT_EQ(bands_read_mask(c.text, strlen(c.text), set), c.read) << c.text;
        if (c.bands.empty()) continue;
        EXPECT_EQ(bands_of(set), c.bands) << c.text;
    }
    bands_set all{};
    ASSERT_TRUE(bands_read_mask("7FFFFFFFFFFFFFFF", 16, all));
    EXPECT_EQ(bands_count(all), 63u);
}

TEST(Bands, ColonListsAreReadTolerantlyAndWrittenBare) {
    const struct {
        const char* text;
        std::vector<int> bands;  // empty: refused
    } cases[] = {
        {"1:3:20", {1, 3, 20}},
        {"(1:3:20)", {1, 3, 20}},
        {"B1:B3:n78", {1, 3, 78}},
        {" 78 ", {78}},
        {"1,3", {1, 3}},
        {"1::3", {}},
        {"", {}},
        {"1:x", {}},
    };
    for (const auto& c : cases) {
        bands_set set{};
        EXPECT_EQ(bands_read_list(c.text, strlen(c.text), set), !c.bands.empty()) << c.text;
        if (!c.bands.empty()) {
            EXPECT_EQ(bands_of(set), c.bands) << c.text;
        }
    }
    char text[32];
    ASSERT_TRUE(bands_write_list(set_of({20, 1, 3}), text, sizeof text));
    EXPECT_STREQ(text, "1:3:20");
    EXPECT_FALSE(bands_write_list(set_of({}), text, sizeof text));
}

// Fibocom's and Intel's codes: NR as 50 and the band's digits, read whether a one-digit
// band comes as 505 or 5005.
TEST(Bands, CodesNameTheirTechnologyAndBand) {
    const struct {
        const char* text;
        bands_code kind;
        int band;
    } cases[] = {
        {"101", bands_code::lte, 1},  {"120", bands_code::lte, 20}, {"171", bands_code::lte, 71},
        {"501", bands_code::nr, 1},   {"505", bands_code::nr, 5},   {"5005", bands_code::nr, 5},
        {"5078", bands_code::nr, 78}, {"8", bands_code::umts, 8},   {"0", bands_code::none, 0},
        {"100", bands_code::none, 0}, {"50", bands_code::umts, 50}, {"x1", bands_code::none, 0},
        {"", bands_code::none, 0},
    };
    for (const auto& c : cases) {
        int band = -1;
        EXPECT_EQ(bands_read_code(c.text, strlen(c.text), band), c.kind) << c.text;
        EXPECT_EQ(band, c.band) << c.text;
    }
    char text[64];
    ASSERT_TRUE(bands_write_codes(set_of({20, 1, 3}), bands_code::lte, text, sizeof text));
    EXPECT_STREQ(text, ",101,103,120");
    ASSERT_TRUE(bands_write_codes(set_of({78, 1}), bands_code::nr, text, sizeof text));
    EXPECT_STREQ(text, ",501,5078");
    EXPECT_FALSE(bands_write_codes(set_of({400}), bands_code::lte, text, sizeof text));
}

}  // namespace
