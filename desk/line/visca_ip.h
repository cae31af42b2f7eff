// The 8-byte header that carries one VISCA message per UDP datagram:
//   payload type (2 bytes), payload length (2 bytes), sequence number (4 bytes),
// all big-endian, then the payload. The controller resets the camera's
// sequence numbering with a control command (payload 01) and numbers its
// messages from there on; every reply carries the number of the message it
// answers.
#ifndef SIM_LINE_VISCA_IP_H
#define SIM_LINE_VISCA_IP_H

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace visca_ip {

using Bytes = std::vector<uint8_t>;

enum PayloadType : uint16_t {
    Command = 0x0100,
    Inquiry = 0x0110,
    Reply = 0x0111,
    DeviceSetting = 0x0120,
    ControlCommand = 0x0200,
    ControlReply = 0x0201,
};

constexpr size_t header_size = 8;
// A VISCA message is at most 16 bytes; anything longer is not one.
constexpr size_t max_payload = 16;
constexpr uint8_t reset_payload = 0x01;  // control command: start numbering again
constexpr uint8_t reset_done = 0x01;     // control reply to it

struct Datagram {
    uint16_t type = 0;
    uint32_t sequence = 0;
    Bytes payload;
};

Bytes encode(uint16_t type, uint32_t sequence, const uint8_t *payload, size_t length);

// Checks and splits a received datagram; false with the reason when it is
// too short, too long, of an unknown type or when its length field lies.
bool decode(const uint8_t *data, size_t length, Datagram *out, std::string *why);

// The payload type a controller sends a message under: inquiry for 8x 09 ..,
// command otherwise.
uint16_t request_type(const uint8_t *message, size_t length);

// "command", "inquiry", ... or "0x1234".
std::string type_name(uint16_t type);

// Works out which request a camera's reply answers, from the VISCA reply
// forms: an acknowledge (x0 4s FF) answers the oldest unanswered command and
// opens socket s; a completion (x0 5s FF, s > 0) or error (x0 6s ..) on an
// open socket answers the oldest command still open there (a simple camera
// may open one socket again before it closes); an inquiry's answer (x0 50 ..
// with data) the oldest unanswered inquiry; any other error the oldest
// unanswered command. When nothing fits, the latest request's number.
class ReplySequencer {
public:
    void request(uint16_t type, uint32_t sequence);
    uint32_t reply(const uint8_t *bytes, size_t length);
    void reset();

private:
    static uint32_t take(std::deque<uint32_t> &queue, uint32_t fallback);

    std::deque<uint32_t> commands_;
    std::deque<uint32_t> inquiries_;
    std::map<int, std::deque<uint32_t>> sockets_;
    uint32_t latest_ = 0;
};

}  // namespace visca_ip

#endif
