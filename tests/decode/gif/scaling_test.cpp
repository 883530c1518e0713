// Clipped and scaled decoding: nearest-neighbour rows and columns, clips that miss the frame,
// and interlaced storage giving the same buffers as plain storage at every scale.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "decode/gif/gif_decoder.h"
#include "decode/memory_source.h"
#include "tests/decode/gif/gif_test_support.h"

namespace {

using giftest::Bytes;
using giftest::GifWriter;
using giftest::ImageSpec;

Bytes Counting(std::int32_t count) {
    Bytes out;
    for (std::int32_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

Bytes OneFrame(std::int32_t screenW, std::int32_t screenH, const ImageSpec& image) {
    return GifWriter(screenW, screenH, 8).Image(image).Finish();
}

TEST(GifScaling, TwiceTheSizeRepeatsAndHalfTheSizeSkipsRowsAndColumns) {
    ImageSpec image;
    image.width = 4;
    image.height = 4;
    image.pixels = Counting(16);  // pixel (x, y) = 4y + x
    const Bytes gif = OneFrame(4, 4, image);
    const struct {
        br::TargetSize target;
        Bytes expected;
    } cases[] = {
        {{8, 8},
         {0,  0,  1,  1,  2,  2,  3,  3,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5, 6, 6,
          7,  7,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 8,  8, 9, 9,
          10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 12, 12, 13, 13, 14, 14, 15, 15}},
        {{2, 2}, {0, 2, 8, 10}},
        {{3, 1}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        for (bool interlaced : {false, true}) {
            image.interlaced = interlaced;
            const giftest::Result r = giftest::Decode(OneFrame(4, 4, image), 0, &c.target);
            ASSERT_TRUE(r.ok);
            EXPECT_EQ(r.frames[0].pixels, c.expected)
                << c.target.width << "x" << c.target.height << (interlaced ? " interlaced" : "");
        }
    }
}

TEST(GifScaling, InterlacedAndPlainStorageGiveIdenticalBuffersAtEveryScaleAndClip) {
    ImageSpec image;
    image.left = 3;
    image.top = 2;
    image.width = 21;
    image.height = 13;
    for (std::int32_t i = 0; i < 21 * 13; ++i)
        image.pixels.push_back(static_cast<std::uint8_t>((i * 37) ^ (i >> 3)));
    const br::TargetSize targets[] = {{30, 20}, {60, 40}, {15, 10}, {7, 3}, {97, 61}, {30, 1}};
    const br::Rect clips[] = {{0, 0, 30, 20}, {5, 4, 17, 11}, {23, 14, 40, 40}, {0, 0, 4, 3}};
    for (const br::TargetSize& target : targets) {
        for (const br::Rect& clip : clips) {
            image.interlaced = false;
            const giftest::Result plain =
                giftest::Decode(OneFrame(30, 20, image), 0, &target, &clip);
            image.interlaced = true;
            const giftest::Result interlaced =
                giftest::Decode(OneFrame(30, 20, image), 0, &target, &clip);
            ASSERT_TRUE(plain.ok && interlaced.ok);
            EXPECT_EQ(plain.frames[0].width, interlaced.frames[0].width);
            EXPECT_TRUE(plain.frames[0].pixels == interlaced.frames[0].pixels)
                << target.width << "x" << target.height << " clip " << giftest::Describe(clip);
        }
    }
    // Height 1: the first pass alone holds the row.
    image.height = 1;
    image.pixels.resize(21);
    image.interlaced = true;
    const giftest::Result one = giftest::Decode(OneFrame(30, 20, image));
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(one.frames[0].pixels, image.pixels);
}

// Decoded for a reduced picture, every frame holds exactly the grid pixels inside its part of
// the picture, and each is the pixel a full-size decode has there: the same picture pixels
// for every frame, whatever its offset, storage, colour table or overhang.
TEST(GifScaling, ReducedFramesHoldThePicturesGridPixelsOfTheirRectangle) {
    std::mt19937 random(12);
    auto uniform = [&random](std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random);
    };
    for (int round = 0; round < 150; ++round) {
        const std::int32_t width = uniform(1, 70);
        const std::int32_t height = uniform(1, 70);
        GifWriter writer(width, height, 8);
        for (int f = uniform(1, 4); f > 0; --f) {
            ImageSpec image;
            image.left = uniform(0, width - 1);
            image.top = uniform(0, height - 1);
            image.width = uniform(1, width - image.left + 5);  // partly outside at times
            image.height = uniform(1, height - image.top + 5);
            image.interlaced = uniform(0, 1) == 1;
            image.localTableBits = uniform(0, 1) * 8;
            for (std::int32_t i = 0; i < image.width * image.height; ++i)
                image.pixels.push_back(static_cast<std::uint8_t>(uniform(0, 255)));
            writer.Image(image);
        }
        const Bytes gif = writer.Finish();
        const br::Rect picture(0, 0, width, height);
        const br::TargetSize fullSize{width, height};
        const giftest::Result full = giftest::Decode(gif, 0, &fullSize, &picture);
        ASSERT_TRUE(full.ok);

        std::vector<br::TargetSize> targets;
        for (double scale : {0.5, 0.25, 0.125, 0.0625}) {
            const br::Size size = br::ScaleSize(width, height, scale, 0);
            if (size.cx > 0 && size.cy > 0) targets.push_back({size.cx, size.cy});
        }
        targets.push_back({uniform(1, 2 * width), uniform(1, 2 * height)});
        for (const br::TargetSize& target : targets) {
            const giftest::Result reduced = giftest::Decode(gif, 0, &target, &picture);
            ASSERT_TRUE(reduced.ok);
            ASSERT_EQ(reduced.frames.size(), full.frames.size());
            for (std::size_t f = 0; f < full.frames.size(); ++f) {
                SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " to " +
                             std::to_string(target.width) + "x" + std::to_string(target.height) +
                             ", frame " + giftest::Describe(full.frames[f].rect));
                br::Rect region;
                region.Intersect(full.frames[f].rect, picture);
                const br::Rect grid =
                    br::GridRect(region, width, height, target.width, target.height);
                const giftest::Frame& frame = reduced.frames[f];
                ASSERT_EQ(frame.width, grid.Width());
                ASSERT_EQ(frame.height, grid.Height());
                for (std::int32_t y = 0; y < frame.height; ++y) {
                    const std::int32_t pictureY = (grid.top + y) * height / target.height;
                    for (std::int32_t x = 0; x < frame.width; ++x) {
                        const std::int32_t pictureX = (grid.left + x) * width / target.width;
                        ASSERT_TRUE(region.left <= pictureX && pictureX < region.right &&
                                    region.top <= pictureY && pictureY < region.bottom);
                        const std::uint8_t expected =
                            full.frames[f].pixels[static_cast<std::size_t>(
                                (pictureY - region.top) * region.Width() + pictureX - region.left)];
                        ASSERT_EQ(frame.pixels[static_cast<std::size_t>(y * frame.width + x)],
                                  expected)
                            << "at " << x << ", " << y;
                    }
                }
                // No grid pixel of the region is left out: the reduced pixels on either side
                // show picture pixels outside it.
                if (!grid.IsEmpty()) {
                    EXPECT_TRUE(grid.left == 0 ||
                                (grid.left - 1) * width / target.width < region.left);
                    EXPECT_TRUE(grid.top == 0 ||
                                (grid.top - 1) * height / target.height < region.top);
                    EXPECT_TRUE(grid.right == target.width ||
                                grid.right * width / target.width >= region.right);
                    EXPECT_TRUE(grid.bottom == target.height ||
                                grid.bottom * height / target.height >= region.bottom);
                }
            }
        }
    }
}

TEST(GifScaling, AClipThatMissesTheFrameReadsAndWritesNothing) {
    ImageSpec image;
    image.left = 2;
    image.top = 2;
    image.width = 3;
    image.height = 3;
    image.localTableBits = 3;
    image.pixels = Counting(9);
    const Bytes gif = OneFrame(8, 8, image);
    br::MemorySource source(gif);
    std::unique_ptr<br::CDecoderBase2> decoder(br::CreateGifDecoder());
    decoder->ReadImageInfo(&source, nullptr);

    br::PaletteRecord palette;
    std::memset(&palette, 0x77, sizeof(palette));
    std::uint8_t target[16];
    std::memset(target, 0x66, sizeof(target));
    br::DecoderFrameInfo frame;
    br::PresetFrameInfo(&frame);
    decoder->ReadFrameInfo(&source, &frame, 0);
    frame.clipRect = br::Rect(5, 0, 8, 8);  // touches the frame's right edge only
    frame.targetBits = target;
    frame.targetRowPadding = 1;
    frame.targetWidth = 3;
    frame.targetHeight = 3;
    frame.targetPalette = &palette;
    source.Seek(11, 0);
    decoder->DecodeFrame(&source, &frame, 0, 0);
    EXPECT_EQ(source.Tell(), 11);
    for (std::uint8_t b : target) EXPECT_EQ(b, 0x66);
    EXPECT_EQ(palette.version, 0x7777);
    EXPECT_EQ(palette.count, 0x7777);

    // The same call with a clip that meets the frame reads the local table into the palette.
    frame.clipRect = br::Rect(4, 4, 8, 8);
    decoder->DecodeFrame(&source, &frame, 0, 0);
    EXPECT_EQ(palette.version, 48);
    EXPECT_EQ(palette.count, 8);
    // Only frame pixel (2, 2) is visible; it fills the 3 x 3 target, padding untouched.
    const std::uint8_t expected[12] = {8, 8, 8, 0x66, 8, 8, 8, 0x66, 8, 8, 8, 0x66};
    EXPECT_EQ(std::memcmp(target, expected, sizeof(expected)), 0);
    decoder->ReleaseStream();
}

}  // namespace
