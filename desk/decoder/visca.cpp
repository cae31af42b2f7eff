#include "visca.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace visca {

namespace {

bool matches(const Bytes &b, std::initializer_list<int> prefix, size_t length) {
    if (b.size() != length) {
        return false;
    }
    size_t i = 0;
    for (int v : prefix) {
        if (b[i++] != v) {
            return false;
        }
    }
    return b.back() == 0xFF;
}

// 00 stop, 02/03 standard speed, 2p/3p variable speed. `plus_high` is the
// high nibble that means the driver's positive direction (2 for tele, 3 for near).
bool decode_lens(uint8_t param, int plus_high, Message &m) {
    const int high = param >> 4;
    const int low = param & 0x0F;
    if (param == 0x00) {
        m.lens_dir = 0;
        return true;
    }
    if (param == 0x02 || param == 0x03) {
        m.lens_dir = (param == 0x02) == (plus_high == 2) ? 1 : -1;
        m.lens_speed = -1;
        return true;
    }
    if ((high == 2 || high == 3) && low <= 7) {
        m.lens_dir = high == plus_high ? 1 : -1;
        m.lens_speed = low;
        return true;
    }
    return false;
}

bool decode_on_off(uint8_t param, Message &m) {
    if (param != 0x02 && param != 0x03) {
        return false;
    }
    m.code = param;
    m.on = param == 0x02;
    return true;
}

std::string byte_text(int v) {
    char buf[8];
    snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

std::string lens_text(const char *axis, const Message &m, const char *plus, const char *minus) {
    std::string s = axis;
    if (m.lens_dir == 0) {
        return s + " stop";
    }
    s += " ";
    s += m.lens_dir > 0 ? plus : minus;
    if (m.lens_speed < 0) {
        return s + ", standard speed";
    }
    return s + ", speed " + std::to_string(m.lens_speed);
}

const char *ae_mode_name(int code) {
    switch (code) {
    case 0x00: return "full auto";
    case 0x03: return "manual";
    case 0x0A: return "shutter priority";
    case 0x0B: return "iris priority";
    case 0x0D: return "bright";
    default: return nullptr;
    }
}

const char *error_name(int code) {
    switch (code) {
    case 0x02: return "syntax error";
    case 0x03: return "command buffer full";
    case 0x04: return "command cancelled";
    case 0x05: return "no socket";
    case 0x41: return "command not executable";
    default: return "error";
    }
}

// 90 50 ... FF with data; the length tells which inquiry it answers, except
// that zoom and focus replies have the same length.
void decode_inquiry_reply(const Bytes &b, Message &m) {
    const size_t n = b.size();
    for (size_t i = 2; i + 1 < n; ++i) {
        // Position data bytes carry one nibble each.
        if ((n == 7 || n == 11) && b[i] > 0x0F) return;
    }
    m.kind = Kind::InquiryReply;
    if (n == 11 || n == 7) {
        m.values = position_values(Bytes(b.begin() + 2, b.end() - 1), n == 11);
    } else if (n == 4) {
        m.values = {b[2]};
    } else if (n == 5) {
        m.values = {b[2], b[3]};
    } else {
        m.values = {b[2] << 8 | b[3], b[4] << 8 | b[5], b[6] << 8 | b[7], b[8]};
    }
}

std::string hex8(int v) {
    char buf[8];
    snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

std::string hex16(int v) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFF);
    return buf;
}

std::string reply_text(const Message &m, Kind inquiry) {
    const std::vector<int> &v = m.values;
    switch (v.size()) {
    case 2:
        if (m.bytes.size() == 11) {
            return "pan-tilt position: pan " + std::to_string(v[0]) + ", tilt " + std::to_string(v[1]);
        } else {
            std::string s = std::string("pan-tilt status: ") +
                            ((v[0] & status_moving) != 0 ? "moving" : "stopped");
            const struct {
                int bit;
                const char *name;
            } ends[] = {{end_pan_left, "pan left"}, {end_pan_right, "pan right"},
                        {end_tilt_down, "tilt lower"}, {end_tilt_up, "tilt upper"}};
            for (const auto &e : ends) {
                if ((v[1] & e.bit) != 0) s += std::string(", at the ") + e.name + " end";
            }
            return s;
        }
    case 1: {
        if (m.bytes.size() == 4) {
            const int mode = v[0];
            if (inquiry != Kind::FocusModeInquiry) return "mode " + hex8(mode);
            return std::string("focus mode ") +
                   (mode == focus_auto ? "auto" : mode == focus_manual ? "manual" : hex8(mode).c_str());
        }
        const char *what = inquiry == Kind::ZoomPositionInquiry    ? "zoom position "
                           : inquiry == Kind::FocusPositionInquiry ? "focus position "
                                                                   : "zoom or focus position ";
        return what + std::to_string(v[0]) + " (" + hex16(v[0]) + ")";
    }
    default:
        return "version: vendor " + hex16(v[0]) + ", model " + hex16(v[1]) + ", ROM " + hex16(v[2]) +
               ", sockets " + std::to_string(v[3]);
    }
}

}  // namespace

std::vector<int> position_values(const Bytes &data, bool is_signed) {
    std::vector<int> values;
    for (size_t at = 0; at + 4 <= data.size(); at += 4) {
        // 0p 0q 0r 0s: one 16-bit value in the low nibbles of four bytes.
        const int v = (data[at] & 0x0F) << 12 | (data[at + 1] & 0x0F) << 8 | (data[at + 2] & 0x0F) << 4 |
                      (data[at + 3] & 0x0F);
        values.push_back(is_signed && v >= 0x8000 ? v - 0x10000 : v);
    }
    return values;
}

Bytes position_reply(std::initializer_list<int> values) {
    Bytes out = {0x90, 0x50};
    for (int v : values) {
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<uint8_t>((v >> shift) & 0x0F));
    }
    out.push_back(0xFF);
    return out;
}

Message decode(const Bytes &b) {
    Message m;
    m.bytes = b;
    if (b.size() < 3 || b.back() != 0xFF) {
        return m;
    }
    const size_t n = b.size();

    if ((b[0] & 0xF0) == 0x90) {
        const int type = b[1] & 0xF0;
        const int socket = b[1] & 0x0F;
        if (n == 3 && type == 0x40) {
            m.kind = Kind::Ack;
            m.number = socket;
        } else if (n == 3 && type == 0x50) {
            m.kind = Kind::Completion;
            m.number = socket;
        } else if (n == 4 && type == 0x60) {
            m.kind = Kind::Error;
            m.number = socket;
            m.code = b[2];
        } else if (b[1] == 0x50 && (n == 4 || n == 5 || n == 7 || n == 10 || n == 11)) {
            decode_inquiry_reply(b, m);
        }
        return m;
    }
    if (b[0] == 0x81 && b[1] == 0x09 && n == 5) {
        static const struct {
            uint8_t category, item;
            Kind kind;
        } inquiries[] = {{0x06, 0x12, Kind::PanTiltPositionInquiry},
                         {0x04, 0x47, Kind::ZoomPositionInquiry},
                         {0x04, 0x48, Kind::FocusPositionInquiry},
                         {0x06, 0x10, Kind::PanTiltStatusInquiry},
                         {0x00, 0x02, Kind::VersionInquiry},
                         {0x04, 0x38, Kind::FocusModeInquiry}};
        for (const auto &q : inquiries) {
            if (b[2] == q.category && b[3] == q.item) m.kind = q.kind;
        }
        return m;
    }
    if (b[0] != 0x81 || b[1] != 0x01) {
        return m;
    }

    if (matches(b, {0x81, 0x01, 0x06, 0x01}, 9)) {
        const int pan = b[6], tilt = b[7];
        if (pan < 1 || pan > 3 || tilt < 1 || tilt > 3 || b[4] > 0x7F || b[5] > 0x7F) {
            return m;
        }
        m.kind = Kind::PanTiltDrive;
        m.pan_speed = b[4];
        m.tilt_speed = b[5];
        m.pan_dir = pan == 1 ? -1 : pan == 2 ? 1 : 0;
        m.tilt_dir = tilt == 1 ? 1 : tilt == 2 ? -1 : 0;
        return m;
    }
    if (matches(b, {0x81, 0x01, 0x06, 0x00}, 6)) {
        const int relay = (b[4] >> 4) - 0x0A + 1;  // A0 relay 1, B0 relay 2, C0 relay 3
        const int action = b[4] & 0x0F;
        if (relay >= 1 && relay <= 3 && (action == 2 || action == 3)) {
            m.kind = Kind::Relay;
            m.number = relay;
            m.on = action == 2;
            m.code = b[4];
        }
        return m;
    }
    if (matches(b, {0x81, 0x01, 0x04, 0x3F}, 7)) {
        if (b[4] <= 0x02) {
            m.kind = Kind::Memory;
            m.code = b[4];
            m.number = b[5];
        }
        return m;
    }
    if (n != 6 || b[2] != 0x04) {
        return m;
    }
    const uint8_t param = b[4];
    switch (b[3]) {
    case 0x07:
        if (decode_lens(param, 2, m)) m.kind = Kind::ZoomDrive;
        break;
    case 0x08:
        if (decode_lens(param, 3, m)) m.kind = Kind::FocusDrive;
        break;
    case 0x38:
        if (param == 0x02 || param == 0x03 || param == 0x10) {
            m.kind = Kind::FocusMode;
            m.code = param;
        }
        break;
    case 0x39:
        if (ae_mode_name(param) != nullptr) {
            m.kind = Kind::AeMode;
            m.code = param;
        }
        break;
    case 0x0D:
        if (param == 0x00 || param == 0x02 || param == 0x03) {
            m.kind = Kind::Bright;
            m.code = param;
        }
        break;
    case 0x33:
        if (decode_on_off(param, m)) m.kind = Kind::Backlight;
        break;
    case 0x51:
        if (decode_on_off(param, m)) m.kind = Kind::AutoIrCut;
        break;
    case 0x01:
        if (decode_on_off(param, m)) m.kind = Kind::IrCutFilter;
        break;
    case 0x15:
        if (decode_on_off(param, m)) m.kind = Kind::Menu;
        break;
    default:
        break;
    }
    return m;
}

std::string describe(const Message &m, Kind inquiry) {
    switch (m.kind) {
    case Kind::PanTiltDrive: {
        if (m.pan_dir == 0 && m.tilt_dir == 0) {
            return "pan-tilt stop";
        }
        std::string pan = m.pan_dir == 0 ? "pan stop"
                                         : std::string("pan ") + (m.pan_dir > 0 ? "right" : "left") +
                                               " at " + byte_text(m.pan_speed);
        std::string tilt = m.tilt_dir == 0 ? "tilt stop"
                                           : std::string("tilt ") + (m.tilt_dir > 0 ? "up" : "down") +
                                                 " at " + byte_text(m.tilt_speed);
        return "pan-tilt drive: " + (m.pan_dir != 0 || m.tilt_dir == 0 ? pan + ", " + tilt
                                                                       : tilt + ", " + pan);
    }
    case Kind::ZoomDrive: return lens_text("zoom", m, "tele", "wide");
    case Kind::FocusDrive: return lens_text("focus", m, "near", "far");
    case Kind::FocusMode:
        return m.code == 0x02 ? "focus mode auto" : m.code == 0x03 ? "focus mode manual"
                                                                   : "focus mode auto/manual toggle";
    case Kind::AeMode: return std::string("exposure mode ") + ae_mode_name(m.code);
    case Kind::Bright:
        return m.code == 0x02 ? "bright up" : m.code == 0x03 ? "bright down" : "bright reset";
    case Kind::Memory: {
        const char *what = m.code == 0 ? "memory reset " : m.code == 1 ? "memory set " : "memory recall ";
        return what + std::to_string(m.number) + " (preset " + std::to_string(m.number + 1) + ")";
    }
    case Kind::Backlight: return m.on ? "backlight compensation on" : "backlight compensation off";
    case Kind::AutoIrCut: return m.on ? "IR-cut auto switching on" : "IR-cut auto switching off";
    case Kind::IrCutFilter:
        return m.on ? "IR-cut filter removed (night)" : "IR-cut filter in place (day)";
    case Kind::Relay: return "relay " + std::to_string(m.number) + (m.on ? " on" : " off");
    case Kind::Menu: return m.on ? "menu open" : "menu close";
    case Kind::Ack: return "acknowledge, socket " + std::to_string(m.number);
    case Kind::Completion: return "completion, socket " + std::to_string(m.number);
    case Kind::Error:
        return std::string(error_name(m.code)) + ", socket " + std::to_string(m.number);
    case Kind::PanTiltPositionInquiry: return "inquiry: pan-tilt position";
    case Kind::ZoomPositionInquiry: return "inquiry: zoom position";
    case Kind::FocusPositionInquiry: return "inquiry: focus position";
    case Kind::PanTiltStatusInquiry: return "inquiry: pan-tilt status";
    case Kind::VersionInquiry: return "inquiry: version";
    case Kind::FocusModeInquiry: return "inquiry: focus mode";
    case Kind::InquiryReply: return reply_text(m, inquiry);
    case Kind::Unknown: break;
    }
    return "unknown: " + hex(m.bytes);
}

std::string hex(const uint8_t *bytes, size_t length) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < length; ++i) {
        snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
        s += buf;
    }
    return s;
}

std::string hex(const Bytes &bytes) { return hex(bytes.data(), bytes.size()); }

std::vector<Assembler::Piece> Assembler::feed(const uint8_t *data, size_t length) {
    std::vector<Piece> out;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        if (partial_.empty()) {
            // A message starts with a header byte (high bit set); anything
            // else between messages is line noise.
            if ((b & 0x80) != 0 && b != 0xFF) {
                if (!stray_.empty()) {
                    out.push_back({Piece::Stray, stray_});
                    stray_.clear();
                }
                partial_.push_back(b);
            } else {
                // Noise is handed on in bounded pieces, so a stream of it
                // never piles up here.
                stray_.push_back(b);
                if (stray_.size() >= max_stray) {
                    out.push_back({Piece::Stray, stray_});
                    stray_.clear();
                }
            }
            continue;
        }
        partial_.push_back(b);
        if (b == 0xFF) {
            out.push_back({Piece::Message, partial_});
            partial_.clear();
        } else if (partial_.size() >= max_message) {
            out.push_back({Piece::Overlong, partial_});
            partial_.clear();
        }
    }
    return out;
}

std::vector<Assembler::Piece> Assembler::finish() {
    std::vector<Piece> out;
    if (!stray_.empty()) {
        out.push_back({Piece::Stray, stray_});
        stray_.clear();
    }
    if (!partial_.empty()) {
        out.push_back({Piece::Incomplete, partial_});
        partial_.clear();
    }
    return out;
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "12.345", "12.345s", "[12.345]", "12:03:04.250" (a clock time, taken as seconds of the day).
std::optional<double> parse_time(std::string word) {
    if (word.size() >= 2 && word.front() == '[' && word.back() == ']') {
        word = word.substr(1, word.size() - 2);
    }
    if (!word.empty() && word.back() == 's') {
        word.pop_back();
    }
    if (word.find('.') == std::string::npos && word.find(':') == std::string::npos) {
        return std::nullopt;
    }
    double total = 0;
    size_t start = 0;
    while (true) {
        const size_t colon = word.find(':', start);
        const std::string part = word.substr(start, colon == std::string::npos ? std::string::npos
                                                                                : colon - start);
        if (part.empty()) {
            return std::nullopt;
        }
        char *end = nullptr;
        const double v = strtod(part.c_str(), &end);
        if (end == nullptr || *end != '\0' || !isdigit(static_cast<unsigned char>(part[0]))) {
            return std::nullopt;
        }
        total = total * 60 + v;
        if (colon == std::string::npos) {
            return total;
        }
        start = colon + 1;
    }
}

}  // namespace

namespace {

// 2024-05-01
bool is_date(const std::string &w) {
    if (w.size() != 10 || w[4] != '-' || w[7] != '-') return false;
    for (size_t k : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!isdigit(static_cast<unsigned char>(w[k]))) return false;
    }
    return true;
}

bool is_direction(const std::string &w) {
    if (w == "->" || w == "<-" || w == ">" || w == "<" || w == ">>" || w == "<<") return true;
    if (w.size() < 2 || w.back() != ':') return false;
    for (size_t k = 0; k + 1 < w.size(); ++k) {
        if (!isalpha(static_cast<unsigned char>(w[k]))) return false;
    }
    return true;
}

// "81-01-04" -> "810104"; anything else as it is.
std::string dashed_pairs(const std::string &w) {
    if (w.size() < 5 || w.size() % 3 != 2) return w;
    std::string out;
    for (size_t k = 0; k < w.size(); k += 3) {
        if (k + 2 < w.size() && w[k + 2] != '-') return w;
        out += w.substr(k, 2);
    }
    return out;
}

}  // namespace

std::optional<HexLine> parse_hex_line(const std::string &line, std::string *error) {
    HexLine out;
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (isspace(static_cast<unsigned char>(c)) || c == ',' || c == ';') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);

    // What sniffers put before the bytes, in any order: a date, a time, a
    // direction mark ("->", ">", "<<") or label ("TX:", "Read:").
    size_t i = 0;
    for (bool more = true; more && i < words.size();) {
        const std::string &w = words[i];
        more = true;
        if (is_date(w) || is_direction(w)) {
            ++i;
        } else if (!out.time && (out.time = parse_time(w))) {
            ++i;
        } else {
            more = false;
        }
    }
    for (; i < words.size(); ++i) {
        std::string w = dashed_pairs(words[i]);
        if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
            w = w.substr(2);
        }
        bool all_hex = !w.empty();
        for (char c : w) {
            all_hex = all_hex && hex_digit(c) >= 0;
        }
        if (!all_hex) {
            break;  // the rest is commentary
        }
        if (w.size() % 2 != 0) {
            if (error != nullptr) {
                *error = "odd number of hex digits in '" + words[i] + "'";
            }
            return std::nullopt;
        }
        for (size_t k = 0; k < w.size(); k += 2) {
            out.bytes.push_back(static_cast<uint8_t>(hex_digit(w[k]) * 16 + hex_digit(w[k + 1])));
        }
    }
    return out;
}

std::string format_time(double seconds) {
    char buf[32];
    snprintf(buf, sizeof buf, "%11.6f", seconds);
    return buf;
}

}  // namespace visca
