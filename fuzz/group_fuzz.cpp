// How a listing's stored messages make up messages, on any mix of parts: copies of a
// part, one sender's reference used for several messages, parts of other senders and
// single messages between them. Every stored message must belong to exactly one message,
// listed once, its parts in order, complete only with every part there.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "message/message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each stored message from two bytes: which of four senders, and a part of one of
    // four references, of up to four parts; a high bit leaves it undecodable.
    static message_stored table[message_stored_most];
    const int count =
        static_cast<int>(size / 2 < message_stored_most ? size / 2 : message_stored_most);
    for (int i = 0; i < count; ++i) {
        const uint8_t who = data[2 * i];
        const uint8_t what = data[2 * i + 1];
        message_stored& stored = table[i];
        stored = {};
        stored.index = i;
        stored.decoded = (who & 0x80) == 0;
        stored.message.kind = (who & 0x40) ? pdu_kind::submit : pdu_kind::deliver;
        stored.message.address[0] = static_cast<char>('a' + (who & 3));
        stored.message.reference = what & 3u;
        stored.message.parts = 1 + ((what >> 2) & 3u);
        stored.message.part = 1 + ((what >> 4) & 3u) % stored.message.parts;
    }
    int leaders[message_stored_most];
    message_find_groups(table, count, leaders);
    int listed[message_stored_most] = {};
    for (int position = 0; position < count; ++position) {
        int members[message_stored_most];
        bool complete = false;
        const int found = message_members(table, count, leaders, position, members, complete);
        unsigned last_part = 0;
        for (int m = 0; m < found; ++m) {
            ++listed[members[m]];
            const pdu_message& part = table[members[m]].message;
            if (found > 1 &&
                (part.part <= last_part || part.parts != table[position].message.parts))
                abort();
            last_part = part.part;
        }
        if (found > 0 && complete != (found == static_cast<int>(table[position].decoded
                                                                    ? table[position].message.parts
                                                                    : 1))) {
            abort();
        }
    }
    for (int position = 0; position < count; ++position) {
        if (listed[position] != 1) abort();
    }
    return 0;
}
