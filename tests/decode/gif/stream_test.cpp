// Hand-made streams, each byte laid out by structure: signatures, block sequences, control
// extensions, colour tables, frame descriptions, and frames whose data is cut or refused.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decode/gif/gif_decoder.h"
#include "decode/memory_source.h"
#include "tests/decode/gif/gif_test_support.h"

namespace {

using giftest::Bytes;
using giftest::Cat;
using giftest::Str;
using giftest::U16;

// Logical screen 2 x 2 with a global table of two colours.
Bytes Screen(std::uint8_t background = 0) {
    return Cat({U16(2),
                U16(2),
                {0x80 /* global table, 2 entries */, background, 0 /* aspect */},
                {10, 20, 30, /* colour 0 */ 40, 50, 60 /* colour 1 */}});
}
// Image 2 x 2 at (0, 0), no local table, code size 2, pixels 1 0 / 1 0.
Bytes Image() {
    return Cat({{0x2C},
                U16(0),
                U16(0),
                U16(2),
                U16(2),
                {0x00 /* packed */},
                {0x02 /* code size */},
                giftest::SubBlocks(giftest::PackCodes(
                    {{4, 3} /* clear */, {1, 3}, {0, 3}, {1, 3}, {0, 4}, {5, 4} /* end */}))});
}
// Graphic control extension.
Bytes Control(std::uint8_t packed, std::uint32_t delay, std::uint8_t transparent) {
    return Cat({{0x21, 0xF9, 0x04, packed}, U16(delay), {transparent, 0x00}});
}
Bytes Comment() {
    return {0x21, 0xFE, 0x02, 'h', 'i', 0x00};
}

TEST(GifStream, OnlyTheTwoKnownSignaturesAreAccepted) {
    const struct {
        const char* signature;
        bool ok;
    } cases[] = {{"GIF87a", true}, {"GIF89a", true}, {"GIF88a", false}, {"GIF89A", false}};
    for (const auto& c : cases) {
        const giftest::Result r = giftest::Info(Cat({Str(c.signature), Screen(), Image(), {0x3B}}));
        EXPECT_EQ(r.ok, c.ok) << c.signature;
        if (!c.ok) {
            EXPECT_EQ(r.code, br::ErrorCorruptData);
            EXPECT_EQ(r.component, 38003u);
            EXPECT_EQ(r.routine, 33u);
            EXPECT_EQ(r.site, 1u) << c.signature;
        }
    }
}

TEST(GifStream, BlockSequencesGiveTheirFrameCountsOrErrors) {
    const struct {
        const char* what;
        Bytes blocks;  // after header and screen
        std::size_t frames;
        std::uint32_t site;  // 0 = accepted
    } cases[] = {
        {"trailer first: no image", {0x3B}, 0, 32},
        {"nothing after the screen: no image", {}, 0, 32},
        {"only an extension: no image", Cat({Comment(), {0x3B}}), 0, 32},
        {"0x00 introducer first: unrecognised block", {0x00}, 0, 31},
        {"0x00 after an image ends the parse", Cat({Image(), {0x00}, Image(), {0x3B}}), 1, 0},
        {"missing trailer keeps both frames", Cat({Image(), Image()}), 2, 0},
        {"image data cut short keeps the frame",
         Cat({Image(), {0x2C}, U16(0), U16(0), U16(2), U16(2), {0x00, 0x02, 0x05, 0x8C}}), 2, 0},
        {"extensions of every kind are skipped",
         Cat({{0x21, 0xFF, 0x0B},
              Str("NETSCAPE2.0"),
              {0x03, 0x01, 0x00, 0x00, 0x00},
              {0x21, 0x01, 0x0C},
              Bytes(12, 0),
              {0x01, 'x', 0x00},
              Comment(),
              Image(),
              {0x3B}}),
         1, 0},
    };
    for (const auto& c : cases) {
        const Bytes gif = Cat({Str("GIF89a"), Screen(), c.blocks});
        const giftest::Result r = giftest::Decode(gif);
        EXPECT_EQ(r.ok, c.site == 0) << c.what;
        EXPECT_EQ(r.site, c.site) << c.what;
        EXPECT_EQ(r.frames.size(), c.frames) << c.what;
    }
}

TEST(GifStream, ControlExtensionsGovernOnlyTheImageDirectlyAfterThem) {
    const struct {
        const char* what;
        Bytes blocks;
        std::int32_t delay, disposal, userInput, transparent;
    } cases[] = {
        {"no control", Image(), 100, 0, 0, -1},
        {"control, comment, image: the control is lost",
         Cat({Control(0x1F, 7, 1), Comment(), Image()}), 100, 0, 0, -1},
        {"transparency bit clear ignores the index", Cat({Control(0x00, 5, 9), Image()}), 5, 0, 0,
         -1},
        {"transparency bit set with index 0", Cat({Control(0x01, 5, 0), Image()}), 5, 0, 0, 0},
        {"delay 0 stays 0", Cat({Control(0x00, 0, 0), Image()}), 0, 0, 0, -1},
        {"disposal 7 and user input", Cat({Control(0x1E, 65535, 0), Image()}), 65535, 7, 1, -1},
        {"of two controls the later governs",
         Cat({Control(0x04, 1, 0), Control(0x09, 2, 1), Image()}), 2, 2, 0, 1},
    };
    for (const char* version : {"GIF89a", "GIF87a"}) {
        for (const auto& c : cases) {
            const giftest::Result r =
                giftest::Decode(Cat({Str(version), Screen(), c.blocks, {0x3B}}));
            ASSERT_TRUE(r.ok) << c.what;
            ASSERT_EQ(r.frames.size(), 1u);
            const giftest::Frame& f = r.frames[0];
            EXPECT_EQ(f.delay, c.delay) << version << ": " << c.what;
            EXPECT_EQ(f.disposal, c.disposal) << version << ": " << c.what;
            EXPECT_EQ(f.userInput, c.userInput) << version << ": " << c.what;
            EXPECT_EQ(f.transparent, c.transparent) << version << ": " << c.what;
        }
    }
}

TEST(GifStream, BackgroundColourAndPalettesFollowTheColourTables) {
    const Bytes noTable = Cat({Str("GIF89a"), U16(2), U16(2), {0x00, 0x00, 0x00}, Image(), {0x3B}});
    br::DecoderImageInfo info;
    ASSERT_TRUE(giftest::Info(noTable, &info).ok);
    EXPECT_EQ(info.backgroundColor, 0x00FFFFFFu);
    EXPECT_EQ(info.palette.count, 0);
    EXPECT_EQ(info.palette.version, 48);
    EXPECT_EQ(info.format, 3);
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_EQ(info.extraB, -1);  // left as the caller preset it
    const giftest::Result decoded = giftest::Decode(noTable);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.frames[0].palette.empty());

    // Background index 1 of 2 is a colour; index 2 (equal to the count) is white.
    ASSERT_TRUE(giftest::Info(Cat({Str("GIF89a"), Screen(1), Image(), {0x3B}}), &info).ok);
    EXPECT_EQ(info.backgroundColor, 40u + 50u * 256 + 60u * 65536);
    EXPECT_EQ(info.palette.count, 2);
    EXPECT_EQ(info.palette.entries[1].green, 50);
    ASSERT_TRUE(giftest::Info(Cat({Str("GIF89a"), Screen(2), Image(), {0x3B}}), &info).ok);
    EXPECT_EQ(info.backgroundColor, 0x00FFFFFFu);
}

TEST(GifStream, FrameInfoForAnIndexOutsideTheFramesLeavesTheRecord) {
    const Bytes gif = Cat({Str("GIF89a"), Screen(), Image(), {0x3B}});
    br::MemorySource source(gif);
    std::unique_ptr<br::CDecoderBase2> decoder(br::CreateGifDecoder());
    decoder->ReadImageInfo(&source, nullptr);
    for (std::int32_t index : {-1, 1, 1000}) {
        br::DecoderFrameInfo frame;
        std::memset(&frame, 0x5A, sizeof(frame));
        br::DecoderFrameInfo before;
        std::memcpy(&before, &frame, sizeof(frame));
        decoder->ReadFrameInfo(&source, &frame, index);
        EXPECT_EQ(std::memcmp(&frame, &before, sizeof(frame)), 0) << index;
    }
    decoder->ReleaseStream();
}

TEST(GifStream, FramesWhoseFieldsOrCodesCannotBeReadAreRefusedAsCorrupt) {
    const struct {
        const char* what;
        Bytes blocks;
        std::uint32_t routine, site;
    } cases[] = {
        {"descriptor without its packed byte", Cat({{0x2C}, U16(0), U16(0), U16(2), U16(2)}), 63,
         12},
        {"no code-size byte", Cat({{0x2C}, U16(0), U16(0), U16(2), U16(2), {0x00}}), 64, 4},
        {"code size 12",
         Cat({{0x2C}, U16(0), U16(0), U16(2), U16(2), {0x00, 12, 0x01, 0x00, 0x00}}), 64, 3},
        {"undefined code",
         Cat({{0x2C},
              U16(0),
              U16(0),
              U16(2),
              U16(2),
              {0x00, 0x02},
              giftest::SubBlocks(giftest::PackCodes({{4, 3}, {1, 3}, {7, 3}}))}),
         64, 1},
        {"previous-plus-first with no previous code",
         Cat({{0x2C},
              U16(0),
              U16(0),
              U16(2),
              U16(2),
              {0x00, 0x02},
              giftest::SubBlocks(giftest::PackCodes({{4, 3}, {5, 3}, {6, 3}}))}),
         64, 2},
    };
    for (const auto& c : cases) {
        const giftest::Result r = giftest::Decode(Cat({Str("GIF89a"), Screen(), c.blocks}));
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.code, br::ErrorCorruptData) << c.what;
        EXPECT_EQ(r.component, 38003u) << c.what;
        EXPECT_EQ(r.routine, c.routine) << c.what;
        EXPECT_EQ(r.site, c.site) << c.what;
    }
}

// A width x 3 frame (128-entry table, code size 7: clear 128, end 129, one byte per code
// throughout) from a list of codes.
Bytes LiteralFrame(const std::vector<std::int32_t>& literals, bool interlaced, bool terminate,
                   std::uint32_t width = 4) {
    std::vector<giftest::Code> codes = {{128, 8}};
    for (std::int32_t v : literals) codes.push_back({v, 8});
    Bytes data = giftest::PackCodes(codes);
    Bytes blocks = {static_cast<std::uint8_t>(data.size())};
    blocks.insert(blocks.end(), data.begin(), data.end());
    if (terminate) blocks.push_back(0);
    return Cat({Str("GIF89a"),
                U16(width),
                U16(3),
                {0x86, 0, 0},
                giftest::ColorTable(7, 0),
                {0x2C},
                U16(0),
                U16(0),
                U16(width),
                U16(3),
                {static_cast<std::uint8_t>(interlaced ? 0x40 : 0)},
                {0x07},
                blocks});
}

TEST(GifStream, RowsTheDataDoesNotReachRepeatWhatTheRowBeforeLeft) {
    // Rows are completed from what the previous decoded row left, zeros before the first one;
    // decoding straight into the frame and through the row buffer (a clip) must agree.
    const br::Rect clipAll(0, 0, 4, 3);
    const br::Rect clipThree(0, 0, 3, 3);
    const struct {
        const char* what;
        Bytes gif;
        Bytes rows;  // 4 x 3, stored order
    } cases[] = {
        {"data ends within row 1",
         LiteralFrame({1, 2, 3, 4, 5, 6}, false, true),
         {1, 2, 3, 4, /**/ 5, 6, 3, 4, /**/ 5, 6, 3, 4}},
        {"stream cut within row 1, no terminator",
         LiteralFrame({1, 2, 3, 4, 5, 6}, false, false),
         {1, 2, 3, 4, /**/ 5, 6, 3, 4, /**/ 5, 6, 3, 4}},
        {"end code within row 1, decoding reads on",
         LiteralFrame({1, 2, 3, 4, 5, 6, 129, 7, 8, 9, 10, 129}, false, true),
         {1, 2, 3, 4, /**/ 5, 6, 3, 4, /**/ 7, 8, 9, 10}},
        {"end code at once: the first row is zeros",
         LiteralFrame({129, 129, 1, 2, 3, 4}, false, true),
         {0, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 1, 2, 3, 4}},
        // Interlaced 4 x 3: rows are stored 0, 2, 1.
        {"interlaced, data ends within the second stored row",
         LiteralFrame({1, 2, 3, 4, 5, 6}, true, true),
         {1, 2, 3, 4, /**/ 5, 6, 3, 4, /**/ 5, 6, 3, 4}},
    };
    for (const auto& c : cases) {
        const giftest::Result whole = giftest::Decode(c.gif, 0, nullptr, &clipAll);
        ASSERT_TRUE(whole.ok) << c.what;
        EXPECT_EQ(whole.frames[0].pixels, c.rows) << c.what;
        const giftest::Result clipped = giftest::Decode(c.gif, 0, nullptr, &clipThree);
        ASSERT_TRUE(clipped.ok) << c.what;
        Bytes expected;
        for (int y = 0; y < 3; ++y)
            expected.insert(expected.end(), c.rows.begin() + 4 * y, c.rows.begin() + 4 * y + 3);
        EXPECT_EQ(clipped.frames[0].pixels, expected) << c.what << " (through the row buffer)";
    }
}

// Rows wide enough for the decompressor to store short strings 8 bytes at a time: what it may
// leave after the last index of a short row must not show; the row is completed as above.
TEST(GifStream, WideRowsTheDataLeavesShortAreCompletedFromTheRowBefore) {
    const std::int32_t kWidth = 24;
    std::vector<std::int32_t> first;  // row 0: 1 .. 24
    for (std::int32_t v = 1; v <= kWidth; ++v) first.push_back(v);
    std::vector<std::int32_t> second;  // row 2 when the data reads on: 40 .. 63
    for (std::int32_t v = 40; v < 40 + kWidth; ++v) second.push_back(v);
    auto rowsOf = [&](std::initializer_list<std::vector<std::int32_t>> parts) {
        Bytes out;
        for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    auto codes = [&](std::initializer_list<std::vector<std::int32_t>> parts) {
        std::vector<std::int32_t> out;
        for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const std::vector<std::int32_t> shortRow = {30, 31, 32, 33, 34, 35};
    const std::vector<std::int32_t> rest(first.begin() + 6, first.end());  // row 0 from column 6
    const std::vector<std::int32_t> completed = codes({shortRow, rest});
    const br::Rect clipAll(0, 0, kWidth, 3);
    const br::Rect clipMost(0, 0, kWidth - 1, 3);
    const struct {
        const char* what;
        Bytes gif;
        Bytes rows;
    } cases[] = {
        {"data ends within row 1", LiteralFrame(codes({first, shortRow}), false, true, kWidth),
         rowsOf({first, completed, completed})},
        {"end code within row 1, decoding reads on",
         LiteralFrame(codes({first, shortRow, {129}, second}), false, true, kWidth),
         rowsOf({first, completed, second})},
        {"interlaced (rows stored 0, 2, 1), data ends within the second stored row",
         LiteralFrame(codes({first, shortRow}), true, true, kWidth),
         rowsOf({first, completed, completed})},
    };
    for (const auto& c : cases) {
        const giftest::Result whole = giftest::Decode(c.gif, 0, nullptr, &clipAll);
        ASSERT_TRUE(whole.ok) << c.what;
        EXPECT_EQ(whole.frames[0].pixels, c.rows) << c.what;
        const giftest::Result clipped = giftest::Decode(c.gif, 0, nullptr, &clipMost);
        ASSERT_TRUE(clipped.ok) << c.what;
        Bytes expected;
        for (int y = 0; y < 3; ++y) {
            expected.insert(expected.end(), c.rows.begin() + kWidth * y,
                            c.rows.begin() + kWidth * y + kWidth - 1);
        }
        EXPECT_EQ(clipped.frames[0].pixels, expected) << c.what << " (through the row buffer)";
    }
}

}  // namespace

namespace {

// Frames decoded straight into the target are decoded many rows per call (into the target, or
// through a small buffer when its rows are padded); wherever end codes fall (mid-row, at a
// row's start or end, several in a row) and wherever the data ends, the rows must be those of
// row-by-row decoding through the row buffer.
TEST(GifStream, RowsDecodedManyPerCallEqualRowByRowWhereverEndCodesFall) {
    std::uint32_t state = 99;
    auto next = [&](std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    for (int trial = 0; trial < 300; ++trial) {
        const std::uint32_t width = 2 + next(23);  // with and without row padding
        std::vector<std::int32_t> codes;
        const std::uint32_t count = next(3 * width + 8);
        for (std::uint32_t i = 0; i < count; ++i) {
            codes.push_back(next(4) == 0 ? 129 : static_cast<std::int32_t>(next(128)));
        }
        const Bytes gif = LiteralFrame(codes, false, next(2) == 0, width);
        const br::Rect all(0, 0, static_cast<std::int32_t>(width), 3);
        const br::Rect most(0, 0, static_cast<std::int32_t>(width) - 1, 3);
        const giftest::Result whole = giftest::Decode(gif, 0, nullptr, &all);
        const giftest::Result buffered = giftest::Decode(gif, 0, nullptr, &most);
        ASSERT_TRUE(whole.ok && buffered.ok) << "trial " << trial;
        for (std::uint32_t y = 0; y < 3; ++y) {
            ASSERT_TRUE(std::equal(buffered.frames[0].pixels.begin() + (width - 1) * y,
                                   buffered.frames[0].pixels.begin() + (width - 1) * (y + 1),
                                   whole.frames[0].pixels.begin() + width * y))
                << "trial " << trial << ", row " << y;
        }
    }
}

}  // namespace
