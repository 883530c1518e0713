// Pixel buffers over bitmap sections, picture descriptions and decoded frames.
#include "decode/image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "decode/error.h"
#include "test_support.h"
#include "tests/decode/image_fixture.h"

namespace br {
namespace {

TEST_F(ImageDataTest, ZeroOrNegativeSidesGiveAnEmptyBufferWithoutError) {
    const std::int32_t sides[][2] = {{0, 5}, {5, 0}, {-3, 5}, {5, -1}};
    for (const auto& side : sides) {
        CImgData data;
        EXPECT_EQ(CreateCatching(data, side[0], side[1], 1, 1), nullptr);
        ExpectEmpty(data);
    }
}

struct PaddingCase {
    std::int32_t width;
    std::uint8_t bytesPerPixel;
    std::int32_t padding;
};

TEST_F(ImageDataTest, RowsArePaddedToMultiplesOfFourBytes) {
    const PaddingCase cases[] = {
        {3, 1, 1}, {4, 1, 0}, {5, 3, 1}, {1, 1, 3}, {2, 3, 2}, {4, 3, 0},
    };
    for (const auto& c : cases) {
        CImgData data;
        data.Create(c.width, 3, c.bytesPerPixel, 0);
        EXPECT_EQ(data.rowPadding, c.padding) << c.width << " x " << int(c.bytesPerPixel);
        EXPECT_EQ(data.width, c.width);
        EXPECT_EQ(data.height, 3);
        EXPECT_EQ(data.bytesPerPixel, c.bytesPerPixel);
        ASSERT_NE(data.colorBits, nullptr);
        // Every byte of every padded row belongs to the plane.
        std::memset(data.colorBits, 0xAB,
                    static_cast<std::size_t>((c.width * c.bytesPerPixel + c.padding) * 3));
    }
}

TEST_F(ImageDataTest, OneBytePerPixelGetsAZeroFilledPaletteOfAllEntries) {
    CImgData data;
    data.Create(2, 2, 1, 0);
    ASSERT_NE(data.palette, nullptr);
    EXPECT_EQ(data.palette->version, 48);
    EXPECT_EQ(data.palette->count, 256);
    for (const PaletteEntry& e : data.palette->entries) {
        EXPECT_EQ(e.red | e.green | e.blue | e.flags, 0);
    }
    EXPECT_EQ(data.maskBitmap, nullptr);

    CImgData colour;
    colour.Create(2, 2, 3, 1);
    EXPECT_EQ(colour.palette, nullptr);
    EXPECT_NE(colour.maskBits, nullptr);
}

TEST_F(ImageDataTest, ReleaseTwiceAndCreateOverAFilledBufferFreeEverythingOnce) {
    CImgData data;
    data.Create(6, 2, 1, 1);
    data.transparentIndex = 7;
    data.Create(3, 3, 3, 0);
    EXPECT_EQ(data.transparentIndex, -1);
    EXPECT_EQ(data.maskBitmap, nullptr);
    EXPECT_EQ(data.palette, nullptr);
    data.Release();
    data.Release();
    ExpectEmpty(data);
}

TEST(ImageInfoTest, ResetFreesThePaletteCopyAndRestoresTheResetValues) {
    CImgInfo info;
    EXPECT_EQ(info.extraB, -1);
    EXPECT_EQ(info.extraC, -1);
    EXPECT_EQ(info.backgroundColor, 0xFFFFFFFFu);
    EXPECT_EQ(info.extraA, 0);
    EXPECT_EQ(info.palette, nullptr);
    info.format = 3;
    info.frameCount = 9;
    info.palette = AllocatePaletteCopy((2 + 2) * 4);
    ASSERT_NE(info.palette, nullptr);
    EXPECT_EQ(info.palette->version, 0);  // copies start zeroed
    info.Reset();
    EXPECT_EQ(info.palette, nullptr);
    EXPECT_EQ(info.format, 0);
    EXPECT_EQ(info.frameCount, 0);
    info.palette = AllocatePaletteCopy(8);  // the destructor frees it
}

TEST(ImageLayerTest, ANewLayerHasDisposalOneAndNoDelay) {
    CImgLayer layer;
    EXPECT_EQ(layer.delay, 0);
    EXPECT_EQ(layer.disposal, 1);
    EXPECT_EQ(layer.interlaced, 0);
    EXPECT_EQ(layer.userInput, 0);
    EXPECT_TRUE(layer.frameRect.IsEmpty());
    EXPECT_EQ(layer.decodedRect.right, 0);
    EXPECT_EQ(layer.image.width, 0);
}

}  // namespace
}  // namespace br
