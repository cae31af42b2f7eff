#include "visca_ip.h"

#include <algorithm>

#include <stdio.h>

namespace visca_ip {

namespace {

// Without replies from the camera nothing is ever taken off the queues;
// keep only the recent past.
constexpr size_t queue_limit = 32;

bool known_type(uint16_t type) {
    switch (type) {
    case Command:
    case Inquiry:
    case Reply:
    case DeviceSetting:
    case ControlCommand:
    case ControlReply: return true;
    default: return false;
    }
}

}  // namespace

Bytes encode(uint16_t type, uint32_t sequence, const uint8_t *payload, size_t length) {
    // Sized once and filled in place: appending to an initialised header
    // trips a false out-of-bounds warning of GCC 12 at -O3.
    Bytes out(header_size + length);
    const uint8_t header[header_size] = {
        static_cast<uint8_t>(type >> 8),      static_cast<uint8_t>(type),
        static_cast<uint8_t>(length >> 8),    static_cast<uint8_t>(length),
        static_cast<uint8_t>(sequence >> 24), static_cast<uint8_t>(sequence >> 16),
        static_cast<uint8_t>(sequence >> 8),  static_cast<uint8_t>(sequence)};
    std::copy(header, header + header_size, out.begin());
    if (length > 0) std::copy(payload, payload + length, out.begin() + header_size);
    return out;
}

bool decode(const uint8_t *data, size_t length, Datagram *out, std::string *why) {
    if (length < header_size) {
        *why = std::to_string(length) + " bytes, shorter than the header";
        return false;
    }
    const uint16_t type = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const size_t declared = static_cast<size_t>(data[2] << 8 | data[3]);
    const size_t carried = length - header_size;
    if (!known_type(type)) {
        *why = "unknown payload type " + type_name(type);
        return false;
    }
    if (declared != carried) {
        *why = "length field says " + std::to_string(declared) + " bytes, " + std::to_string(carried) + " follow";
        return false;
    }
    if (carried == 0 || carried > max_payload) {
        *why = "payload of " + std::to_string(carried) + " bytes (1.." + std::to_string(max_payload) + ")";
        return false;
    }
    out->type = type;
    out->sequence = static_cast<uint32_t>(data[4]) << 24 | static_cast<uint32_t>(data[5]) << 16 |
                    static_cast<uint32_t>(data[6]) << 8 | data[7];
    out->payload.assign(data + header_size, data + length);
    return true;
}

uint16_t request_type(const uint8_t *message, size_t length) {
    return length >= 2 && (message[0] & 0xF0) == 0x80 && message[1] == 0x09 ? Inquiry : Command;
}

std::string type_name(uint16_t type) {
    switch (type) {
    case Command: return "command";
    case Inquiry: return "inquiry";
    case Reply: return "reply";
    case DeviceSetting: return "device setting";
    case ControlCommand: return "control command";
    case ControlReply: return "control reply";
    default: {
        char buf[8];
        snprintf(buf, sizeof buf, "0x%04X", type);
        return buf;
    }
    }
}

void ReplySequencer::request(uint16_t type, uint32_t sequence) {
    latest_ = sequence;
    std::deque<uint32_t> &queue = type == Inquiry ? inquiries_ : commands_;
    queue.push_back(sequence);
    if (queue.size() > queue_limit) queue.pop_front();
}

uint32_t ReplySequencer::take(std::deque<uint32_t> &queue, uint32_t fallback) {
    if (queue.empty()) return fallback;
    const uint32_t s = queue.front();
    queue.pop_front();
    return s;
}

uint32_t ReplySequencer::reply(const uint8_t *bytes, size_t length) {
    if (length < 3) return latest_;
    const int kind = bytes[1] & 0xF0;
    const int socket = bytes[1] & 0x0F;
    if (kind == 0x40) {
        const uint32_t s = take(commands_, latest_);
        std::deque<uint32_t> &open = sockets_[socket];
        open.push_back(s);
        if (open.size() > queue_limit) open.pop_front();
        return s;
    }
    if ((kind == 0x50 || kind == 0x60) && socket > 0 && !sockets_[socket].empty()) {
        return take(sockets_[socket], latest_);
    }
    if (kind == 0x50 && socket == 0 && length > 3) return take(inquiries_, latest_);
    if (kind == 0x60 || kind == 0x50) return take(commands_, latest_);
    return latest_;
}

void ReplySequencer::reset() { *this = ReplySequencer(); }

}  // namespace visca_ip
