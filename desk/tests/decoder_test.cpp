// The shared VISCA decoder: every frame the driver sends, the camera's
// replies, frames it must not mistake for known ones, the reassembly of a
// byte stream in any chunking, and hex text as sniffers print it.
#include <gtest/gtest.h>

#include "visca.h"

namespace {

using visca::Bytes;
using visca::Kind;

struct FrameCase {
    Bytes bytes;
    Kind kind;
    const char *meaning;
};

// Each row: the frame as the driver's frame tables give it, and what it
// means in the protocol's own terms.
const FrameCase driver_frames[] = {
    {{0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0x03, 0xFF}, Kind::PanTiltDrive, "pan-tilt drive: pan right at 0x12, tilt stop"},
    {{0x81, 0x01, 0x06, 0x01, 0x01, 0x00, 0x01, 0x03, 0xFF}, Kind::PanTiltDrive, "pan-tilt drive: pan left at 0x01, tilt stop"},
    {{0x81, 0x01, 0x06, 0x01, 0x00, 0x0E, 0x03, 0x01, 0xFF}, Kind::PanTiltDrive, "pan-tilt drive: tilt up at 0x0E, pan stop"},
    {{0x81, 0x01, 0x06, 0x01, 0x00, 0x07, 0x03, 0x02, 0xFF}, Kind::PanTiltDrive, "pan-tilt drive: tilt down at 0x07, pan stop"},
    {{0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF}, Kind::PanTiltDrive, "pan-tilt stop"},
    {{0x81, 0x01, 0x04, 0x07, 0x27, 0xFF}, Kind::ZoomDrive, "zoom tele, speed 7"},
    {{0x81, 0x01, 0x04, 0x07, 0x30, 0xFF}, Kind::ZoomDrive, "zoom wide, speed 0"},
    {{0x81, 0x01, 0x04, 0x07, 0x00, 0xFF}, Kind::ZoomDrive, "zoom stop"},
    {{0x81, 0x01, 0x04, 0x08, 0x37, 0xFF}, Kind::FocusDrive, "focus near, speed 7"},
    {{0x81, 0x01, 0x04, 0x08, 0x23, 0xFF}, Kind::FocusDrive, "focus far, speed 3"},
    {{0x81, 0x01, 0x04, 0x08, 0x00, 0xFF}, Kind::FocusDrive, "focus stop"},
    {{0x81, 0x01, 0x04, 0x38, 0x02, 0xFF}, Kind::FocusMode, "focus mode auto"},
    {{0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}, Kind::FocusMode, "focus mode manual"},
    {{0x81, 0x01, 0x04, 0x39, 0x00, 0xFF}, Kind::AeMode, "exposure mode full auto"},
    {{0x81, 0x01, 0x04, 0x39, 0x0D, 0xFF}, Kind::AeMode, "exposure mode bright"},
    {{0x81, 0x01, 0x04, 0x0D, 0x02, 0xFF}, Kind::Bright, "bright up"},
    {{0x81, 0x01, 0x04, 0x0D, 0x03, 0xFF}, Kind::Bright, "bright down"},
    {{0x81, 0x01, 0x04, 0x3F, 0x01, 0x00, 0xFF}, Kind::Memory, "memory set 0 (preset 1)"},
    {{0x81, 0x01, 0x04, 0x3F, 0x02, 0x05, 0xFF}, Kind::Memory, "memory recall 5 (preset 6)"},
    {{0x81, 0x01, 0x04, 0x33, 0x02, 0xFF}, Kind::Backlight, "backlight compensation on"},
    {{0x81, 0x01, 0x04, 0x33, 0x03, 0xFF}, Kind::Backlight, "backlight compensation off"},
    {{0x81, 0x01, 0x04, 0x51, 0x02, 0xFF}, Kind::AutoIrCut, "IR-cut auto switching on"},
    {{0x81, 0x01, 0x04, 0x51, 0x03, 0xFF}, Kind::AutoIrCut, "IR-cut auto switching off"},
    {{0x81, 0x01, 0x04, 0x01, 0x02, 0xFF}, Kind::IrCutFilter, "IR-cut filter removed (night)"},
    {{0x81, 0x01, 0x04, 0x01, 0x03, 0xFF}, Kind::IrCutFilter, "IR-cut filter in place (day)"},
    {{0x81, 0x01, 0x06, 0x00, 0xA2, 0xFF}, Kind::Relay, "relay 1 on"},
    {{0x81, 0x01, 0x06, 0x00, 0xB3, 0xFF}, Kind::Relay, "relay 2 off"},
    {{0x81, 0x01, 0x06, 0x00, 0xC2, 0xFF}, Kind::Relay, "relay 3 on"},
    {{0x81, 0x01, 0x04, 0x15, 0x02, 0xFF}, Kind::Menu, "menu open"},
    {{0x81, 0x01, 0x04, 0x15, 0x03, 0xFF}, Kind::Menu, "menu close"},
    {{0x90, 0x41, 0xFF}, Kind::Ack, "acknowledge, socket 1"},
    {{0x90, 0x52, 0xFF}, Kind::Completion, "completion, socket 2"},
    {{0x90, 0x60, 0x03, 0xFF}, Kind::Error, "command buffer full, socket 0"},
    {{0x90, 0x60, 0x02, 0xFF}, Kind::Error, "syntax error, socket 0"},
    {{0x81, 0x09, 0x06, 0x12, 0xFF}, Kind::PanTiltPositionInquiry, "inquiry: pan-tilt position"},
    {{0x81, 0x09, 0x04, 0x47, 0xFF}, Kind::ZoomPositionInquiry, "inquiry: zoom position"},
    {{0x81, 0x09, 0x04, 0x48, 0xFF}, Kind::FocusPositionInquiry, "inquiry: focus position"},
    {{0x81, 0x09, 0x06, 0x10, 0xFF}, Kind::PanTiltStatusInquiry, "inquiry: pan-tilt status"},
    {{0x81, 0x09, 0x00, 0x02, 0xFF}, Kind::VersionInquiry, "inquiry: version"},
    {{0x81, 0x09, 0x04, 0x38, 0xFF}, Kind::FocusModeInquiry, "inquiry: focus mode"},
    {{0x90, 0x50, 0x02, 0xFF}, Kind::InquiryReply, "mode 0x02"},
    {{0x90, 0x50, 0x0F, 0x0A, 0x02, 0x08, 0x00, 0x00, 0x09, 0x00, 0xFF}, Kind::InquiryReply,
     "pan-tilt position: pan -1496, tilt 144"},
    {{0x90, 0x50, 0x04, 0x00, 0x00, 0x00, 0xFF}, Kind::InquiryReply, "zoom or focus position 16384 (0x4000)"},
    {{0x90, 0x50, 0x04, 0x05, 0xFF}, Kind::InquiryReply, "pan-tilt status: moving, at the pan left end, at the tilt lower end"},
    {{0x90, 0x50, 0x08, 0x0A, 0xFF}, Kind::InquiryReply, "pan-tilt status: stopped, at the pan right end, at the tilt upper end"},
    {{0x90, 0x50, 0x00, 0x70, 0x02, 0x03, 0x01, 0x05, 0x02, 0xFF}, Kind::InquiryReply,
     "version: vendor 0x0070, model 0x0203, ROM 0x0105, sockets 2"},
    {{0x90, 0x50, 0xFF}, Kind::Completion, "completion, socket 0"},
};

TEST(Decoder, LensPositionReplyNamedByItsInquiry) {
    const visca::Message m = visca::decode({0x90, 0x50, 0x02, 0x07, 0x00, 0x0F, 0xFF});
    EXPECT_EQ(visca::describe(m, Kind::ZoomPositionInquiry), "zoom position 9999 (0x270F)");
    EXPECT_EQ(visca::describe(m, Kind::FocusPositionInquiry), "focus position 9999 (0x270F)");
    EXPECT_EQ(visca::describe(visca::decode({0x90, 0x50, 0x02, 0xFF}), Kind::FocusModeInquiry), "focus mode auto");
    EXPECT_EQ(visca::describe(visca::decode({0x90, 0x50, 0x03, 0xFF}), Kind::FocusModeInquiry), "focus mode manual");
    EXPECT_EQ(visca::position_reply({-72, 0x4000}), (Bytes{0x90, 0x50, 0x0F, 0x0F, 0x0B, 0x08, 0x04, 0x00, 0x00, 0x00, 0xFF}));
}

TEST(Decoder, EveryDriverFrameAndReply) {
    for (const FrameCase &c : driver_frames) {
        const visca::Message m = visca::decode(c.bytes);
        EXPECT_EQ(m.kind, c.kind) << visca::hex(c.bytes);
        EXPECT_EQ(visca::describe(m), c.meaning) << visca::hex(c.bytes);
    }
}

TEST(Decoder, DirectionsFollowTheDriversSigns) {
    // Pan: 01 left, 02 right. Tilt: 01 up, 02 down.
    visca::Message m = visca::decode({0x81, 0x01, 0x06, 0x01, 0x05, 0x00, 0x01, 0x03, 0xFF});
    EXPECT_EQ(m.pan_dir, -1);
    EXPECT_EQ(m.pan_speed, 5);
    EXPECT_EQ(m.tilt_dir, 0);
    m = visca::decode({0x81, 0x01, 0x06, 0x01, 0x00, 0x06, 0x03, 0x01, 0xFF});
    EXPECT_EQ(m.tilt_dir, 1);
    EXPECT_EQ(m.tilt_speed, 6);
    EXPECT_EQ(m.pan_dir, 0);
    // Zoom 2p tele (+), 3p wide (-); focus 2p far (-), 3p near (+).
    EXPECT_EQ(visca::decode({0x81, 0x01, 0x04, 0x07, 0x25, 0xFF}).lens_dir, 1);
    EXPECT_EQ(visca::decode({0x81, 0x01, 0x04, 0x07, 0x35, 0xFF}).lens_dir, -1);
    EXPECT_EQ(visca::decode({0x81, 0x01, 0x04, 0x08, 0x25, 0xFF}).lens_dir, -1);
    EXPECT_EQ(visca::decode({0x81, 0x01, 0x04, 0x08, 0x35, 0xFF}).lens_dir, 1);
    EXPECT_EQ(visca::decode({0x81, 0x01, 0x04, 0x08, 0x35, 0xFF}).lens_speed, 5);
    // Memory byte is the preset number - 1; preset 255 is memory 0xFE.
    m = visca::decode({0x81, 0x01, 0x04, 0x3F, 0x02, 0xFE, 0xFF});
    EXPECT_EQ(m.kind, Kind::Memory);
    EXPECT_EQ(m.number, 0xFE);
    EXPECT_EQ(visca::describe(m), "memory recall 254 (preset 255)");
}

TEST(Decoder, LookalikesAreUnknown) {
    const Bytes unknown[] = {
        {0x81, 0x01, 0x04, 0x99, 0x02, 0xFF},                    // no such command
        {0x81, 0x01, 0x04, 0x07, 0x48, 0xFF},                    // zoom with a bad parameter
        {0x81, 0x01, 0x04, 0x07, 0x28, 0xFF},                    // speed nibble above 7
        {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x04, 0x03, 0xFF},  // pan direction 04
        {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0xFF},        // one byte short
        {0x81, 0x01, 0x06, 0x01, 0x12, 0x80, 0x02, 0x03, 0xFF},  // tilt speed above 0x7F
        {0x81, 0x01, 0x04, 0x3F, 0x03, 0x00, 0xFF},              // memory action 03
        {0x81, 0x01, 0x06, 0x00, 0xD2, 0xFF},                    // relay 4
        {0x81, 0x01, 0x06, 0x00, 0xA4, 0xFF},                    // relay action 4
        {0x82, 0x01, 0x04, 0x15, 0x02, 0xFF},                    // camera address 2
        {0x81, 0x09, 0x04, 0x15, 0x02, 0xFF},                    // an inquiry
        {0x81, 0x01, 0x04, 0x15, 0x02, 0x00, 0xFF},              // menu, too long
        {0x81, 0x09, 0x06, 0x12, 0x00, 0xFF},                    // position inquiry, too long
        {0x90, 0x50, 0x10, 0x00, 0x00, 0x00, 0xFF},              // position data above a nibble
        {0x90, 0x50, 0x01, 0x02, 0x03, 0xFF},                    // a reply of no known length
    };
    for (const Bytes &b : unknown) {
        const visca::Message m = visca::decode(b);
        EXPECT_EQ(m.kind, Kind::Unknown) << visca::hex(b);
        EXPECT_EQ(visca::describe(m), "unknown: " + visca::hex(b));
    }
}

// Three frames, one with a relay byte above 0x80 inside it, fed in every
// possible split into two and three chunks: always the same three messages.
TEST(Assembler, AnyChunkingGivesTheSameMessages) {
    const Bytes stream = {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0x03, 0xFF, 0x81, 0x01,
                          0x06, 0x00, 0xA2, 0xFF, 0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};
    const std::vector<Bytes> expected = {
        {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0x03, 0xFF},
        {0x81, 0x01, 0x06, 0x00, 0xA2, 0xFF},
        {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF},
    };
    const size_t n = stream.size();
    for (size_t a = 0; a <= n; ++a) {
        for (size_t b = a; b <= n; ++b) {
            visca::Assembler asm_;
            std::vector<Bytes> got;
            for (auto [from, to] : {std::pair{size_t{0}, a}, std::pair{a, b}, std::pair{b, n}}) {
                for (const auto &p : asm_.feed(stream.data() + from, to - from)) {
                    ASSERT_EQ(p.type, visca::Assembler::Piece::Message);
                    got.push_back(p.bytes);
                }
            }
            EXPECT_TRUE(asm_.finish().empty());
            EXPECT_EQ(got, expected) << "split at " << a << " and " << b;
        }
    }
}

TEST(Assembler, NoiseOverlongAndUnterminated) {
    visca::Assembler a;
    const Bytes noise = {0x00, 0x12, 0xFF, 0x81, 0x01, 0x04, 0x15, 0x03, 0xFF};
    auto pieces = a.feed(noise.data(), noise.size());
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].type, visca::Assembler::Piece::Stray);
    EXPECT_EQ(pieces[0].bytes, (Bytes{0x00, 0x12, 0xFF}));
    EXPECT_EQ(pieces[1].type, visca::Assembler::Piece::Message);

    Bytes overlong = {0x81};
    overlong.resize(16, 0x01);
    pieces = a.feed(overlong.data(), overlong.size());
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].type, visca::Assembler::Piece::Overlong);
    EXPECT_EQ(pieces[0].bytes.size(), 16u);

    const Bytes tail = {0x81, 0x01, 0x04};
    EXPECT_TRUE(a.feed(tail.data(), tail.size()).empty());
    pieces = a.finish();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].type, visca::Assembler::Piece::Incomplete);
    EXPECT_EQ(pieces[0].bytes, tail);

    // A long run of noise comes back in bounded pieces as it arrives.
    const Bytes zeros(1000, 0x00);
    size_t handed = 0;
    for (const auto &p : a.feed(zeros.data(), zeros.size())) {
        EXPECT_TRUE(p.type == visca::Assembler::Piece::Stray && p.bytes.size() <= visca::Assembler::max_stray);
        handed += p.bytes.size();
    }
    EXPECT_GT(handed + visca::Assembler::max_stray, zeros.size());
}

TEST(HexText, SnifferAndTraceFormats) {
    struct Case {
        const char *line;
        bool has_time;
        double time;
        Bytes bytes;
    } cases[] = {
        {"81 01 04 15 02 FF", false, 0, {0x81, 0x01, 0x04, 0x15, 0x02, 0xFF}},
        {"8101041502ff", false, 0, {0x81, 0x01, 0x04, 0x15, 0x02, 0xFF}},
        {"0x81,0x01, 0x04", false, 0, {0x81, 0x01, 0x04}},
        {"[12.500] 81 01", true, 12.5, {0x81, 0x01}},
        {"3.25s 90 41 FF", true, 3.25, {0x90, 0x41, 0xFF}},
        {"00:01:02.5 81", true, 62.5, {0x81}},
        // Our own trace lines: time, direction mark, bytes, then words.
        {"   0.690123 -> 81 01 06 01 00 00 03 03 FF  pan-tilt stop", true, 0.690123,
         {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF}},
        {"   1.000000  90 51 FF  completion, socket 1", true, 1.0, {0x90, 0x51, 0xFF}},
        // Sniffer prefixes: labels, direction marks, a date; dashed bytes.
        {"TX: 81 01 FF", false, 0, {0x81, 0x01, 0xFF}},
        {"<< [2.5] 90 41 FF", true, 2.5, {0x90, 0x41, 0xFF}},
        {"2024-05-01 12:00:02.000 81 FF", true, 43202.0, {0x81, 0xFF}},
        {"81-01-04-15-02-FF", false, 0, {0x81, 0x01, 0x04, 0x15, 0x02, 0xFF}},
        {"81-1-04", false, 0, {}},
        {"", false, 0, {}},
    };
    for (const Case &c : cases) {
        std::string error;
        const auto got = visca::parse_hex_line(c.line, &error);
        ASSERT_TRUE(got.has_value()) << c.line << ": " << error;
        EXPECT_EQ(got->time.has_value(), c.has_time) << c.line;
        if (c.has_time) {
            EXPECT_DOUBLE_EQ(*got->time, c.time) << c.line;
        }
        EXPECT_EQ(got->bytes, c.bytes) << c.line;
    }
    std::string error;
    EXPECT_FALSE(visca::parse_hex_line("81 0 04", &error).has_value());
    EXPECT_NE(error.find("odd number"), std::string::npos);
}

}  // namespace
