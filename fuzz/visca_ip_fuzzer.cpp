// libFuzzer target: the 8-byte header of VISCA over IP. A datagram that
// decodes must encode back to the same bytes; one that does not must say
// why. The input then drives the reply sequencer as a camera's traffic
// would: every reply is matched to a number sent since the last reset.
#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

#include "fuzz_check.h"
#include "visca_ip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    visca_ip::Datagram d;
    std::string why;
    if (visca_ip::decode(data, size, &d, &why)) {
        const visca_ip::Bytes again = visca_ip::encode(d.type, d.sequence, d.payload.data(), d.payload.size());
        FUZZ_CHECK(again == visca_ip::Bytes(data, data + size), "encode(decode) differs");
        FUZZ_CHECK(!d.payload.empty() && d.payload.size() <= visca_ip::max_payload, "payload of %zu", d.payload.size());
        FUZZ_CHECK(visca_ip::type_name(d.type).size() > 0, "type without a name");
    } else {
        FUZZ_CHECK(!why.empty(), "refused without a reason");
    }

    // Records of {kind, 4 bytes sequence or a reply's length, bytes...}.
    visca_ip::ReplySequencer sequencer;
    std::set<uint32_t> sent;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t kind = data[at++];
        if (kind % 4 == 3) {
            sequencer.reset();
            sent.clear();
            continue;
        }
        if (kind % 4 != 0) {
            if (at + 4 > size) break;
            const uint32_t s = static_cast<uint32_t>(data[at]) << 24 | static_cast<uint32_t>(data[at + 1]) << 16 |
                               static_cast<uint32_t>(data[at + 2]) << 8 | data[at + 3];
            at += 4;
            sequencer.request(kind % 4 == 1 ? visca_ip::Command : visca_ip::Inquiry, s);
            sent.insert(s);
            continue;
        }
        const size_t length = data[at++] % 17;
        const size_t n = length < size - at ? length : size - at;
        const uint32_t answered = sequencer.reply(data + at, n);
        at += n;
        // 0: nothing sent yet when the reply (or the acknowledge it follows) came.
        FUZZ_CHECK(sent.count(answered) == 1 || answered == 0, "reply matched to %u, not sent since the reset",
                   answered);
    }
    return 0;
}
