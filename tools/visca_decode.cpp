// visca_decode: one line per VISCA message (time if known, bytes, meaning)
// from hex text (as serial sniffers and our own traces print it) or from a
// raw binary capture. Uses the same decoder as the virtual camera.
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "visca.h"

namespace {

void usage(FILE *out) {
    fputs(
        "usage: visca_decode [FILE ...]          hex text from files ('-' or none: standard input)\n"
        "       visca_decode --hex 'TEXT' ...    hex text given as arguments\n"
        "       visca_decode --binary FILE ...   raw bytes ('-': standard input)\n"
        "Hex text: bytes as pairs of hex digits, separated or not (81 01 06, 810106, 0x81,0x01);\n"
        "a line may start with a time in seconds (12.345, [12.345], 12.345s or hh:mm:ss.sss)\n"
        "and may end with any text, which is ignored. Messages may span lines.\n",
        out);
}

struct Decoder {
    visca::Assembler assembler;
    bool ok = true;
    // A zoom and a focus position reply look alike: the inquiry before tells.
    visca::Kind last_inquiry = visca::Kind::Unknown;

    void show(const std::vector<visca::Assembler::Piece> &pieces, std::optional<double> time) {
        for (const auto &piece : pieces) {
            std::string meaning;
            switch (piece.type) {
            case visca::Assembler::Piece::Message: {
                const visca::Message m = visca::decode(piece.bytes);
                meaning = visca::describe(m, last_inquiry);
                if (m.is_inquiry()) last_inquiry = m.kind;
                break;
            }
            case visca::Assembler::Piece::Stray: meaning = "stray bytes outside a message"; break;
            case visca::Assembler::Piece::Overlong: meaning = "no terminator within 16 bytes, discarded"; break;
            case visca::Assembler::Piece::Incomplete: meaning = "unterminated message at the end"; break;
            }
            std::string text = time ? visca::format_time(*time) + "  " : std::string("  ");
            text += visca::hex(piece.bytes) + "  " + meaning;
            puts(text.c_str());
        }
    }

    void text_line(const std::string &line, const std::string &where) {
        std::string error;
        const auto parsed = visca::parse_hex_line(line, &error);
        if (!parsed) {
            fprintf(stderr, "visca_decode: %s: %s\n", where.c_str(), error.c_str());
            ok = false;
            return;
        }
        show(assembler.feed(parsed->bytes.data(), parsed->bytes.size()), parsed->time);
    }

    void text_stream(std::istream &in, const std::string &name) {
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            text_line(line, name + ":" + std::to_string(number));
        }
    }

    void binary_stream(std::istream &in) {
        char buf[4096];
        while (in.read(buf, sizeof buf) || in.gcount() > 0) {
            show(assembler.feed(reinterpret_cast<const uint8_t *>(buf), static_cast<size_t>(in.gcount())),
                 std::nullopt);
        }
    }

    bool file(const std::string &path, bool binary) {
        if (path == "-") {
            if (binary) {
                binary_stream(std::cin);
            } else {
                text_stream(std::cin, "stdin");
            }
            return true;
        }
        std::ifstream in(path, binary ? std::ios::binary : std::ios::in);
        if (!in) {
            fprintf(stderr, "visca_decode: cannot open %s\n", path.c_str());
            ok = false;
            return false;
        }
        if (binary) {
            binary_stream(in);
        } else {
            text_stream(in, path);
        }
        return true;
    }
};

}  // namespace

int main(int argc, char **argv) {
    std::ios::sync_with_stdio(true);
    enum { Files, Hex, Binary } mode = Files;
    std::vector<std::string> items;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--hex" && items.empty() && mode == Files) {
            mode = Hex;
        } else if (a == "--binary" && items.empty() && mode == Files) {
            mode = Binary;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "visca_decode: unknown option '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        } else {
            items.push_back(a);
        }
    }
    Decoder d;
    if (mode == Hex) {
        if (items.empty()) {
            usage(stderr);
            return 2;
        }
        for (size_t i = 0; i < items.size(); ++i) d.text_line(items[i], "argument " + std::to_string(i + 1));
    } else {
        if (items.empty()) items.push_back("-");
        for (const std::string &path : items) d.file(path, mode == Binary);
    }
    d.show(d.assembler.finish(), std::nullopt);
    return d.ok ? 0 : 1;
}
