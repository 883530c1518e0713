// Pixel buffers over bitmap sections, picture descriptions and decoded frames.
#include "decode/image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "decode/error.h"
#include "platform/sim/device.h"
#include "test_support.h"

namespace br {
namespace {

class ImageDataTest : public ::testing::Test {
  protected:
    void SetUp() override { gdiBefore = plat::sim::Live().gdiObjects; }
    void TearDown() override {
        plat::sim::FailBitmapsAbove(0);
        plat::sim::SetBitmapMemoryLimit(0);
        EXPECT_EQ(plat::sim::Live().gdiObjects, gdiBefore) << "bitmaps left behind";
    }

    static void ExpectEmpty(const CImgData& data) {
        EXPECT_EQ(data.width, 0);
        EXPECT_EQ(data.height, 0);
        EXPECT_EQ(data.rowPadding, 0);
        EXPECT_EQ(data.colorBitmap, nullptr);
        EXPECT_EQ(data.colorBits, nullptr);
        EXPECT_EQ(data.maskBitmap, nullptr);
        EXPECT_EQ(data.maskBits, nullptr);
        EXPECT_EQ(data.palette, nullptr);
        EXPECT_EQ(data.transparentIndex, -1);
        EXPECT_TRUE(data.ownsPalette);
    }

    // Runs Create and returns the error it threw (null when it succeeded).
    static CIAException* CreateCatching(CImgData& data, std::int32_t w, std::int32_t h,
                                        std::uint8_t b, std::int32_t withMask) {
        try {
            data.Create(w, h, b, withMask);
        } catch (CIAException* error) {
            return error;
        }
        return nullptr;
    }

    int gdiBefore = 0;
};

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

TEST_F(ImageDataTest, AFailedColourPlaneLeavesTheBufferEmpty) {
    CImgData data;
    data.Create(4, 4, 1, 0);  // filled before: the failing Create releases it
    plat::sim::FailBitmapsAbove(15);
    CIAException* error = CreateCatching(data, 8, 8, 1, 1);
    test::ExpectError(error, ErrorOutOfMemory, 3003, 122, 530);
    delete error;
    ExpectEmpty(data);
}

TEST_F(ImageDataTest, AFailedMaskPlaneDeletesTheColourPlaneAgain) {
    const int before = plat::sim::Live().gdiObjects;
    // The colour plane (4 rows of 4 bytes) fits the device's memory; the mask does not.
    plat::sim::SetBitmapMemoryLimit(plat::sim::Live().bitmapBytes + 20);
    CImgData data;
    CIAException* error = CreateCatching(data, 4, 4, 1, 1);
    test::ExpectError(error, ErrorOutOfMemory, 3003, 122, 542);
    delete error;
    ExpectEmpty(data);
    EXPECT_EQ(plat::sim::Live().gdiObjects, before);
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
