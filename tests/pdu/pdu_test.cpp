// The codec against vectors: 3GPP's own example and PDUs made by an encoder written
// apart from this one, grouped by what they prove.
#include "pdu/pdu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes_of(const std::string& hex) {
    std::vector<uint8_t> bytes(hex.size() / 2 + 1);
    const long length = pdu_from_hex(hex.data(), hex.size(), bytes.data(), bytes.size());
    bytes.resize(length < 0 ? 0 : static_cast<size_t>(length));
    return bytes;
}

struct decode_case {
    const char* what;
    const char* hex;
    const char* address;
    const char* time;
    std::string text;
    unsigned reference = 0;
    unsigned parts = 1;
    unsigned part = 1;
    const char* report_time = nullptr;  // a status report's: when it was delivered
};

TEST(PduDecode, VectorsGiveTheirFields) {
    const decode_case cases[] = {
        // 3GPP's example: a national number, the time zone +2 hours.
        {"published", "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
         "27838890001", "1999-03-29T15:16:59+02:00", "hellohello"},
        // The alphabet and its extension table.
        {"extension",
         "07919451020000F1040B915155214365F70000622190010000402550797A5C06D53665D08617DEF8401B94789"
         "3026D7A63D0E645066D8065D0866206",
         "+15551234567", "2026-12-09T10:00:00+01:00", "Price 5€ [a] {b} ~c \\d |e ^f"},
        // UCS-2 with a surrogate pair; a zone of minus three and a half hours.
        {"ucs2",
         "07919451020000F1040781551532F40008622190010000491C041F04400438043204350442002C0020043C043"
         "804400020D83DDC4B",
         "5551234", "2026-12-09T10:00:00-03:30", "Привет, мир 👋"},
        {"alphanumeric sender",
         "07919451020000F1040ED0D637396C7EBBCB0000621013329595000FD9775D0E1ABFC9651D28269BD100",
         "Vodafone", "2026-01-31T23:59:59+00:00", "Your code: 1234"},
        {"8-bit data, zone -00:15", "07919451020000F10404919451000462601021000018030102FF", "+4915",
         "2026-06-01T12:00:00-00:15", "\x01\x02\xff"},
        // Concatenation, 16-bit and 8-bit references; 7-bit after a header, with fill bits.
        {"16-bit reference",
         "07919451020000F1440D91683108108300F00008622190010010230F060804123402024E16754C548C5E73",
         "+8613800138000", "2026-12-09T10:00:01+08:00", "世界和平", 0x1234, 2, 2},
        {"8-bit reference",
         "07919451020000F1440B915155214365F700006221900100004020050003070301A061391DF47697416F33280"
         "C62BFDD6710BD8CA7B340",
         "+15551234567", "2026-12-09T10:00:00+01:00", "Part one of a long text, ", 7, 3, 1},
        // Time stamps that are no time, or have no zone: the text all the same.
        {"time all zero", "07919451020000F1040B915155214365F700000000000000000002C834",
         "+15551234567", "", "Hi"},
        {"day 0", "07919451020000F1040B915155214365F700006221000100004002C834", "+15551234567", "",
         "Hi"},
        {"month 32",
         "0004039151F1000062319001000040"
         "00",
         "+151", "", ""},
        {"zone FF", "07919451020000F1040B915155214365F70000622190010000FF02C834", "+15551234567",
         "2026-12-09T10:00:00", "Hi"},
        {"zone past 14 hours", "0004039151F100006221900100007700", "+151", "2026-12-09T10:00:00",
         ""},
        // A concatenation element with part 0 or one past the total is ignored, not the
        // message.
        {"part 0", "07919451020000F1440B915155214365F7000062219001000040090500030702009069",
         "+15551234567", "2026-12-09T10:00:00+01:00", "Hi"},
        {"part past the total",
         "07919451020000F1440B915155214365F7000062219001000040090500030702039069", "+15551234567",
         "2026-12-09T10:00:00+01:00", "Hi"},
        // A status report on message 42: delivered at 10:50.
        {"status report", "07919451020000F1062A0B915155214365F7622190010000406221900105004000",
         "+15551234567", "2026-12-09T10:00:00+01:00", "", 0, 1, 1, "2026-12-09T10:50:00+01:00"},
    };
    for (const decode_case& c : cases) {
        const std::vector<uint8_t> pdu = bytes_of(c.hex);
        pdu_message message{};
        ASSERT_TRUE(pdu_decode(pdu.data(), pdu.size(), message)) << c.what;
        EXPECT_STREQ(message.address, c.address) << c.what;
        EXPECT_STREQ(message.time, c.time) << c.what;
        EXPECT_EQ(std::string(message.text, message.text_length), c.text) << c.what;
        EXPECT_EQ(message.reference, c.reference) << c.what;
        EXPECT_EQ(message.parts, c.parts) << c.what;
        EXPECT_EQ(message.part, c.part) << c.what;
        if (c.report_time != nullptr) {
            EXPECT_EQ(message.kind, pdu_kind::status_report);
            EXPECT_EQ(message.report_reference, 42u);
            EXPECT_EQ(pdu_delivery_of(message.report_status), pdu_delivery::delivered);
            EXPECT_STREQ(message.report_time, c.report_time);
        }
        // Cut short anywhere, it is malformed, never read past its end.
        for (size_t cut = 0; cut < pdu.size(); ++cut) {
            const std::vector<uint8_t> part(pdu.begin(), pdu.begin() + static_cast<long>(cut));
            EXPECT_FALSE(pdu_decode(part.data(), part.size(), message)) << c.what << " cut " << cut;
        }
    }
}

TEST(PduDecode, MalformedInputIsRefused) {
    uint8_t bytes[8];
    for (const char* hex : {"0", "0G", "123", "zz"}) {
        EXPECT_EQ(pdu_from_hex(hex, strlen(hex), bytes, sizeof bytes), -1) << hex;
    }
    pdu_message message{};
    for (const char* hex : {
             "0006",  // a status report without its reference
             // A header longer than the user data.
             "0044039151F100046221900100004003090000",
         }) {
        const std::vector<uint8_t> pdu = bytes_of(hex);
        EXPECT_FALSE(pdu_decode(pdu.data(), pdu.size(), message)) << hex;
    }
}

struct send_case {
    std::string text;
    bool ucs2;
    unsigned parts;
};

std::string repeat(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

// Each part's PDU reads back as a SUBMIT of the right part, and the parts give the text.
TEST(PduSend, TextsAreSplitWholeAndReadBack) {
    const send_case cases[] = {
        {"Hello", false, 1},
        {repeat("a", 160), false, 1},
        {repeat("a", 161), false, 2},
        {repeat("€", 80), false, 1},  // 160 septets
        {repeat("€", 81), false, 2},  // an escape pair is never split
        {repeat("Я", 70), true, 1},
        {repeat("Я", 71), true, 2},
        {repeat("👋", 35), true, 1},  // 70 code units
        {repeat("👋", 36), true, 2},  // a surrogate pair is never split
        {"你好" + repeat("a", 200), true, 4},
    };
    for (const send_case& c : cases) {
        pdu_outgoing plan{};
        ASSERT_TRUE(pdu_plan("+15551234567", c.text.c_str(), plan)) << c.text;
        EXPECT_EQ(plan.ucs2, c.ucs2) << c.text;
        EXPECT_EQ(plan.parts, c.parts) << c.text;
        std::string joined;
        for (unsigned part = 1; part <= plan.parts; ++part) {
            char hex[2 * pdu_octets_most + 1];
            unsigned octets = 0;
            const size_t length = pdu_submit_hex("+15551234567", c.text.c_str(), plan, part, 9, hex,
                                                 sizeof hex, octets);
            ASSERT_GT(length, 0u) << c.text;
            EXPECT_EQ(length, 2 + 2 * octets);
            const std::vector<uint8_t> pdu = bytes_of(hex);
            pdu_message message{};
            ASSERT_TRUE(pdu_decode(pdu.data(), pdu.size(), message)) << hex;
            EXPECT_EQ(message.kind, pdu_kind::submit);
            EXPECT_STREQ(message.address, "+15551234567");
            EXPECT_EQ(message.part, part);
            EXPECT_EQ(message.parts, plan.parts);
            joined.append(message.text, message.text_length);
        }
        EXPECT_EQ(joined, c.text);
    }
}

TEST(PduSend, WhatCannotBeSentIsRefused) {
    pdu_outgoing plan{};
    EXPECT_FALSE(pdu_plan("+15551234567", "", plan));
    EXPECT_FALSE(pdu_plan("", "Hi", plan));
    EXPECT_FALSE(pdu_plan("+", "Hi", plan));
    EXPECT_FALSE(pdu_plan("+1555-1234", "Hi", plan));
    EXPECT_FALSE(pdu_plan("123456789012345678901", "Hi", plan));
    EXPECT_FALSE(pdu_plan("5551234", "bad \xff UTF-8", plan));
    EXPECT_FALSE(pdu_plan("5551234", repeat("a", 153 * 255 + 1).c_str(), plan));
    EXPECT_TRUE(pdu_plan("5551234", repeat("a", 153 * 255).c_str(), plan));
}

// A character split between two parts comes out whole once the parts are joined.
TEST(PduJoin, ACharacterSplitBetweenTwoPartsComesOutWhole) {
    const struct {
        const char* what;
        pdu_alphabet alphabet;
        std::vector<uint8_t> first;
        std::vector<uint8_t> second;
        const char* text;
    } cases[] = {
        {"GSM escape", pdu_alphabet::gsm7, {'5', 0x1b}, {0x65, '!'}, "5€!"},
        {"surrogate pair", pdu_alphabet::ucs2, {0x00, 'A', 0xd8, 0x3d}, {0xdc, 0x4b}, "A👋"},
        {"UTF-8 in 8-bit data", pdu_alphabet::data8, {'x', 0xd0}, {0x9f, 'y'}, "xПy"},
        {"nothing split", pdu_alphabet::gsm7, {'a'}, {'b'}, "ab"},
    };
    for (const auto& c : cases) {
        pdu_carry carry{c.alphabet, {}, 0};
        std::string joined;
        bool last = false;
        for (const std::vector<uint8_t>* units : {&c.first, &c.second}) {
            pdu_message part{};
            part.alphabet = c.alphabet;
            memcpy(part.units, units->data(), units->size());
            part.unit_count = units->size();
            char text[pdu_text_size];
            const long length = pdu_join(part, carry, last, text, sizeof text);
            ASSERT_GE(length, 0) << c.what;
            joined.append(text, static_cast<size_t>(length));
            last = true;
        }
        EXPECT_EQ(joined, c.text) << c.what;
    }
}

TEST(PduUssd, AnswersAreDecodedByTheirCodingAndTheCharacterSet) {
    const struct {
        const char* given;
        int dcs;
        pdu_charset charset;
        const char* text;
    } cases[] = {
        {"041C0435043D044E", 72, pdu_charset::gsm, "Меню"},
        {"Your balance is 5.00", 15, pdu_charset::gsm, "Your balance is 5.00"},
        // Text in the module's character set is never read as anything else.
        {"4321", 15, pdu_charset::gsm, "4321"},
        {"7777", 15, pdu_charset::ira, "7777"},
        {"C8329BFD06DDDF72", 15, pdu_charset::gsm, "C8329BFD06DDDF72"},
        {"0031", 15, pdu_charset::ucs2, "1"},
        // Cell broadcast's schemes: 8 is GSM 7-bit in a language, 17 UCS-2 after its
        // language ("ru" packed), 16 GSM 7-bit after its language and a carriage return.
        {"CAFE", 8, pdu_charset::gsm, "CAFE"},
        {"F23A04140430", 17, pdu_charset::gsm, "Да"},
        {"en\rHello", 16, pdu_charset::gsm, "Hello"},
        {"C3A9", 68, pdu_charset::gsm, "é"},                 // 8-bit data, as hex
        {"48656C6C6F1B65", 15, pdu_charset::hex, "Hello€"},  // septets, as hex
        {"caf\xe9", 15, pdu_charset::latin1, "café"},
    };
    for (const auto& c : cases) {
        char text[pdu_text_size];
        const long length =
            pdu_ussd_text(c.given, strlen(c.given), c.dcs, c.charset, text, sizeof text);
        ASSERT_GE(length, 0) << c.given;
        EXPECT_EQ(std::string(text, static_cast<size_t>(length)), c.text) << c.given;
    }
}

TEST(PduUssd, RequestsAreCodedInTheCharacterSetOrRefused) {
    const struct {
        const char* request;
        pdu_charset charset;
        const char* coded;  // null: refused
        int dcs;
    } cases[] = {
        {"*100#", pdu_charset::gsm, "*100#", 15},
        {"*100#", pdu_charset::ucs2, "002A0031003000300023", 15},
        {"Да", pdu_charset::ucs2, "04140430", 72},
        {"👋", pdu_charset::ucs2, "D83DDC4B", 72},
        {"1€", pdu_charset::hex, "311B65", 15},
        {"é", pdu_charset::latin1, "\xe9", 15},
        {"é", pdu_charset::utf8, "é", 15},
        // Characters the set has no byte of their own for.
        {"é", pdu_charset::gsm, nullptr, 0},
        {"$5", pdu_charset::gsm, nullptr, 0},
        {"é", pdu_charset::ira, nullptr, 0},
        {"Да", pdu_charset::hex, nullptr, 0},
    };
    for (const auto& c : cases) {
        char coded[1024];
        int dcs = 0;
        const long length = pdu_ussd_request(c.request, c.charset, coded, sizeof coded, dcs);
        if (c.coded == nullptr) {
            EXPECT_LT(length, 0) << c.request;
            continue;
        }
        ASSERT_GE(length, 0) << c.request;
        EXPECT_STREQ(coded, c.coded) << c.request;
        EXPECT_EQ(dcs, c.dcs) << c.request;
    }
    // 160 bytes, each four hex digits under UCS2.
    char coded[1024];
    int dcs = 0;
    EXPECT_EQ(
        pdu_ussd_request(repeat("1", 160).c_str(), pdu_charset::ucs2, coded, sizeof coded, dcs),
        640);
}

}  // namespace
