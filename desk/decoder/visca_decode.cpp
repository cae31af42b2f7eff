// visca_decode: one line per VISCA message (time if known, bytes, meaning)
// from hex text (as serial sniffers and our own traces print it) or from a
// raw binary capture. Uses the same decoder as the virtual camera.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "visca.h"

namespace {

void usage(FILE *out) {
    fputs(
        "usage: visca_decode [FILE ...]          hex text from files ('-' or none:\n"
        "                                        standard input)\n"
        "       visca_decode --hex 'TEXT' ...    hex text given as arguments\n"
        "       visca_decode --binary FILE ...   raw bytes ('-': standard input)\n"
        "Hex text: bytes as pairs of hex digits, separated or not (81 01 06, 810106,\n"
        "0x81,0x01, 81-01-06); a line may start with a date (2024-05-01), a time in\n"
        "seconds (12.345, [12.345], 12.345s or hh:mm:ss.sss) and a direction (TX:,\n"
        "RX:, >, <, ->, <-), and may end with any text, which is ignored. Messages\n"
        "may span lines. A file that is not text is decoded as a raw capture. Lines\n"
        "without bytes are counted and the first one shown; they make the exit\n"
        "status 1 (blank lines and lines starting with # do not). A file that\n"
        "cannot be read, or a bad option, gives 2.\n",
        out);
}

// A capture holds bytes such as 0x81 and 0xFF; text hardly ever holds
// control or high bytes, so a few of them mark the input as binary.
bool looks_binary(const std::string &data) {
    size_t odd = 0;
    for (unsigned char c : data) {
        if (c == 0 || c >= 0x80 || (c < 0x20 && c != '\n' && c != '\r' && c != '\t')) ++odd;
    }
    return !data.empty() && odd * 20 >= data.size();
}

struct Decoder {
    visca::Assembler assembler;
    bool ok = true;
    size_t unread = 0;
    std::string first_unread;
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
        if (parsed->bytes.empty()) {
            const size_t first = line.find_first_not_of(" \t\r");
            if (first != std::string::npos && line[first] != '#' && unread++ == 0) {
                first_unread = where + ": '" + line + "'";
            }
            return;
        }
        show(assembler.feed(parsed->bytes.data(), parsed->bytes.size()), parsed->time);
    }

    void text(const std::string &data, const std::string &name) {
        std::istringstream in(data);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            text_line(line, name + ":" + std::to_string(number));
        }
    }

    void binary(const std::string &data) {
        show(assembler.feed(reinterpret_cast<const uint8_t *>(data.data()), data.size()), std::nullopt);
    }

    void file(const std::string &path, bool as_binary) {
        std::string data;
        if (path == "-") {
            data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        } else {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                fprintf(stderr, "visca_decode: cannot open %s: %s\n", path.c_str(), strerror(errno));
                ok = false;
                return;
            }
            data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) {
                fprintf(stderr, "visca_decode: cannot read %s: %s\n", path.c_str(), strerror(errno));
                ok = false;
                return;
            }
        }
        const std::string name = path == "-" ? "stdin" : path;
        if (!as_binary && looks_binary(data)) {
            fprintf(stderr, "visca_decode: %s is not text; decoding it as a raw capture\n", name.c_str());
            as_binary = true;
        }
        if (as_binary) {
            binary(data);
        } else {
            text(data, name);
        }
    }

    void report_unread() {
        if (unread == 0) return;
        fprintf(stderr, "visca_decode: %zu line(s) without VISCA bytes, the first: %s\n", unread,
                first_unread.c_str());
        ok = false;
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
            // The reason alone: the usage would push it off the screen.
            fprintf(stderr, "visca_decode: unknown option '%s' (visca_decode --help lists the options)\n", a.c_str());
            return 2;
        } else if (a.empty() && mode != Hex) {
            // A script's unset variable: not "standard input", not a file.
            fprintf(stderr, "visca_decode: an empty file name\n");
            return 2;
        } else {
            items.push_back(a);
        }
    }
    Decoder d;
    if (mode == Hex && items.empty()) {
        fprintf(stderr, "visca_decode: --hex needs the text to decode\n");
        return 2;
    }
    // Every file is checked before the first is decoded: a bad name is a
    // bad argument, not a half-done run.
    for (const std::string &path : items) {
        struct stat st;
        if (mode == Hex || path == "-") continue;
        const char *why = stat(path.c_str(), &st) != 0 ? strerror(errno)
                          : S_ISDIR(st.st_mode)          ? "it is a folder"
                          : access(path.c_str(), R_OK) != 0 ? strerror(errno)
                                                             : nullptr;
        if (why != nullptr) {
            fprintf(stderr, "visca_decode: cannot read %s: %s\n", path.c_str(), why);
            return 2;
        }
    }
    if (mode == Hex) {
        for (size_t i = 0; i < items.size(); ++i) d.text_line(items[i], "argument " + std::to_string(i + 1));
    } else {
        if (items.empty()) items.push_back("-");
        for (const std::string &path : items) d.file(path, mode == Binary);
    }
    d.show(d.assembler.finish(), std::nullopt);
    d.report_unread();
    return d.ok ? 0 : 1;
}
