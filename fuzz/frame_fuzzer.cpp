// libFuzzer target: the frame assembler and the decoder, as a line hands
// them bytes. The input goes through the assembler whole and again in chunks
// whose sizes the input's own bytes pick: the messages must come out the
// same, every byte must come out once, and each message must decode and be
// described. The input is also read as hex text lines, as visca_decode
// reads a trace.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "visca.h"

namespace {

using Piece = visca::Assembler::Piece;

// Stray runs may be cut differently with other chunking: joined, they must agree.
std::vector<Piece> joined(std::vector<Piece> pieces) {
    std::vector<Piece> out;
    for (Piece &p : pieces) {
        if (p.type == Piece::Stray && !out.empty() && out.back().type == Piece::Stray) {
            out.back().bytes.insert(out.back().bytes.end(), p.bytes.begin(), p.bytes.end());
        } else {
            out.push_back(std::move(p));
        }
    }
    return out;
}

std::vector<Piece> assemble(const uint8_t *data, size_t size, bool chunked) {
    visca::Assembler a;
    std::vector<Piece> out;
    size_t at = 0;
    while (at < size) {
        const size_t chunk = chunked ? 1 + data[at] % 7 : size;
        const size_t n = chunk < size - at ? chunk : size - at;
        for (Piece &p : a.feed(data + at, n)) out.push_back(std::move(p));
        at += n;
    }
    for (Piece &p : a.finish()) out.push_back(std::move(p));
    return joined(std::move(out));
}

void check_message(const visca::Bytes &bytes) {
    FUZZ_CHECK(bytes.size() >= 2 && bytes.size() <= visca::max_message, "message of %zu bytes", bytes.size());
    FUZZ_CHECK((bytes.front() & 0x80) != 0 && bytes.front() != 0xFF && bytes.back() == 0xFF, "%s",
               visca::hex(bytes).c_str());
    for (size_t i = 0; i + 1 < bytes.size(); ++i) FUZZ_CHECK(bytes[i] != 0xFF, "FF inside %s", visca::hex(bytes).c_str());
    const visca::Message m = visca::decode(bytes);
    FUZZ_CHECK(m.bytes == bytes, "decode keeps the bytes");
    FUZZ_CHECK(!visca::describe(m).empty(), "no description of %s", visca::hex(bytes).c_str());
    if (m.kind == visca::Kind::InquiryReply) {
        visca::describe(m, visca::Kind::PanTiltPositionInquiry);
        visca::describe(m, visca::Kind::ZoomPositionInquiry);
        visca::describe(m, visca::Kind::VersionInquiry);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<Piece> whole = assemble(data, size, false);
    const std::vector<Piece> chunked = assemble(data, size, true);
    FUZZ_CHECK(whole.size() == chunked.size(), "%zu pieces whole, %zu in chunks", whole.size(), chunked.size());
    size_t total = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        FUZZ_CHECK(whole[i].type == chunked[i].type && whole[i].bytes == chunked[i].bytes, "piece %zu differs", i);
        FUZZ_CHECK(!whole[i].bytes.empty(), "empty piece %zu", i);
        total += whole[i].bytes.size();
        if (whole[i].type == Piece::Message) check_message(whole[i].bytes);
        if (whole[i].type == Piece::Overlong) FUZZ_CHECK(whole[i].bytes.size() <= visca::max_message + 1, "overlong");
    }
    FUZZ_CHECK(total == size, "%zu bytes in, %zu out", size, total);

    // The same bytes as a trace's text.
    const std::string text(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string error;
        const auto line = visca::parse_hex_line(text.substr(start, end - start), &error);
        if (line) {
            FUZZ_CHECK(line->bytes.size() <= end - start, "more bytes than characters");
            if (!line->bytes.empty()) visca::describe(visca::decode(line->bytes));
            if (line->time) visca::format_time(*line->time);
        } else {
            FUZZ_CHECK(!error.empty(), "a refused line without a reason");
        }
        start = end + 1;
    }
    return 0;
}
