// Recognising the picture format by its leading bytes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "decode/decoder.h"
#include "decode/memory_source.h"

namespace br {
namespace {

using Bytes = std::vector<std::uint8_t>;

// `head` followed by zeros up to `length` bytes, with `at` written at `offset`.
Bytes Make(Bytes head, std::size_t length = 0, std::size_t offset = 0, const Bytes& at = {}) {
    if (head.size() < length) head.resize(length, 0);
    if (head.size() < offset + at.size()) head.resize(offset + at.size(), 0);
    std::copy(at.begin(), at.end(), head.begin() + static_cast<std::ptrdiff_t>(offset));
    return head;
}

// An EPS header with a TIFF preview at `previewOffset` of `previewLength` bytes.
Bytes Eps(std::uint8_t first, std::uint32_t previewOffset, std::uint32_t previewLength) {
    Bytes b = first == 0xC5 ? Bytes{0xC5, 0xD0, 0xD3, 0xC6} : Bytes{0xC6, 0xD3, 0xD0, 0xC5};
    b.resize(30, 0);
    for (int i = 0; i < 4; ++i) {
        b[20 + i] = static_cast<std::uint8_t>(previewOffset >> (8 * i));  // little-endian
        b[24 + i] = static_cast<std::uint8_t>(previewLength >> (8 * i));
    }
    return b;
}

// A PICT file: a 512-byte header that starts with `headerStart`, then size and frame (10 bytes),
// then the version opcode at 522, all in `length` bytes.
Bytes Pict(const Bytes& headerStart, const Bytes& opcode, std::size_t length) {
    Bytes b = Make(headerStart, 512);
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(headerStart.size()), b.end(), 0x20);
    return Make(b, length, 522, opcode);
}

struct FormatCase {
    const char* name;
    Bytes bytes;
    std::int32_t format;
};

TEST(DetectImageFormatTest, AppliesTheRulesInOrder) {
    const FormatCase cases[] = {
        {"BMP", {'B', 'M'}, FormatBmp},
        {"GIF8 whatever follows", {'G', 'I', 'F', '8', 'x'}, FormatGif},
        {"GIF7", {'G', 'I', 'F', '7', 'a'}, FormatNone},
        {"TIFF little-endian", {0x49, 0x49, 0x2A, 0x00}, FormatTiff},
        {"TIFF big-endian", {0x4D, 0x4D, 0x00, 0x2A}, FormatTiff},
        {"TIFF mixed", {0x49, 0x49, 0x00, 0x2A}, FormatNone},
        {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0}, FormatJpeg},
        {"JPEG third byte", {0xFF, 0xD8, 0xFE}, FormatNone},
        {"PNG", {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A}, FormatPng},
        {"EPS", Eps(0xC5, 30, 100), FormatEps},
        {"EPS byte-swapped magic", Eps(0xC6, 0x01000000, 0x00000100), FormatEps},
        {"EPS without preview offset", Eps(0xC5, 0, 100), FormatNone},
        {"EPS without preview length", Eps(0xC6, 30, 0), FormatNone},
        {"PCX", {0x0A, 0x05, 0x01, 0x08}, FormatPcx},
        {"PCX without encoding 1", {0x0A, 0x05, 0x00, 0x08}, FormatNone},
        {"PGM plain", {'P', '2', '\n'}, FormatPgm},
        {"PGM raw", {'P', '5', '\n'}, FormatPgm},
        {"PPM", {'P', '6', '\n'}, FormatNone},
        {"WBMP", {0x00, 0x00, 0x04, 0x04}, FormatWbmp},
        // Bits 5 and 6 of the second byte are outside the rule's mask 0x9F.
        {"WBMP with extension type bits", {0x00, 0x60, 0x04, 0x04}, FormatWbmp},
        {"WBMP rule, a masked bit", {0x00, 0x80, 0x04}, FormatNone},
        {"WBMP rule, a low bit", {0x00, 0x01, 0x04}, FormatNone},
        {"PICT", Pict({'x'}, {0x00, 0x11, 0x02, 0xFF}, 541), FormatPict},
        {"PICT 540 bytes", Pict({'x'}, {0x00, 0x11, 0x02, 0xFF}, 540), FormatNone},
        {"PICT version 1", Pict({'x'}, {0x00, 0x11, 0x01, 0x7E}, 600), FormatPict},
        {"PICT version 1 other form", Pict({'x'}, {0x11, 0x01, 0x01, 0x00}, 600), FormatPict},
        {"PICT unknown opcode", Pict({'x'}, {0x00, 0x11, 0x03, 0xFF}, 600), FormatNone},
        // The WBMP rule comes first: a PICT header that starts with two zero bytes is WBMP.
        {"PICT header of zeros", Pict({0x00, 0x00}, {0x00, 0x11, 0x02, 0xFF}, 600), FormatWbmp},
        // A PICT opcode behind an EPS magic without preview falls through to PICT.
        {"EPS without preview, PICT opcode",
         Make(Eps(0xC5, 0, 0), 600, 522, {0x00, 0x11, 0x02, 0xFF}), FormatPict},
        {"text", {'h', 'e', 'l', 'l', 'o'}, FormatNone},
    };
    for (const auto& c : cases) {
        MemorySource source(c.bytes);
        EXPECT_EQ(DetectImageFormat(&source), c.format) << c.name;
    }
}

TEST(DetectImageFormatTest, BytesThatAShortSourceLacksCountAsZero) {
    const FormatCase cases[] = {
        {"one zero byte", {0x00}, FormatWbmp},
        {"B alone", {'B'}, FormatNone},
        {"PCX marker alone", {0x0A}, FormatNone},
        {"GIF", {'G', 'I', 'F'}, FormatNone},
        {"EPS magic without the preview fields", {0xC5, 0xD0, 0xD3, 0xC6}, FormatNone},
        {"EPS preview offset only", Make({0xC5, 0xD0, 0xD3, 0xC6}, 24, 20, {1, 0, 0, 0}),
         FormatNone},
    };
    for (const auto& c : cases) {
        MemorySource source(c.bytes);
        EXPECT_EQ(DetectImageFormat(&source), c.format) << c.name;
    }
    EXPECT_EQ(DetectImageFormat(nullptr), FormatNone);
    const Bytes none;
    MemorySource empty(none);
    EXPECT_EQ(DetectImageFormat(&empty), FormatNone);
}

// A source that records every read as (position, count).
class RecordingSource : public MemorySource {
  public:
    using MemorySource::MemorySource;
    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        reads.emplace_back(Tell(), count);
        return MemorySource::Read(buffer, count);
    }
    std::vector<std::pair<std::int32_t, std::uint32_t>> reads;
};

TEST(DetectImageFormatTest, ReadsOnlyTheFieldsItComparesAndRestoresThePosition) {
    using Reads = std::vector<std::pair<std::int32_t, std::uint32_t>>;
    const struct {
        const char* name;
        Bytes bytes;
        Reads reads;
    } cases[] = {
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, {{0, 4}}},
        {"EPS", Eps(0xC5, 30, 100), {{0, 4}, {20, 8}}},
        {"PICT", Pict({'x'}, {0x00, 0x11, 0x02, 0xFF}, 541), {{0, 4}, {522, 4}}},
        {"nothing", Make({'x'}, 541), {{0, 4}, {522, 4}}},
    };
    for (const auto& c : cases) {
        RecordingSource source(c.bytes);
        source.Seek(5, 0);
        DetectImageFormat(&source);
        EXPECT_EQ(source.reads, c.reads) << c.name;
        EXPECT_EQ(source.Tell(), 5) << c.name;
    }
}

}  // namespace
}  // namespace br
