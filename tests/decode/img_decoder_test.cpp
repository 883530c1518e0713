// The format facade: GIF streams reach the GIF decoder, every other format is refused.
#include <gtest/gtest.h>

#include <vector>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "test_support.h"

namespace br {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};

// A 2 x 2 GIF89a: black and white in the global table, pixels 0 1 / 1 0.
// clang-format off
const Bytes kCheckerGif = {
    'G', 'I', 'F', '8', '9', 'a',
    0x02, 0x00, 0x02, 0x00,  // logical screen 2 x 2
    0x80, 0x01, 0x00,        // global table of 2 entries, background index 1, aspect
    0x00, 0x00, 0x00,        // entry 0: black
    0xFF, 0xFF, 0xFF,        // entry 1: white
    0x2C,                    // image separator
    0x00, 0x00, 0x00, 0x00,  // left, top
    0x02, 0x00, 0x02, 0x00,  // width, height
    0x00,                    // no local table, not interlaced
    0x02,                    // LZW minimum code size
    0x03, 0x44, 0x02, 0x05,  // codes clear, 0, 1, 1, 0, end
    0x00,                    // end of the image data
    0x3B,                    // trailer
};
// clang-format on

TEST(ImageDecoderTest, APngIsAFileLoadFailureByPathButUnsupportedFromASource) {
    test::DeviceFiles files;
    const std::u16string path = files.Write("picture.png", kPng);
    CImgDecoder2 decoder;
    DecoderImageInfo info;
    PresetImageInfo(&info);
    EXPECT_EQ(decoder.GetImageInfoFromFile(path.c_str(), &info), 0);
    test::ExpectError(decoder.lastError, ErrorFileLoad, 30001, 18, 1);

    MemorySource source(kPng);
    EXPECT_EQ(decoder.GetImageInfo(&source, &info), 0);
    test::ExpectError(decoder.lastError, ErrorUnsupportedFormat, 38000, 39, 101);
    EXPECT_EQ(decoder.decoder, nullptr);
}

TEST(ImageDecoderTest, EveryFormatButGifIsRefused) {
    const Bytes inputs[] = {
        {'B', 'M', 0, 0},         {0xFF, 0xD8, 0xFF, 0xE0},  {0x49, 0x49, 0x2A, 0x00},
        {0x00, 0x00, 0x01, 0x01}, {'h', 'e', 'l', 'l', 'o'},
    };
    for (const Bytes& bytes : inputs) {
        CImgDecoder2 decoder;
        MemorySource source(bytes);
        CImgInfo image;
        FrameList frames = nullptr;
        EXPECT_EQ(decoder.DecodeFramesByPercent(&source, &image, &frames, 100), 0);
        EXPECT_EQ(frames, nullptr);
        test::ExpectError(decoder.lastError, ErrorUnsupportedFormat, 38000, 39, 101);
    }
}

TEST(ImageDecoderTest, GifEightIsHandedToTheGifDecoder) {
    // Recognised by its first four bytes; the GIF decoder then rejects the version.
    const Bytes bytes = {'G', 'I', 'F', '8', '8', 'a', 0, 0, 0, 0, 0, 0, 0};
    CImgDecoder2 decoder;
    MemorySource source(bytes);
    EXPECT_EQ(decoder.GetImageInfo(&source, nullptr), 0);
    test::ExpectError(decoder.lastError, ErrorCorruptData, 38003, 33, 1);
    EXPECT_EQ(decoder.decoder, nullptr);
}

TEST(ImageDecoderTest, FramePrimitivesWithoutARecognisedFormatFail) {
    CImgDecoder2 decoder;
    DecoderFrameInfo frame;
    PresetFrameInfo(&frame);
    for (int primitive = 0; primitive < 2; ++primitive) {
        CIAException* caught = nullptr;
        try {
            if (primitive == 0) {
                decoder.ReadFrameInfo(nullptr, &frame, 0);
            } else {
                decoder.DecodeFrame(nullptr, &frame, 0, 0);
            }
        } catch (CIAException* error) {
            caught = error;
        }
        test::ExpectError(caught, ErrorNoDecoder, 38000, 39, 101);
        delete caught;
    }
}

TEST(ImageDecoderTest, DecodesAGifFileThroughThePathOperations) {
    test::DeviceFiles files;
    const std::u16string path = files.Write("checker.gif", kCheckerGif);
    CImgDecoder2 decoder;
    DecoderImageInfo info;
    PresetImageInfo(&info);
    ASSERT_EQ(decoder.GetImageInfoFromFile(path.c_str(), &info), 1);
    EXPECT_EQ(info.format, FormatGif);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.frameCount, 1);
    EXPECT_EQ(info.backgroundColor, 0x00FFFFFFu);

    CImgInfo image;
    FrameList frames = nullptr;
    const TargetSize target{4, 4};
    ASSERT_EQ(decoder.DecodeFramesFromFile(path.c_str(), &image, &frames, &target, nullptr), 1);
    EXPECT_EQ(decoder.decoder, nullptr);
    const CImgData& pixels = frames[0]->image;
    ASSERT_EQ(pixels.width, 4);
    ASSERT_EQ(pixels.height, 4);
    const std::uint8_t expected[4][4] = {{0, 0, 1, 1}, {0, 0, 1, 1}, {1, 1, 0, 0}, {1, 1, 0, 0}};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pixels.colorBits[y * 4 + x], expected[y][x]);
    }
    EXPECT_EQ(pixels.palette->entries[1].red, 0xFF);
    EXPECT_EQ(pixels.palette->entries[2].red, 0);  // beyond the table: black
    delete frames[0];
    FreeFrameList(frames, 1);
}

}  // namespace
}  // namespace br
