// Conformance with giflib as reference decoder: for many generated streams, every frame's
// rectangle, timing, disposal, transparency, interlace flag, palette and decoded indices equal
// what giflib decodes; and sources that deliver a few bytes per read give the same results.
#include <gtest/gtest.h>

#include <string>

#include "tests/decode/gif/gif_test_support.h"

namespace {

using giftest::Bytes;
using giftest::ControlSpec;
using giftest::GifWriter;
using giftest::ImageSpec;

// Deterministic pixel patterns: noise (short strings) and smooth ramps (long strings).
Bytes Noise(std::int32_t count, std::int32_t bits, std::uint32_t seed) {
    Bytes out;
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::int32_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        out.push_back(static_cast<std::uint8_t>((state >> 24) & ((1u << bits) - 1)));
    }
    return out;
}
Bytes Ramp(std::int32_t width, std::int32_t height, std::int32_t bits) {
    Bytes out;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            out.push_back(static_cast<std::uint8_t>(((x / 3 + y / 2) >> 1) & ((1 << bits) - 1)));
        }
    }
    return out;
}

std::string Palette(const std::vector<br::PaletteEntry>& palette) {
    std::string out;
    for (const auto& e : palette) {
        out += std::to_string(e.red) + "/" + std::to_string(e.green) + "/" +
               std::to_string(e.blue) + " ";
    }
    return out;
}

// Our decoding (whole reads and 1, 7, 255 bytes per read) against giflib's.
void ExpectSameAsReference(const Bytes& gif, const std::string& what) {
    SCOPED_TRACE(what);
    const giftest::Reference reference = giftest::ReferenceDecode(gif);
    ASSERT_TRUE(reference.ok) << "the reference refuses the generated stream";
    const giftest::Result ours = giftest::Decode(gif);
    ASSERT_TRUE(ours.ok) << "error " << ours.code << " " << ours.routine << "/" << ours.site;
    EXPECT_EQ(ours.screenWidth, reference.screenWidth);
    EXPECT_EQ(ours.screenHeight, reference.screenHeight);
    ASSERT_EQ(ours.frames.size(), reference.frames.size());
    for (std::size_t i = 0; i < ours.frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const giftest::Frame& a = ours.frames[i];
        const giftest::Frame& b = reference.frames[i];
        EXPECT_EQ(giftest::Describe(a.rect), giftest::Describe(b.rect));
        EXPECT_EQ(a.delay, b.delay);
        EXPECT_EQ(a.disposal, b.disposal);
        EXPECT_EQ(a.userInput, b.userInput);
        EXPECT_EQ(a.transparent, b.transparent);
        EXPECT_EQ(a.interlaced, b.interlaced);
        EXPECT_EQ(Palette(a.palette), Palette(b.palette));
        EXPECT_EQ(a.width, b.width);
        EXPECT_EQ(a.height, b.height);
        EXPECT_TRUE(a.pixels == b.pixels) << "decoded indices differ";
    }
    for (std::uint32_t chunk : {1u, 7u, 255u}) {
        const giftest::Result piecewise = giftest::Decode(gif, chunk);
        ASSERT_TRUE(piecewise.ok) << chunk << " bytes per read";
        ASSERT_EQ(piecewise.frames.size(), ours.frames.size());
        for (std::size_t i = 0; i < ours.frames.size(); ++i) {
            EXPECT_TRUE(piecewise.frames[i].pixels == ours.frames[i].pixels)
                << chunk << " bytes per read, frame " << i;
            EXPECT_EQ(Palette(piecewise.frames[i].palette), Palette(ours.frames[i].palette));
            EXPECT_EQ(piecewise.frames[i].delay, ours.frames[i].delay);
        }
    }
}

TEST(GifMimic, EveryMinimumCodeSizeInterlacedOrNotMatchesGiflib) {
    for (std::int32_t bits = 2; bits <= 8; ++bits) {
        for (bool interlaced : {false, true}) {
            for (bool noise : {true, false}) {
                ImageSpec image;
                image.width = 37;
                image.height = 23;
                image.interlaced = interlaced;
                image.minimumCodeSize = bits;
                image.pixels = noise ? Noise(37 * 23, bits, static_cast<std::uint32_t>(bits))
                                     : Ramp(37, 23, bits);
                const Bytes gif = GifWriter(37, 23, bits).Image(image).Finish();
                ExpectSameAsReference(gif, "code size " + std::to_string(bits) +
                                               (interlaced ? " interlaced" : "") +
                                               (noise ? " noise" : " ramp"));
            }
        }
    }
}

TEST(GifMimic, InterlacedFramesOfEveryHeightUpToSeventeenMatchGiflib) {
    for (std::int32_t height = 1; height <= 17; ++height) {
        ImageSpec image;
        image.width = 5;
        image.height = height;
        image.interlaced = true;
        image.pixels = Noise(5 * height, 3, static_cast<std::uint32_t>(height));
        ExpectSameAsReference(GifWriter(5, height, 3).Image(image).Finish(),
                              "interlaced height " + std::to_string(height));
    }
}

TEST(GifMimic, ColourTablesLocalGlobalOrNoneMatchGiflib) {
    const struct {
        const char* what;
        std::int32_t globalBits, localBits;
    } cases[] = {{"global only", 4, 0},
                 {"local only", 0, 5},
                 {"local over global", 3, 6},
                 {"no colour table at all", 0, 0},
                 {"one-bit global table", 1, 0}};
    for (const auto& c : cases) {
        ImageSpec image;
        image.width = 9;
        image.height = 7;
        image.localTableBits = c.localBits;
        image.pixels = Noise(63, 1, 3);
        ExpectSameAsReference(GifWriter(9, 7, c.globalBits).Image(image).Finish(), c.what);
    }
}

TEST(GifMimic, ControlExtensionsTransparencyDisposalAndDelaysMatchGiflib) {
    GifWriter writer(12, 10, 4);
    std::int32_t n = 0;
    const std::int32_t delays[] = {0, 1, 100, 1000, 65535};
    for (std::int32_t disposal = 0; disposal <= 7; ++disposal) {
        for (std::int32_t transparent : {-1, 0, 7, 15}) {
            ControlSpec control;
            control.disposal = disposal;
            control.transparent = transparent;
            control.userInput = (n % 3) == 0;
            control.delay = delays[n % 5];
            ImageSpec image;
            image.left = n % 4;
            image.top = n % 3;
            image.width = 8;
            image.height = 7;
            image.pixels = Noise(56, 4, static_cast<std::uint32_t>(n));
            writer.Control(control).Image(image);
            ++n;
        }
    }
    // A comment between a control extension and its image takes the control away; of two
    // control extensions the later one governs.
    ImageSpec small;
    small.width = 2;
    small.height = 2;
    small.pixels = {1, 2, 3, 4};
    writer.Control({3, true, 5, 7}).Comment("between").Image(small);
    writer.Control({1, false, 2, 9}).Control({2, false, -1, 11}).Image(small);
    writer.Image(small);  // no control at all
    ExpectSameAsReference(writer.Finish(), "controls");
}

TEST(GifMimic, FramesOutsideTheScreenManyFramesAndVersion87aMatchGiflib) {
    GifWriter outside(10, 10, 2, 0, "GIF87a");
    const std::int32_t places[][2] = {{0, 0}, {8, 8}, {100, 3}, {3, 200}, {65530, 65530}};
    for (const auto& place : places) {
        ImageSpec image;
        image.left = place[0];
        image.top = place[1];
        image.width = 4;
        image.height = 3;
        image.pixels = Noise(12, 2, static_cast<std::uint32_t>(place[0] + place[1]));
        outside.Control({2, false, 1, 5}).Image(image);
    }
    ExpectSameAsReference(outside.Finish(), "frames outside the screen, GIF87a");

    GifWriter many(3, 3, 2);
    for (std::int32_t i = 0; i < 300; ++i) {
        ImageSpec image;
        image.width = 3;
        image.height = 3;
        image.pixels = Noise(9, 2, static_cast<std::uint32_t>(i));
        many.Control({i & 3, false, -1, i}).Image(image);
    }
    ExpectSameAsReference(many.Finish(), "300 frames");
}

TEST(GifMimic, FullTablesClearedLateAndSubBlocksOfEverySizeMatchGiflib) {
    // Noise fills the 4096-entry table many times over; a deferred clear keeps decoding with
    // the full table for a while.
    for (bool defer : {false, true}) {
        for (std::int32_t bits : {2, 8}) {
            ImageSpec image;
            image.width = 200;
            image.height = 150;
            image.minimumCodeSize = bits;
            image.lzw.deferClear = defer;
            image.lzw.deferredCodes = 700;
            image.pixels = Noise(200 * 150, bits, 11);
            ExpectSameAsReference(GifWriter(200, 150, bits).Image(image).Finish(),
                                  std::string(defer ? "deferred clear" : "prompt clear") +
                                      ", code size " + std::to_string(bits));
        }
    }
    for (std::int32_t blockSize = 1; blockSize <= 255; ++blockSize) {
        ImageSpec image;
        image.width = 31;
        image.height = 17;
        image.blockSize = blockSize;
        image.pixels = Noise(31 * 17, 5, static_cast<std::uint32_t>(blockSize));
        const Bytes gif = GifWriter(31, 17, 5).Image(image).Finish();
        const giftest::Result ours = giftest::Decode(gif);
        ASSERT_TRUE(ours.ok);
        ASSERT_EQ(ours.frames.size(), 1u);
        EXPECT_TRUE(ours.frames[0].pixels == image.pixels) << "sub-blocks of " << blockSize;
        if (blockSize % 37 == 1)
            ExpectSameAsReference(gif, "sub-blocks of " + std::to_string(blockSize));
    }
}

}  // namespace
