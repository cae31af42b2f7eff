// VISCA messages as the desk programs see them: a decoder for every frame the
// driver sends (and the camera's usual replies), a reassembler that cuts a
// byte stream into messages whatever its chunking, and a reader for hex text
// as serial sniffers print it.
//
// The virtual camera, the stand-in host's trace and the frame decoder program
// all use this one decoder, so they always agree on what a frame means.
#ifndef SIM_VISCA_H
#define SIM_VISCA_H

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace visca {

using Bytes = std::vector<uint8_t>;

// Longest message we accept before the terminator; VISCA packets are at most
// 16 bytes.
constexpr size_t max_message = 16;

enum class Kind {
    PanTiltDrive,  // 81 01 06 01 VV WW dp dt FF
    ZoomDrive,     // 81 01 04 07 (00 | 02 | 03 | 2p | 3p) FF
    FocusDrive,    // 81 01 04 08 (00 | 02 | 03 | 2p | 3p) FF
    FocusMode,     // 81 01 04 38 (02 | 03 | 10) FF
    AeMode,        // 81 01 04 39 mm FF
    Bright,        // 81 01 04 0D (00 | 02 | 03) FF
    Memory,        // 81 01 04 3F (00 | 01 | 02) pp FF
    Backlight,     // 81 01 04 33 (02 | 03) FF
    AutoIrCut,     // 81 01 04 51 (02 | 03) FF
    IrCutFilter,   // 81 01 04 01 (02 | 03) FF
    Relay,         // 81 01 06 00 CC FF
    Menu,          // 81 01 04 15 (02 | 03) FF
    Ack,           // 9x 4s FF
    Completion,    // 9x 5s FF
    Error,         // 9x 6s ee FF
    PanTiltPositionInquiry,  // 81 09 06 12 FF
    ZoomPositionInquiry,     // 81 09 04 47 FF
    FocusPositionInquiry,    // 81 09 04 48 FF
    PanTiltStatusInquiry,    // 81 09 06 10 FF
    VersionInquiry,          // 81 09 00 02 FF
    FocusModeInquiry,        // 81 09 04 38 FF
    InquiryReply,            // 90 50 data FF, data of 1, 2, 4, 7 or 8 bytes
    Unknown,
};

// Direction of a pan-tilt or lens drive, in the driver's sign convention:
// +1 right, up, tele, near; -1 left, down, wide, far; 0 stopped.
struct Message {
    Kind kind = Kind::Unknown;
    Bytes bytes;

    int pan_dir = 0, tilt_dir = 0;      // PanTiltDrive
    int pan_speed = 0, tilt_speed = 0;  // PanTiltDrive speed bytes
    int lens_dir = 0;                   // ZoomDrive, FocusDrive
    int lens_speed = -1;                // nibble 0..7; -1 = the camera's standard speed
    int code = 0;       // FocusMode, AeMode, Bright, Backlight, AutoIrCut, IrCutFilter, Menu:
                        // the mode byte; Memory: 0 reset, 1 set, 2 recall; Error: error code
    int number = 0;     // Memory: memory number; Relay: relay 1..3; Ack/Completion/Error: socket
    bool on = false;    // Relay, Backlight, AutoIrCut, IrCutFilter (filter removed), Menu (open)
    // InquiryReply: the values it carries. Position replies: one 16-bit value
    // per nibble group (pan and tilt signed, lens unsigned); status: the two
    // data bytes; version: vendor, model, ROM version, sockets; a mode: its byte.
    std::vector<int> values;

    bool is_inquiry() const { return bytes.size() >= 2 && (bytes[0] & 0xF0) == 0x80 && bytes[1] == 0x09; }

    bool is_command() const { return !bytes.empty() && (bytes[0] & 0xF0) == 0x80 && !is_inquiry(); }
    bool is_reply() const { return !bytes.empty() && (bytes[0] & 0xF0) == 0x90; }
};

// Decodes one complete message (header to FF terminator).
Message decode(const Bytes &bytes);

// One line of plain English for a decoded message. A zoom and a focus
// position reply look alike, and so do the replies to mode inquiries;
// `inquiry`, the kind of the inquiry it answers when known, tells them apart.
std::string describe(const Message &message, Kind inquiry = Kind::Unknown);

// Pan-tilt status reply data: 0q 0s, q: 4 moving, 8 stopped; s: bit 3 tilt
// upper end, bit 2 tilt lower end, bit 1 pan right end, bit 0 pan left end.
constexpr int status_moving = 0x04, status_stopped = 0x08;
constexpr int end_tilt_up = 0x08, end_tilt_down = 0x04, end_pan_right = 0x02, end_pan_left = 0x01;
// Focus mode reply data: 02 auto, 03 manual (as in the focus mode command).
constexpr int focus_auto = 0x02, focus_manual = 0x03;

// Reply bytes: nibbles of 16-bit values (0p 0p 0p 0p per value).
Bytes position_reply(std::initializer_list<int> values);
// The other way: the 16-bit values of position reply data (without 90 50 and
// FF; four bytes a value, low nibbles only), as signed values for pan and
// tilt, unsigned for zoom and focus.
std::vector<int> position_values(const Bytes &data, bool is_signed);

// "81 01 06 01 12 00 02 03 FF"
std::string hex(const Bytes &bytes);
std::string hex(const uint8_t *bytes, size_t length);

// Cuts a byte stream into messages. Feed it bytes in any chunking; it hands
// back complete messages, and reports bytes that belong to no message (in
// pieces of at most `max_stray` bytes, so that it holds no more than that).
class Assembler {
public:
    static constexpr size_t max_stray = 64;

    struct Piece {
        enum Type { Message, Stray, Overlong, Incomplete } type;
        Bytes bytes;
    };

    std::vector<Piece> feed(const uint8_t *data, size_t length);
    // Whatever is left when the stream ends: stray bytes and an unterminated message.
    std::vector<Piece> finish();

private:
    Bytes partial_;
    Bytes stray_;
};

// A line of hex text: an optional leading time stamp, then byte values.
struct HexLine {
    std::optional<double> time;  // seconds
    Bytes bytes;
};

// Reads "[12.345] 81 01 06 ...", "12.345 8101060112000203FF", "0x81,0x01 ..."
// and the like. Reading stops at the first word that is not hex (so a trace
// line's description is ignored). Returns nullopt and an explanation when the
// line holds something that looks like bytes but is not (an odd digit count).
std::optional<HexLine> parse_hex_line(const std::string &line, std::string *error);

// Seconds as the traces print them: "   0.690123".
std::string format_time(double seconds);

}  // namespace visca

#endif
