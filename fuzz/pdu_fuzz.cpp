// The SMS and USSD codec on whatever a module might give: any PDU decodes or is refused
// without reading past its end; any text that can be planned is sent in parts that read
// back as it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pdu/pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that the sanitizers see any read past the end.
    uint8_t* pdu = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
    memcpy(pdu, data, size);
    pdu_message message{};
    if (pdu_decode(pdu, size, message)) {
        if (message.text_length > sizeof message.text || message.part == 0 ||
            message.part > message.parts) {
            abort();
        }
    }
    char text[pdu_text_size];
    const auto charset = static_cast<pdu_charset>(size > 1 ? pdu[1] % 7 : 0);
    const long length = pdu_ussd_text(reinterpret_cast<const char*>(pdu), size,
                                      size > 0 ? pdu[0] : -1, charset, text, sizeof text);
    if (length > static_cast<long>(sizeof text)) abort();
    // Any request is coded within its room, or refused.
    char request[64];
    const size_t request_length = size < sizeof request - 1 ? size : sizeof request - 1;
    memcpy(request, pdu, request_length);
    request[request_length] = '\0';
    char coded[4 * sizeof request + 1];
    int dcs = 0;
    if (pdu_ussd_request(request, charset, coded, sizeof coded, dcs) >=
        static_cast<long>(sizeof coded)) {
        abort();
    }
    free(pdu);

    // The input as a text to send.
    const std::string body(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    pdu_outgoing plan{};
    if (!pdu_plan("+15551234567", body.c_str(), plan)) return 0;
    std::string joined;
    for (unsigned part = 1; part <= plan.parts; ++part) {
        char hex[2 * pdu_octets_most + 1];
        unsigned octets = 0;
        const size_t written =
            pdu_submit_hex("+15551234567", body.c_str(), plan, part, 1, hex, sizeof hex, octets);
        uint8_t bytes[pdu_octets_most];
        const long got = pdu_from_hex(hex, written, bytes, sizeof bytes);
        pdu_message back{};
        if (written == 0 || got < 0 || !pdu_decode(bytes, static_cast<size_t>(got), back)) abort();
        joined.append(back.text, back.text_length);
    }
    if (joined != body) abort();
    return 0;
}
